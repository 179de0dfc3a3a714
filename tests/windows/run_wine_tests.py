#!/usr/bin/env python3
"""The control under Wine, for the x86 and the x64 build in turn: regsvr32 registers it and the registry holds
what the registration table says; a COM client checks the server directly; JScript and VBScript drive it through
every method against the private vsftpd that run.sh started, and kadroo.js over it through promises; regsvr32 /u
leaves nothing of ours behind.

Needs the environment of run.sh: WINEPREFIX, VSFTPD_PORT, VSFTPD_USER, VSFTPD_PASS, FTP_ROOT, WORK_DIR,
KADROOA_BUILD (the folder holding win32/ and win64/), REGISTRATION_TABLE (the native dump program), KADROO_LIB (the
folder holding the classic script kadroo.js).
Prints one "ok NAME" or "FAIL NAME: detail" line per check, which run.sh counts."""
import json
import os
import pwd
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "data")
BUILD = os.environ["KADROOA_BUILD"]
FTP_ROOT = os.environ["FTP_ROOT"]
WORK = os.environ["WORK_DIR"]
PORT = os.environ["VSFTPD_PORT"]
USER = os.environ["VSFTPD_USER"]
PASSWORD = os.environ["VSFTPD_PASS"]
LOADERS = {"win32": ["wine"], "win64": ["/usr/lib/wine/wine64"]}
# A kernel built without 32-bit x86 support runs only the x64 build (run.sh says which, and why).
ARCHES = [arch for arch in LOADERS if arch[3:] in os.environ.get("KADROOA_WINE_BITS", "32 64").split()]
REG_ROOT = "HKEY_CURRENT_USER\\Software\\KadroOATest"
RS = "\x1e"

def check(name, ok, detail=""):
    print("ok   %s" % name if ok else "FAIL %s%s" % (name, ": " + detail if detail else ""), flush=True)


def expect(name, actual, expected):
    check(name, actual == expected, "got %r, expected %r" % (actual, expected))


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def wine(arch, *args, timeout=120):
    # Output through a file, not a pipe: Wine's background processes would hold a pipe open after the call ends.
    with tempfile.TemporaryFile() as out:
        result = subprocess.run(LOADERS[arch] + list(args), stdout=out, stderr=subprocess.DEVNULL, timeout=timeout)
        out.seek(0)
        result.stdout = out.read()
    return result


def error_text(code, context=""):
    texts = {row["code"]: row["text"] for row in json.load(open(os.path.join(DATA, "get_err.json"), encoding="utf-8"))}
    text = "%s\r\n错误号：%d" % (texts[code], code)
    return context + "\r\n" + text if context else text


# ---- registration -------------------------------------------------------------------------------------------

def registration_table(arch):
    module = windows_path(os.path.join(BUILD, arch, "KadroOA.ocx"))
    lines = subprocess.run([os.environ["REGISTRATION_TABLE"], module, arch], capture_output=True, text=True,
                           check=True).stdout
    entries = []
    for line in lines.splitlines():
        key, name, value = line.split("\t")
        entries.append((key, None if name == "-" else name, None if value == "-" else value))
    return entries


def top_keys(entries):
    keys = [key for key, _, _ in entries]
    return [k for k in dict.fromkeys(keys) if not any(k.lower().startswith(o.lower() + "\\") for o in keys)]


def query(arch, key):
    """Keys below `key` (HKCR-relative, lower case) with their values {name: value}; None when it is missing."""
    result = wine(arch, "reg", "query", "HKEY_CLASSES_ROOT\\" + key, "/s")
    if result.returncode != 0:
        return None
    # reg lists a key without values only by its subkeys.
    keys, current = {key.lower(): {}}, None
    for line in result.stdout.decode("utf-8", "replace").splitlines():
        if line.startswith("HKEY_CLASSES_ROOT\\"):
            current = line.strip()[len("HKEY_CLASSES_ROOT\\"):].lower()
            keys[current] = {}
        elif line.startswith("    ") and current is not None:
            parts = line.strip().split("    ")
            name = "" if parts[0] == "(Default)" else parts[0]
            keys[current][name] = parts[2] if len(parts) > 2 else ""
    return keys


