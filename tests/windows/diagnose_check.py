#!/usr/bin/python3
"""kadrooa.exe --diagnose --json under Wine, in a prefix where nothing is installed: its own version from its file
properties, each browser's missing manifest, then the policy absent, refused and loaded with a site's allowances.

usage: diagnose_check.py LOADER KADROOA.EXE"""
import json
import subprocess
import sys

loader, exe = sys.argv[1:3]
KEY = "HKLM\\SOFTWARE\\Policies\\KadroOA"
SITE = "https://oa.example.org"


def diagnose(*origin):
    done = subprocess.run([loader, exe, "--diagnose", "--json", *origin], capture_output=True, timeout=120)
    return done.returncode, json.loads(done.stdout.decode("utf-8"))


def policy(text):
    subprocess.run([loader, "reg", "delete", KEY, "/f", "/reg:64"], capture_output=True)
    if text is not None:
        subprocess.run([loader, "reg", "add", KEY, "/v", "Policy", "/t", "REG_SZ", "/d", text, "/f", "/reg:64"],
                       check=True, capture_output=True)


def expect(what, got, wanted):
    if got != wanted:
        sys.exit(f"{what}: {got!r}, expected {wanted!r}")


policy(None)
status, d = diagnose()
expect("exit status", status, 1)
expect("kadrooa.exe's file version", d["versions"]["kadrooa.exe file"], d["versions"]["kadrooa"])
expect("browsers", [(b["browser"], b["found"]) for b in d["browsers"]],
       [("Google Chrome", False), ("Microsoft Edge", False), ("Chromium", False), ("Firefox", False)])
expect("no policy", d["policy"]["state"], "absent")
policy('{"sites": {')
status, d = diagnose()
expect("refused policy", (d["policy"]["state"], "not a JSON object" in d["policy"].get("reason", "")),
       ("refused", True))
policy(json.dumps({"sites": {SITE: {"ftpServers": ["files.example.org:2121"],
                                    "registryKeys": ["HKLM\\SOFTWARE\\Ex"]}}}))
status, d = diagnose(SITE)
expect("loaded policy", (d["policy"]["state"], d["policy"]["origins"]), ("loaded", [SITE]))
d["site"]["registryKeys"] = [key.upper() for key in d["site"]["registryKeys"]]  # Windows keeps keys in one case
expect("the site", d["site"], {"origin": SITE, "listed": True, "ftpServers": ["files.example.org:2121"],
                               "programs": [], "registryKeys": ["HKEY_LOCAL_MACHINE\\SOFTWARE\\EX"],
                               "localFolders": []})
policy(None)
print("kadrooa.exe --diagnose: versions, browsers, policy absent, refused and loaded, a site's allowances")
