# shellcheck shell=bash
# shellcheck disable=SC2034  # the FTP_SERVER_* variables are for the script that sources this file
# Runs one of the FTP servers that Debian packages, privately on 127.0.0.1, for benchmarks. Source this file
# (after packages.sh), then:
#
#   ftp_server_start NAME ROOT  starts server NAME for a local user of its own whose home is ROOT (created if
#                               missing, chowned to the user) on a free port, and waits for its greeting. Sets
#                               FTP_SERVER_PORT, FTP_SERVER_USER, FTP_SERVER_PASS and FTP_SERVER_VERSION. With
#                               FTP_SERVER_TLS_PEM (certificate and key in one file) vsftpd and pure-ftpd offer FTP
#                               over TLS and require it (vsftpd also requires data connections to resume the session);
#                               with FTP_SERVER_TLS_OPTIONAL=1 they offer it only.
#                               KADROOA_PROFTPD_DIGEST=1 loads proftpd's mod_digest (HASH, XSHA256, ...).
#   ftp_server_stop             stops it (its whole process group) and removes the user and every file it wrote
#                               outside ROOT. Safe to call twice and from a trap.
#
# NAME is one of FTP_SERVER_NAMES. vsftpd is the installed package (scripts/lib/vsftpd.sh). The others conflict
# with vsftpd as installed packages, so each is fetched with `apt-get download`, unpacked with `dpkg-deb -x`
# into build/ftpd/PACKAGE_VERSION (kept for the next run) and run from there; the libraries it links are
# installed as ordinary packages. proftpd and inetutils-ftpd run as inetd would run them (scripts/lib/inetd.py):
# inetutils-ftpd has no standalone port option, and a standalone proftpd pauses 0.4 s after every session ends
# before it accepts the next connection, which would hide every client's own cost. pure-ftpd runs standalone.
# pure-ftpd and inetutils-ftpd refuse a user whose shell is not in /etc/shells, so their user gets the
# restricted shell rbash; the others get nologin.

source "$(dirname "${BASH_SOURCE[0]}")/vsftpd.sh"

readonly FTP_SERVER_NAMES="vsftpd proftpd pure-ftpd inetutils-ftpd"
FTP_SERVER_PORT=
FTP_SERVER_USER=
FTP_SERVER_PASS=
FTP_SERVER_VERSION=
_FTP_SERVER_NAME=
_FTP_SERVER_PID=
_FTP_SERVER_STATE=

_ftp_server_dir() {
  echo "${KADROOA_FTPD_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build/ftpd}"
}