def check_registered(arch, entries):
    found = {}
    for top in top_keys(entries):
        found.update(query(arch, top) or {})
    expected = {}
    for key, name, value in entries:
        values = expected.setdefault(key.lower(), {})
        if name is not None:
            values[name] = value
    for key, values in expected.items():
        expect("%s registry %s" % (arch, key), found.get(key), values)
    extra = sorted(set(found) - set(expected))
    expect("%s registry holds no other keys" % arch, extra, [])


def check_unregistered(arch, entries, what):
    left = [top for top in top_keys(entries) if query(arch, top) is not None]
    expect("%s nothing left after %s" % (arch, what), left, [])


# ---- the script tests ---------------------------------------------------------------------------------------

def prepare(name, arch):
    """Remote files under FTP_ROOT/name, a local work folder with its programs, registry values; returns the folder."""
    remote = os.path.join(FTP_ROOT, name)
    shutil.rmtree(remote, ignore_errors=True)
    files = {"doc.txt": "document at the root\r\n", "clerks/doc.txt": "version 1\r\n"}
    for mode in ("passive", "active"):
        for stem in ("doc", "tmpl", "own"):
            files["%s/%s.txt" % (mode, stem)] = "%s %s\r\n" % (mode, stem)
    owner = pwd.getpwnam(USER)
    for path, text in files.items():
        full = os.path.join(remote, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", newline="") as f:
            f.write(text)
    for folder, _, names in os.walk(remote):
        os.chown(folder, owner.pw_uid, owner.pw_gid)
        for n in names:
            os.chown(os.path.join(folder, n), owner.pw_uid, owner.pw_gid)

    work = os.path.join(WORK, name)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(work, "programs"))
    with open(os.path.join(work, "keep.txt"), "w", newline="") as f:
        f.write("keep\r\n")
    open(os.path.join(work, "empty.txt"), "w").close()
    program = os.path.join(BUILD, arch, "tests", "record_args.exe")
    for copy in ("record_args.exe", "by-registry.exe", "vbs.exe", "vbs-by-registry.exe", "my.exe", "long.exe",
                 "longest.exe", "my prog/spaced.exe", "my prog/spaced-by-registry.exe", "my prog/from-batch.exe",
                 "my prog/from-batch-by-registry.exe"):
        os.makedirs(os.path.dirname(os.path.join(work, "programs", copy)), exist_ok=True)
        shutil.copy(program, os.path.join(work, "programs", copy))
    # Batch files run by the command interpreter, which parses the command line itself.
    for batch, target in (("open.bat", "from-batch.exe"), ("open-by-registry.bat", "from-batch-by-registry.exe")):
        with open(os.path.join(work, "programs", "my prog", batch), "w", newline="") as f:
            f.write('@"%%~dp0%s" %%*\r\n' % target)

    key = REG_ROOT + "\\" + name
    for value, kind, data in (("S", "REG_SZ", "C:\\test dir"), ("E", "REG_EXPAND_SZ", "%TEMP%\\x"),
                              ("M", "REG_MULTI_SZ", "first\\0second"), ("D", "REG_DWORD", "42"),
                              ("Programs", "REG_SZ", windows_path(os.path.join(work, "programs"))),
                              ("Spaced", "REG_SZ", windows_path(os.path.join(work, "programs", "my prog")))):
        wine(arch, "reg", "add", key, "/v", value, "/t", kind, "/d", data, "/f")
    wine(arch, "reg", "add", key + "\\Numbers", "/v", "N", "/t", "REG_DWORD", "/d", "0x41424344", "/f")
    return work


def server_text(path):
    full = os.path.join(FTP_ROOT, path)
    if not os.path.exists(full):
        return "<missing>"
    with open(full, newline="") as f:
        return f.read()


