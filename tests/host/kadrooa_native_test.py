#!/usr/bin/python3
"""kadrooa as a browser starts it: native messaging frames, the handshake, the administrator's policy, prompts,
progress, and the whole edit cycle against a private vsftpd."""
import contextlib
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
KADROOA = sys.argv[1] if len(sys.argv) > 1 else "build/bin/kadrooa"
import kadrooa_cycle_test as cycle  # noqa: E402  (its Server: vsftpd through the scripts' own helper)
del sys.argv[1:]

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

    def __init__(self, env, argv=("chrome-extension://kadrooatestextensionid/",)):
        self.proc = subprocess.Popen([KADROOA, *argv], stdin=subprocess.PIPE,
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


class NativeHost(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server, cls.listener = cycle.Server(), Listener()
        cls.silent = socket.create_server(("127.0.0.1", 0))  # takes connections and never greets
        cls.dir = tempfile.mkdtemp(prefix="kadroo-native-")
        os.chmod(cls.dir, 0o755)
        cls.home, cls.tmp, cls.oa = (os.path.join(cls.dir, d) for d in ("home", "tmp", "home/OA"))
        for d in ("home/OA", "tmp", "registry", "policy", "bin"):
            os.makedirs(os.path.join(cls.dir, d))
        os.symlink("/etc", os.path.join(cls.oa, "etc"))
        cls.marker = os.path.join(cls.dir, "started")
        for name in ("editor", "other"):  # the editor outlives the host; the other one must never start
            cls.write(os.path.join(cls.dir, "bin", name),
                      f"#!/bin/sh\nsleep 1\necho {name} >> {cls.marker}\n", 0o755)
        cls.write(os.path.join(cls.dir, "registry", "a.reg"),
                  "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Example\\Editor]\r\n"
                  f"\"Dir\"=\"{cls.dir}\\\\bin\"\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleX]\r\n\"Dir\"=\"/bin\"\r\n")
        policy = {"sites": {ORIGIN: {
            "ftpServers": [f"127.0.0.1:{p}" for p in (cls.server.port, cls.listener.port, cls.silent.getsockname()[1])],
            "programs": [os.path.join(cls.dir, "bin", "..", "bin", "editor")],
            "registryKeys": ["HKLM\\SOFTWARE\\Example\\Editor"],
            "localFolders": ["~/OA"]}}}
        cls.policy = os.path.join(cls.dir, "policy", "policy.json")
        cls.write(cls.policy, json.dumps(policy), 0o644)
        cls.env = dict(os.environ, HOME=cls.home, TMPDIR=cls.tmp, KADROOA_POLICY_FILE=cls.policy,
                       KADROOA_REGISTRY=os.path.join(cls.dir, "registry"))

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.listener.sock.close()
        cls.silent.close()
        shutil.rmtree(cls.dir, ignore_errors=True)

    @staticmethod
    def write(path, text, mode=0o644):
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, mode)

    def start(self, origin=ORIGIN, *argv):
        host = Native(self.env, *argv)
        self.addCleanup(lambda: host.proc.stderr.closed or (host.proc.kill(), host.close()))
        if origin:
            self.assertEqual(host.hello(origin)["result"], {"host": "1.0.0", "protocol": 1})
        return host

    def test_edit_cycle_and_refusals(self):
        s, host = self.server, self.start(None)
        self.assertEqual(host.request("isInstalled")["error"]["code"], -32011)
        self.assertEqual(host.hello()["result"]["host"], "1.0.0")
        self.assertEqual(host.request("kadrooa.fields")["error"]["code"], -32601)
        s.write("docs/P.doc", b"draft" * 600000)
        s.write("tpl/t.dot", b"template")
        # The port as a number: 0-padded, it is still the listed server.
        host.call("setparm", f"uid={s.user};path=127.0.0.1:0{s.port};pass={s.password}", ";", 1)
        self.assertEqual(host.call("getFile", "docs/P.doc", "tpl/t.dot"), 1)
        self.assertIn({"call": host.id, "done": 3000000, "total": 3000000}, host.progress)
        local = host.call("getLocalFile")
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

        # Refused targets change nothing: no connection, no file, no program, no field.
        host.call("setparm", f"uid={s.user};path=127.0.0.1:{self.listener.port};pass=x", ";", 1)
        self.assertEqual(host.refused("GetFileToFile", "docs/P.doc", "/tmp/stolen"),
                         {"refused": "localFolder", "target": "/tmp/stolen"})
        for path in ("~/OA/x", self.oa + "/../x", self.oa + "/etc/passwd", self.oa + "\\etc\\x", self.oa):
            self.assertEqual(host.refused("GetFileToFile", "docs/P.doc", path)["refused"], "localFolder")
        self.assertEqual(host.refused("PutFile", "/etc/passwd", "docs/P.doc", 0)["refused"], "localFolder")
        self.assertEqual(host.refused("setLocalFile", self.oa + "/../home.doc")["refused"], "localFolder")
        self.assertEqual(self.listener.count, 0)
        self.assertEqual(host.call("GetFileToFile", "docs/P.doc", self.oa + "/../OA/P.doc"), -1)
        self.assertEqual(self.listener.count, 1, "a listed folder and server: the call goes out")
        self.assertFalse(os.path.exists("/tmp/stolen"))
        self.assertEqual(host.refused("setparm", f"uid=u;path=LOCALHOST:{s.port};pass=x", ";", 1),
                         {"refused": "ftpServer", "target": f"localhost:{s.port}"})
        self.assertEqual(host.refused("setparm", "uid=u;path=[::1]:21;pass=x", ";", 1)["target"], "[0:0:0:0:0:0:0:1]:21")
        self.assertEqual(host.call("GetFileToFile", "docs/P.doc", self.oa + "/P.doc"), -1)
        self.assertEqual(self.listener.count, 2, "the refused setparm left the listed server in place")

        message = host.call("getErrorMsg")
        key = "hkey_local_machine\\software\\example\\EDITOR"
        self.assertEqual(host.call("GetAllRegValue", key), f"Dir,{self.dir}\\bin")
        for refused in ("HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleX", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Example",
                        "HKLM\\SOFTWARE\\Example\\Editor"):
            self.assertEqual(host.refused("GetAllRegValue", refused), {"refused": "registryKey", "target": refused})
        self.assertEqual(host.refused("OpenExefileByReg", "HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleX", "Dir", "", "sh"),
                         {"refused": "registryKey", "target": "HKEY_LOCAL_MACHINE\\SOFTWARE\\ExampleX"})
        self.assertEqual(host.refused("OpenExefileByReg", key, "Dir", "", "other")["refused"], "program")
        self.assertEqual(host.refused("OpenExefile", os.path.join(self.dir, "bin", "other"), "")["refused"], "program")
        self.assertEqual(host.refused("OpenExefile", "/nonexistent/editor", "")["refused"], "program")
        self.assertEqual(host.call("getErrorMsg"), message, "refused calls leave the control's fields alone")
        self.assertEqual(host.call("OpenExefileByReg", key, "Dir", "", "editor"), 1)

        # Closing the tab: the browser signals the host's process group; the editor lives on in its own session.
        os.killpg(host.proc.pid, signal.SIGTERM)
        host.proc.wait(timeout=10)
        time.sleep(2)
        with open(self.marker) as f:
            self.assertEqual(f.read(), "editor\n")

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
            self.write(os.path.join(self.dir, "registry", "b.reg"), "Windows Registry Editor Version 5.00\r\n\r\n"
                       f"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Example\\Editor\\Big]\r\n\"v\"=\"{'B' * size}\"\r\n")
            host.id = extra  # one-digit ids keep the length known
            response = host.request("GetAllRegValue", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Example\\Editor\\Big")
            if extra:
                self.assertEqual(response["error"]["code"], -32003)
            else:
                self.assertEqual((host.last_length, response["result"]), (MIB, "v," + "B" * size))
        self.assertEqual(host.call("isInstalled"), 1)
        host.send_raw(struct.pack("=I", 100) + b"{}")  # end of input inside a frame
        self.assertEqual(host.close(), "kadrooa: the input ended inside a message\n")
        # The page goes while a call waits on the server: the host ends at once, not when the call would.
        host = self.start()
        host.call("setparm", f"uid=u;path=127.0.0.1:{self.silent.getsockname()[1]};pass=x", ";", 1)
        host.send({"jsonrpc": "2.0", "id": 9, "method": "GetFileToFile", "params": ["a", self.oa + "/a"]})
        time.sleep(0.5)
        host.proc.stdin.close()
        host.proc.wait(timeout=3)
        for length in (0xFFFFFFFF, 64 * MIB + 1):  # huge lengths end the connection without reading on
            host = self.start()
            host.send_raw(struct.pack("=I", length))
            self.assertIsNone(host.frame())
            host.proc.wait(timeout=10)

    def test_policy_refused(self):
        host = self.start(None, ["/usr/lib/mozilla/native-messaging-hosts/org.kadrooa.host.json", "kadrooa@kadrooa.org"])
        self.assertEqual(host.hello("http://127.0.0.1:8081")["error"]["data"],
                         {"refused": "origin", "target": "http://127.0.0.1:8081"})
        self.assertIsNone(host.frame(), "the host ends after refusing an origin")
        os.chmod(os.path.dirname(self.policy), 0o775)  # a folder others may write: the policy is refused whole
        try:
            host = self.start(None)
            self.assertEqual(host.hello()["error"]["code"], -32010)
            self.assertIn("must be owned by root and writable by no one else", host.close())
            out = subprocess.run([KADROOA, "--browser-policy"], env=self.env, capture_output=True, text=True)
            self.assertEqual((out.returncode, json.loads(out.stdout)), (1, {"origins": []}))
        finally:
            os.chmod(os.path.dirname(self.policy), 0o755)
        out = subprocess.run([KADROOA, "--browser-policy"], env=self.env, capture_output=True, text=True, check=True)
        self.assertEqual(json.loads(out.stdout), {"origins": [ORIGIN]})


if __name__ == "__main__":
    unittest.main(verbosity=1)
