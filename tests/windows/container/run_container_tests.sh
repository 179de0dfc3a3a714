#!/usr/bin/env bash
# The control in real containers and on a clerk's machine, under Wine and Xvfb, 32-bit and 64-bit:
#   - Wine's ATL container (AtlAxWin) creates, activates and shows it; a screenshot has Label12's pixels where the
#     label is; a page script calls it through the host;
#   - a page container in a browser's order, with a JScript and a VBScript page script running the edit cycle
#     against vsftpd, the unsaved-edit warning owned by the page's window, drawing, persistence, events, unloading;
#   - the administrator's policy (HKLM\SOFTWARE\Policies\KadroOA, written as Group Policy writes it from
#     KadroOA.admx, whose templates are checked first), read back by kadrooa.exe --browser-policy; in the page
#     container at a page's address, a listed site's page runs the edit cycle, an unlisted site's page is refused
#     before any method runs (the server untouched), a listed site naming a server, program, key or folder it may
#     not use is refused, an invalid policy refuses every page; without a policy a page works as before, and so
#     does cscript under one, which has no page;
#   - the installer: silent install, both bitnesses created by cscript, the registry equal to regsvr32's, the
#     browsers' host manifests registered in both registry views, the extension's policies with EXTENSIONPOLICY=1
#     (beside an administrator's own), a clean uninstall.
# Needs `scripts/build windows` first. Artifacts (screenshots, bitmaps, logs) go to build/container-tests.
# Prints one line per check and "N passed, N failed"; exits non-zero when any failed.
set -uo pipefail
cd "$(dirname "$0")/../../.." || exit 1
source scripts/lib/packages.sh
source scripts/lib/wine.sh
source scripts/lib/vsftpd.sh
need_wine
need_packages vsftpd x11-utils xdotool imagemagick libxml2-utils

readonly PROGID=KadroOA.KadroOcx
readonly OUT=$PWD/build/container-tests
readonly HERE=tests/windows/container
readonly DOC_TEXT="Letter to the tax office, first version."
readonly EDIT_TEXT=" Second paragraph, written by the clerk."

for file in build/win32/KadroOA.ocx build/win64/KadroOA.ocx build/KadroOA.msi build/KadroOA-x86.msi build/bridge/ids \
  build/win32/bin/page_container.exe build/win64/bin/atl_container.exe build/win64/bin/kadrooa.exe; do
  [ -f "$file" ] || { echo "missing $file: run scripts/build windows first" >&2; exit 1; }
done

rm -rf "$OUT"
mkdir -p "$OUT"
python3 browser/package/build.py --library "$OUT/lib"  # kadroo.js, as a page in IE mode loads it
# The server's files live apart from the checkout, which the FTP user may not be able to reach (a home of 0700).
ftp_dir=$(mktemp -d /tmp/kadroo-container.XXXXXX)
chmod 755 "$ftp_dir"
readonly FTP_ROOT=$ftp_dir/root
xvfb_pid=
cleanup() {
  vsftpd_stop
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$ftp_dir"
}
trap cleanup EXIT

exec 3>"$OUT/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$OUT/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 50); do [ -s "$OUT/display" ] && break; sleep 0.1; done
DISPLAY=:$(head -1 "$OUT/display")
export DISPLAY
rm -rf build/wine-container
wine_prefix "$PWD/build/wine-container"
vsftpd_start "$FTP_ROOT" || exit 1
mkdir -p "$FTP_ROOT/docs"

REPORT_LOGS=$OUT
source tests/windows/report.sh

# wine_for BITS: the Wine loader that runs programs of that bitness (cscript, regsvr32, reg pick theirs by it).
wine_for() { if [ "$1" = 32 ]; then echo wine; else echo /usr/lib/wine/wine64; fi; }
wine_bits() {
  local loader
  loader=$(wine_for "$1")
  shift
  "$loader" "$@"
}