# _ftp_server_unpack PACKAGE: prints the directory that PACKAGE's files were unpacked into, after installing the
# libraries it depends on.
_ftp_server_unpack() {
  local pkg=$1 version dir download libs
  if ! version=$(apt-cache show --no-all-versions "$pkg" 2>/dev/null | sed -n 's/^Version: //p' | head -n 1) ||
     [ -z "$version" ]; then
    DEBIAN_FRONTEND=noninteractive apt-get update -qq >&2
    version=$(apt-cache show --no-all-versions "$pkg" | sed -n 's/^Version: //p' | head -n 1)
  fi
  [ -n "$version" ] || { echo "ftp_server_start: no package $pkg" >&2; return 1; }
  mapfile -t libs < <(apt-cache depends "$pkg" | sed -n 's/^ *|\{0,1\}Depends: \(lib[^ <>]*\)$/\1/p' | sort -u)
  need_packages "${libs[@]}" || return 1
  dir=$(_ftp_server_dir)/${pkg}_${version//:/%3a}
  if [ ! -f "$dir/.complete" ]; then
    rm -rf "$dir"
    download=$(mktemp -d /tmp/kadroo-ftpd.XXXXXX)
    chmod 755 "$download"
    chown _apt "$download" 2>/dev/null || true  # apt fetches as _apt where that user exists
    mkdir -p "$dir/root"
    if ! (cd "$download" && apt-get download -qq "$pkg=$version" >&2) ||
       ! dpkg-deb -x "$download"/*.deb "$dir/root"; then
      rm -rf "$download" "$dir"
      echo "ftp_server_start: could not fetch and unpack $pkg $version" >&2
      return 1
    fi
    rm -rf "$download"
    touch "$dir/.complete"
  fi
  echo "$dir"
}

# _ftp_server_user ROOT SHELL: a local user of this library (the prefix of vsftpd.sh, so that its clean-up of
# users left by a killed run covers these too), SHA-512 password hash with 1000 rounds as for vsftpd.
_ftp_server_user() {
  local root=$1 shell=$2
  _vsftpd_remove_stale_users
  mkdir -p "$root"
  FTP_SERVER_USER=$VSFTPD_USER_PREFIX$(head -c 4 /dev/urandom | od -An -tx1 | tr -d ' \n')
  FTP_SERVER_PASS=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
  useradd --no-create-home --home-dir "$root" --shell "$shell" --comment "KadroOA test FTP user" \
    "$FTP_SERVER_USER" || return 1
  echo "$FTP_SERVER_USER:$FTP_SERVER_PASS" | chpasswd -c SHA512 -s 1000 || return 1
  chown "$FTP_SERVER_USER:" "$root"
}

# A shell that /etc/shells lists, the restricted one where there is one.
_ftp_server_listed_shell() {
  local shell
  for shell in /bin/rbash /usr/bin/rbash /bin/sh; do
    grep -qx "$shell" /etc/shells && { echo "$shell"; return 0; }
  done
  head -n 1 < <(grep '^/' /etc/shells)
}

# _ftp_server_wait_greeting: waits up to 5 s for a 220 on FTP_SERVER_PORT while the server process lives.
_ftp_server_wait_greeting() {
  local greeting
  for _ in $(seq 1 50); do
    if ! kill -0 "$_FTP_SERVER_PID" 2>/dev/null; then
      echo "ftp_server_start: $_FTP_SERVER_NAME exited: $(cat "$_FTP_SERVER_STATE"/*.log 2>/dev/null)" >&2
      return 1
    fi
    greeting=$(/usr/bin/python3 -c 'import socket, sys
try:
    s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=2)
    print(s.recv(100).decode(errors="replace")[:3]); s.sendall(b"QUIT\r\n"); s.close()
except OSError:
    pass' "$FTP_SERVER_PORT")
    [ "$greeting" = 220 ] && return 0
    sleep 0.1
  done
  echo "ftp_server_start: no greeting from $_FTP_SERVER_NAME on 127.0.0.1:$FTP_SERVER_PORT after 5 s" >&2
  return 1
}

ftp_server_start() {
  local name=$1 root=$2 dir range inetd
  if [ -z "$root" ] || [[ " $FTP_SERVER_NAMES " != *" $name "* ]]; then
    echo "ftp_server_start: usage: ftp_server_start {${FTP_SERVER_NAMES// /|}} ROOT" >&2
    return 1
  fi
  _FTP_SERVER_NAME=$name
  if [ "$name" = vsftpd ]; then
    VSFTPD_TLS_PEM=${FTP_SERVER_TLS_PEM:-} VSFTPD_TLS_OPTIONAL=${FTP_SERVER_TLS_OPTIONAL:-}
    need_packages vsftpd || return 1
    vsftpd_start "$root" || return 1
    FTP_SERVER_PORT=$VSFTPD_PORT FTP_SERVER_USER=$VSFTPD_USER FTP_SERVER_PASS=$VSFTPD_PASS
    FTP_SERVER_VERSION="vsftpd $(dpkg-query -W -f='${Version}' vsftpd)"
    return 0
  fi

  local pkg=$name
  [ "$name" = proftpd ] && pkg=proftpd-core
  dir=$(_ftp_server_unpack "$pkg") || return 1
  FTP_SERVER_VERSION="$name $(basename "$dir" | sed 's/^[^_]*_//; s/%3a/:/')"
  _FTP_SERVER_STATE=$(mktemp -d /tmp/kadroo-ftpserver.XXXXXX)
  chmod 755 "$_FTP_SERVER_STATE"
  range=$(free_tcp_port_range 64) || return 1
  FTP_SERVER_PORT=$(free_tcp_port) || return 1
  inetd=$(dirname "${BASH_SOURCE[0]}")/inetd.py
  case $name in
    proftpd)
      _ftp_server_user "$root" /usr/sbin/nologin || { ftp_server_stop; return 1; }
      # No reverse lookups, no deliberate login delay (mod_delay), no logs beyond the server's own file. Its own
      # address is given, or proftpd looks up the machine's name, which waits for DNS where /etc/hosts lacks it.
      cat >"$_FTP_SERVER_STATE/proftpd.conf" <<EOF
ServerType inetd
ServerName "KadroOA bench"
DefaultAddress 127.0.0.1
UseIPv6 off
User nobody
Group nogroup
ModulePath $dir/root/usr/lib/proftpd
DefaultRoot ~
RequireValidShell off
AuthOrder mod_auth_unix.c
UseReverseDNS off
DelayEngine off
WtmpLog off
ScoreboardFile $_FTP_SERVER_STATE/scoreboard
TransferLog none
SystemLog $_FTP_SERVER_STATE/proftpd.log
PassivePorts ${range% *} ${range#* }
AllowOverwrite on
Umask 022
EOF
      # mod_digest (in proftpd-core) offers HASH, XSHA256 and the like where asked: KADROOA_PROFTPD_DIGEST=1.
      if [ "${KADROOA_PROFTPD_DIGEST:-0}" = 1 ]; then
        printf 'LoadModule mod_digest.c\nDigestEngine on\n' >>"$_FTP_SERVER_STATE/proftpd.conf"
      fi
      setsid /usr/bin/python3 "$inetd" 127.0.0.1 "$FTP_SERVER_PORT" "$_FTP_SERVER_STATE/inetd.log" \
        "$dir/root/usr/sbin/proftpd" -c "$_FTP_SERVER_STATE/proftpd.conf" </dev/null >/dev/null 2>&1 &
      ;;
    pure-ftpd)
      _ftp_server_user "$root" "$(_ftp_server_listed_shell)" || { ftp_server_stop; return 1; }
      # -Y 3: TLS required on the control and every data connection; -Y 1: offered.
      local tls=()
      [ -n "${FTP_SERVER_TLS_PEM:-}" ] && tls=(-Y "$([ -n "${FTP_SERVER_TLS_OPTIONAL:-}" ] && echo 1 || echo 3)"
        -2 "$FTP_SERVER_TLS_PEM")
      # -A chroot, -E no anonymous, -H no reverse lookups, -l unix: the system's password file; -u 1: any uid.
      setsid "$dir/root/usr/sbin/pure-ftpd" -S "127.0.0.1,$FTP_SERVER_PORT" -p "${range% *}:${range#* }" \
        -A -E -H -l unix -u 1 -g "$_FTP_SERVER_STATE/pure-ftpd.pid" ${tls[@]+"${tls[@]}"} \
        </dev/null >"$_FTP_SERVER_STATE/pure-ftpd.log" 2>&1 &
      ;;
    inetutils-ftpd)
      _ftp_server_user "$root" "$(_ftp_server_listed_shell)" || { ftp_server_stop; return 1; }
      setsid /usr/bin/python3 "$inetd" 127.0.0.1 "$FTP_SERVER_PORT" "$_FTP_SERVER_STATE/inetd.log" \
        "$dir/root/usr/sbin/ftpd" </dev/null >/dev/null 2>&1 &
      ;;
  esac
  _FTP_SERVER_PID=$!
  _ftp_server_wait_greeting || { ftp_server_stop; return 1; }
}

ftp_server_stop() {
  if [ "$_FTP_SERVER_NAME" = vsftpd ]; then
    vsftpd_stop
  fi
  if [ -n "$_FTP_SERVER_PID" ]; then
    kill -TERM -- "-$_FTP_SERVER_PID" 2>/dev/null || kill -TERM "$_FTP_SERVER_PID" 2>/dev/null || true
    wait "$_FTP_SERVER_PID" 2>/dev/null || true
    _FTP_SERVER_PID=
  fi
  if [ -n "$FTP_SERVER_USER" ] && [ "$_FTP_SERVER_NAME" != vsftpd ]; then
    # A session that outlived the kill would keep the user busy for a moment.
    userdel "$FTP_SERVER_USER" 2>/dev/null || { sleep 0.5; userdel -f "$FTP_SERVER_USER" 2>/dev/null || true; }
  fi
  if [ -n "$_FTP_SERVER_STATE" ]; then
    rm -rf "$_FTP_SERVER_STATE"
    _FTP_SERVER_STATE=
  fi
  FTP_SERVER_USER=
  FTP_SERVER_PASS=
  FTP_SERVER_PORT=
  _FTP_SERVER_NAME=
}
