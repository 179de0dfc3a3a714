#!/usr/bin/python3
"""kadrooa.exe on its line protocol under Wine, over FTP with TLS: the page asks for it ("tls=1"), the edit cycle
goes through and the server holds the saved document. Arguments: loader, kadrooa.exe, host:port, user, password,
the server's folder for the remote files. Prints "ok NAME" or "FAIL NAME: detail" per check."""
import json
import os
import subprocess
import sys

loader, exe, server, user, password, root = sys.argv[1:7]
failed = 0


def check(name, ok, detail=""):
    global failed
    print(("ok   " if ok else "FAIL ") + name + ("" if ok or not detail else ": " + str(detail)), flush=True)
    failed += not ok


proc = subprocess.Popen([loader, exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
ids = iter(range(1, 100))


def call(method, *params):
    request = {"jsonrpc": "2.0", "id": next(ids), "method": method, "params": list(params)}
    proc.stdin.write((json.dumps(request, ensure_ascii=False) + "\n").encode())
    proc.stdin.flush()
    return json.loads(proc.stdout.readline())["result"]


bits = "64-bit" if "wine64" in loader else "32-bit"
try:
    call("setparm", f"uid={user};path={server};pass={password};tls=1", ";", 1)
    got = call("getFile", "tls/doc.txt", "tls/tmpl.txt")
    check(f"kadrooa.exe ({bits}): getFile over TLS", got == 1, call("getErrorMsg"))
    local = call("getLocalFile")
    unix = subprocess.run(["winepath", "-u", local], capture_output=True, text=True).stdout.strip()
    with open(unix, "rb") as f:
        check(f"kadrooa.exe ({bits}): the document", f.read() == b"document over TLS\r\n")
    with open(unix, "wb") as f:
        f.write(b"saved by kadrooa.exe\r\n")
    check(f"kadrooa.exe ({bits}): saveFile over TLS", call("saveFile") == 1, call("getErrorMsg"))
    with open(os.path.join(root, "tls", "doc.txt"), "rb") as f:
        check(f"kadrooa.exe ({bits}): the server holds the saved document", f.read() == b"saved by kadrooa.exe\r\n")
finally:
    proc.stdin.close()
    proc.wait(timeout=60)
sys.exit(1 if failed else 0)