atl_container() {
  local bits=$1
  local output=$OUT/atl-$bits.out
  rm -f "$OUT/atl-done"
  local script
  script=$(windows_path "$PWD/$HERE/atl_call.js")
  (cd "build/win$bits/bin" && exec timeout 90 "$(wine_for "$bits")" atl_container.exe "$PROGID" \
    "$(windows_path "$OUT")" "$script") >"$output" 2>&1 &
  local pid=$!
  for _ in $(seq 1 300); do grep -q '^ready' "$output" && break; sleep 0.1; done
  cat "$output"
  grep -q "^ready" "$output" || { kill "$pid" 2>/dev/null; return 1; }
  read -r _ x y width height < <(grep '^label' "$output")
  # A loaded X server may show the window a moment late: a few screenshots, the last one kept.
  local differences attempt
  for attempt in 1 2 3 4 5; do
    import -window root "$OUT/atl-$bits.png"
    convert "$OUT/atl-$bits.png" -crop "${width}x${height}+$x+$y" +repage "$OUT/atl-$bits-label.png"
    differences=$(compare -metric AE "$OUT/atl-label-expected.bmp" "$OUT/atl-$bits-label.png" null: 2>&1)
    [ "$differences" = 0 ] && break
    sleep 0.5
  done
  touch "$OUT/atl-done"
  wait "$pid" || return 1
  echo "pixels differing from Label12 at ${width}x${height}+$x+$y: $differences (screenshot $attempt)"
  [ "$differences" = 0 ]
}

# Waits for the control's message box, checks that the page's window owns it, keeps a screenshot, closes it.
close_message_box() {
  local shot=$1 box page owner
  box=$(timeout 60 xdotool search --sync --name '^KadroOA$' | head -1)
  [ -n "$box" ] || { echo "no message box"; return 1; }
  sleep 0.3
  import -window root "$shot"
  page=$(xdotool search --name '^KadroOA page$' | head -1)
  owner=$(xprop -id "$box" WM_TRANSIENT_FOR | sed -n 's/.*window id # //p')
  xdotool key --window "$box" Return
  echo "message box $box owned by $owner, page window $page"
  [ -n "$owner" ] && [ -n "$page" ] && [ $((owner)) -eq $((page)) ]
}

# page_container BITS [ADDRESS]: the page's edit cycle; with an address, the page's site gives it to the control.
page_container() {
  local bits=$1 address=${2:-} root=$FTP_ROOT/docs
  rm -f "$root"/letter.*
  printf '%s' "$DOC_TEXT" >"$root/letter.doc"
  printf 'template' >"$root/letter.dot"
  chown -R "$VSFTPD_USER:" "$FTP_ROOT"
  local server=127.0.0.1:$VSFTPD_PORT
  printf 'var server = "%s", user = "%s", pass = "%s", remoteDoc = "docs/letter.doc", remoteTemplate = "docs/letter.dot", docText = "%s";\n' \
    "$server" "$VSFTPD_USER" "$VSFTPD_PASS" "$DOC_TEXT" >"$OUT/page.js"
  printf 'Dim server, user, pass, remoteDoc, editText\nserver = "%s" : user = "%s" : pass = "%s"\nremoteDoc = "docs/letter.doc" : editText = "%s"\n' \
    "$server" "$VSFTPD_USER" "$VSFTPD_PASS" "$EDIT_TEXT" >"$OUT/page.vbs"
  close_message_box "$OUT/page-$bits-warning.png" >"$OUT/page-$bits-box.log" 2>&1 &
  local closer=$! status=0
  local scripts=("js:$(windows_path "$OUT/page.js")" "js:$(windows_path "$PWD/$HERE/page_cycle.js")"
    "vbs:$(windows_path "$OUT/page.vbs")" "vbs:$(windows_path "$PWD/$HERE/page_cycle.vbs")")
  (cd "build/win$bits/bin" && timeout 120 "$(wine_for "$bits")" page_container.exe "$PROGID" \
    "$(windows_path "$OUT")" ${address:+"url:$address"} "${scripts[@]}") || status=1
  # A container that ended without showing the box leaves the closer waiting for it.
  kill "$closer" 2>/dev/null
  wait "$closer" || status=1
  cat "$OUT/page-$bits-box.log"
  cp "$OUT/page-draw.bmp" "$OUT/page-$bits-draw.bmp" 2>/dev/null
  # The server holds the clerk's edit, the previous version as .old, and no .new.
  local now old
  now=$(cat "$root/letter.doc") old=$(cat "$root/letter.doc.old" 2>/dev/null)
  echo "server: letter.doc '$now', letter.doc.old '$old'"
  [ "$now" = "$DOC_TEXT$EDIT_TEXT" ] && [ "$old" = "$DOC_TEXT" ] && [ ! -e "$root/letter.doc.new" ] || status=1
  return $status
}

