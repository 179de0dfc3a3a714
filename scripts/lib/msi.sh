# shellcheck shell=bash
# The administrators' installer. Source this file (after packages.sh), then:
#
#   build_msi DIR   writes DIR/KadroOA.wxs from the registration table (through a small native program that includes
#                   it) and makes DIR/KadroOA.msi with wixl from DIR/win32/KadroOA.ocx and DIR/win64/KadroOA.ocx:
#                   one per-machine package for 64-bit Windows holding both builds, each registered in its own
#                   registry view, and the browsers' bridge (DIR/win64/bin/kadrooa.exe, its host manifests, the
#                   extension and its policies for EXTENSIONPOLICY=1, from DIR/bridge); and DIR/KadroOA-x86.msi, the
#                   x86 build alone with DIR/win32/bin/kadrooa.exe, for 32-bit Windows.

build_msi() {
  local dir=$1
  need_packages g++ wixl msitools python3 openssl
  local generator=$dir/wix_source source=code/host/windows/installer/WixSource.cpp
  if [ ! -x "$generator" ] || [ "$source" -nt "$generator" ] ||
    [ code/host/windows/Registration.h -nt "$generator" ]; then
    g++ -std=c++20 -O1 -Wall -Wextra -I code "$source" -o "$generator"
  fi
  python3 browser/package/build.py --windows "$dir/bridge"
  # wixl finds a relative source beside the .wxs; the feature conditions, which wixl cannot write, go in by msibuild.
  (cd "$dir" && ./wix_source --ocx32 win32/KadroOA.ocx --ocx64 win64/KadroOA.ocx --host win64/bin/kadrooa.exe \
    --bridge bridge --conditions KadroOA.idt >KadroOA.wxs &&
    wixl -a x64 -o KadroOA.msi KadroOA.wxs && msibuild KadroOA.msi -i KadroOA.idt &&
    ./wix_source --ocx32 win32/KadroOA.ocx --host win32/bin/kadrooa.exe --bridge bridge \
      --conditions KadroOA-x86.idt >KadroOA-x86.wxs &&
    wixl -a x86 -o KadroOA-x86.msi KadroOA-x86.wxs && msibuild KadroOA-x86.msi -i KadroOA-x86.idt)
}