def run_script(arch, script, args):
    records_path = os.path.join(WORK, "%s-%s.records" % (arch, os.path.basename(script)))
    if os.path.exists(records_path):
        os.remove(records_path)
    start = time.monotonic()
    result = wine(arch, "cscript", "//nologo", windows_path(os.path.join(HERE, script)),
                  windows_path(records_path), *args)
    seconds = time.monotonic() - start
    expect("%s %s exit code" % (arch, script), result.returncode, 0)
    records = {}
    if os.path.exists(records_path):
        with open(records_path, "rb") as f:
            for item in f.read().decode("utf-16").split(RS):
                if item:
                    label, _, value = item.partition("\t")
                    records[label] = value
    if "script" in records:
        check("%s %s ran to the end" % (arch, script), False, records["script"])
    print("     (%s %s: %.1f s)" % (arch, os.path.basename(script), seconds))
    return records


def compare(arch, script, records, expected):
    for label, value in expected.items():
        expect("%s %s: %s" % (arch, script, label), records.get(label, "<no record>"), value)
    unexpected = sorted(set(records) - set(expected) - {"script"})
    expect("%s %s: every record expected" % (arch, script), unexpected, [])


def registry_listing(work):
    # Wine enumerates a key's values in the order of their names.
    programs = windows_path(os.path.join(work, "programs"))
    return "D,*;E,%%TEMP%%\\x;M,first;Programs,%s;S,C:\\test dir;Spaced,%s\\my prog" % (programs, programs)


