# shellcheck shell=bash
# Runs a private vsftpd on 127.0.0.1 for benchmarks and demos. Source this file, then:
#
#   vsftpd_start ROOT   creates a local user chrooted into ROOT (created if missing, chowned to the user), writes a
#                       config and a PAM service of its own, starts vsftpd on a free port and waits for its greeting.
#                       Sets VSFTPD_PORT, VSFTPD_USER, VSFTPD_PASS, VSFTPD_PID. Needs root and the vsftpd package.
#                       With VSFTPD_ADDRESS=::1 set beforehand it listens on the IPv6 loopback instead of 127.0.0.1;
#                       with VSFTPD_LOCAL_MAX_RATE (bytes per second) each transfer goes no faster; with
#                       VSFTPD_TLS_PEM (certificate and key in one file) it offers FTP over TLS and requires it
#                       (VSFTPD_TLS_OPTIONAL=1: offers it only); the lines of VSFTPD_EXTRA_CONFIG come last
#                       (require_ssl_reuse=NO for a client that cannot resume TLS sessions).
#   vsftpd_stop         stops that server (its whole process group), removes the user, the config and the PAM file.
#                       Safe to call twice and from a trap; leaves ROOT to the caller.
#
# The user's password hash is SHA-512 with the fewest rounds crypt allows (1000), not yescrypt: a login then
# costs vsftpd about 4 ms instead of 30 and does not hide the client's own cost. The user has no shell (nologin); the PAM service checks the password only, so
# /etc/ftpusers and /etc/shells do not matter.

VSFTPD_PORT=
VSFTPD_USER=
VSFTPD_PASS=
VSFTPD_PID=
VSFTPD_STATE_DIR=
VSFTPD_PAM_SERVICE=

readonly VSFTPD_USER_PREFIX=kadroo_ftp_

