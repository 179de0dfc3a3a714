#!/usr/bin/python3
"""kadrooa as a browser starts it: native messaging frames, the handshake, the administrator's policy, prompts,
progress, and the whole edit cycle against a private vsftpd.

The host command is the arguments: build/bin/kadrooa on Linux, or a Wine loader and kadrooa.exe (in the prefix
$WINEPREFIX), where the policy and the registry are Wine's and the programs are Windows programs."""
import contextlib
import getpass
import json
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
HOST = sys.argv[1:] or ["build/bin/kadrooa"]
WINDOWS = HOST[-1].endswith(".exe")
# AddressSanitizer's shadow memory and quarantine make a host's peak memory say nothing of its own.
SANITIZED = not WINDOWS and b"__asan_init" in open(HOST[-1], "rb").read()
del sys.argv[1:]
import kadrooa_cycle_test as cycle  # noqa: E402  (its Server: vsftpd through the scripts' own helper)

ORIGIN = "http://127.0.0.1:8080"
MIB = 1024 * 1024


class Listener:
    """A server that counts the connections it gets and turns each away: proof that nothing connected."""

    def __init__(self):
        self.sock, self.count = socket.create_server(("127.0.0.1", 0)), 0
        self.port = self.sock.getsockname()[1]
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        with contextlib.suppress(OSError):
            while conn := self.sock.accept()[0]:
                self.count += 1
                conn.sendall(b"421 go away\r\n")
                conn.close()


class Native:
    """One kadrooa started as a browser starts a native messaging host (Chromium's argv unless told)."""

    def __init__(self, env, argv=("chrome-extension://kadrooatestextensionid/",), host=HOST):
        self.proc = subprocess.Popen([*host, *argv], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, start_new_session=True)
        self.id, self.prompts, self.progress, self.buf = 0, [], [], b""

    def send_raw(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def send(self, message):
        body = json.dumps(message, ensure_ascii=False).encode()
        self.send_raw(struct.pack("=I", len(body)) + body)

    def frame(self):
        """The next message; None at the end of output. Anything but whole frames fails the test."""
        while len(self.buf) < 4 or len(self.buf) < 4 + struct.unpack("=I", self.buf[:4])[0]:
            if not select.select([self.proc.stdout], [], [], 30)[0]:
                raise TimeoutError("no frame from the host")
            chunk = os.read(self.proc.stdout.fileno(), MIB)
            assert chunk or not self.buf, "a cut frame"
            if not chunk:
                return None
            self.buf += chunk
        self.last_length = struct.unpack("=I", self.buf[:4])[0]
        assert self.last_length <= MIB, self.last_length
        body, self.buf = self.buf[4:4 + self.last_length], self.buf[4 + self.last_length:]
        return json.loads(body)

    def request(self, method, *params):
        self.id += 1
        self.send({"jsonrpc": "2.0", "id": self.id, "method": method, "params": list(params)})
        while (message := self.frame()) and message.get("id") != self.id:
            if message["method"] == "kadrooa.progress":
                self.progress.append(message["params"])
            else:
                self.prompts.append(message["params"])
                # Calls meanwhile are turned away until the prompt is answered.
                self.send({"jsonrpc": "2.0", "id": "meanwhile", "method": "getErrorMsg", "params": []})
                assert self.frame()["error"]["code"] == -32012
                self.send({"jsonrpc": "2.0", "method": "kadrooa.answer", "params": {"prompt": self.prompts[-1]["prompt"]}})
        return message

    def call(self, method, *params):
        return self.request(method, *params)["result"]

    def refused(self, method, *params):
        error = self.request(method, *params)["error"]
        assert error["code"] == -32010, error
        return error["data"]

    def hello(self, origin=ORIGIN):
        self.send({"jsonrpc": "2.0", "id": 0, "method": "kadrooa.hello",
                   "params": {"origin": origin, "extension": "1.0.0", "protocol": 1}})
        return self.frame()

    def close(self):
        if self.proc.poll() is None and not self.proc.stdin.closed:
            self.proc.stdin.close()
        self.proc.wait(timeout=10)
        for f in (self.proc.stdin, self.proc.stdout):
            f.close()
        with self.proc.stderr:
            return self.proc.stderr.read().decode()


def write(path, text, mode=0o644):
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)


