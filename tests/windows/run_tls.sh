#!/usr/bin/env bash
# FTP over TLS on Windows under Wine, with certificates from the test's own authority: TLS through Schannel over
# Winsock on its own (tests/windows/net/tls_probe against `openssl s_server`: a line each way, close_notify, the
# certificates refused), then the ActiveX control through cscript and kadrooa.exe on its line protocol against
# vsftpd with TLS required: the edit cycle when the page asks for TLS or the administrator's FtpTls setting names
# the server (pinned), and the refusals of a wrong pin and of a plain server when the setting cannot be used.
# Wine's Schannel speaks TLS 1.2 only and never resumes a session: vsftpd runs with require_ssl_reuse=NO.
# Expects build/win32 and build/win64 built (scripts/build windows). Prints "N passed, N failed".
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
source scripts/lib/packages.sh
source scripts/lib/wine.sh
source tests/windows/report.sh
source tests/windows/net/test_pki.sh
source scripts/lib/vsftpd.sh
need_packages openssl python3 vsftpd passwd
need_wine

run_dir=$(mktemp -d /tmp/kadroo-tls-wine.XXXXXX)
servers=()
cleanup() {
  vsftpd_stop
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
  rm -rf "$run_dir"
}
trap cleanup EXIT
unset DISPLAY
wine_prefix "${KADROOA_WINE_PREFIX:-$run_dir/prefix}"
wineserver -p
make_test_pki "$run_dir/pki"

# serve VARIABLE CERT KEY: an echo server that answers each line reversed; its port in VARIABLE.
serve() {
  local port
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  openssl s_server -quiet -rev -accept "127.0.0.1:$port" -cert "$run_dir/pki/$2.pem" -key "$run_dir/pki/$3.key" \
    >/dev/null 2>&1 &
  servers+=($!)
  printf -v "$1" %s "$port"
}

serve good server server
serve expired expired server
serve stranger stranger stranger
serve address address server
sleep 1
pin=$(sha256_of "$run_dir/pki/server.pem")
wrong_pin=$(sha256_of "$run_dir/pki/stranger.pem")

runnable=" $(wine_bitnesses) "
bitnesses=()
for bits in 64 32; do
  if [[ $runnable == *" $bits "* ]]; then
    bitnesses+=("$bits")
  else
    skip "TLS under $bits-bit Wine" "$(wine_skip_note)"
  fi
done
loader_for() { [ "$1" = 64 ] && echo /usr/lib/wine/wine64 || echo wine; }

