# shellcheck shell=bash
# Wine for the Windows control's tests and demo. Source this file (after packages.sh), then:
#
#   need_wine           installs Wine with its 32-bit part, the cross compilers' IDL files and the GUI tools
#                       (Xvfb, xdotool, ImageMagick, a Chinese font), adding the i386 architecture first.
#   need_wine_sdk       installs what the cross build takes from Wine: the IDL files and both bitnesses' stdole2.tlb
#                       (libwine and libwine:i386), adding the i386 architecture first.
#   need_locale NAME    makes the locale NAME (e.g. zh_CN.UTF-8) available, listed in /etc/locale.gen so that a
#                       later locale-gen keeps it.
#   wine_prefix DIR     makes DIR a Wine prefix (once; a prefix made before 32-bit Wine was installed is made anew),
#                       exports WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES, and links a Chinese font for message boxes.
#   wine32 ARGS...      runs ARGS in the prefix as a 32-bit process (cscript, regsvr32 pick their bitness
#                       from the program); wine64 ARGS... as a 64-bit one.
#   wine_bitnesses      prints the bitnesses this kernel lets Wine run: "32 64", or "64" on a kernel built
#                       without 32-bit x86 support (there the 32-bit loader fails with "Exec format error").
#   wine_skip_note      prints why the 32-bit half is skipped there, for the runners' output.
#   wine_any ARGS...    runs ARGS with the loader that works for programs of either bitness on this kernel.
#   windows_path PATH   prints the Z:\ form of a Linux path, as programs in the prefix see it.

_need_i386() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    unset KADROOA_APT_UPDATED
  fi
}

need_wine_sdk() {
  _need_i386
  need_packages libwine-dev libwine libwine:i386
}

need_locale() {
  local name=$1 charset
  charset=${name#*.}
  locale -a 2>/dev/null | grep -qix "${name%%.*}.$(echo "$charset" | tr -d -- - | tr '[:upper:]' '[:lower:]')" &&
    return 0
  need_packages locales || return 1
  # locale-gen rebuilds the whole archive from /etc/locale.gen, so a locale made by localedef alone would be lost
  # the next time the locales package is configured.
  if ! grep -qx "$name $charset" /etc/locale.gen; then
    sed -i "s/^# *$name $charset\$/$name $charset/" /etc/locale.gen
    grep -qx "$name $charset" /etc/locale.gen || echo "$name $charset" >>/etc/locale.gen
  fi
  locale-gen >/dev/null || { echo "need_locale: cannot generate $name" >&2; return 1; }
}

need_wine() {
  _need_i386
  need_packages wine wine64 wine32:i386 libwine-dev xvfb xauth xdotool imagemagick x11-utils fonts-wqy-zenhei \
    locales
}

wine_bitnesses() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo "32 64"; else echo 64; fi
}

wine_skip_note() {
  echo "this kernel cannot run 32-bit x86 programs (the 32-bit Wine loader fails with Exec format error)"
}

# The loader for programs of either bitness: /usr/bin/wine goes to the 32-bit loader whenever it is installed.
wine_any() {
  if [ "$(wine_bitnesses)" = 64 ]; then /usr/lib/wine/wine64 "$@"; else wine "$@"; fi
}

wine_prefix() {
  local dir=$1
  export WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ -f "$dir/system.reg" ] && [ ! -f "$dir/drive_c/windows/syswow64/kernel32.dll" ] &&
    [ "$(wine_bitnesses)" != 64 ]; then
    rm -rf "$dir"
  fi
  if [ ! -f "$dir/.kadrooa-ready" ]; then
    mkdir -p "$dir"
    wine_any wineboot -i >/dev/null 2>&1
    wineserver -w
    local font='wqy-zenhei.ttc,WenQuanYi Zen Hei' face
    for face in Tahoma 'MS Shell Dlg' 'MS Shell Dlg 2' 'Microsoft Sans Serif' 'SimSun'; do
      wine_any reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" \
        /t REG_MULTI_SZ /d "$font" /f >/dev/null 2>&1
    done
    # Without a window manager under Xvfb, Wine draws the title bars itself.
    wine_any reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
    wineserver -w
    touch "$dir/.kadrooa-ready"
  fi
}

wine32() { wine "$@"; }
wine64() { /usr/lib/wine/wine64 "$@"; }

windows_path() { printf 'Z:%s\n' "${1//\//\\}"; }