def jscript_expectations(name, work, local_temp):
    wwork = windows_path(work)
    remote = name
    e = {"isInstalled": "1", "new.getLocalFile": "", "new.getMoBanFile": "", "new.getRemoteFile": "",
         "new.getErrorMsg": "", "new.getTiShiMsg": "", "new.Dispose": "1", "setparm.result": "undefined"}
    for row in json.load(open(os.path.join(DATA, "get_err.json"), encoding="utf-8")):
        e["GetErr.%d" % row["code"]] = error_text(row["code"], "ctx")
    no_user = "参数错误，没有提供登陆帐用户"
    no_server = "参数错误，没有提供服务器地址"
    for label, result, message in (("plain", "1", ""), ("keys in any case", "1", ""),
                                   ("key inside another key", "1", ""), ("first entry wins", "1", ""),
                                   ("empty user", "-1", no_user), ("space before equals", "-1", no_user),
                                   ("space after delimiter", "-1", no_server), ("user missing", "-1", no_user),
                                   ("delimiter &&", "1", ""), ("blank delimiter", "1", ""),
                                   ("password case kept", "-1", error_text(12015))):
        e["parm." + label] = result
        e["parm.%s.msg" % label] = message
    for mode in ("passive", "active"):
        e.update({
            mode + ".getFile": "1", mode + ".local name": "kad*.tmp", mode + ".template name": "oam*.tmp",
            mode + ".in temp folder": "true", mode + ".getRemoteFile": "%s/%s/doc.txt" % (remote, mode),
            mode + ".document": "%s doc\r\n" % mode, mode + ".template": "%s tmpl\r\n" % mode,
            mode + ".saveFile": "1", mode + ".document deleted": "true", mode + ".template deleted": "true",
            mode + ".after.getLocalFile": "", mode + ".after.getMoBanFile": "", mode + ".after.getRemoteFile": "",
            mode + ".after.getErrorMsg": "", mode + ".after.getTiShiMsg": "",
            mode + ".no setparm": "-1", mode + ".no setparm.msg": no_server,
            mode + ".GetFileToFile": "1", mode + ".own": "%s own\r\n" % mode, mode + ".PutFile": "1",
            mode + ".own deleted": "true"})
    # Wine's FtpFindFirstFileA finds nothing with code 18 (ERROR_NO_MORE_FILES); finding a folder leaves the code
    # of the failed download.
    missing = error_text(18, "服务器文件或文件夹不存在或拒绝访问。")
    e.update({
        "missing file": "-1", "missing file.msg": missing, "missing file.msg again": missing,
        "missing file.local kept": "keep\r\n",
        "directory": "-1", "directory.msg": error_text(12003, "Target is a folder， but a file name is needed？"),
        "directory.local kept": "keep\r\n",
        "empty file": "-1", "empty file.msg": "本地文件长度为0，" + wwork + "\\empty.txt",
        "closed port": "-1", "closed port.msg": error_text(12029), "setparm empties the message": "",
        "GetAllRegValue": registry_listing(work), "GetAllRegValue lower case root": registry_listing(work),
        "bad root": "-1", "bad root.msg": "注册表key值头不合法：HKCU",
        "missing key": "-1",
        "missing key.msg": "打开注册表出错：head=HKEY_CURRENT_USER；sub=Software\\KadroOATest\\%s\\Missing" % name,
        "empty key": "ERROR 9 Subscript out of range",
        "number without a zero byte": "ERROR 5 Invalid procedure call or argument",
        "OpenExefile": "1",
        "OpenExefileByReg": "1",
        # ReadRegValue reads each kind of value as text: as stored, up to the first NUL, the number's bytes.
        "OpenExefileByReg expandable": "-1", "OpenExefileByReg expandable.msg": "文件不存在：%TEMP%\\x\\x.exe",
        "OpenExefileByReg multi-string": "-1", "OpenExefileByReg multi-string.msg": "文件不存在：first\\x.exe",
        "OpenExefileByReg number": "-1", "OpenExefileByReg number.msg": "文件不存在：*\\x.exe",
        "OpenExefileByReg number without a zero byte": "ERROR 5 Invalid procedure call or argument",
        "OpenExefile missing": "-1", "OpenExefile missing.msg": "文件不存在：" + wwork + "\\programs\\none.exe",
        "OpenExefileByReg missing value": "-1",
        "OpenExefileByReg missing value.msg": "RegQueryValueEx出错：valuename=NoSuchValue",
        "not a program": "ERROR 70 Permission denied",
        "long separator": "1", "long separator.msg": "", "short separator": "1",
        "spaced OpenExefile": "1", "spaced OpenExefile batch": "1", "spaced OpenExefileByReg": "1",
        "spaced OpenExefileByReg batch": "1", "longest command line": "1",
        "command line too long": "ERROR 5 Invalid procedure call or argument",
        "40,000-character argument": "ERROR 5 Invalid procedure call or argument",
        "setLocalFile": "1", "getLocalFile": wwork + "\\dispose me.txt", "Dispose": "1", "Dispose.deleted": "true",
        "Dispose.path kept": wwork + "\\dispose me.txt",
        "clerks.first getFile": "1", "clerks.second getFile": "1", "clerks.first saveFile": "1",
        "clerks.first getTiShiMsg": "", "clerks.second saveFile": "1",
        "clerks.second getTiShiMsg": "提示信息：您打开文件以后，服务器上的这个文件已被别人保存过。为了不丢失别人的修改，"
                                     "系统已把别人保存的版本另存为：%s/clerks/doc.TIME.txt，您的文件照常上传，"
                                     "请您核对两个版本的内容！" % name,
        "clerks.five saves": "1[]" * 5})
    return e


