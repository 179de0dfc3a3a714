#!/usr/bin/env bash
# scripts/demo windows: the edit cycle through the real control. Builds KadroOA.ocx, makes a Wine prefix, registers
# the x86 control (the x64 one where the kernel runs no 32-bit programs) with regsvr32, and runs a page script (scripts/lib/demo-page.js) under Wine's cscript against a
# private vsftpd; then shows the server's files. KADROOA_WINE_PREFIX names a prefix to reuse.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/packages.sh
source scripts/lib/wine.sh
source scripts/lib/vsftpd.sh
need_packages vsftpd python3
need_wine
echo "-- building build/win32/KadroOA.ocx and build/win64/KadroOA.ocx"
scripts/build windows >/dev/null

work=$(mktemp -d /tmp/kadrooa-windemo.XXXXXX)
chmod 755 "$work"  # the FTP user must reach its root below it
cleanup() {
  vsftpd_stop
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "-- making a Wine prefix (the first time takes about 20 s)"
unset DISPLAY
wine_prefix "${KADROOA_WINE_PREFIX:-$work/prefix}"
wineserver -p
run=wine32 build=win32
if [ "$(wine_bitnesses)" = 64 ]; then
  echo "-- $(wine_skip_note): the x64 control instead"
  run=wine64 build=win64
fi
$run cmd /c exit >/dev/null 2>&1
$run regsvr32 build/$build/KadroOA.ocx 2>/dev/null
echo "-- registered build/$build/KadroOA.ocx"

root=$work/server
mkdir -p "$root/docs" "$root/templates"
printf '关于二〇二六年度预算的请示（草稿）\r\n' >"$root/docs/report.doc"
printf '红头文件模板\r\n' >"$root/templates/red-head.dot"
vsftpd_start "$root"
chown -R "$VSFTPD_USER:" "$root"
echo "vsftpd on 127.0.0.1:$VSFTPD_PORT, user $VSFTPD_USER"

echo "-- the page script under Wine's cscript"
$run cscript //nologo "$(windows_path "$PWD/scripts/lib/demo-page.js")" "$VSFTPD_USER" "$VSFTPD_PORT" "$VSFTPD_PASS" \
  2>/dev/null | tr -d '\r'
status=${PIPESTATUS[0]}
$run regsvr32 /u build/$build/KadroOA.ocx 2>/dev/null

echo "-- on the server"
for f in "$root"/docs/*; do
  printf '%s: %s\n' "${f#"$root"/}" "$(tr -d '\r' <"$f")"
done
exit "$status"