# free_tcp_port: prints a TCP port on 127.0.0.1 that nothing listens on right now.
free_tcp_port() {
  /usr/bin/python3 -c 'import socket
s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

# free_tcp_port_range COUNT: prints "FIRST LAST", COUNT consecutive ports in 20000-59999 with no listener.
free_tcp_port_range() {
  /usr/bin/python3 - "$1" <<'EOF'
import random, socket, sys
count = int(sys.argv[1])
def free(port):
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", port))
        return True
    except OSError:
        return False
    finally:
        s.close()
for _ in range(200):
    first = random.randrange(20000, 60000 - count)
    if all(free(p) for p in range(first, first + count)):
        print(first, first + count - 1)
        sys.exit(0)
sys.exit("no free port range")
EOF
}

# _vsftpd_remove_stale_users: deletes users of this library whose home (a server root) no longer exists, left by a
# run that was killed before it could clean up. A running server's root exists, so its user is kept.
_vsftpd_remove_stale_users() {
  local name home
  while IFS=: read -r name _ _ _ _ home _; do
    [[ $name == "$VSFTPD_USER_PREFIX"* ]] || continue
    [ -d "$home" ] && continue
    userdel "$name" 2>/dev/null || true
  done </etc/passwd
}

vsftpd_start() {
  local root=$1
  if [ -z "$root" ]; then
    echo "vsftpd_start: ROOT missing" >&2
    return 1
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "vsftpd_start: needs root (local user, chroot)" >&2
    return 1
  fi
  command -v vsftpd >/dev/null || PATH=$PATH:/usr/sbin
  VSFTPD_ADDRESS=${VSFTPD_ADDRESS:-127.0.0.1}
  _vsftpd_remove_stale_users

  VSFTPD_STATE_DIR=$(mktemp -d /tmp/kadroo-vsftpd.XXXXXX)
  mkdir -p "$VSFTPD_STATE_DIR/empty" "$root"
  chmod 755 "$VSFTPD_STATE_DIR/empty"

  VSFTPD_USER=$VSFTPD_USER_PREFIX$(head -c 4 /dev/urandom | od -An -tx1 | tr -d ' \n')
  VSFTPD_PASS=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
  useradd --no-create-home --home-dir "$root" --shell /usr/sbin/nologin --comment "KadroOA test FTP user" \
    "$VSFTPD_USER" || return 1
  echo "$VSFTPD_USER:$VSFTPD_PASS" | chpasswd -c SHA512 -s 1000 || return 1
  chown "$VSFTPD_USER:" "$root"

  VSFTPD_PAM_SERVICE=${VSFTPD_USER}
  cat >"/etc/pam.d/$VSFTPD_PAM_SERVICE" <<'EOF'
# Written by KadroOA's scripts/lib/vsftpd.sh for one test server; removed when it stops.
auth     required pam_unix.so
account  required pam_unix.so
session  required pam_permit.so
EOF

  local range
  range=$(free_tcp_port_range 64) || return 1
  VSFTPD_PORT=$(free_tcp_port) || return 1
  local listen
  if [ "$VSFTPD_ADDRESS" = ::1 ]; then
    listen="listen=NO
listen_ipv6=YES
listen_address6=::1"
  else
    listen="listen=YES
listen_ipv6=NO
listen_address=$VSFTPD_ADDRESS"
  fi
  cat >"$VSFTPD_STATE_DIR/vsftpd.conf" <<EOF
$listen
background=NO
listen_port=$VSFTPD_PORT
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
chroot_local_user=YES
allow_writeable_chroot=YES
passwd_chroot_enable=NO
pasv_enable=YES
pasv_address=127.0.0.1
pasv_min_port=${range% *}
pasv_max_port=${range#* }
port_enable=YES
connect_from_port_20=NO
pam_service_name=$VSFTPD_PAM_SERVICE
userlist_enable=NO
tcp_wrappers=NO
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
secure_chroot_dir=$VSFTPD_STATE_DIR/empty
xferlog_enable=NO
dirmessage_enable=NO
use_localtime=NO
max_clients=0
max_per_ip=0
idle_session_timeout=120
data_connection_timeout=120
local_max_rate=${VSFTPD_LOCAL_MAX_RATE:-0}
EOF
  # FTP over TLS with vsftpd's defaults: logins and data must use TLS, data connections must resume the control
  # connection's session.
  if [ -n "${VSFTPD_TLS_PEM:-}" ]; then
    printf 'ssl_enable=YES\nrsa_cert_file=%s\nrsa_private_key_file=%s\n' "$VSFTPD_TLS_PEM" "$VSFTPD_TLS_PEM" \
      >>"$VSFTPD_STATE_DIR/vsftpd.conf"
    # VSFTPD_TLS_OPTIONAL=1: offered, not required (for a plain client beside, as the benchmark's).
    if [ -n "${VSFTPD_TLS_OPTIONAL:-}" ]; then
      printf 'force_local_logins_ssl=NO\nforce_local_data_ssl=NO\n' >>"$VSFTPD_STATE_DIR/vsftpd.conf"
    fi
  fi
  [ -z "${VSFTPD_EXTRA_CONFIG:-}" ] || printf '%s\n' "$VSFTPD_EXTRA_CONFIG" >>"$VSFTPD_STATE_DIR/vsftpd.conf"

  # Its own process group, so that vsftpd_stop also ends sessions still running after an interrupt.
  setsid vsftpd "$VSFTPD_STATE_DIR/vsftpd.conf" </dev/null >"$VSFTPD_STATE_DIR/vsftpd.log" 2>&1 &
  VSFTPD_PID=$!

  local greeting
  for _ in $(seq 1 50); do
    if ! kill -0 "$VSFTPD_PID" 2>/dev/null; then
      echo "vsftpd_start: vsftpd exited: $(cat "$VSFTPD_STATE_DIR/vsftpd.log")" >&2
      vsftpd_stop
      return 1
    fi
    greeting=$(/usr/bin/python3 -c 'import socket, sys
try:
    s = socket.create_connection((sys.argv[2], int(sys.argv[1])), timeout=1)
    print(s.recv(100).decode(errors="replace")[:3]); s.sendall(b"QUIT\r\n"); s.close()
except OSError:
    pass' "$VSFTPD_PORT" "$VSFTPD_ADDRESS")
    [ "$greeting" = 220 ] && return 0
    sleep 0.1
  done
  echo "vsftpd_start: no greeting on $VSFTPD_ADDRESS port $VSFTPD_PORT after 5 s" >&2
  vsftpd_stop
  return 1
}

vsftpd_stop() {
  if [ -n "$VSFTPD_PID" ]; then
    kill -TERM -- "-$VSFTPD_PID" 2>/dev/null || kill -TERM "$VSFTPD_PID" 2>/dev/null || true
    wait "$VSFTPD_PID" 2>/dev/null || true
    VSFTPD_PID=
  fi
  if [ -n "$VSFTPD_USER" ]; then
    userdel "$VSFTPD_USER" 2>/dev/null || true
    VSFTPD_USER=
  fi
  if [ -n "$VSFTPD_PAM_SERVICE" ]; then
    rm -f "/etc/pam.d/$VSFTPD_PAM_SERVICE"
    VSFTPD_PAM_SERVICE=
  fi
  if [ -n "$VSFTPD_STATE_DIR" ]; then
    rm -rf "$VSFTPD_STATE_DIR"
    VSFTPD_STATE_DIR=
  fi
  VSFTPD_PORT=
  VSFTPD_PASS=
}