def vbscript_expectations(name, work):
    wwork = windows_path(work)
    # What setLocalFile received ("=CStr": the variable's CStr) and the variable's type after all eight calls,
    # none of which may change it. Booleans go to text as the automation conversion writes them.
    received = {"Empty": ("=CStr", "Empty"), "Null": ("ERROR 13", "Null"), "Integer 0": ("=CStr", "Integer"),
                "Integer -7": ("=CStr", "Integer"), "Long": ("=CStr", "Long"), "Single": ("=CStr", "Single"),
                "Double": ("=CStr", "Double"), "Currency": ("=CStr", "Currency"), "Date": ("=CStr", "Date"),
                "String": ("=CStr", "String"), "empty String": ("=CStr", "String"), "True": ("-1", "Boolean"),
                "False": ("0", "Boolean"), "Byte": ("=CStr", "Byte"), "Nothing": ("ERROR 13", "Nothing"),
                "Object": ("ERROR 13", "Object"), "Array": ("ERROR 13", "Variant()")}
    byref = {"byref." + kind: "%s|%s|changed:" % value for kind, value in received.items()}
    return {
        "isInstalled": "1", "new.getTiShiMsg": "", "GetErr.12014": error_text(12014),
        "GetErr.5": "abc\r\n无其他详细错误信息。\r\n错误号：5", "setparm.empty": "True",
        "getFile": "1", "variables unchanged": "%s/passive/doc.txt|%s/passive/tmpl.txt" % (name, name),
        "document": "passive doc\r\n", "template": "passive tmpl\r\n", "getRemoteFile": name + "/passive/doc.txt",
        "saveFile": "1", "document deleted": "True", "template deleted": "True", "after.getErrorMsg": "",
        "GetFileToFile": "1", "own": "active own\r\n", "PutFile": "1", "own deleted": "True",
        "PutFile variables": "String|Integer|1",
        "literals": "1", "literal download": "document at the root\r\n", "missing file": "-1",
        "missing file.msg": error_text(18, "服务器文件或文件夹不存在或拒绝访问。"),
        "empty file": "-1", "empty file.msg": "本地文件长度为0，" + wwork + "\\empty.txt",
        "GetAllRegValue": registry_listing(work), "bad root": "-1", "bad root.msg": "注册表key值头不合法：HKEY_NOWHERE",
        "OpenExefile": "1", "OpenExefileByReg": "1",
        "empty key": "ERROR 9 Subscript out of range", "after the error": "1", "Null variable": "ERROR 13 Type mismatch",
        "Null variable.getLocalFile": wwork + "\\empty.txt",
        "setLocalFile": "1", "getLocalFile": wwork + "\\vbs dispose.txt", "Dispose": "1", "Dispose.deleted": "True",
        "getMoBanFile": "", **byref}


def check_kadroo_js(arch):
    """kadroo.js and a page's script in one JScript scope, over the registered control: the edit cycle through
    promises, the control's own failures as results, a run-time error as a rejection."""
    name = "kadroo" + arch[3:]
    work = prepare(name, arch)
    script = os.path.join(WORK, "kadroo_test-%s.js" % arch)
    with open(os.path.join(os.environ["KADROO_LIB"], "kadroo.js"), encoding="ascii") as library, \
            open(os.path.join(HERE, "kadroo_test.js"), encoding="ascii") as test, open(script, "w") as f:
        f.write(library.read() + "\n" + test.read())
    records = run_script(arch, script, [PORT, USER, PASSWORD, name + "/passive", windows_path(work)])
    compare(arch, "kadroo.js", records, {
        "status": "activex|KadroOA.KadroOcx||1.0.0", "runsOn": "activex", "setparm": "null", "getFile": "1",
        "document": "passive doc\r\n", "template": "passive tmpl\r\n", "saveFile": "1",
        "local files deleted": "true", "getErrorMsg": "", "missing file": "-1",
        "missing file.msg": error_text(18, "服务器文件或文件夹不存在或拒绝访问。"),
        "GetErr without context": error_text(12014),
        "run-time error": "RUNTIME_ERROR|9|true|true|The control raised a run-time error: Subscript out of range",
        "queued setLocalFile": "1", "queued getLocalFile": windows_path(work) + "\\queued.txt",
        "after close": "HOST_EXITED", "settled": "true"})
    base = name + "/passive/"
    expect("%s kadroo.js server doc.txt" % arch, server_text(base + "doc.txt"), "edited through kadroo.js\r\n")
    expect("%s kadroo.js server doc.txt.old" % arch, server_text(base + "doc.txt.old"), "passive doc\r\n")
    expect("%s kadroo.js server: no .new" % arch, server_text(base + "doc.txt.new"), "<missing>")


def wait_for(path, seconds=10):
    deadline = time.monotonic() + seconds
    while not os.path.exists(path) and time.monotonic() < deadline:
        time.sleep(0.1)
    time.sleep(0.2)
    if not os.path.exists(path):
        return "<missing>"
    with open(path, "rb") as f:
        return f.read().decode("utf-16-le")


def arguments(path):
    """The arguments that record_args at `path` was given, as its C runtime split them."""
    if wait_for(path + ".args") == "<missing>":
        return "<missing>"
    with open(path + ".argv", "rb") as f:
        return f.read().decode("utf-16-le").split("\x1f")[:-1]


