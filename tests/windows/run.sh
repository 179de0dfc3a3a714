#!/usr/bin/env bash
# Runs the Windows control's tests under Wine: one new prefix and one warm wineserver for the whole run, a private
# vsftpd on 127.0.0.1. Expects build/win32 and build/win64 built (scripts/build windows). Prints "N passed, N failed".
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
source scripts/lib/packages.sh
source scripts/lib/wine.sh
source scripts/lib/vsftpd.sh
source tests/windows/report.sh
need_packages g++ python3 vsftpd passwd
need_wine

started=$(date +%s)
run_dir=$(mktemp -d /tmp/kadroo-wine-tests.XXXXXX)
# The FTP user must reach its root below it.
chmod 755 "$run_dir"
cleanup() {
  vsftpd_stop
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
  [ -n "${KADROOA_KEEP_RUN:-}" ] || rm -rf "$run_dir"
}
trap cleanup EXIT

# Message boxes are not expected here; without a display one would fail at once rather than wait.
unset DISPLAY
wine_prefix "${KADROOA_WINE_PREFIX:-$run_dir/prefix}"
wineserver -p
wine_any cmd /c exit >/dev/null 2>&1
echo "Wine prefix ready after $(( $(date +%s) - started )) s"

g++ -std=c++20 -Wall -Wextra -I code tests/windows/registration_table.cpp -o "$run_dir/registration_table"
python3 browser/package/build.py --library "$run_dir/lib"
mkdir -p "$run_dir/ftp" "$run_dir/work"
vsftpd_start "$run_dir/ftp"

KADROOA_WINE_BITS=$(wine_bitnesses) KADROOA_WINE_SKIP=$(wine_skip_note) \
  FTP_ROOT=$run_dir/ftp WORK_DIR=$run_dir/work KADROOA_BUILD=$root/build REGISTRATION_TABLE=$run_dir/registration_table \
  KADROO_LIB=$run_dir/lib \
  VSFTPD_PORT=$VSFTPD_PORT VSFTPD_USER=$VSFTPD_USER VSFTPD_PASS=$VSFTPD_PASS \
  python3 tests/windows/run_wine_tests.py | tee "$run_dir/results" || status=$?
tally "$(cat "$run_dir/results")" "${status:-0}" run_wine_tests.py
report_totals