# The administrator's FtpTls setting as Group Policy writes it (REG_MULTI_SZ, one string per line); none with no
# argument.
ftp_tls() {
  wine_any reg delete 'HKLM\SOFTWARE\Policies\KadroOA' /v FtpTls /f /reg:64 >/dev/null 2>&1 || true
  [ $# -eq 0 ] && return 0
  local joined
  joined=$(printf '%s\\0' "$@")
  wine_any reg add 'HKLM\SOFTWARE\Policies\KadroOA' /v FtpTls /t REG_MULTI_SZ /d "${joined%\\0}" /f /reg:64 >/dev/null
}
# control BITS PHASE SERVER [CODE]: tests/windows/net/tls_control.js in the prefix's cscript of that bitness.
control() {
  local bits=$1 phase=$2 server=$3 output status=0
  output=$(cd tests/windows/net && timeout 300 "$(loader_for "$bits")" cscript //nologo tls_control.js "$phase" \
    "$server" "$VSFTPD_USER" "$VSFTPD_PASS" /tls "$(windows_path "$run_dir/work")" "${@:4}" | tr -d '\r') || status=$?
  count_program "$bits-bit control, $phase${4:+ $4}" "$status" "$output"
}
# The remote files each cycle starts from.
remote_files() {
  mkdir -p "$run_dir/ftp/tls"
  printf 'document over TLS\r\n' >"$run_dir/ftp/tls/doc.txt"
  printf 'template over TLS\r\n' >"$run_dir/ftp/tls/tmpl.txt"
  chown -R "$VSFTPD_USER:" "$run_dir/ftp/tls"
}

# probe EXPECTED ARGS...: tls_probe's whole output must be EXPECTED.
probe() {
  local expected=$1 got
  shift
  got=$(timeout 60 "$(loader_for "$bits")" "build/win$bits/tests/tls_probe.exe" probe "$@" | tr -d '\r') || true
  [ "$got" = "$expected" ] || { echo "got: $got"; echo "expected: $expected"; return 1; }
}
exchanged=$'ok lennahcs revo oordak resumed=0\nok lennahcs revo oordak resumed=0'

# vsftpd with TLS required for logins and data. Wine's Schannel never resumes a session, so vsftpd must not
# require the data connections to resume the control connection's (its default).
mkdir -p "$run_dir/ftp" "$run_dir/work"
chmod 755 "$run_dir"
cat "$run_dir/pki/server.pem" "$run_dir/pki/server.key" >"$run_dir/pki/vsftpd.pem"
VSFTPD_TLS_PEM=$run_dir/pki/vsftpd.pem VSFTPD_EXTRA_CONFIG=$'require_ssl_reuse=NO\nssl_ciphers=HIGH' \
  vsftpd_start "$run_dir/ftp" >/dev/null
python3 tests/windows/net/plain_ftp.py "$run_dir/plain.log" >"$run_dir/plain.port" &
servers+=($!)
sleep 1
plain=$(cat "$run_dir/plain.port")
for bits in "${bitnesses[@]}"; do
  check "$bits-bit control registered" "$(loader_for "$bits")" regsvr32 /s "build/win$bits/KadroOA.ocx"
done

# Before the authority is trusted: a pinned fingerprint alone admits the server, another is refused.
bits=64
check "an authority not in the root store is refused (12045)" probe "error 12045" localhost "$good"
check "a pinned fingerprint alone admits the server" probe "$exchanged" localhost "$good" "$pin"
check "another fingerprint is refused (12169)" probe "error 12169" localhost "$good" "$wrong_pin"
for bits in "${bitnesses[@]}"; do
  remote_files
  ftp_tls '{"servers": {' "  \"localhost:$VSFTPD_PORT\": {\"sha256\": \"$pin\"}}}"
  control "$bits" admin "localhost:$VSFTPD_PORT"
  ftp_tls "{\"servers\": {\"localhost:$VSFTPD_PORT\": {\"sha256\": \"$wrong_pin\"}}}"
  control "$bits" refused "localhost:$VSFTPD_PORT" 12169
  # A value that cannot be used requires TLS of every server: the plain one is refused before USER.
  ftp_tls '{"servers": '
  control "$bits" refused "127.0.0.1:$plain" 12157
  ftp_tls
done
check "no user name reached the server without TLS" bash -c "! grep -qi '^USER' '$run_dir/plain.log'"

check "the authority goes into the machine's root store" \
  /usr/lib/wine/wine64 build/win64/tests/tls_probe.exe trust "$(windows_path "$run_dir/pki/ca.der")"
for bits in "${bitnesses[@]}"; do
  check "$bits-bit: a line each way over TLS, twice on one credential" probe "$exchanged" localhost "$good"
  check "$bits-bit: another host name is refused (12038)" probe "error 12038" 127.0.0.1 "$good"
  check "$bits-bit: an address among the certificate's IP names is accepted" probe "$exchanged" 127.0.0.1 "$address"
  check "$bits-bit: an expired certificate is refused (12037)" probe "error 12037" localhost "$expired"
  check "$bits-bit: a self-signed certificate is refused (12045)" probe "error 12045" localhost "$stranger"
  remote_files
  control "$bits" cycle "localhost:$VSFTPD_PORT"
  remote_files
  output=$(python3 tests/windows/net/kadrooa_tls.py "$(loader_for "$bits")" "build/win$bits/bin/kadrooa.exe" \
    "localhost:$VSFTPD_PORT" "$VSFTPD_USER" "$VSFTPD_PASS" "$run_dir/ftp") && status=0 || status=$?
  count_program "$bits-bit kadrooa.exe over TLS" "$status" "$output"
done
report_totals
