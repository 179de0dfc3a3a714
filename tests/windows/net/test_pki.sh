# shellcheck shell=bash
# Certificates from the test's own authority, for TLS servers on 127.0.0.1. Source this file, then:
#
#   make_test_pki DIR   writes into DIR: ca.pem/ca.der (the authority), server.pem/server.key (for "localhost",
#                       signed by it), expired.pem (the same key, valid in January 2020 only), address.pem (the
#                       same key, for the address 127.0.0.1 alone), stranger.pem/.key (self-signed, for
#                       "localhost"), and prints nothing.
#   sha256_of CERT      prints the certificate's SHA-256 fingerprint as AA:BB:...

make_test_pki() {
  local dir=$1
  mkdir -p "$dir/db"
  (
    cd "$dir"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -subj "/CN=KadroOA Test Authority" \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
    openssl x509 -in ca.pem -outform der -out ca.der
    openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=localhost"
    : >db/index
    echo 01 >db/serial
    cat >ca.cnf <<'CONF'
[ca]
default_ca = test
[test]
database = db/index
new_certs_dir = db
serial = db/serial
default_md = sha256
policy = any
unique_subject = no
x509_extensions = server
[any]
commonName = supplied
[server]
subjectAltName = DNS:localhost
extendedKeyUsage = serverAuth
basicConstraints = CA:FALSE
[address]
subjectAltName = IP:127.0.0.1
extendedKeyUsage = serverAuth
basicConstraints = CA:FALSE
CONF
    openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in server.csr -out server.pem -days 30 -notext
    openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in server.csr -out expired.pem -notext \
      -startdate 20200101000000Z -enddate 20200201000000Z
    openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in server.csr -out address.pem -days 30 -notext \
      -extensions address
    openssl req -x509 -newkey rsa:2048 -nodes -keyout stranger.key -out stranger.pem -days 30 -subj "/CN=localhost" \
      -addext "subjectAltName=DNS:localhost"
  ) >/dev/null 2>&1
}

sha256_of() {
  openssl x509 -in "$1" -noout -fingerprint -sha256 | sed 's/^.*=//'
}