def check_launches_after_jscript(arch, work):
    programs = os.path.join(work, "programs")
    spaced = os.path.join(programs, "my prog")
    expect("%s js spaced program's command line" % arch, wait_for(os.path.join(spaced, "spaced.exe.args")),
           '"%s\\spaced.exe" -x "y z" a\\b' % windows_path(spaced))
    for program in ("spaced.exe", "from-batch.exe", "spaced-by-registry.exe", "from-batch-by-registry.exe"):
        expect("%s js %s's arguments" % (arch, program), arguments(os.path.join(spaced, program)),
               ["-x", "y z", "a\\b"])
    expect("%s js longest command line arrives whole" % arch, len(wait_for(os.path.join(programs, "longest.exe.args"))),
           32766)
    for planted in ("my.exe", "long.exe"):
        expect("%s js %s never started" % (arch, planted), os.path.exists(os.path.join(programs, planted + ".args")),
               False)


def check_server_after_jscript(arch, name, work):
    wwork = windows_path(work)
    expect("%s js OpenExefile command line" % arch, wait_for(os.path.join(work, "programs", "record_args.exe.args")),
           wwork + "\\programs\\record_args.exe first second")
    expect("%s js OpenExefileByReg command line" % arch,
           wait_for(os.path.join(work, "programs", "by-registry.exe.args")),
           wwork + "\\programs\\by-registry.exe -x \"y z\"")
    for mode in ("passive", "active"):
        base = "%s/%s/" % (name, mode)
        expect("%s js server %sdoc.txt" % (arch, base), server_text(base + "doc.txt"), "edited in %s mode\r\n" % mode)
        expect("%s js server %sdoc.txt.old" % (arch, base), server_text(base + "doc.txt.old"), "%s doc\r\n" % mode)
        expect("%s js server %sown.txt" % (arch, base), server_text(base + "own.txt"), "put back in %s mode\r\n" % mode)
        expect("%s js server %sown.txt.old" % (arch, base), server_text(base + "own.txt.old"), "%s own\r\n" % mode)
        leftovers = [n for n in os.listdir(os.path.join(FTP_ROOT, base)) if n.endswith(".new")]
        expect("%s js server %s no .new left" % (arch, base), leftovers, [])
    expect("%s js server: the empty file was not sent" % arch, server_text(name + "/empty.txt"), "<missing>")
    clerks = os.path.join(FTP_ROOT, name, "clerks")
    kept = [n for n in os.listdir(clerks) if n not in ("doc.txt", "doc.txt.old")]
    expect("%s js clerks: one version kept beside the document" % arch, len(kept), 1)
    expect("%s js clerks: the first clerk's version kept" % arch,
           server_text("%s/clerks/%s" % (name, kept[0])) if kept else "", "version 2, the first clerk's\r\n")
    expect("%s js clerks: the last save in place" % arch, server_text(name + "/clerks/doc.txt"), "version 8\r\n")


def check_server_after_vbscript(arch, name, work):
    expect("%s vbs server passive/doc.txt" % arch, server_text(name + "/passive/doc.txt"), "edited by VBScript\r\n")
    expect("%s vbs server passive/doc.txt.old" % arch, server_text(name + "/passive/doc.txt.old"), "passive doc\r\n")
    expect("%s vbs server active/own.txt" % arch, server_text(name + "/active/own.txt"), "put back by VBScript\r\n")
    expect("%s vbs server active/own.txt.old" % arch, server_text(name + "/active/own.txt.old"), "active own\r\n")
    wwork = windows_path(work)
    expect("%s vbs OpenExefile command line" % arch, wait_for(os.path.join(work, "programs", "vbs.exe.args")),
           wwork + "\\programs\\vbs.exe from VBScript")
    expect("%s vbs OpenExefileByReg command line" % arch,
           wait_for(os.path.join(work, "programs", "vbs-by-registry.exe.args")),
           wwork + "\\programs\\vbs-by-registry.exe by registry")


