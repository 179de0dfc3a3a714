#!/usr/bin/python3
"""scripts/bench --bridge: the bridge's cost, from a page in headless Chromium and Firefox ESR against kadrooa
driven directly on its line protocol, with the kadrooa package installed (and purged at the end) and a private
vsftpd. Prints figures; asserts nothing.

usage: bench_bridge.py PACKAGE.deb [--cycles N] [--runs N] [--size MiB]"""
import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "browser", "test"))
import bridge_test  # noqa: E402  (its web server, process list and browsers)
from kadrooa_cycle_test import Server, Session  # noqa: E402  (the one vsftpd fixture, kadrooa's line protocol)

EDIT_SIZE = 10 * 1024


class Bench:
    reports, report_times = {}, {}
    other_started = None
    reported = threading.Event()

    def __init__(self, args):
        self.args = args
        self.dir = tempfile.mkdtemp(prefix="kadroo-bench-bridge-", dir="/dev/shm")
        os.chmod(self.dir, 0o755)
        self.allowed = os.path.join(self.dir, "allowed")
        self.tmp = os.path.join(self.dir, "tmp")
        os.mkdir(self.allowed)
        os.mkdir(self.tmp)
        self.edit = os.urandom(EDIT_SIZE)

    def action_rewrite(self, path, cycle):
        with open(path, "wb") as f:
            f.write(f"cycle {cycle}\n".encode() + self.edit)
        st = os.stat(path)
        os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns + 1_000_000_000))
        return {}

    def action_host_memory(self):
        pid = bridge_test.BrowserBridge.newest_host()
        with open(f"/proc/{pid}/status") as f:
            fields = dict(line.split(":", 1) for line in f)
        return {"peak_kib": int(fields["VmHWM"].split()[0])}

    def run_browser(self, browser):
        self.reports.clear()
        profile = tempfile.mkdtemp(dir=self.dir)
        env = dict(os.environ, TMPDIR=self.tmp)
        url = f"http://127.0.0.1:{self.site.port}/page.html?role=bench"
        process = subprocess.Popen(bridge_test.browser_command(browser, profile) + [url], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            deadline = time.monotonic() + 600
            while not ({"bench", "exception"} & self.reports.keys()) and time.monotonic() < deadline:
                self.reported.wait(1)
                self.reported.clear()
        finally:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
        if "bench" not in self.reports:
            raise RuntimeError(f"{browser}: the page did not finish: {self.reports.get('exception')}")
        return self.reports["bench"]

    # kadrooa driven on its line protocol, as a script on the machine would, between the page's own runs: the two
    # sides of each ratio then share whatever else the machine is doing at the time.
    def action_direct_cycle(self, cycle):
        session, s = self.session, self.ftp
        start = time.perf_counter()
        session.call("setparm", f"uid={s.user};path=127.0.0.1:{s.port};pass={s.password}", ";", 1)
        assert session.call("getFile", "edit/direct.doc", "edit/template.dot") == 1
        local = session.call("getLocalFile")
        edit = time.perf_counter()
        self.action_rewrite(local, cycle)
        edited = time.perf_counter() - edit
        assert session.call("saveFile") == 1
        return {"ms": (time.perf_counter() - start - edited) * 1000}

    def action_direct_download(self):
        session, s = self.session, self.ftp
        session.call("setparm", f"uid={s.user};path=127.0.0.1:{s.port};pass={s.password}", ";", 1)
        start = time.perf_counter()
        assert session.call("GetFileToFile", "big.bin", os.path.join(self.allowed, "direct.bin")) == 1
        return {"ms": (time.perf_counter() - start) * 1000}

    def run(self):
        subprocess.run(["dpkg", "-i", self.args.package], check=True, stdout=subprocess.DEVNULL)
        try:
            self.ftp = Server()
            try:
                self.measure()
            finally:
                self.ftp.stop()
        finally:
            subprocess.run(["dpkg", "--purge", "kadrooa"], stdout=subprocess.DEVNULL)
            shutil.rmtree(self.dir, ignore_errors=True)

    def measure(self):
        size = self.args.size * 1024 * 1024
        for name in ("edit/page.doc", "edit/direct.doc", "edit/template.dot"):
            self.ftp.write(name, os.urandom(EDIT_SIZE))
        self.ftp.write("big.bin", os.urandom(size))
        self.site = bridge_test.Site(self)
        self.other = self.site
        origin = f"http://127.0.0.1:{self.site.port}"
        with open("/etc/kadrooa/policy.json", "w") as f:
            json.dump({"sites": {origin: {"ftpServers": [f"127.0.0.1:{self.ftp.port}"],
                                          "localFolders": [self.allowed]}}}, f)
        subprocess.run(["kadrooa-apply-policy"], check=True, stdout=subprocess.DEVNULL)
        self.config = {"user": self.ftp.user, "password": self.ftp.password, "port": self.ftp.port,
                       "allowed": self.allowed, "cycles": self.args.cycles, "runs": self.args.runs}
        self.session = Session(self.tmp, ["/usr/bin/kadrooa"])
        print(f"# The bridge: a page through the extension to kadrooa, against kadrooa driven directly\n")
        print(f"{self.args.cycles} edit cycles of a {EDIT_SIZE // 1024} kB document and template; "
              f"{self.args.runs} downloads of {self.args.size} MiB; medians; files on tmpfs.\n")
        print("| figure | target | Chromium | Firefox ESR | kadrooa directly |")
        print("| --- | --- | --- | --- | --- |")
        rows = {}
        try:
            for browser in ("chromium", "firefox"):
                sys.stderr.write(f"bench --bridge: {browser}\n")
                rows[browser] = self.run_browser(browser)
        finally:
            self.session.close()
        c, f = rows["chromium"], rows["firefox"]
        print(f"| first call, with the host's start | <= 100 ms | {c['first']:.1f} ms | {f['first']:.1f} ms | |")
        print(f"| round trip of a trivial call (isInstalled) | <= 5 ms | {c['trip']:.2f} ms | {f['trip']:.2f} ms | |")
        for name, figure, target in ((f"edit cycle, {EDIT_SIZE // 1024} kB", "cycle", "<= 1.2x"),
                                     (f"download, {self.args.size} MiB", "download", "<= 1.05x")):
            cells = [f"{row[figure]:.1f} ms ({row[figure] / row['direct'][figure]:.2f}x)" for row in (c, f)]
            direct = " / ".join(f"{row['direct'][figure]:.1f}" for row in (c, f))
            print(f"| {name} | {target} | {cells[0]} | {cells[1]} | {direct} ms |")
        print(f"| host's peak memory (VmHWM) | | {c['memory']['peak_kib'] / 1024:.1f} MiB "
              f"| {f['memory']['peak_kib'] / 1024:.1f} MiB | |")
        print("\nkadrooa directly: the same runs on its line protocol, one before each of the page's, while Chromium / "
              "Firefox ran.\nFirefox rounds performance.now() to whole milliseconds in pages; its round trips read coarser.")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("package")
    parser.add_argument("--cycles", type=int, default=50)
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--size", type=int, default=100, help="MiB")
    args = parser.parse_args()
    if subprocess.run(["dpkg-query", "-W", "kadrooa"], capture_output=True).returncode == 0 or \
            os.path.exists("/etc/kadrooa"):
        sys.exit("bench --bridge: kadrooa is already installed here; the bench installs and purges its own")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    Bench(args).run()


if __name__ == "__main__":
    main()
