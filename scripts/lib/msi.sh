# shellcheck shell=bash
# The administrators' installer. Source this file (after packages.sh), then:
#
#   build_msi DIR   writes DIR/KadroOA.wxs from the registration table (through a small native program that includes
#                   it) and makes DIR/KadroOA.msi with wixl from DIR/win32/KadroOA.ocx and DIR/win64/KadroOA.ocx:
#                   one per-machine package for 64-bit Windows holding both builds, each registered in its own
#                   registry view; and DIR/KadroOA-x86.msi, the x86 build alone, for 32-bit Windows.

build_msi() {
  local dir=$1
  need_packages g++ wixl
  local generator=$dir/wix_source source=code/host/windows/installer/WixSource.cpp
  if [ ! -x "$generator" ] || [ "$source" -nt "$generator" ] ||
    [ code/host/windows/Registration.h -nt "$generator" ]; then
    g++ -std=c++20 -O1 -Wall -Wextra -I code "$source" -o "$generator"
  fi
  # wixl finds a relative source beside the .wxs.
  "$generator" win32/KadroOA.ocx win64/KadroOA.ocx >"$dir/KadroOA.wxs"
  wixl -a x64 -o "$dir/KadroOA.msi" "$dir/KadroOA.wxs"
  "$generator" win32/KadroOA.ocx >"$dir/KadroOA-x86.wxs"
  wixl -a x86 -o "$dir/KadroOA-x86.msi" "$dir/KadroOA-x86.wxs"
}
