#!/usr/bin/env bash
# kadrooa.exe as a browser starts it, under Wine: the Linux host's native messaging test
# (tests/host/kadrooa_native_test.py) against each bitness's kadrooa.exe, with the policy and the registry in a
# new prefix and a private vsftpd; and its --diagnose in that prefix, where nothing is installed. Expects build/win32
# and build/win64 built (scripts/build windows).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
source scripts/lib/packages.sh
source scripts/lib/wine.sh
source tests/windows/report.sh
need_packages python3 vsftpd passwd
need_wine

run_dir=$(mktemp -d /tmp/kadroo-native-wine.XXXXXX)
cleanup() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
  rm -rf "$run_dir"
}
trap cleanup EXIT
unset DISPLAY  # the bridge shows no window: a message box would fail at once rather than wait
wine_prefix "${KADROOA_WINE_PREFIX:-$run_dir/prefix}"
wineserver -p

runnable=" $(wine_bitnesses) "
for bits in 32 64; do
  name="kadrooa.exe ($bits-bit) as a browser's native messaging host"
  if [[ $runnable != *" $bits "* ]]; then
    skip "$name" "$(wine_skip_note)"
    continue
  fi
  loader=$([ "$bits" = 64 ] && echo /usr/lib/wine/wine64 || echo wine)
  check "$name" python3 tests/host/kadrooa_native_test.py "$loader" "build/win$bits/bin/kadrooa.exe"
  check "kadrooa.exe --diagnose --json ($bits-bit)" python3 tests/windows/diagnose_check.py "$loader" \
    "build/win$bits/bin/kadrooa.exe"
done
report_totals
