#!/usr/bin/python3
"""kadrooa over FTP with TLS, as a page drives it: the edit cycle against vsftpd and pure-ftpd with certificates of
the test's own authority, and every refusal ending the call before the user name or password is sent."""
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import unittest

import kadrooa_cycle_test as cycle  # takes the path of kadrooa from the command line

SERVER = """
source "$1/scripts/lib/packages.sh"
source "$1/scripts/lib/ftpservers.sh"
ftp_server_start "$2" "$3" >&2 || exit 1
trap ftp_server_stop EXIT
echo "$FTP_SERVER_PORT $FTP_SERVER_USER $FTP_SERVER_PASS"
read -r _
"""


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Authority:
    """The test's own certificate authority and the server certificates it signs, made with the openssl program."""

    def __init__(self, dir):
        self.dir = dir
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
                "-subj", "/CN=KadroOA test authority", cwd=dir)
        with open(os.path.join(dir, "ca.cnf"), "w") as f:
            f.write(f"[ca]\ndefault_ca = test\n[test]\ndatabase = {dir}/index\nnew_certs_dir = {dir}\n"
                    f"serial = {dir}/serial\nunique_subject = no\ndefault_md = sha256\npolicy = any\n"
                    "[any]\ncommonName = supplied\n")
        open(os.path.join(dir, "index"), "w").close()
        with open(os.path.join(dir, "serial"), "w") as f:
            f.write("01\n")
        self.ca = os.path.join(dir, "ca.pem")

    def issue(self, name, names="IP:127.0.0.1", dates=None, self_signed=False):
        """A PEM with certificate and key for `names`; `dates` (start, end) as YYYYMMDDHHMMSSZ."""
        d = self.dir
        with open(os.path.join(d, name + ".ext"), "w") as f:
            f.write(f"subjectAltName={names}\n")
        if self_signed:
            openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".crt",
                    "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", f"subjectAltName={names}", cwd=d)
        else:
            openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr",
                    "-subj", "/CN=127.0.0.1", cwd=d)
            start, end = dates or ("20200101000000Z", "20991231000000Z")
            openssl("ca", "-batch", "-config", "ca.cnf", "-cert", "ca.pem", "-keyfile", "ca.key", "-in", name + ".csr",
                    "-out", name + ".crt", "-startdate", start, "-enddate", end, "-extfile", name + ".ext", cwd=d)
        pem = os.path.join(d, name + ".pem")
        with open(pem, "w") as out:
            for part in (".crt", ".key"):
                with open(os.path.join(d, name + part)) as f:
                    out.write(f.read())
        os.chmod(pem, 0o600)
        return pem

    def fingerprint(self, pem):
        out = subprocess.run(["openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in", pem], check=True,
                             capture_output=True, text=True).stdout
        return out.strip().split("=", 1)[1]


class FtpsServer(cycle.Server):
    """vsftpd or pure-ftpd (scripts/lib/ftpservers.sh) requiring TLS with the certificate in `pem`."""

    def __init__(self, name, pem):
        self.dir = tempfile.mkdtemp(prefix="kadroo-tls-")
        os.chmod(self.dir, 0o755)
        self.root = os.path.join(self.dir, "root")
        self.proc = subprocess.Popen(["bash", "-c", SERVER, "ftpserver", cycle.ROOT, name, self.root],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                     env=dict(os.environ, FTP_SERVER_TLS_PEM=pem))
        line = self.proc.stdout.readline().split()
        if len(line) != 3:
            self.stop()
            raise RuntimeError(name + " did not start")
        self.port, self.user, self.password = int(line[0]), line[1], line[2]


class FakeServer:
    """An FTP server of the test's own for what a real one will not do: it answers AUTH TLS with `auth` (a 234
    hands over to TLS with the certificate `pem`), refuses PROT P where told, and records every command it read,
    so that a test sees whether a user name or password arrived."""

    def __init__(self, auth="234 Proceed with negotiation.", pem=None, prot="200 Protection level set to P."):
        self.auth, self.pem, self.prot = auth, pem, prot
        self.commands = []
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        try:
            conn, _ = self.listener.accept()
        except OSError:
            return
        with conn:
            stream = conn
            try:
                stream.sendall(b"220 fake\r\n")
                reader = stream.makefile("rb")
                for raw in reader:
                    line = raw.decode(errors="replace").strip()
                    self.commands.append(line.split(" ")[0].upper())
                    verb = self.commands[-1]
                    if verb == "AUTH":
                        stream.sendall(self.auth.encode() + b"\r\n")
                        if self.auth.startswith("234"):
                            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
                            context.load_cert_chain(self.pem)
                            with context.wrap_socket(conn, server_side=True) as stream:
                                with stream.makefile("rb") as reader:
                                    return self.serve_tls(stream, reader)
                    elif verb == "QUIT":
                        stream.sendall(b"221 bye\r\n")
                        return
                    else:
                        stream.sendall(b"530 Please login with USER and PASS.\r\n")
            except (OSError, ssl.SSLError):
                return

    def serve_tls(self, stream, reader):
        for raw in reader:
            verb = raw.decode(errors="replace").strip().split(" ")[0].upper()
            self.commands.append(verb)
            answer = {"PBSZ": "200 PBSZ=0", "PROT": self.prot, "QUIT": "221 bye"}.get(verb, "530 Login incorrect.")
            stream.sendall(answer.encode() + b"\r\n")
            if verb == "QUIT":
                return

    def stop(self):
        self.listener.close()
        self.thread.join(timeout=10)


