#!/usr/bin/python3
"""kadrooa downloading from a private vsftpd onto a disk that fills up or a file-size limit that is reached: the call
answers -1 with the local reason's own code, and the clerk's file is left as it was with nothing beside it."""
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import unittest

KADROOA = sys.argv.pop(1) if len(sys.argv) > 1 else "build/bin/kadrooa"
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kadrooa_cycle_test import Server, Session  # noqa: E402

BIG = b"d" * (1 << 20)
CLERKS = "the clerk's copy".encode()


class LocalFaults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server()
        cls.server.write("docs/big.doc", BIG)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kadroo-local-faults-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def fetch(self, session, local):
        s = self.server
        session.call("setparm", f"uid={s.user};path=127.0.0.1:{s.port};pass={s.password}", ";", 1)
        return session.call("GetFileToFile", "docs/big.doc", local), session.call("getErrorMsg")

    def test_full_disk_reads_112_and_keeps_the_file(self):
        if os.geteuid() != 0 or not shutil.which("unshare"):
            self.skipTest("needs root and unshare for a private small file system")
        # Inside a chroot whose root is not a mount point, unshare cannot make the mounts private.
        probe = subprocess.run(["unshare", "-m", "--propagation", "private", "true"], capture_output=True, text=True)
        if probe.returncode != 0:
            self.skipTest("unshare -m cannot make a private mount namespace here: " + probe.stderr.strip())
        disk = os.path.join(self.tmp, "disk")
        os.mkdir(disk)
        # A 64 KiB tmpfs seen by kadrooa alone; its files are reached through /proc/PID/root.
        script = 'mount -t tmpfs -o size=64k tmpfs "$0" && exec "$1"'
        session = Session(self.tmp, ["unshare", "-m", "--propagation", "private", "sh", "-c", script, disk, KADROOA])
        try:
            self.assertEqual(session.call("isInstalled"), 1)
            inside = f"/proc/{session.proc.pid}/root{disk}"
            with open(os.path.join(inside, "doc"), "wb") as f:
                f.write(CLERKS)
            result, message = self.fetch(session, os.path.join(disk, "doc"))
            self.assertEqual(result, -1)
            self.assertTrue(message.endswith("\r\n错误号：112"), message)
            with open(os.path.join(inside, "doc"), "rb") as f:
                self.assertEqual(f.read(), CLERKS)
            self.assertEqual(os.listdir(inside), ["doc"])
        finally:
            session.close()
            self.assertEqual(session.proc.returncode, 0)

    def test_file_size_limit_reads_223_and_the_host_lives_on(self):
        local = os.path.join(self.tmp, "doc")
        with open(local, "wb") as f:
            f.write(CLERKS)

        def limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (64 * 1024, resource.RLIM_INFINITY))

        session = Session(self.tmp, [KADROOA], preexec_fn=limit)
        try:
            result, message = self.fetch(session, local)
            self.assertEqual(result, -1)
            self.assertTrue(message.endswith("\r\n错误号：223"), message)
            with open(local, "rb") as f:
                self.assertEqual(f.read(), CLERKS)
            self.assertEqual(os.listdir(self.tmp), ["doc"])
            self.assertEqual(session.call("isInstalled"), 1, "SIGXFSZ did not end the host")
        finally:
            session.close()
            self.assertEqual(session.proc.returncode, 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)  # a skip shows its reason