def reg_file(keys):
    """A registry file as the registry editor exports it: {key: {name: text}}."""
    quote = lambda text: '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
    return "Windows Registry Editor Version 5.00\r\n" + "".join(
        f"\r\n[{key}]\r\n" + "".join(f"{quote(name)}={quote(value)}\r\n" for name, value in values.items())
        for key, values in keys.items())


class Linux:
    """kadrooa on Linux: the policy in a file only root may change, the registry in .reg files, shell scripts as
    programs, paths as they are."""
    program = "{}"

    def __init__(self, dir):
        self.dir, self.home = dir, os.path.join(dir, "home")
        self.tmp = os.path.join(dir, "tmp")
        for d in ("home", "tmp", "registry", "policy"):
            os.makedirs(os.path.join(dir, d))
        self.policy = self.place = os.path.join(dir, "policy", "policy.json")
        self.env = dict(os.environ, HOME=self.home, TMPDIR=self.tmp, KADROOA_POLICY_FILE=self.policy,
                        KADROOA_REGISTRY=os.path.join(dir, "registry"))
        self.marker = os.path.join(dir, "started")

    page = staticmethod(lambda path: path)  # how a page names a local path
    local = staticmethod(lambda path: path)  # where a path the host gives lies here

    def make_programs(self, bin):
        for name in ("editor", "other"):  # the editor outlives the host; the other one must never start
            write(os.path.join(bin, name), f"#!/bin/sh\nsleep 1\necho {name} >> {self.marker}\n", 0o755)

    def started(self):
        with contextlib.suppress(FileNotFoundError), open(self.marker) as f:
            return f.read().split()
        return []

    def set_registry(self, keys, name="a.reg"):
        write(os.path.join(self.dir, "registry", name), reg_file(keys))

    def set_policy(self, policy):
        write(self.policy, json.dumps(policy))

    def spoil_policy(self):
        """A policy file in a folder others may write: refused as a whole."""
        os.chmod(os.path.dirname(self.policy), 0o775)
        return "must be owned by root and writable by no one else"

    def restore_policy(self):
        os.chmod(os.path.dirname(self.policy), 0o755)

    def cleanup(self):
        pass


class Wine:
    """kadrooa.exe in $WINEPREFIX: the policy and the registry in Wine's registry (written as an administrator's
    tools would, through regedit), record_args.exe as the programs (it records its command line beside itself),
    the page's paths in the Windows form."""
    program = "{}.exe"

    def __init__(self, dir):
        self.dir, self.prefix, self.place = dir, os.environ["WINEPREFIX"], POLICY_KEY
        self.env = dict(os.environ, WINEDEBUG="-all")
        self.loader = HOST[:-1]
        self.loader64 = [WINE64] if os.path.exists(WINE64) else self.loader
        self.home = os.path.join(self.prefix, "drive_c", "users", getpass.getuser())
        assert os.path.isdir(self.home), self.home
        self.record_args = os.environ.get("KADROOA_RECORD_ARGS") or os.path.join(
            os.path.dirname(HOST[-1]), "..", "tests", "record_args.exe")
        self.keys = set()

    @staticmethod
    def page(path):
        return "Z:" + path.replace("/", "\\")

    def local(self, path):
        if path[:3].upper() == "Z:\\":
            return path[2:].replace("\\", "/")
        assert path[:3].upper() == "C:\\", path
        return os.path.join(self.prefix, "drive_c", path[3:].replace("\\", "/"))

    def make_programs(self, bin):
        for name in ("editor", "other"):
            shutil.copy(self.record_args, os.path.join(bin, name + ".exe"))
        self.bin = bin

    def started(self):
        return [name for name in ("editor", "other") if os.path.exists(os.path.join(self.bin, name + ".exe.args"))]

    def regedit(self, text, loader=None):
        with tempfile.NamedTemporaryFile(suffix=".reg") as f:
            f.write(b"\xff\xfe" + text.encode("utf-16-le"))
            f.flush()
            subprocess.run([*(loader or self.loader), "regedit", "/s", self.page(f.name)], env=self.env, check=True,
                           timeout=120)

    def set_registry(self, keys, name=None):
        """Keys in the registry view of the host's bitness, where the control reads them."""
        self.keys.update(keys)
        self.regedit(reg_file(keys))

    def set_policy(self, policy):
        """The policy in the 64-bit view, which the host reads whatever its bitness."""
        self.policy_set = True
        text = policy if isinstance(policy, str) else json.dumps(policy)
        self.regedit(reg_file({POLICY_KEY: {"Policy": text}}), self.loader64)

    def spoil_policy(self):
        """A policy value that is no JSON document: refused as a whole."""
        self.set_policy("{not json")
        return "not a JSON object"

    def restore_policy(self):
        pass  # every test writes the policy it needs

    def cleanup(self):
        self.regedit("Windows Registry Editor Version 5.00\r\n" + "".join(f"\r\n[-{key}]\r\n" for key in self.keys))
        if getattr(self, "policy_set", False):
            self.regedit(f"Windows Registry Editor Version 5.00\r\n\r\n[-{POLICY_KEY}]\r\n", self.loader64)


