#!/usr/bin/python3
"""kadrooa against a private vsftpd, as a page drives it: the edit cycle and the prompts on standard error."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

KADROOA = sys.argv.pop(1) if len(sys.argv) > 1 else "build/bin/kadrooa"
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")

# Starts the server with the scripts' own helper and stops it when told to (a line on its standard input).
SERVER = """
source "$1/scripts/lib/vsftpd.sh"
VSFTPD_ADDRESS=$3
vsftpd_start "$2" >&2 || exit 1
trap vsftpd_stop EXIT
echo "$VSFTPD_PORT $VSFTPD_USER $VSFTPD_PASS"
read -r _
"""


class Server:
    def __init__(self, address="127.0.0.1", tls_pem=None):
        self.dir = tempfile.mkdtemp(prefix="kadroo-cycle-")
        os.chmod(self.dir, 0o755)
        self.root = os.path.join(self.dir, "root")
        self.proc = subprocess.Popen(["bash", "-c", SERVER, "vsftpd", ROOT, self.root, address], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True,
                                     env=dict(os.environ, VSFTPD_TLS_PEM=tls_pem or ""))
        line = self.proc.stdout.readline().split()
        if len(line) != 3:
            self.stop()
            raise RuntimeError("vsftpd did not start")
        self.port, self.user, self.password = int(line[0]), line[1], line[2]

    def write(self, name, data):
        path = os.path.join(self.root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        shutil.chown(path, self.user)
        shutil.chown(os.path.dirname(path), self.user)

    def read(self, name):
        with open(os.path.join(self.root, name), "rb") as f:
            return f.read()

    def stop(self):
        try:
            self.proc.communicate("stop\n", timeout=30)
        finally:
            shutil.rmtree(self.dir, ignore_errors=True)


class Session:
    """One kadrooa, without a controlling terminal, as a host process started from a page would be."""

    def __init__(self, tmpdir, command=None, preexec_fn=None, env=None):
        self.proc = subprocess.Popen(command or [KADROOA], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=dict(os.environ, TMPDIR=tmpdir, **(env or {})),
                                     start_new_session=True, preexec_fn=preexec_fn)
        self.id = 0

    def call(self, method, *params):
        self.id += 1
        request = {"jsonrpc": "2.0", "id": self.id, "method": method, "params": list(params)}
        self.proc.stdin.write((json.dumps(request, ensure_ascii=False) + "\n").encode())
        self.proc.stdin.flush()
        return json.loads(self.proc.stdout.readline())["result"]

    def close(self):
        self.proc.stdin.close()
        stderr = self.proc.stderr.read().decode()
        self.proc.wait(timeout=30)
        self.proc.stdout.close()
        self.proc.stderr.close()
        return stderr


class EditCycle(unittest.TestCase):
    address, host = "127.0.0.1", "127.0.0.1"  # where the server listens, and how the page names it

    @classmethod
    def setUpClass(cls):
        cls.server = Server(cls.address)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kadroo-local-")
        self.session = Session(self.tmp)

    def tearDown(self):
        self.session.close()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def connect(self, passive):
        s = self.server
        self.session.call("setparm", f"uid={s.user};path={self.host}:{s.port};pass={s.password}", ";", passive)

    def test_cycle_in_both_modes(self):
        for passive in (1, 0):
            name = f"docs/cycle{passive}.doc"
            self.server.write(name, "草稿".encode())
            self.server.write("tpl/t.dot", b"template")
            self.connect(passive)
            self.assertEqual(self.session.call("getFile", name, "tpl/t.dot"), 1, self.session.call("getErrorMsg"))
            local = self.session.call("getLocalFile")
            self.assertEqual(os.path.dirname(local), self.tmp)
            with open(local, "rb") as f:
                self.assertEqual(f.read(), "草稿".encode())
            with open(local, "wb") as f:
                f.write("定稿".encode())
            st = os.stat(local)
            os.utime(local, ns=(st.st_atime_ns, st.st_mtime_ns + 2 * 10**9))
            self.assertEqual(self.session.call("saveFile"), 1, self.session.call("getErrorMsg"))
            self.assertEqual(self.server.read(name), "定稿".encode())
            self.assertEqual(self.server.read(name + ".old"), "草稿".encode())
            self.assertFalse(os.path.exists(local))
        self.assertNotIn("KadroOA", self.session.close(), "an edited document shows no prompt")
        self.session = Session(self.tmp)

    def test_unchanged_document_warns_on_stderr_and_goes_on(self):
        self.server.write("docs/same.doc", b"unchanged")
        self.connect(1)
        self.assertEqual(self.session.call("getFile", "docs/same.doc", ""), 1)
        self.assertEqual(self.session.call("saveFile"), 1, "no terminal: the warning does not wait")
        stderr = self.session.close()
        self.session = Session(self.tmp)
        self.assertIn("[KadroOA] 提示信息：要上传的文件和原来的文件最后修改时间一样", stderr)
        self.assertEqual(stderr.count("[KadroOA]"), 1)

    def test_wrong_password(self):
        s = self.server
        self.session.call("setparm", f"uid={s.user};path={self.host}:{s.port};pass=wrong", ";", 1)
        self.assertEqual(self.session.call("GetFileToFile", "docs/x", os.path.join(self.tmp, "x")), -1)
        self.assertEqual(self.session.call("getErrorMsg"), "无法连接和登录文件服务器，用户名或密码不正确\r\n错误号：12014")
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "x")))


class EditCycleOverIpv6(EditCycle):
    """The same against a server that listens on the IPv6 loopback alone, named as an address in brackets."""
    address, host = "::1", "[::1]"


if __name__ == "__main__":
    unittest.main(verbosity=1)
