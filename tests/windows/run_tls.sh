#!/usr/bin/env bash
# The Windows streams of the FTP engine under Wine: TLS through Schannel over Winsock (tests/windows/net/tls_probe)
# against `openssl s_server` with certificates from the test's own authority: a line each way and close_notify,
# then the certificates that must be refused. Expects build/win32 and build/win64 built (scripts/build windows). Wine's Schannel
# speaks TLS 1.2 only and never resumes a session. Prints "N passed, N failed".
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
source scripts/lib/packages.sh
source scripts/lib/wine.sh
source tests/windows/report.sh
source tests/windows/net/test_pki.sh
need_packages openssl python3
need_wine

run_dir=$(mktemp -d /tmp/kadroo-tls-wine.XXXXXX)
servers=()
cleanup() {
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
  rm -rf "$run_dir"
}
trap cleanup EXIT
unset DISPLAY
wine_prefix "${KADROOA_WINE_PREFIX:-$run_dir/prefix}"
wineserver -p
make_test_pki "$run_dir/pki"

# An echo server that answers each line reversed; prints its port.
serve() {
  local port
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  openssl s_server -quiet -rev -accept "127.0.0.1:$port" -cert "$run_dir/pki/$1.pem" -key "$run_dir/pki/$2.key" \
    >/dev/null 2>&1 &
  servers+=($!)
  echo "$port"
}

good=$(serve server server)
expired=$(serve expired server)
stranger=$(serve stranger stranger)
sleep 1
pin=$(sha256_of "$run_dir/pki/server.pem")
wrong_pin=$(sha256_of "$run_dir/pki/stranger.pem")

# probe EXPECTED ARGS...: tls_probe's whole output must be EXPECTED.
probe() {
  local expected=$1 got
  shift
  got=$(timeout 60 $loader "build/win$bits/tests/tls_probe.exe" probe "$@" | tr -d '\r') || true
  [ "$got" = "$expected" ] || { echo "got: $got"; echo "expected: $expected"; return 1; }
}
exchanged=$'ok lennahcs revo oordak resumed=0\nok lennahcs revo oordak resumed=0'

runnable=" $(wine_bitnesses) "
for bits in 64 32; do
  if [[ $runnable != *" $bits "* ]]; then
    skip "TLS under $bits-bit Wine" "$(wine_skip_note)"
    continue
  fi
  loader=$([ "$bits" = 64 ] && echo /usr/lib/wine/wine64 || echo wine)
  if [ "$bits" = 64 ]; then
    check "an authority not in the root store is refused (12045)" probe "error 12045" localhost "$good"
    check "a pinned fingerprint alone admits the server" probe "$exchanged" localhost "$good" "$pin"
    check "another fingerprint is refused (12169)" probe "error 12169" localhost "$good" "$wrong_pin"
    check "the authority goes into the machine's root store" \
      $loader build/win64/tests/tls_probe.exe trust "$(windows_path "$run_dir/pki/ca.der")"
  fi
  check "$bits-bit: a line each way over TLS, twice on one credential" probe "$exchanged" localhost "$good"
  check "$bits-bit: another host name is refused (12038)" probe "error 12038" 127.0.0.1 "$good"
  check "$bits-bit: an expired certificate is refused (12037)" probe "error 12037" localhost "$expired"
  check "$bits-bit: a self-signed certificate is refused (12045)" probe "error 12045" localhost "$stranger"
done
report_totals