# cscript of the given bitness creates the control by its ProgID and calls it; prints what the script said.
installed_call() {
  cp "$HERE/installed_call.js" "$OUT/"
  (cd "$OUT" && wine_bits "$1" cscript //nologo installed_call.js)
}

# The administrator's policy, as Group Policy writes it from the template: the template's key and value.
readonly ADMX=code/host/windows/policy/KadroOA.admx
admx_attribute() { xmllint --xpath "string(//*[local-name()='$1']/@$2)" "$ADMX"; }
readonly LISTED_SITE=http://oa.example.test:8080
readonly UNLISTED_SITE=https://evil.example.test
readonly REFUSED="Refused by the administrator's policy:"

# The templates: well-formed, the policy the machine's, every string, presentation and element the .admx names
# defined in both languages, and nothing more.
policy_templates() {
  local adml status=0
  xmllint --noout "$ADMX" code/host/windows/policy/*/KadroOA.adml && [ "$(admx_attribute policy class)" = Machine ] ||
    return 1
  named() { grep -o "\\\$($1\\.[A-Za-z0-9_]*)" "$ADMX" | sed 's/^.*\.//; s/)$//' | sort -u; }
  ids() { xmllint --xpath "//*[local-name()='$2']/@$3" "$1" | grep -o '"[^"]*"' | tr -d '"' | sort -u; }
  for adml in code/host/windows/policy/{en-US,zh-CN}/KadroOA.adml; do
    diff <(named string) <(ids "$adml" string id) && diff <(named presentation) <(ids "$adml" presentation id) &&
      diff <(ids "$ADMX" multiText id) <(ids "$adml" multiTextBox refId) || { echo "in $adml"; status=1; }
  done
  echo "strings: $(named string | wc -l), presentations: $(named presentation), elements: $(ids "$ADMX" multiText id)"
  return $status
}

# Writes the policy where the template puts it: TYPE and the value's strings (Group Policy writes the template's
# multi-line text as REG_MULTI_SZ, one string per line).
write_policy() {
  local type=$1 joined
  shift
  joined=$(printf '%s\\0' "$@")
  wine_any reg add "HKLM\\$(admx_attribute policy key)" /v "$(admx_attribute multiText valueName)" /t "$type" \
    /d "${joined%\\0}" /f /reg:64 >/dev/null
}
set_listed_policy() {
  write_policy REG_MULTI_SZ '{"sites": {' \
    "  \"$LISTED_SITE\": {\"ftpServers\": [\"127.0.0.1:$VSFTPD_PORT\"]," \
    '    "localFolders": ["C:\\", "~\\OA"],' \
    '    "registryKeys": ["HKEY_LOCAL_MACHINE\\SOFTWARE\\Example\\Editor"],' \
    '    "programs": ["~\\OA\\editor.exe"]}}}'
}
set_invalid_policy() { write_policy REG_SZ '{"sites": {'; }
delete_policy() { wine_any reg delete "HKLM\\$(admx_attribute policy key)" /f /reg:64 >/dev/null 2>&1 || true; }

# kadrooa.exe --browser-policy reads back what Group Policy wrote: the listed site; nothing, exit 1, for an invalid
# value; nothing, exit 0, without one. Leaves the listed policy in place.
host_reads_policy() {
  local bits=$1 said status
  for expected in "0 {\"origins\":[\"$LISTED_SITE\"]}" '1 {"origins":[]}' '0 {"origins":[]}'; do
    status=0
    said=$(wine_bits "$bits" "build/win$bits/bin/kadrooa.exe" --browser-policy | tr -d '\r') || status=$?
    echo "exit $status: $said"
    [ "$status $said" = "$expected" ] || return 1
    if [ "$status" = 0 ] && [ "$said" != '{"origins":[]}' ]; then set_invalid_policy; else delete_policy; fi
  done
  set_listed_policy
}

# Everything the server holds, with sizes, times and contents.
server_files() { (cd "$FTP_ROOT" && find . -type f -printf '%p %s %T@ ' -exec md5sum {} \; | sort); }

# refused_page BITS MODE ADDRESS REFUSAL: a page that the policy refuses (page_refused.js, MODE "origin" or
# "target"); the server's files and the local file named outside the listed folders stay as they were.
refused_page() {
  local bits=$1 mode=$2 address=$3 refusal=$4 root=$FTP_ROOT/docs before after status=0
  printf 'template' >"$root/letter.dot"
  printf '%s' "$DOC_TEXT" >"$root/letter.doc"
  chown -R "$VSFTPD_USER:" "$FTP_ROOT"
  rm -f "$WINEPREFIX/drive_c/refused.txt"
  before=$(server_files)
  local server=127.0.0.1:$VSFTPD_PORT
  [ "$mode" = target ] && server=127.0.0.1:9
  local outside
  outside=$(windows_path "$OUT/outside.doc")
  printf 'var server = "%s", listedServer = "%s", user = "%s", pass = "%s", remoteDoc = "docs/letter.doc", ' \
    "$server" "127.0.0.1:$VSFTPD_PORT" "$VSFTPD_USER" "$VSFTPD_PASS" >"$OUT/refused.js"
  printf 'remoteTemplate = "docs/letter.dot", mode = "%s", refusal = "%s", outside = "%s";\n' \
    "$mode" "$refusal" "${outside//\\/\\\\}" >>"$OUT/refused.js"
  local arguments=("url:$address")
  [ "$mode" = origin ] && arguments+=(refused)
  arguments+=("js:$(windows_path "$OUT/refused.js")" "js:$(windows_path "$OUT/lib/kadroo.js")"
    "js:$(windows_path "$PWD/$HERE/page_refused.js")")
  (cd "build/win$bits/bin" && timeout 120 "$(wine_for "$bits")" page_container.exe "$PROGID" "$(windows_path "$OUT")" \
    "${arguments[@]}") || status=1
  after=$(server_files)
  [ "$before" = "$after" ] || { echo "the server changed:"; diff <(echo "$before") <(echo "$after"); status=1; }
  [ ! -e "$WINEPREFIX/drive_c/refused.txt" ] || { echo "a refused program ran"; status=1; }
  [ ! -e "$OUT/outside.doc" ] || { echo "a file was written outside the listed folders"; status=1; }
  return $status
}

[ "$(wine_bitnesses)" = 64 ] && skip "32-bit half" "$(wine_skip_note)"
check "KadroOA.admx and its en-US and zh-CN .adml: well-formed, every reference defined" policy_templates
delete_policy
for bits in $(wine_bitnesses); do
  check "regsvr32 ($bits-bit)" wine_bits "$bits" regsvr32 "build/win$bits/KadroOA.ocx"
  check "ATL container shows Label12 and scripts the control ($bits-bit)" atl_container "$bits"
  check "page container: safety, site, params, activation, JScript and VBScript edit cycle, drawing ($bits-bit)" \
    page_container "$bits"
  check "no policy: a page at $UNLISTED_SITE works as before, also through new ActiveXObject ($bits-bit)" \
    page_container "$bits" "$UNLISTED_SITE/office/edit.html"
  set_listed_policy
  check "policy: kadrooa.exe --browser-policy reads the site back, none from an invalid or absent value ($bits-bit)" \
    host_reads_policy "$bits"
  check "policy: a page of the listed $LISTED_SITE runs the edit cycle, also through new ActiveXObject ($bits-bit)" \
    page_container "$bits" "$LISTED_SITE/office/edit.aspx?doc=1"
  check "policy: a page of $UNLISTED_SITE is not safe, every method raises 70, the server untouched ($bits-bit)" \
    refused_page "$bits" origin "$UNLISTED_SITE/office/edit.html" "$REFUSED origin $UNLISTED_SITE"
  check "policy: the listed site naming a server, folder, program and key not listed is refused ($bits-bit)" \
    refused_page "$bits" target "$LISTED_SITE/office/edit.aspx" "$REFUSED ftpServer 127.0.0.1:9"
  check "policy: cscript, which asks nothing of the control's safety and has no page, calls it as before ($bits-bit)" \
    installed_call "$bits"
  set_invalid_policy
  check "an invalid policy refuses the listed site's page too ($bits-bit)" \
    refused_page "$bits" origin "$LISTED_SITE/office/edit.aspx" "$REFUSED origin $LISTED_SITE (the policy in"
  delete_policy
  check "regsvr32 /u ($bits-bit)" wine_bits "$bits" regsvr32 /u "build/win$bits/KadroOA.ocx"
done

# The installer. The keys of the registration table come from its header, so that the checks follow the table.
table_id() { sed -n "s/^#define $1 \"\(.*\)\"$/\1/p" code/host/windows/Registration.h; }
registered_keys=("CLSID\\$(table_id KADROOA_CLSID)" "$PROGID" "$PROGID.1" "TypeLib\\$(table_id KADROOA_LIBID)"
  "Interface\\$(table_id KADROOA_IID_KADROOCX)" "Interface\\$(table_id KADROOA_DIID_KADROOCX_EVENTS)")
readonly PROGRAM_FILES_64="$WINEPREFIX/drive_c/Program Files/KadroOA"
readonly PROGRAM_FILES_32="$WINEPREFIX/drive_c/Program Files (x86)/KadroOA"
readonly INSTALLED_64='C:\Program Files\KadroOA\KadroOA.ocx'
readonly INSTALLED_32='C:\Program Files (x86)\KadroOA\KadroOA.ocx'

# Everything of ours among the machine's classes (HKEY_CLASSES_ROOT without the user's own) in both registry
# views, one line per key and per value (each with its key and view), sorted: the order in which values were
# written does not matter. A per-user install would not show here.
registry_of_ours() {
  local bits key
  for bits in 32 64; do
    for key in "${registered_keys[@]}"; do
      /usr/lib/wine/wine64 reg query "HKLM\\Software\\Classes\\$key" /s "/reg:$bits" 2>/dev/null |
        awk -v view="$bits" '/^HKEY_/ { key = $0; print view " " key } /^    / { print view " " key " :: " $0 }'
    done
  done | tr -d '\r' | sort
}

msi_install() {
  registry_of_ours >"$OUT/registry-before.txt"
  [ ! -s "$OUT/registry-before.txt" ] || { echo "registered before the install:"; cat "$OUT/registry-before.txt"; return 1; }
  wine_any msiexec /i "$(windows_path "$PWD/build/KadroOA.msi")" /qn || { echo "msiexec /i failed: $?"; return 1; }
  ls -l "$PROGRAM_FILES_64" "$PROGRAM_FILES_32"
  cmp build/win64/KadroOA.ocx "$PROGRAM_FILES_64/KadroOA.ocx" && cmp build/win32/KadroOA.ocx "$PROGRAM_FILES_32/KadroOA.ocx"
}

registry_equals_regsvr32() {
  registry_of_ours >"$OUT/registry-msi.txt"
  grep -q 'InprocServer32 :: .*KadroOA.ocx' "$OUT/registry-msi.txt" || { echo "nothing registered"; return 1; }
  wine_bits 32 regsvr32 /u "$INSTALLED_32" && wine_bits 64 regsvr32 /u "$INSTALLED_64" || return 1
  registry_of_ours >"$OUT/registry-unregistered.txt"
  [ ! -s "$OUT/registry-unregistered.txt" ] || { echo "left by regsvr32 /u:"; cat "$OUT/registry-unregistered.txt"; return 1; }
  wine_bits 32 regsvr32 "$INSTALLED_32" && wine_bits 64 regsvr32 "$INSTALLED_64" || return 1
  registry_of_ours >"$OUT/registry-regsvr32.txt"
  echo "$(wc -l <"$OUT/registry-msi.txt") lines in both views"
  diff -u "$OUT/registry-regsvr32.txt" "$OUT/registry-msi.txt"
}

# The browsers' bridge. Each browser finds the host through HKLM\SOFTWARE\<browser>\NativeMessagingHosts, in the
# registry view of its own bitness; the policies that install the extension are one subkey per browser.
read -r CHROMIUM_ID GECKO_ID _ <build/bridge/ids
readonly CHROMIUM_ID GECKO_ID
readonly HOST_BROWSERS=('Google\Chrome' 'Microsoft\Edge' 'Chromium' 'Mozilla')
readonly HOST_NAMES=(org.kadrooa.host org.kadrooa.origins)  # the host, and kadrooa.exe as the reader of the sites
readonly POLICY_KEYS=("Google\\Chrome\\ExtensionSettings\\$CHROMIUM_ID" "Microsoft\\Edge\\ExtensionSettings\\$CHROMIUM_ID"
  "Chromium\\ExtensionSettings\\$CHROMIUM_ID" "Mozilla\\Firefox\\ExtensionSettings\\$GECKO_ID")

# reg_value KEY NAME VIEW: the value's data, or nothing (NAME "" is the key's default value).
reg_value() {
  local option=(/v "$2")
  [ -n "$2" ] || option=(/ve)
  /usr/lib/wine/wine64 reg query "$1" "${option[@]}" "/reg:$3" 2>/dev/null | tr -d '\r' |
    sed -n 's/^    [^ ].*    REG_SZ    //p'
}

prefix_path() { local p=${1#C:\\}; printf '%s/drive_c/%s\n' "$WINEPREFIX" "${p//\\//}"; }

# Each browser's keys in both views name manifests that exist, are for our host and reader, allow our extension
# and name kadrooa.exe beside them, the same as EXE.
bridge_registered() {
  local exe=$1 view browser name manifest file expected status=0
  for view in 32 64; do
    for browser in "${HOST_BROWSERS[@]}"; do
      for name in "${HOST_NAMES[@]}"; do
        manifest=$(reg_value "HKLM\\SOFTWARE\\$browser\\NativeMessagingHosts\\$name" "" "$view")
        file=$(prefix_path "$manifest")
        echo "$view-bit view, $browser, $name: $manifest"
        if [ "$browser" = Mozilla ]; then
          expected="{\"allowed_extensions\": [\"$GECKO_ID\"]"
        else
          expected="{\"allowed_origins\": [\"chrome-extension://$CHROMIUM_ID/\"]"
        fi
        expected+=", \"name\": \"$name\", \"path\": \"kadrooa.exe\", \"type\": \"stdio\"}"
        [ -n "$manifest" ] && [ -f "$file" ] &&
          [ "$(python3 -c 'import json,sys; m=json.load(open(sys.argv[1])); m.pop("description"); print(json.dumps(m, sort_keys=True))' "$file")" = "$expected" ] &&
          cmp "$exe" "$(dirname "$file")/kadrooa.exe" || { echo "  not as expected: $expected"; status=1; }
      done
    done
  done
  return $status
}

# Prints every key of the bridge and its policies still in the registry (either view).
bridge_left() {
  local view browser name key
  for view in 32 64; do
    for browser in "${HOST_BROWSERS[@]}"; do
      for name in "${HOST_NAMES[@]}"; do
        key="HKLM\\SOFTWARE\\$browser\\NativeMessagingHosts\\$name"
        /usr/lib/wine/wine64 reg query "$key" "/reg:$view" >/dev/null 2>&1 && echo "$view: $key"
      done
    done
    for key in "${POLICY_KEYS[@]}"; do
      key="HKLM\\SOFTWARE\\Policies\\$key"
      /usr/lib/wine/wine64 reg query "$key" "/reg:$view" >/dev/null 2>&1 && echo "$view: $key"
    done
  done
}

# Without EXTENSIONPOLICY the host is there and no policy is.
bridge_installed() {
  bridge_registered build/win64/bin/kadrooa.exe || return 1
  local version
  version=$(/usr/lib/wine/wine64 "$PROGRAM_FILES_64/kadrooa.exe" --version 2>/dev/null | tr -d '\r')
  echo "installed kadrooa.exe --version: $version"
  [[ $version == "kadrooa 1.0.0 "* ]] || return 1
  local left
  left=$(bridge_left | grep Policies)
  [ -z "$left" ] || { echo "policies without EXTENSIONPOLICY=1:"; echo "$left"; return 1; }
}

# EXTENSIONPOLICY=1 adds the extension and its policies, beside an administrator's own entry for another extension,
# which the uninstall leaves alone.
extension_policy() {
  local own='HKLM\SOFTWARE\Policies\Google\Chrome\ExtensionSettings\aaaabbbbccccddddeeeeffffgggghhhh' view key status=0
  /usr/lib/wine/wine64 reg add "$own" /v installation_mode /d blocked /f >/dev/null || return 1
  wine_any msiexec /i "$(windows_path "$PWD/build/KadroOA.msi")" /qn EXTENSIONPOLICY=1 || { echo "msiexec /i failed"; return 1; }
  local url=file:///C:/Program%20Files/KadroOA/extension/
  for view in 32 64; do
    for key in "${POLICY_KEYS[@]}"; do
      local name=update_url expected=${url}update.xml
      [[ $key == Mozilla* ]] && name=install_url expected=${url}kadrooa.xpi
      local mode data
      mode=$(reg_value "HKLM\\SOFTWARE\\Policies\\$key" installation_mode "$view")
      data=$(reg_value "HKLM\\SOFTWARE\\Policies\\$key" "$name" "$view")
      echo "$view: $key: $mode $name=$data"
      [ "$mode" = force_installed ] && [ "$data" = "$expected" ] || status=1
    done
  done
  # The URLs lead to the installed extension: update.xml names the package that is there.
  local folder="$WINEPREFIX/drive_c/Program Files/KadroOA/extension"
  grep -q "appid='$CHROMIUM_ID'" "$folder/update.xml" && grep -q "codebase='${url}kadrooa.crx'" "$folder/update.xml" &&
    cmp build/bridge/extension/kadrooa.crx "$folder/kadrooa.crx" && cmp build/bridge/extension/kadrooa.xpi "$folder/kadrooa.xpi" ||
    { echo "the extension is not where the policies say"; status=1; }
  wine_any msiexec /x "$(windows_path "$PWD/build/KadroOA.msi")" /qn || { echo "msiexec /x failed"; return 1; }
  local left
  left=$(bridge_left)
  [ -z "$left" ] || { echo "left by the uninstall:"; echo "$left"; status=1; }
  [ "$(reg_value "$own" installation_mode 64)" = blocked ] || { echo "the administrator's own entry is gone"; status=1; }
  /usr/lib/wine/wine64 reg delete "$own" /f >/dev/null
  [ ! -e "$WINEPREFIX/drive_c/Program Files/KadroOA" ] || { echo "files left"; status=1; }
  return $status
}

msi_uninstall() {
  wine_any msiexec /x "$(windows_path "$PWD/build/KadroOA.msi")" /qn || { echo "msiexec /x failed: $?"; return 1; }
  registry_of_ours >"$OUT/registry-after.txt"
  [ ! -s "$OUT/registry-after.txt" ] || { echo "left by the uninstall:"; cat "$OUT/registry-after.txt"; return 1; }
  local left
  left=$(bridge_left)
  [ -z "$left" ] || { echo "bridge keys left by the uninstall:"; echo "$left"; return 1; }
  if [ -e "$PROGRAM_FILES_64" ] || [ -e "$PROGRAM_FILES_32" ]; then
    ls -lR "$PROGRAM_FILES_64" "$PROGRAM_FILES_32"
    return 1
  fi
}

creation_fails() {
  local said status=0
  said=$(installed_call "$1") || status=$?
  echo "exit $status: $said"
  # CO_E_CLASSSTRING, "Invalid class string": the ProgID is gone. Wine's cscript gives the code without the text.
  [ "$status" = 3 ] && grep -qi -e '800401f3' -e 'invalid class string' <<<"$said"
}

# The package for 32-bit Windows, tried on the 64-bit prefix: the x86 build alone, in its own view.
x86_package() {
  wine_any msiexec /i "$(windows_path "$PWD/build/KadroOA-x86.msi")" /qn || { echo "msiexec /i failed: $?"; return 1; }
  cmp build/win32/KadroOA.ocx "$PROGRAM_FILES_32/KadroOA.ocx" && [ ! -e "$PROGRAM_FILES_64" ] || return 1
  # On 64-bit Windows the x86 package's host keys are in the 32-bit view only.
  local manifest
  manifest=$(reg_value 'HKLM\SOFTWARE\Google\Chrome\NativeMessagingHosts\org.kadrooa.host' "" 32)
  echo "32-bit view, Chrome: $manifest"
  [ "$manifest" = 'C:\Program Files (x86)\KadroOA\org.kadrooa.host.json' ] &&
    cmp build/win32/bin/kadrooa.exe "$PROGRAM_FILES_32/kadrooa.exe" || return 1
  if [ "$(wine_bitnesses)" != 64 ]; then installed_call 32 || return 1; fi
  wine_any msiexec /x "$(windows_path "$PWD/build/KadroOA-x86.msi")" /qn || { echo "msiexec /x failed: $?"; return 1; }
  registry_of_ours >"$OUT/registry-after-x86.txt"
  [ ! -s "$OUT/registry-after-x86.txt" ] && [ ! -e "$PROGRAM_FILES_32" ] && [ -z "$(bridge_left)" ]
}

check "msiexec /i /qn installs both builds under Program Files" msi_install
for bits in $(wine_bitnesses); do
  check "cscript creates $PROGID from the installed control and calls it ($bits-bit)" installed_call "$bits"
done
# Both builds' regsvr32 make the registry to compare with: with only the x64 one, the x86 entries that the
# installer wrote keep the shared keys.
if [ "$(wine_bitnesses)" = 64 ]; then
  skip "the registry after the install equals what regsvr32 writes" "$(wine_skip_note)"
else
  check "the registry after the install equals what regsvr32 writes, in both views" registry_equals_regsvr32
fi
check "the host manifests are registered for Chrome, Edge, Chromium and Firefox in both views, name kadrooa.exe" \
  bridge_installed
check "msiexec /x /qn removes every file and key" msi_uninstall
for bits in $(wine_bitnesses); do
  check "after the uninstall creating $PROGID fails with invalid class string ($bits-bit)" creation_fails "$bits"
done
check "EXTENSIONPOLICY=1 adds the extension and the browsers' policies; /x removes them, keeps the administrator's" \
  extension_policy
check "KadroOA-x86.msi installs the x86 build alone$([ "$(wine_bitnesses)" = 64 ] || echo ", cscript calls it"), /x removes it" \
  x86_package

report_totals