WINE64 = "/usr/lib/wine/wine64"
POLICY_KEY = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\KadroOA"
EDITOR_KEY = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Example\\Editor"


class NativeHost(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server, cls.listener = cycle.Server(), Listener()
        cls.silent = socket.create_server(("127.0.0.1", 0))  # takes connections and never greets
        cls.dir = tempfile.mkdtemp(prefix="kadroo-native-")
        os.chmod(cls.dir, 0o755)
        cls.system = (Wine if WINDOWS else Linux)(cls.dir)
        cls.addClassCleanup(cls.system.cleanup)
        cls.env, cls.page = cls.system.env, staticmethod(cls.system.page)
        cls.oa = os.path.join(cls.system.home, "OA")
        shutil.rmtree(cls.oa, ignore_errors=True)
        os.makedirs(cls.oa)
        cls.addClassCleanup(shutil.rmtree, cls.oa, True)
        if not WINDOWS:
            os.symlink("/etc", os.path.join(cls.oa, "etc"))
        bin = os.path.join(cls.dir, "bin")
        os.makedirs(bin)
        cls.system.make_programs(bin)
        cls.bin = cls.page(bin)
        cls.system.set_registry({EDITOR_KEY: {"Dir": cls.bin},
                                 "HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleX": {"Dir": cls.page("/bin")}})
        sep = "\\" if WINDOWS else "/"
        cls.policy = {"sites": {ORIGIN: {
            "ftpServers": [f"127.0.0.1:{p}" for p in (cls.server.port, cls.listener.port, cls.silent.getsockname()[1])],
            "programs": [sep.join((cls.bin, "..", "bin", cls.program("editor")))],
            "registryKeys": ["HKLM\\SOFTWARE\\Example\\Editor"],
            "localFolders": ["~" + sep + "OA"]}}}
        cls.system.set_policy(cls.policy)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.listener.sock.close()
        cls.silent.close()
        shutil.rmtree(cls.dir, ignore_errors=True)

    @staticmethod
    def program(name):
        return (Wine if WINDOWS else Linux).program.format(name)

    def start(self, origin=ORIGIN, *argv):
        host = Native(self.env, *argv)
        self.addCleanup(lambda: host.proc.stderr.closed or (host.proc.kill(), host.close()))
        if origin:
            self.assertEqual(host.hello(origin)["result"], {"host": "1.0.0", "protocol": 1, "protocolMinor": 0})
        return host

    def test_edit_cycle_and_refusals(self):
        s, host, oa = self.server, self.start(None), self.page(self.oa)
        self.assertEqual(host.request("isInstalled")["error"]["code"], -32011)
        # The extension asks which sites are listed before it serves a page; a page cannot ask.
        self.assertEqual(host.call("kadrooa.origins"), {"origins": [ORIGIN]})
        self.assertEqual(host.hello()["result"]["host"], "1.0.0")
        self.assertEqual(host.request("kadrooa.fields")["error"]["code"], -32601)
        self.assertEqual(host.request("kadrooa.origins")["error"]["code"], -32601)
        s.write("docs/P.doc", b"draft" * 600000)
        s.write("tpl/t.dot", b"template")
        # The port as a number: 0-padded, it is still the listed server.
        host.call("setparm", f"uid={s.user};path=127.0.0.1:0{s.port};pass={s.password}", ";", 1)
        self.assertEqual(host.call("getFile", "docs/P.doc", "tpl/t.dot"), 1)
        self.assertIn({"call": host.id, "done": 3000000, "total": 3000000}, host.progress)
        local, template = (self.system.local(host.call(m)) for m in ("getLocalFile", "getMoBanFile"))
        with open(template, "rb") as f:
            self.assertEqual(f.read(), b"template")
        with open(local, "wb") as f:
            f.write(b"final")
        os.utime(local, (time.time() + 5, time.time() + 5))
        self.assertEqual(host.call("saveFile"), 1)
        self.assertEqual((s.read("docs/P.doc"), s.read("docs/P.doc.old")[:5]), (b"final", b"draft"))
        self.assertFalse(os.path.exists(os.path.join(s.root, "docs/P.doc.new")) or os.path.exists(local))
        self.assertEqual(host.prompts, [])

        # An unchanged document: the warning goes to the page, and the upload waits for its answer.
        host.call("setparm", f"uid={s.user};path=127.0.0.1:{s.port};pass={s.password}", ";", 1)
        self.assertEqual(host.call("getFile", "docs/P.doc", ""), 1)
        self.assertEqual(host.call("saveFile"), 1)
        self.assertEqual([(p["prompt"], p["title"], p["call"]) for p in host.prompts], [(1, "KadroOA", host.id)])
        self.assertTrue(host.prompts[0]["text"].startswith("提示信息：要上传的文件和原来的文件最后修改时间一样"))
        self.assertEqual(s.read("docs/P.doc.old"), b"final", "the answer let the upload go on")

        # Refused targets change nothing: no connection, no file, no program, no field.
        host.call("setparm", f"uid={s.user};path=127.0.0.1:{self.listener.port};pass=x", ";", 1)
        stolen = self.page(os.path.join(self.dir, "stolen"))
        self.assertEqual(host.refused("GetFileToFile", "docs/P.doc", stolen),
                         {"refused": "localFolder", "target": stolen})
        outside = [oa + "/../x", oa + "\\..\\x", oa, "~/OA/x", "~\\OA\\x"]
        if not WINDOWS:
            outside += [self.oa + "/etc/passwd", self.oa + "\\etc\\x"]
        for path in outside:
            self.assertEqual(host.refused("GetFileToFile", "docs/P.doc", path)["refused"], "localFolder", path)
        self.assertEqual(host.refused("PutFile", self.page("/etc/passwd"), "docs/P.doc", 0)["refused"], "localFolder")
        self.assertEqual(host.refused("setLocalFile", oa + "/../home.doc")["refused"], "localFolder")
        # A file in the listed folder with another name elsewhere (a hard link) is not read through the folder.
        write(os.path.join(self.dir, "secret"), "secret")
        os.link(os.path.join(self.dir, "secret"), os.path.join(self.oa, "linked"))
        self.addCleanup(os.remove, os.path.join(self.oa, "linked"))
        for call in (("PutFile", oa + "/linked", "docs/L.doc", 0), ("setLocalFile", oa + "/linked")):
            self.assertEqual(host.refused(*call), {"refused": "localFolder", "target": call[1]})
        self.assertEqual(self.listener.count, 0)
        self.assertEqual(host.call("GetFileToFile", "docs/P.doc", oa + "/../OA/P.doc"), -1)
        self.assertEqual(self.listener.count, 1, "a listed folder and server: the call goes out")
        self.assertFalse(os.path.exists(os.path.join(self.dir, "stolen")))
        self.assertEqual(host.refused("setparm", f"uid=u;path=LOCALHOST:{s.port};pass=x", ";", 1),
                         {"refused": "ftpServer", "target": f"localhost:{s.port}"})
        self.assertEqual(host.refused("setparm", "uid=u;path=[::1]:21;pass=x", ";", 1)["target"], "[0:0:0:0:0:0:0:1]:21")
        self.assertEqual(host.call("GetFileToFile", "docs/P.doc", oa + "/P.doc"), -1)
        self.assertEqual(self.listener.count, 2, "the refused setparm left the listed server in place")

        message = host.call("getErrorMsg")
        key = "hkey_local_machine\\software\\example\\EDITOR"
        self.assertEqual(host.call("GetAllRegValue", key), f"Dir,{self.bin}")
        for refused in ("HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleX", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Example",
                        "HKLM\\SOFTWARE\\Example\\Editor"):
            self.assertEqual(host.refused("GetAllRegValue", refused), {"refused": "registryKey", "target": refused})
        self.assertEqual(host.refused("OpenExefileByReg", "HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleX", "Dir", "", "sh"),
                         {"refused": "registryKey", "target": "HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleX"})
        other = self.program("other")
        self.assertEqual(host.refused("OpenExefileByReg", key, "Dir", "", other)["refused"], "program")
        self.assertEqual(host.refused("OpenExefile", self.bin + "\\" + other, "")["refused"], "program")
        missing = self.page("/nonexistent/") + self.program("editor")
        self.assertEqual(host.refused("OpenExefile", missing, "")["refused"], "program")
        self.assertEqual(host.call("getErrorMsg"), message, "refused calls leave the control's fields alone")
        self.assertEqual(host.call("OpenExefileByReg", key, "Dir", "", self.program("editor")), 1)

        # Closing the tab: on Linux the browser signals the host's process group, and the editor lives on in its
        # own session; on Windows the browser closes the host's input (Wine's processes share a Linux group).
        if WINDOWS:
            host.proc.stdin.close()
        else:
            os.killpg(host.proc.pid, signal.SIGTERM)
        host.proc.wait(timeout=10)
        deadline = time.time() + 10
        while not self.system.started() and time.time() < deadline:
            time.sleep(0.2)
        time.sleep(1 if WINDOWS else 2)
        self.assertEqual(self.system.started(), ["editor"])

    if WINDOWS:
        def test_editor_outlives_the_browsers_job(self):
            """A browser runs the host in a job that ends what is left in it with the host: the editor leaves the job
            where the job allows it, and where it does not it still starts (and ends with the job)."""
            job_host = os.path.join(os.path.dirname(HOST[-1]), "..", "tests", "job_host.exe")
            env = dict(self.env, KADROO_RECORD_DELAY_MS="1500")  # the editor is still running when the host ends
            key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Example\\Editor"
            for breakaway in (True, False):
                with contextlib.suppress(FileNotFoundError):
                    os.remove(os.path.join(self.dir, "bin", "editor.exe.args"))
                argv = [job_host, *([] if breakaway else ["--no-breakaway"]), HOST[-1], "chrome-extension://id/"]
                host = Native(env, argv, self.system.loader)
                self.addCleanup(lambda: host.proc.stderr.closed or (host.proc.kill(), host.close()))
                self.assertEqual(host.hello()["result"]["protocol"], 1)
                self.assertEqual(host.call("OpenExefileByReg", key, "Dir", "", "editor.exe"), 1)
                host.close()  # the page goes: the host ends, and the job with it
                time.sleep(4)
                self.assertEqual(self.system.started(), ["editor"] if breakaway else [], f"breakaway {breakaway}")

    def test_frames(self):
        host = self.start()
        request = json.dumps({"jsonrpc": "2.0", "id": 7, "method": "isInstalled"}).encode()
        for byte in struct.pack("=I", len(request)) + request:  # every byte on its own
            host.send_raw(bytes([byte]))
            time.sleep(0.002)
        self.assertEqual(host.frame(), {"id": 7, "jsonrpc": "2.0", "result": 1})
        for junk in (b"{not json", b"\xff\xfe\x00junk", b"[" * 70):
            host.send_raw(struct.pack("=I", len(junk)) + junk)
            self.assertEqual(host.frame()["error"]["code"], -32700)
        # Toward the browser: a response of exactly 1 MiB goes out; one byte more is replaced by an error.
        for extra in (0, 1):
            size = MIB - len('{"id":N,"jsonrpc":"2.0","result":"v,"}') + extra
            self.system.set_registry({EDITOR_KEY + "\\Big": {"v": "B" * size}}, "b.reg")
            host.id = extra  # one-digit ids keep the length known
            response = host.request("GetAllRegValue", EDITOR_KEY + "\\Big")
            if extra:
                self.assertEqual(response["error"]["code"], -32003)
            else:
                self.assertEqual((host.last_length, response["result"]), (MIB, "v," + "B" * size))
        self.assertEqual(host.call("isInstalled"), 1)
        host.send_raw(struct.pack("=I", 100) + b"{}")  # end of input inside a frame
        self.assertEqual(host.close().replace("\r\n", "\n"), "kadrooa: the input ended inside a message\n")
        # The page goes while a call waits on the server: the host ends at once, not when the call would.
        host = self.start()
        host.call("setparm", f"uid=u;path=127.0.0.1:{self.silent.getsockname()[1]};pass=x", ";", 1)
        host.send({"jsonrpc": "2.0", "id": 9, "method": "GetFileToFile", "params": ["a", self.page(self.oa) + "/a"]})
        time.sleep(0.5)
        host.proc.stdin.close()
        host.proc.wait(timeout=3)
        # The largest message the host reads: a refusal naming a path that long comes back shortened, the next call
        # works, and the host's peak memory stays within a small multiple of the message (Linux: the same code
        # serves Windows, where a path this long means nothing to the resolver).
        if not WINDOWS:
            host = self.start()
            message = {"jsonrpc": "2.0", "id": 1, "method": "GetFileToFile", "params": ["a", self.dir + "/"]}
            message["params"][1] += "x" * (2 * MIB - len(json.dumps(message, ensure_ascii=False).encode()))
            target = host.refused("GetFileToFile", *message["params"])["target"]
            self.assertEqual(host.last_length < 10000 and target[-1], "\u2026")
            self.assertTrue(message["params"][1].startswith(target[:-1]) and len(target) > 4000, target[:200])
            self.assertEqual(host.call("isInstalled"), 1)
            with open(f"/proc/{host.proc.pid}/status") as f:
                peak = int(dict(line.split(":", 1) for line in f)["VmHWM"].split()[0]) / 1024
            print(f"host's peak memory after a 2 MiB message: {peak:.1f} MiB", file=sys.stderr)
            if not SANITIZED:
                self.assertLess(peak, 4 * 2 + 16, "MiB")
        for length in (0xFFFFFFFF, 2 * MIB + 1):  # longer lengths end the connection without reading on
            host = self.start()
            host.send_raw(struct.pack("=I", length))
            self.assertIsNone(host.frame())
            host.proc.wait(timeout=10)

    def test_without_a_browser(self):
        """Any other argv: the line protocol, which knows no policy, in the same bytes on every platform."""
        out = subprocess.run([*HOST, "--version"], env=self.env, capture_output=True, check=True)
        self.assertEqual(out.stdout, b"kadrooa 1.0.0 (bridge protocol 1)\n")
        lines = (b'{"jsonrpc":"2.0","id":1,"method":"GetErr","params":[12014,""]}\n'
                 b'{"jsonrpc":"2.0","id":2,"method":"kadrooa.fields"}\n')
        out = subprocess.run(HOST, env=self.env, input=lines, capture_output=True, check=True)
        first, second, rest = out.stdout.split(b"\n", 2)
        self.assertEqual(json.loads(first)["result"], "无法连接和登录文件服务器，用户名或密码不正确\r\n错误号：12014")
        self.assertEqual((json.loads(second)["result"]["sServer"], rest), ("", b""))

    def test_policy_refused(self):
        host = self.start(None, ["/usr/lib/mozilla/native-messaging-hosts/org.kadrooa.host.json", "kadrooa@kadrooa.org"])
        self.assertEqual(host.hello("http://127.0.0.1:8081")["error"]["data"],
                         {"refused": "origin", "target": "http://127.0.0.1:8081", "policy": self.system.place})
        self.assertIsNone(host.frame(), "the host ends after refusing an origin")
        problem = self.system.spoil_policy()  # a policy that is refused as a whole
        try:
            host = self.start(None)
            self.assertEqual(host.call("kadrooa.origins"), {"origins": []})
            self.assertEqual(host.hello()["error"]["code"], -32010)
            self.assertIn(problem, host.close())
            out = subprocess.run([*HOST, "--browser-policy"], env=self.env, capture_output=True, text=True)
            self.assertEqual((out.returncode, json.loads(out.stdout)), (1, {"origins": []}))
        finally:
            self.system.restore_policy()
            self.system.set_policy(self.policy)
        out = subprocess.run([*HOST, "--browser-policy"], env=self.env, capture_output=True, text=True, check=True)
        self.assertEqual(json.loads(out.stdout), {"origins": [ORIGIN]})


if __name__ == "__main__":
    unittest.main(verbosity=1)