class Tls(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="kadroo-tls-ca-")  # 0700 and root's: fit for the settings file too
        cls.authority = Authority(cls.dir)
        cls.good = cls.authority.issue("good")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kadroo-local-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def session(self, settings=None):
        """kadrooa trusting the test's authority (OpenSSL's default paths follow SSL_CERT_FILE), with the
        administrator's settings `settings` (JSON text) where given."""
        path = os.path.join(self.dir, "ftp-tls.json")
        with open(path, "w") as f:
            f.write(settings or "")
        return cycle.Session(self.tmp, env={"SSL_CERT_FILE": self.authority.ca, "KADROOA_FTP_TLS_FILE": path})

    def edit_cycle(self, server, parm_tls, settings=None):
        for passive in (1, 0):
            session = self.session(settings)
            name = f"docs/tls{passive}.doc"
            server.write(name, "草稿".encode())
            session.call("setparm", f"uid={server.user};path=127.0.0.1:{server.port};pass={server.password}{parm_tls}",
                         ";", passive)
            self.assertEqual(session.call("getFile", name, ""), 1, session.call("getErrorMsg"))
            local = session.call("getLocalFile")
            with open(local, "rb") as f:
                self.assertEqual(f.read(), "草稿".encode())
            with open(local, "wb") as f:
                f.write("定稿".encode() * 50000)
            st = os.stat(local)
            os.utime(local, ns=(st.st_atime_ns, st.st_mtime_ns + 2 * 10**9))
            self.assertEqual(session.call("saveFile"), 1, session.call("getErrorMsg"))
            self.assertEqual(server.read(name), "定稿".encode() * 50000)
            self.assertEqual(server.read(name + ".old"), "草稿".encode())
            session.close()

    def test_edit_cycle_over_tls_with_vsftpd_asked_by_the_page(self):
        # vsftpd's defaults: TLS required for logins and data, and data connections must resume the session.
        server = FtpsServer("vsftpd", self.good)
        try:
            self.edit_cycle(server, ";tls=1")
        finally:
            server.stop()

    def test_edit_cycle_over_tls_with_pure_ftpd_asked_by_the_administrator(self):
        server = FtpsServer("pure-ftpd", self.good)
        try:
            self.edit_cycle(server, "", '{"servers": {"127.0.0.1:%d": {}}}' % server.port)
        finally:
            server.stop()

    def test_refusals_send_no_user_name_or_password(self):
        a = self.authority
        unknown = a.issue("unknown", self_signed=True)
        rows = [
            # what, the fake server, the page's "tls=1" or the administrator's settings, the code
            ("a server without TLS, required by the administrator",
             FakeServer(auth="530 Please login with USER and PASS."), "", '{"servers": {"127.0.0.1:%(port)d": {}}}', 12157),
            ("a MITM answering AUTH TLS with 500", FakeServer(auth="500 Unknown command."), ";tls=1", None, 12157),
            ("another host name", FakeServer(pem=a.issue("wrongname", "DNS:other.example")), ";tls=1", None, 12038),
            ("an unknown authority", FakeServer(pem=unknown), ";tls=1", None, 12045),
            ("an expired certificate", FakeServer(pem=a.issue("expired", dates=("20200101000000Z", "20210101000000Z"))),
             ";tls=1", None, 12037),
            ("another fingerprint than the pinned one", FakeServer(pem=self.good), "",
             '{"servers": {"127.0.0.1:%(port)d": {"sha256": "' + "00:" * 31 + '00"}}}', 12169),
            ("a server refusing PROT P", FakeServer(pem=self.good, prot="536 PROT P not allowed."), ";tls=1", None,
             12157),
        ]
        texts = {
            12037: "文件服务器的证书已过期或尚未生效，未建立加密连接",
            12038: "文件服务器的证书与服务器地址不符，未建立加密连接",
            12045: "文件服务器的证书不是受信任的证书颁发机构签发的，未建立加密连接",
            12157: "文件服务器不接受加密连接（FTP over TLS），或加密握手失败",
            12169: "文件服务器的证书无效，或与管理员指定的证书指纹（SHA-256）不符，未建立加密连接",
        }
        for what, server, parm_tls, settings, code in rows:
            with self.subTest(what):
                session = self.session(settings and settings % {"port": server.port})
                session.call("setparm", f"uid=clerk;path=127.0.0.1:{server.port};pass=secret{parm_tls}", ";", 1)
                local = os.path.join(self.tmp, "x.doc")
                self.assertEqual(session.call("GetFileToFile", "docs/x.doc", local), -1)
                self.assertEqual(session.call("getErrorMsg"), f"{texts[code]}\r\n错误号：{code}")
                session.close()
                server.stop()
                self.assertIn("AUTH", server.commands)
                self.assertNotIn("USER", server.commands)
                self.assertNotIn("PASS", server.commands)
                self.assertFalse(os.path.exists(local))
        # The pin alone decides: a certificate no trusted authority signed is taken when its fingerprint is pinned.
        server = FakeServer(pem=unknown)
        pin = a.fingerprint(unknown)
        session = self.session('{"servers": {"127.0.0.1:%d": {"sha256": "%s"}}}' % (server.port, pin))
        session.call("setparm", f"uid=clerk;path=127.0.0.1:{server.port};pass=secret", ";", 1)
        self.assertEqual(session.call("GetFileToFile", "docs/x.doc", os.path.join(self.tmp, "x.doc")), -1)
        session.close()
        server.stop()
        self.assertEqual(server.commands[:4], ["AUTH", "PBSZ", "PROT", "USER"])


if __name__ == "__main__":
    unittest.main(verbosity=1)