def check_both_builds():
    """Both builds registered share the type library's keys: unregistering one leaves the other's."""
    ocx = {arch: windows_path(os.path.join(BUILD, arch, "KadroOA.ocx")) for arch in LOADERS}
    for arch in ("win32", "win64"):
        wine(arch, "regsvr32", "/s", ocx[arch])
    expect("regsvr32 /u of the x86 build beside the x64 one",
           wine("win32", "regsvr32", "/s", "/u", ocx["win32"]).returncode, 0)
    entries = registration_table("win64")
    libid = next(key for key, _, _ in entries if key.startswith("TypeLib\\"))
    typelib = query("win64", libid) or {}
    version = (libid + "\\1.0").lower()
    expect("the x64 build keeps its type library entries",
           (typelib.get(version), (version + "\\0\\win64") in typelib, (version + "\\0\\win32") in typelib,
            typelib.get(version + "\\flags")),
           ({"": "KadroOA"}, True, False, {"": "0"}))
    check_registered("win64", entries)
    expect("regsvr32 /u of the x64 build", wine("win64", "regsvr32", "/s", "/u", ocx["win64"]).returncode, 0)
    for arch in ("win32", "win64"):
        check_unregistered(arch, registration_table(arch), "both builds' /u")


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return str(s.getsockname()[1])


def main():
    start = time.monotonic()
    reason = os.environ.get("KADROOA_WINE_SKIP", "")
    if len(ARCHES) < len(LOADERS):
        print("skip win32 build: %s" % reason)
        print("skip both builds registered side by side: %s" % reason)
    for arch in ARCHES:
        ocx = os.path.join(BUILD, arch, "KadroOA.ocx")
        entries = registration_table(arch)
        result = wine(arch, "regsvr32", "/s", windows_path(ocx))
        expect("%s regsvr32" % arch, result.returncode, 0)
        check_registered(arch, entries)

        client = wine(arch, windows_path(os.path.join(BUILD, arch, "tests", "com_client.exe")), windows_path(ocx))
        for line in client.stdout.decode("utf-8", "replace").splitlines():
            if line.startswith("ok ") or line.startswith("FAIL "):
                check("%s com_client %s" % (arch, line.split(" ", 1)[1]), line.startswith("ok "))
        expect("%s com_client exit code" % arch, client.returncode, 0)

        name = "js" + arch[3:]
        work = prepare(name, arch)
        records = run_script(arch, "control_test.js", [PORT, USER, PASSWORD, closed_port(), windows_path(work),
                                                       name, REG_ROOT + "\\" + name])
        compare(arch, "control_test.js", records, jscript_expectations(name, work, None))
        check_server_after_jscript(arch, name, work)
        check_launches_after_jscript(arch, work)

        name = "vbs" + arch[3:]
        work = prepare(name, arch)
        records = run_script(arch, "control_test.vbs", [PORT, USER, PASSWORD, windows_path(work), name,
                                                        REG_ROOT + "\\" + name])
        compare(arch, "control_test.vbs", records, vbscript_expectations(name, work))
        check_server_after_vbscript(arch, name, work)

        check_kadroo_js(arch)

        result = wine(arch, "regsvr32", "/s", "/u", windows_path(ocx))
        expect("%s regsvr32 /u" % arch, result.returncode, 0)
        check_unregistered(arch, entries, "/u")
        # Unregistering tolerates what is already gone, in part or whole.
        wine(arch, "regsvr32", "/s", windows_path(ocx))
        wine(arch, "reg", "delete", "HKEY_CLASSES_ROOT\\" + entries[0][0] + "\\MiscStatus", "/f")
        expect("%s regsvr32 /u with a key gone" % arch, wine(arch, "regsvr32", "/s", "/u", windows_path(ocx)).returncode, 0)
        check_unregistered(arch, entries, "/u with a key gone")
        expect("%s regsvr32 /u again" % arch, wine(arch, "regsvr32", "/s", "/u", windows_path(ocx)).returncode, 0)
    if len(ARCHES) == len(LOADERS):
        check_both_builds()
    print("Wine tests took %.0f s" % (time.monotonic() - start))
    return 0


if __name__ == "__main__":
    sys.exit(main())
