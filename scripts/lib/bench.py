"""Transfer benchmark of kadrooa against curl, lftp, Python's ftplib and the loopback limit (iperf3).

Run by scripts/bench, which installs the tools, builds kadrooa, starts an FTP server and iperf3 and passes them
here: BENCH_WORK (a directory on tmpfs, with ftp/ as the server's root), FTP_SERVER_PORT, FTP_SERVER_USER,
FTP_SERVER_PASS, FTP_SERVER_VERSION (name and package version), IPERF_PORT and KADROOA (the host program);
with BENCH_TLS_CA (the authority of the server's certificate) every client speaks FTP over TLS 1.3
(scripts/bench --tls). Prints Markdown on stdout and progress on stderr.

Exit status: 0 when every transfer was correct (whatever the speed targets say), 1 when a transfer failed or
gave wrong bytes, 2 on bad usage, 3 when kadrooa lacks the transfer methods (the other rows still ran).
"""
import argparse
import ftplib
import io
import json
import os
import platform
import pwd
import re
import signal
import statistics
import struct
import subprocess
import sys
import threading
import time

MB = 1_000_000
MiB = 1 << 20
GiB = 1 << 30
SMALL_SIZE = 100 * MiB  # kadrooa's peak RSS at this size is compared with the full size: it must not grow
EDIT_SIZE = 10 * 1024
EDIT_WARMUP_CYCLES = 20
EDIT_CLIENTS = ("kadrooa", "ftplib", "curl", "plain")
# Over TLS the edit cycle is compared with kadrooa's own plain cycle ("plain"): ftplib does not resume the TLS
# session on data connections, which the server requires, and libcurl's in-process cycle lost downloads there.
TLS_CA = os.environ.get("BENCH_TLS_CA") or None
EDIT_PEERS = ("plain",) if TLS_CA else ("ftplib", "curl")
STALL_SECONDS = 0.030  # a wait on the network longer than this in one cycle is a stall
TRANSFER_METHODS = ("GetFileToFile", "PutFile", "getFile", "saveFile")
ROW_NAMES = {"download": 1, "upload": 2, "loopback": 3, "edit": 4, "cost": 5}

EXIT_WRONG = 1
EXIT_USAGE = 2
EXIT_NO_KADROOA = 3


class Failure(Exception):
    """A transfer that failed, timed out or delivered wrong bytes."""


class Config:
    def __init__(self, args):
        self.size = args.size
        self.runs = args.runs
        self.rows = args.only
        self.cycles = args.cycles
        self.work = os.environ["BENCH_WORK"]
        self.root = os.path.join(self.work, "ftp")
        self.local = os.path.join(self.work, "local")
        self.tmp = os.path.join(self.work, "tmp")
        self.port = int(os.environ["FTP_SERVER_PORT"])
        self.user = os.environ["FTP_SERVER_USER"]
        self.password = os.environ["FTP_SERVER_PASS"]
        self.server = os.environ.get("FTP_SERVER_VERSION", "vsftpd")
        self.iperf_port = int(os.environ.get("IPERF_PORT") or 0)
        self.kadrooa = os.environ["KADROOA"]
        ids = pwd.getpwnam(self.user)
        self.uid, self.gid = ids.pw_uid, ids.pw_gid

    def timeout(self, size):
        """Gives a process working on `size` bytes this many seconds (20 MB/s at worst) before it is killed."""
        return 60 + size / (20 * MB)


# ---------------------------------------------------------------------------------------------------------------
# Processes

_live = set()  # processes to kill when the benchmark is interrupted


def _kill_group(process):
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass


def kill_live_processes():
    for process in list(_live):
        _kill_group(process)
        process.wait()
    _live.clear()


class Measurement:
    """One client process: wall-clock seconds, peak RSS in KiB and CPU seconds (user + system); `window` is its
    start and end on the system clock, `data` the seconds of its data phase once the capture gave them."""

    def __init__(self, wall, rss_kib, cpu, window):
        self.wall, self.rss_kib, self.cpu, self.window = wall, rss_kib, cpu, window
        self.data = None


def run_measured(cfg, cmd, size, env=None):
    """Runs `cmd` under /usr/bin/time -v in a session of its own (no controlling terminal); gives its
    Measurement and standard output. Raises Failure on a non-zero exit or a timeout."""
    time_path = os.path.join(cfg.work, "time.txt")
    out_path = os.path.join(cfg.work, "stdout.txt")
    err_path = os.path.join(cfg.work, "stderr.txt")
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        start, started = time.perf_counter(), time.time()
        process = subprocess.Popen(["/usr/bin/time", "-v", "-o", time_path, "--"] + cmd, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=err, env=env, start_new_session=True)
        _live.add(process)
        # A blocking wait, so that the end is seen at once: Popen.wait with a timeout polls with sleeps of up to
        # 50 ms, which would show in every figure. A timer kills the process if it runs too long. wait4 gives the
        # CPU time to the microsecond (time's own, about a millisecond, included; it prints hundredths); the peak
        # RSS comes from time, since a child's maximum counts the forking parent's memory from before its exec.
        expired = threading.Event()

        def expire():
            expired.set()
            _kill_group(process)

        watchdog = threading.Timer(cfg.timeout(size), expire)
        watchdog.start()
        try:
            while True:
                try:
                    _, wait_status, usage = os.wait4(process.pid, 0)
                    break
                except InterruptedError:
                    continue
            process.returncode = status = os.waitstatus_to_exitcode(wait_status)
        finally:
            watchdog.cancel()
            _live.discard(process)
        wall, ended = time.perf_counter() - start, time.time()
        if expired.is_set():
            raise Failure(f"{cmd[0]} did not finish within {cfg.timeout(size):.0f} s")
    with open(out_path, "rb") as f:
        stdout = f.read()
    with open(err_path, "rb") as f:
        stderr = f.read().decode(errors="replace").strip()
    if status != 0:
        raise Failure(f"{os.path.basename(cmd[0])} exited with {status}: {stderr[-500:]}")
    with open(time_path) as f:
        rss = re.search(r"^\s*Maximum resident set size \(kbytes\): (\d+)$", f.read(), re.M)
    if not rss:
        raise Failure("/usr/bin/time gave no peak RSS")
    return Measurement(wall, int(rss.group(1)), usage.ru_utime + usage.ru_stime, (started, ended)), stdout


# ---------------------------------------------------------------------------------------------------------------
# Files and checks

def write_random(path, size):
    with open("/dev/urandom", "rb") as source, open(path, "wb") as target:
        left = size
        while left:
            chunk = source.read(min(left, 8 * MiB))
            target.write(chunk)
            left -= len(chunk)


def check_same(expected_path, actual_path, what):
    """Raises Failure unless `actual_path` holds exactly the bytes of `expected_path` (size, then cmp)."""
    if not os.path.isfile(actual_path):
        raise Failure(f"{what}: {actual_path} does not exist")
    expected, actual = os.path.getsize(expected_path), os.path.getsize(actual_path)
    if expected != actual:
        raise Failure(f"{what}: {actual_path} has {actual} bytes, {expected} expected")
    if subprocess.run(["cmp", "-s", expected_path, actual_path]).returncode != 0:
        raise Failure(f"{what}: {actual_path} differs from {expected_path}")


def remove(path):
    try:
        os.remove(path)
    except FileNotFoundError:
        pass


def put_server_file(cfg, path, content):
    """Writes a file into the server's root, owned by the FTP user so that it can be overwritten and renamed."""
    with open(path, "wb") as f:
        f.write(content)
    os.chown(path, cfg.uid, cfg.gid)


# ---------------------------------------------------------------------------------------------------------------
# The data phase: the server's replies on the control connections, captured on lo

class ControlCapture:
    """tcpdump on lo keeps the segments that the server sends from its control port (the kernel's filter drops
    the data connections' segments before they are copied), so that each client's data phase can be timed from the
    server's own replies: from its preliminary reply (150 or 125) to the 226 or 250 that follows it. Every client is
    timed the same way, apart from what it does before and after (login, size check, renames, quit)."""

    LINK_HEADER = {1: 14, 113: 16, 276: 20, 0: 4}  # Ethernet (lo), Linux cooked v1 and v2, BSD loopback

    def __init__(self, cfg):
        self.cfg = cfg
        self.path = os.path.join(cfg.work, "control.pcap")
        self.process = None
        self.error = None

    def start(self):
        remove(self.path)
        try:
            self.process = subprocess.Popen(
                ["tcpdump", "-i", "lo", "-n", "-U", "-s", "256", "-Z", "root", "-w", self.path,
                 f"tcp and src host 127.0.0.1 and src port {self.cfg.port}"],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, start_new_session=True)
        except OSError as error:
            self.error = str(error)
            return
        _live.add(self.process)
        for _ in range(50):  # it writes the file's header once it listens
            if os.path.exists(self.path) and os.path.getsize(self.path) >= 24 or self.process.poll() is not None:
                break
            time.sleep(0.1)
        if self.process.poll() is not None:
            self.error = self.process.stderr.read().decode(errors="replace").strip()[-300:]

    def stop(self):
        """Stops the capture; gives [(time, client port, reply code)] in time order, or None."""
        if not self.process:
            return None
        time.sleep(0.2)  # the last replies reach the file
        self.process.send_signal(signal.SIGINT)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            _kill_group(self.process)
            self.process.wait()
        _live.discard(self.process)
        if self.error:
            return None
        try:
            with open(self.path, "rb") as f:
                return self.replies(f.read())
        except (OSError, ValueError) as error:
            self.error = str(error)
            return None
        finally:
            remove(self.path)

    @classmethod
    def replies(cls, data):
        magic = data[:4]
        order = {b"\xd4\xc3\xb2\xa1": "<", b"\x4d\x3c\xb2\xa1": "<",
                 b"\xa1\xb2\xc3\xd4": ">", b"\xa1\xb2\x3c\x4d": ">"}.get(magic)
        if not order:
            raise ValueError("not a pcap file")
        scale = 1e-9 if magic in (b"\x4d\x3c\xb2\xa1", b"\xa1\xb2\x3c\x4d") else 1e-6
        link = struct.unpack(order + "I", data[20:24])[0]
        if link not in cls.LINK_HEADER:
            raise ValueError(f"link type {link}")
        found = []
        offset = 24
        while offset + 16 <= len(data):
            seconds, fraction, captured, _ = struct.unpack(order + "IIII", data[offset:offset + 16])
            packet = data[offset + 16:offset + 16 + captured]
            offset += 16 + captured
            ip = packet[cls.LINK_HEADER[link]:]
            if len(ip) < 20 or ip[0] >> 4 != 4 or ip[9] != 6:
                continue
            tcp = ip[(ip[0] & 15) * 4:]
            if len(tcp) < 20:
                continue
            client_port = struct.unpack(">H", tcp[2:4])[0]
            payload = tcp[(tcp[12] >> 4) * 4:]
            for line in payload.split(b"\n"):
                if len(line) >= 4 and line[:3].isdigit() and line[3:4] == b" ":
                    found.append((seconds + fraction * scale, client_port, int(line[:3])))
        return found

    @staticmethod
    def assign(replies, measurements):
        """Gives each measurement the seconds from the first preliminary reply within its run (one client runs at
        a time) to the final reply that ends that transfer on the same connection."""
        for m in measurements:
            start, end = m.window
            mine = [r for r in replies if start <= r[0] <= end]
            begun = None
            for when, port, code in mine:
                if begun is None and code in (125, 150):
                    begun = (when, port)
                elif begun and port == begun[1] and code in (226, 250):
                    m.data = when - begun[0]
                    break


# ---------------------------------------------------------------------------------------------------------------
# Clients of rows 1 and 2

CLIENTS = ("kadrooa", "curl", "lftp")
PEERS = ("curl", "lftp")
MODES = ("passive", "active")
CLIENT_LABEL = {"kadrooa": "kadrooa", "curl": "curl", "lftp": "lftp"}
OP_METHOD = {"get": "GetFileToFile", "put": "PutFile"}


def kadrooa_env(cfg):
    env = dict(os.environ)
    env["TMPDIR"] = cfg.tmp
    if TLS_CA:
        env["SSL_CERT_FILE"] = TLS_CA  # OpenSSL's default trust store, for the test authority
    return env


def setparm_params(cfg, mode, tls=True):
    tls = ";tls=1" if TLS_CA and tls else ""
    return [f"uid={cfg.user};path=127.0.0.1:{cfg.port};pass={cfg.password}{tls}", ";", 1 if mode == "passive" else 0]


def request(id_, method, params):
    return json.dumps({"jsonrpc": "2.0", "id": id_, "method": method, "params": params})


def client_command(cfg, client, op, mode, remote, local):
    """Gives the command line that transfers `remote` to `local` (op "get") or `local` to `remote` ("put")."""
    if client == "curl":
        cmd = ["curl", "-q", "-sS", "-u", f"{cfg.user}:{cfg.password}"]
        if TLS_CA:
            cmd += ["--ssl-reqd", "--cacert", TLS_CA, "--tlsv1.3", "--tls-max", "1.3"]
        if mode == "active":
            cmd += ["--ftp-port", "127.0.0.1"]
        url = f"ftp://127.0.0.1:{cfg.port}/{remote}"
        return cmd + (["-o", local, url] if op == "get" else ["-T", local, url])
    if client == "lftp":
        transfer = f"get {remote} -o {local}" if op == "get" else f"put {local} -o {remote}"
        ssl = (f"set ftp:ssl-force yes; set ftp:ssl-protect-data yes; set ssl:ca-file {TLS_CA}; "
               f"set ssl:priority NORMAL:-VERS-ALL:+VERS-TLS1.3; " if TLS_CA else "set ftp:ssl-allow no; ")
        script = (f"{ssl}set ftp:passive-mode {'on' if mode == 'passive' else 'off'}; "
                  f"set net:max-retries 1; set net:timeout 30; set cmd:fail-exit yes; set xfer:clobber on; "
                  f"open -u {cfg.user},{cfg.password} -p {cfg.port} 127.0.0.1; {transfer}")
        return ["lftp", "--norc", "-c", script]
    # kadrooa reads the requests from a file and exits at its end.
    path = os.path.join(cfg.work, f"requests-{op}-{mode}.jsonl")
    params = [remote, local] if op == "get" else [local, remote, 0]
    with open(path, "w") as f:
        f.write(request(1, "setparm", setparm_params(cfg, mode)) + "\n")
        f.write(request(2, OP_METHOD[op], params) + "\n")
        f.write(request(3, "getErrorMsg", []) + "\n")
    return [cfg.kadrooa, path]


def check_kadrooa_result(op, stdout):
    responses = {}
    for line in stdout.decode(errors="replace").splitlines():
        try:
            response = json.loads(line)
        except ValueError:
            raise Failure(f"kadrooa wrote a line that is not JSON: {line[:200]}")
        responses[response.get("id")] = response
    transfer = responses.get(2, {})
    if transfer.get("result") != 1:
        message = responses.get(3, {}).get("result", "")
        raise Failure(f"kadrooa {OP_METHOD[op]} answered {json.dumps(transfer)[:300]}; getErrorMsg: {message!r}")


class Transfer:
    """A bulk transfer of one file: the download source on the server, or the upload source on the client."""

    def __init__(self, cfg, size, name):
        self.cfg, self.size = cfg, size
        self.remote = f"{name}.bin"
        self.server_path = os.path.join(cfg.root, self.remote)
        self.local_source = os.path.join(cfg.local, f"{name}-source.bin")
        self.download_target = os.path.join(cfg.local, f"{name}-download.bin")
        self.upload_remote = f"{name}-upload.bin"
        self.upload_path = os.path.join(cfg.root, self.upload_remote)
        write_random(self.server_path, size)
        os.link(self.server_path, self.local_source)  # one copy in memory serves both directions

    def run(self, client, op, mode):
        """Transfers once with `client`; checks the bytes outside the timing; gives the Measurement."""
        cfg = self.cfg
        if op == "get":
            remove(self.download_target)
            cmd = client_command(cfg, client, op, mode, self.remote, self.download_target)
        else:
            # The target exists with an old version (and an old backup), as when a document is saved again.
            self.clear_upload()
            put_server_file(cfg, self.upload_path, b"previous version\n")
            put_server_file(cfg, self.upload_path + ".old", b"older version\n")
            cmd = client_command(cfg, client, op, mode, self.upload_remote, self.local_source)
        measurement, stdout = run_measured(cfg, cmd, self.size, kadrooa_env(cfg) if client == "kadrooa" else None)
        if client == "kadrooa":
            check_kadrooa_result(op, stdout)
        what = f"{client} {'download' if op == 'get' else 'upload'} ({mode})"
        if op == "get":
            check_same(self.server_path, self.download_target, what)
            remove(self.download_target)
        else:
            check_same(self.local_source, self.upload_path, what)
            if client == "kadrooa":
                with open(self.upload_path + ".old", "rb") as f:
                    if f.read() != b"previous version\n":
                        raise Failure(f"{what}: {self.upload_remote}.old is not the previous version")
                if os.path.exists(self.upload_path + ".new"):
                    raise Failure(f"{what}: {self.upload_remote}.new left on the server")
            self.clear_upload()
        return measurement

    def clear_upload(self):
        for suffix in ("", ".new", ".old"):
            remove(self.upload_path + suffix)


# ---------------------------------------------------------------------------------------------------------------
# Statistics and formatting

def pycurl_version():
    try:
        import pycurl
    except ImportError:
        return "no pycurl"
    return re.sub(r"^(PycURL/\S+ libcurl/\S+).*", r"\1", pycurl.version)


def median(values):
    return statistics.median(values)


def span(values, fmt):
    return f"{fmt(min(values))}–{fmt(max(values))}"


def mbps(size, measurement):
    return size / measurement.wall / MB


def f0(x):
    return f"{x:.0f}"


def f2(x):
    return f"{x:.2f}"


def ratio_text(ratios):
    return f"{median(ratios):.2f}x ({min(ratios):.2f}–{max(ratios):.2f})"


def size_text(size):
    for unit, name in ((GiB, "GiB"), (MiB, "MiB"), (1024, "KiB")):
        if size >= unit and size % unit == 0:
            return f"{size // unit} {name}"
    return f"{size} bytes"


def progress(text):
    print(text, file=sys.stderr, flush=True)


def run_interleaved(cfg, cells, runs, one_run, label, show=lambda value: f"{value:.2f}"):
    """Runs every cell once as a warm-up, then `runs` rounds of all cells, the order rotating per round.
    `one_run(cell)` gives a number; gives {cell: [numbers per round]} and {cell: failure message}. A cell that
    fails once is not run again."""
    results = {cell: [] for cell in cells}
    failures = {}
    for round_ in range(-1, runs):
        order = cells[round_ % len(cells):] + cells[:round_ % len(cells)] if round_ >= 0 else list(cells)
        for cell in order:
            if cell in failures:
                continue
            try:
                value = one_run(cell)
            except Failure as failure:
                failures[cell] = str(failure)
                progress(f"  {label(cell)}: FAILED: {failure}")
                continue
            if round_ >= 0:
                results[cell].append(value)
            progress(f"  {'warm-up' if round_ < 0 else f'run {round_ + 1}/{runs}'} {label(cell)}: {show(value)}")
    return results, failures


# ---------------------------------------------------------------------------------------------------------------
# Rows

class Bench:
    def __init__(self, cfg):
        self.cfg = cfg
        self.missing = []           # kadrooa methods that the host does not know
        self.failed = False         # a transfer failed or gave wrong bytes
        self.bulk = {}              # (op, mode, client) -> [Measurement]
        self.bulk_failures = {}
        self.row_load = {}          # op -> load average when its row ended
        self.small = {}             # (op, "passive", "kadrooa") -> [Measurement] at SMALL_SIZE
        self.loopback = {}
        self.edit = {}
        self.edit_failures = {}
        self.stalls = {}            # mode -> [waits over STALL_SECONDS] in one traced kadrooa cycle, None: no trace
        self.notes = []
        self.targets = []           # (met, text)
        self.out = []

    def emit(self, line=""):
        self.out.append(line)

    def failure_note(self, what, message):
        """Adds a numbered note that explains a FAILED cell; gives its number."""
        hint = ""
        if "12004" in message:
            hint = " (12004, internal error: is the host's FTP layer still a placeholder?)"
        self.notes.append(f"[{len(self.notes) + 1}] {what} FAILED: {message}{hint}")
        return f"[{len(self.notes)}]"

    # -- kadrooa's methods ------------------------------------------------------------------------------------
    def probe_kadrooa(self):
        """Asks the host for each transfer method with no arguments: 'Method not found' (-32601) means it is not
        there yet; 'Invalid params' means it is."""
        lines = "".join(request(i, m, []) + "\n" for i, m in enumerate(TRANSFER_METHODS, 1))
        try:
            done = subprocess.run([self.cfg.kadrooa], input=lines.encode(), capture_output=True, timeout=30,
                                  start_new_session=True, env=kadrooa_env(self.cfg))
        except (OSError, subprocess.TimeoutExpired) as error:
            self.missing = list(TRANSFER_METHODS)
            self.notes.append(f"kadrooa could not be run: {error}")
            return
        answered = {}
        for line in done.stdout.decode(errors="replace").splitlines():
            try:
                response = json.loads(line)
            except ValueError:
                continue
            answered[response.get("id")] = response
        for i, method in enumerate(TRANSFER_METHODS, 1):
            error = answered.get(i, {}).get("error", {})
            if i not in answered or error.get("code") == -32601:
                self.missing.append(method)
        if self.missing:
            message = (f"kadrooa ({self.cfg.kadrooa}) has no {', '.join(self.missing)} (JSON-RPC -32601 Method not "
                       f"found): its rows FAILED. Merge main once the FTP client is there and run again.")
            self.notes.append(message)
            progress("ERROR: " + message)

    def kadrooa_can(self, *methods):
        return not any(m in self.missing for m in methods)

    # -- rows 1 and 2 ------------------------------------------------------------------------------------------
    def run_bulk(self, ops):
        cfg = self.cfg
        progress(f"preparing a {size_text(cfg.size)} random file on tmpfs")
        big = Transfer(cfg, cfg.size, "bulk")
        capture = ControlCapture(cfg)
        capture.start()
        for op in ops:
            progress(f"row {1 if op == 'get' else 2}: bulk {'download' if op == 'get' else 'upload'}, "
                     f"{size_text(cfg.size)}")
            cells = [(op, mode, client) for mode in MODES for client in CLIENTS
                     if (client != "kadrooa" or self.kadrooa_can(OP_METHOD[op]))
                     and not (TLS_CA and client == "curl" and mode == "active")]
            results, failures = run_interleaved(
                cfg, cells, cfg.runs, lambda cell: big.run(cell[2], cell[0], cell[1]),
                lambda cell: f"{cell[2]} {cell[1]}", self.show_measurement(cfg.size))
            self.bulk.update(results)
            self.bulk_failures.update(failures)
            self.row_load[op] = os.getloadavg()[0]
            self.failed |= bool(failures)
        replies = capture.stop()
        if replies is None:
            self.notes.append(f"the data phase was not timed: tcpdump on lo failed: {capture.error or '?'}")
        else:
            ControlCapture.assign(replies, [m for runs in self.bulk.values() for m in runs])
        for path in (big.server_path, big.local_source):
            remove(path)

    def run_small(self):
        """Measures kadrooa's peak RSS at 100 MiB, passive, download and upload, for the flatness check."""
        cfg = self.cfg
        cells = [(op, "passive", "kadrooa") for op in ("get", "put") if self.kadrooa_can(OP_METHOD[op])]
        if not cells:
            return
        progress(f"row 5: kadrooa at {size_text(SMALL_SIZE)} for peak RSS")
        small = Transfer(cfg, SMALL_SIZE, "small")
        results, failures = run_interleaved(cfg, cells, cfg.runs,
                                            lambda cell: small.run(cell[2], cell[0], cell[1]),
                                            lambda cell: f"kadrooa {cell[0]} {size_text(SMALL_SIZE)}",
                                            self.show_measurement(SMALL_SIZE))
        self.small.update(results)
        self.bulk_failures.update({("small",) + k: v for k, v in failures.items()})
        self.failed |= bool(failures)
        for path in (small.server_path, small.local_source):
            remove(path)

    @staticmethod
    def show_measurement(size):
        return lambda m: f"{mbps(size, m):.0f} MB/s, {m.rss_kib / 1024:.1f} MiB, {m.cpu:.2f} s CPU"

    def best_peer(self, op, mode):
        """Gives the peer with the highest median throughput in this direction and mode, or None."""
        candidates = [(median([mbps(self.cfg.size, m) for m in self.bulk[(op, mode, p)]]), p) for p in PEERS
                      if self.bulk.get((op, mode, p))]
        return max(candidates)[1] if candidates else None

    def pair_ratios(self, op, mode, peer, data=False):
        """kadrooa's speed over the peer's, per run; of the data phases alone when `data`."""
        k, p = self.bulk.get((op, mode, "kadrooa"), []), self.bulk.get((op, mode, peer), [])
        if data:
            return [b.data / a.data for a, b in zip(k, p) if a.data and b.data]
        n = min(len(k), len(p))
        return [mbps(self.cfg.size, k[i]) / mbps(self.cfg.size, p[i]) for i in range(n)]

    def print_bulk(self, op):
        cfg = self.cfg
        number = 1 if op == "get" else 2
        server = self.cfg.server.split()[0]
        title = (f"Bulk download, {{}} from {server} into a file on tmpfs" if op == "get" else
                 f"Bulk upload, {{}} from tmpfs to {server} (kadrooa: PutFile with its verify-and-swap)")
        self.emit(f"### {number}. {title.format(size_text(cfg.size))}")
        self.emit()
        self.emit("| Mode | Client | MB/s median | MB/s min–max | CPU s/GiB median | Data phase MB/s median | "
                  "Outside it, ms median | kadrooa / best peer, median of per-run ratios | Data phase alone |")
        self.emit("|---|---|---:|---:|---:|---:|---:|---|---|")
        for mode in MODES:
            peer = self.best_peer(op, mode)
            for client in CLIENTS:
                cell = (op, mode, client)
                name = f"kadrooa ({OP_METHOD[op]})" if client == "kadrooa" else client
                if client == "curl" and mode == "active":
                    name += " `--ftp-port 127.0.0.1`"
                if client == "lftp" and mode == "active":
                    name += " `ftp:passive-mode off`"
                if client == "curl" and op == "put":
                    name = name.replace("curl", "curl `-T`")
                if client == "lftp" and op == "put":
                    name = name.replace("lftp", "lftp `put`")
                if client == "kadrooa" and not self.kadrooa_can(OP_METHOD[op]):
                    self.emit(f"| {mode} | {name} | FAILED | method missing | | | | — | — |")
                    continue
                if TLS_CA and client == "curl" and mode == "active":
                    # curl 7.88 over TLS in active mode: the download hangs, the upload fails ("sa_addr inet_ntop()
                    # failed with errno 97").
                    self.emit(f"| {mode} | {name} | not run | curl fails active mode over TLS here | | | | — | — |")
                    continue
                if cell in self.bulk_failures:
                    note = self.failure_note(f"{client} {'download' if op == 'get' else 'upload'} ({mode})",
                                             self.bulk_failures[cell])
                    self.emit(f"| {mode} | {name} | FAILED | see note {note} | | | | — | — |")
                    continue
                runs = self.bulk.get(cell, [])
                rates = [mbps(cfg.size, m) for m in runs]
                if not rates:
                    continue
                cpu = f2(median([m.cpu / (cfg.size / GiB) for m in runs]))
                phases = [m for m in runs if m.data]
                data = f0(median([cfg.size / m.data / MB for m in phases])) if phases else "—"
                outside = f0(median([(m.wall - m.data) * 1000 for m in phases])) if phases else "—"
                ratio = data_ratio = "—"
                if client == "kadrooa" and peer:
                    ratios = self.pair_ratios(op, mode, peer)
                    ratio = f"{ratio_text(ratios)} vs {peer}" if ratios else "—"
                    ratios = self.pair_ratios(op, mode, peer, data=True)
                    data_ratio = f"{ratio_text(ratios)} vs {peer}" if ratios else "—"
                elif client == peer:
                    ratio = data_ratio = "best peer"
                self.emit(f"| {mode} | {name} | {f0(median(rates))} | {span(rates, f0)} | {cpu} | {data} | "
                          f"{outside} | {ratio} | {data_ratio} |")
        self.emit()
        self.emit("CPU s/GiB: user + system time of the client process alone. Data phase: from the server's 150 (or "
                  "125) to its 226 on the control connection, as captured on lo; outside it: the rest of the "
                  "process's wall time (start, login, commands before and after the transfer, quit)."
                  + (f" Load average when the row ended: {self.row_load[op]:.2f}." if op in self.row_load else ""))
        self.emit()

    def bulk_targets(self, op):
        word = "download" if op == "get" else "upload"
        for mode in MODES:
            peer = self.best_peer(op, mode)
            ratios = self.pair_ratios(op, mode, peer) if peer else []
            if not ratios:
                self.targets.append((False, f"{word} {mode}: ≥ 1.0x the better of curl and lftp — no kadrooa figure"))
                continue
            value = median(ratios)
            self.targets.append((value >= 1.0, f"{word} {mode}: ≥ 1.0x the better of curl and lftp — "
                                               f"{value:.2f}x {peer}"))

    # -- row 3 -------------------------------------------------------------------------------------------------
    def run_loopback(self):
        cfg = self.cfg
        progress(f"row 3: loopback limit, iperf3 one stream, {size_text(cfg.size)}")

        def one(cell):
            cmd = ["iperf3", "-c", "127.0.0.1", "-p", str(cfg.iperf_port), "-n", str(cfg.size), "-J"]
            if cell == "zerocopy":
                cmd.append("-Z")
            for attempt in range(5):  # the server may still be closing the previous test
                try:
                    _, stdout = run_measured(cfg, cmd, cfg.size)
                    report = json.loads(stdout)
                    return report["end"]["sum_received"]["bits_per_second"] / 8 / MB
                except (Failure, ValueError, KeyError) as error:
                    last = error
                    time.sleep(0.3)
            raise Failure(f"iperf3: {last}")

        results, failures = run_interleaved(cfg, ["plain", "zerocopy"], cfg.runs, one, lambda c: f"iperf3 {c}",
                                            lambda value: f"{value:.0f} MB/s")
        self.loopback, self.loopback_failures = results, failures
        if failures:
            self.notes.append("iperf3 failed: " + "; ".join(failures.values()))

    def print_loopback(self):
        self.emit(f"### 3. Loopback limit, iperf3, one TCP stream on 127.0.0.1, {size_text(self.cfg.size)}")
        self.emit()
        self.emit("| Test | MB/s median | MB/s min–max |")
        self.emit("|---|---:|---:|")
        for cell, name in (("plain", "iperf3, 1 stream"), ("zerocopy", "iperf3 `-Z` (sendfile), 1 stream")):
            rates = self.loopback.get(cell)
            if rates:
                self.emit(f"| {name} | {f0(median(rates))} | {span(rates, f0)} |")
            else:
                self.emit(f"| {name} | FAILED | — |")
        limit = self.loopback.get("plain")
        figures = []
        for op, word in (("get", "download"), ("put", "upload")):
            rates = [mbps(self.cfg.size, m) for m in self.bulk.get((op, "passive", "kadrooa"), [])]
            if limit and rates:
                figures.append(f"passive {word} {100 * median(rates) / median(limit):.0f}%")
        if figures:
            self.emit()
            self.emit("kadrooa as a share of the single-stream limit: " + ", ".join(figures) + ".")
        self.emit()

    # -- row 4 -------------------------------------------------------------------------------------------------
    def run_edit(self):
        cfg = self.cfg
        progress(f"row 4: edit cycle, {size_text(EDIT_SIZE)} document and template, {cfg.cycles} cycles per run")
        edit_dir = os.path.join(cfg.root, "edit")
        os.makedirs(edit_dir, exist_ok=True)
        os.chown(edit_dir, cfg.uid, cfg.gid)
        template = os.urandom(EDIT_SIZE)
        put_server_file(cfg, os.path.join(edit_dir, "template.dot"), template)
        body = os.urandom(EDIT_SIZE)
        state = {}
        for client in EDIT_CLIENTS:
            first = self.version(body, client, -1, 0)
            put_server_file(cfg, os.path.join(edit_dir, f"{client}.doc"), first)
            state[client] = first
        counter = {client: 0 for client in EDIT_CLIENTS}
        cells = (["kadrooa"] if self.kadrooa_can("getFile", "saveFile") else []) + list(EDIT_PEERS)
        loops = {"kadrooa": self.edit_kadrooa, "ftplib": self.edit_ftplib, "curl": self.edit_curl,
                 "plain": lambda *args: self.edit_kadrooa(*args, client="plain")}

        def one(client, cycles):
            counter[client] += 1
            versions = [self.version(body, client, counter[client], i) for i in range(cycles)]
            loop = loops[client]
            seconds, state[client] = loop(template, state[client], versions)
            with open(os.path.join(edit_dir, f"{client}.doc"), "rb") as f:
                if f.read() != state[client]:
                    raise Failure(f"{client} edit cycle: the server's document is not the last saved version")
            return seconds / cycles * 1000

        results, failures = run_interleaved(
            cfg, cells, cfg.runs,
            lambda client: one(client, cfg.cycles if counter[client] > 0 else EDIT_WARMUP_CYCLES),
            lambda client: f"{client} ms/cycle")
        self.edit, self.edit_failures = results, failures
        self.failed |= bool(failures)
        if "kadrooa" in cells:
            self.stalls = {mode: self.trace_stalls(mode) for mode in MODES}

    @staticmethod
    def version(body, client, run, cycle):
        """Gives a 10 KiB document that names who saved it and when, so that every download can be checked."""
        head = f"{client} run {run} cycle {cycle}\n".encode()
        return head + body[len(head):]

    @staticmethod
    def rewrite(path, content):
        """Saves an edit: new bytes and an mtime surely later than the download's."""
        with open(path, "wb") as f:
            f.write(content)
        st = os.stat(path)
        os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns + 1_000_000_000))

    def edit_kadrooa(self, template, current, versions, client="kadrooa"):
        """One kadrooa process, one JSON-RPC session: setparm, getFile, getLocalFile, rewrite, saveFile per
        cycle. Gives the loop's seconds, without the checks, and the document's last version. `client` "plain"
        is kadrooa without TLS where the others use it."""
        cfg = self.cfg
        session = Session(cfg, len(versions))
        try:
            checking = 0.0
            start = time.perf_counter()
            for content in versions:
                session.call("setparm", setparm_params(cfg, "passive", client != "plain"))
                result = session.call("getFile", [f"edit/{client}.doc", "edit/template.dot"])
                if result != 1:
                    raise Failure(f"kadrooa getFile answered {result}: {session.call('getErrorMsg', [])!r}")
                local = session.call("getLocalFile", [])
                mark = time.perf_counter()
                moban = session.call("getMoBanFile", [])
                self.check_bytes(local, current, "kadrooa getFile document")
                self.check_bytes(moban, template, "kadrooa getFile template")
                checking += time.perf_counter() - mark
                self.rewrite(local, content)
                result = session.call("saveFile", [])
                if result != 1:
                    raise Failure(f"kadrooa saveFile answered {result}: {session.call('getErrorMsg', [])!r}")
                mark = time.perf_counter()
                for path in (local, moban):
                    if os.path.exists(path):
                        raise Failure(f"kadrooa saveFile left the temporary file {path}")
                current = content
                checking += time.perf_counter() - mark
            seconds = time.perf_counter() - start - checking
        finally:
            session.close()
        return seconds, current

    def edit_ftplib(self, template, current, versions):
        """The same FTP commands with ftplib in this process: template and document on a connection each, then
        STOR .new, SIZE, DELE .old, RNFR/RNTO doc → .old, RNFR/RNTO .new → doc on a third."""
        cfg = self.cfg
        local_doc = os.path.join(cfg.tmp, "ftplib-doc.tmp")
        local_template = os.path.join(cfg.tmp, "ftplib-template.tmp")
        remote = "edit/ftplib.doc"

        def connect():
            ftp = ftplib.FTP(timeout=30)
            ftp.connect("127.0.0.1", cfg.port)
            ftp.login(cfg.user, cfg.password)
            ftp.voidcmd("TYPE I")
            return ftp

        def download(name, path):
            ftp = connect()
            with open(path, "wb") as f, ftp.transfercmd("RETR " + name) as data:
                while chunk := data.recv(65536):
                    f.write(chunk)
            ftp.voidresp()
            ftp.quit()

        checking = 0.0
        start = time.perf_counter()
        for content in versions:
            download("edit/template.dot", local_template)
            download(remote, local_doc)
            mark = time.perf_counter()
            self.check_bytes(local_doc, current, "ftplib document")
            self.check_bytes(local_template, template, "ftplib template")
            checking += time.perf_counter() - mark
            self.rewrite(local_doc, content)
            ftp = connect()
            with open(local_doc, "rb") as f, ftp.transfercmd(f"STOR {remote}.new") as data:
                while chunk := f.read(65536):
                    data.sendall(chunk)
            ftp.voidresp()
            if ftp.size(f"{remote}.new") != os.path.getsize(local_doc):
                raise Failure("ftplib: SIZE of the uploaded document differs")
            try:
                ftp.delete(f"{remote}.old")
            except ftplib.error_perm:
                pass
            ftp.rename(remote, f"{remote}.old")
            ftp.rename(f"{remote}.new", remote)
            ftp.quit()
            os.remove(local_doc)
            os.remove(local_template)
            current = content
        return time.perf_counter() - start - checking, current

    def edit_curl(self, template, current, versions):
        """The same FTP commands with libcurl (pycurl) in this process: a connection for each download, then one
        for the upload whose rename and delete commands follow the transfer (CURLOPT_POSTQUOTE); the SIZE reply is
        read from the server's replies and compared."""
        import pycurl  # the Debian package python3-pycurl, installed by scripts/bench
        cfg = self.cfg
        local_doc = os.path.join(cfg.tmp, "curl-doc.tmp")
        local_template = os.path.join(cfg.tmp, "curl-template.tmp")
        remote = "edit/curl.doc"
        base = f"ftp://127.0.0.1:{cfg.port}/"

        def handle(path):
            c = pycurl.Curl()
            c.setopt(pycurl.URL, base + path)
            c.setopt(pycurl.USERPWD, f"{cfg.user}:{cfg.password}")
            c.setopt(pycurl.FTP_FILEMETHOD, pycurl.FTPMETHOD_NOCWD)  # the path as given, like the others
            c.setopt(pycurl.TIMEOUT, 30)
            if TLS_CA:
                c.setopt(pycurl.USE_SSL, pycurl.USESSL_ALL)
                c.setopt(pycurl.CAINFO, TLS_CA)
                c.setopt(pycurl.SSLVERSION, pycurl.SSLVERSION_TLSv1_3)
            return c

        def download(name, path):
            c = handle(name)
            with open(path, "wb") as f:
                c.setopt(pycurl.WRITEDATA, f)
                c.perform()
            c.close()  # closing the handle ends the session with QUIT

        checking = 0.0
        start = time.perf_counter()
        for content in versions:
            download("edit/template.dot", local_template)
            download(remote, local_doc)
            mark = time.perf_counter()
            self.check_bytes(local_doc, current, "curl document")
            self.check_bytes(local_template, template, "curl template")
            checking += time.perf_counter() - mark
            self.rewrite(local_doc, content)
            replies = io.BytesIO()
            c = handle(f"{remote}.new")
            with open(local_doc, "rb") as f:
                c.setopt(pycurl.UPLOAD, 1)
                c.setopt(pycurl.READDATA, f)
                c.setopt(pycurl.INFILESIZE, os.path.getsize(local_doc))
                c.setopt(pycurl.HEADERFUNCTION, replies.write)
                c.setopt(pycurl.POSTQUOTE, [f"SIZE {remote}.new", f"*DELE {remote}.old", f"RNFR {remote}",
                                            f"RNTO {remote}.old", f"RNFR {remote}.new", f"RNTO {remote}"])
                c.perform()
            c.close()
            size = re.search(rb"^213 (\d+)", replies.getvalue(), re.M)
            if not size or int(size.group(1)) != len(content):
                raise Failure("curl: SIZE of the uploaded document differs")
            os.remove(local_doc)
            os.remove(local_template)
            current = content
        return time.perf_counter() - start - checking, current

    def trace_stalls(self, mode):
        """Runs one kadrooa edit cycle (setparm, getFile, saveFile) under strace and gives the waits on the
        network that took longer than STALL_SECONDS, each with what ended it; None when strace failed."""
        cfg = self.cfg
        requests = os.path.join(cfg.work, f"stall-{mode}.jsonl")
        trace = os.path.join(cfg.work, f"stall-{mode}.strace")
        with open(requests, "w") as f:
            f.write(request(1, "setparm", setparm_params(cfg, mode)) + "\n")
            f.write(request(2, "getFile", ["edit/kadrooa.doc", "edit/template.dot"]) + "\n")
            f.write(request(3, "saveFile", []) + "\n")
        # The cycle leaves the document as it found it: saveFile puts back what getFile fetched.
        cmd = ["strace", "-f", "-T", "-o", trace, "-e", "trace=connect,poll,ppoll,recvfrom,accept,accept4",
               cfg.kadrooa, requests]
        try:
            done = subprocess.run(cmd, capture_output=True, timeout=120, env=kadrooa_env(cfg),
                                  start_new_session=True)
            with open(trace) as f:
                lines = f.read().splitlines()
        except (OSError, subprocess.TimeoutExpired) as error:
            progress(f"  strace of one kadrooa cycle ({mode}) failed: {error}")
            return None
        if b'"result":-1' in done.stdout.replace(b" ", b""):
            progress(f"  strace of one kadrooa cycle ({mode}): the cycle failed: {done.stdout[-300:]!r}")
            return None
        stalls = []
        for i, line in enumerate(lines):
            took = re.search(r"<([\d.]+)>$", line)
            if not took or float(took.group(1)) <= STALL_SECONDS:
                continue
            ended = next((re.search(r'recvfrom\(\d+, "([^"]{0,40})', x) for x in lines[i + 1:i + 3]
                          if "recvfrom(" in x), None)
            what = ended.group(1).replace("\\r\\n", " ").strip() if ended else line.split("(")[0].split()[-1]
            stalls.append(f"{float(took.group(1)) * 1000:.0f} ms before “{what}”")
        progress(f"  strace of one kadrooa cycle ({mode}): {len(stalls)} waits over "
                 f"{STALL_SECONDS * 1000:.0f} ms" + (": " + "; ".join(stalls) if stalls else ""))
        return stalls

    @staticmethod
    def check_bytes(path, expected, what):
        try:
            with open(path, "rb") as f:
                actual = f.read()
        except OSError as error:
            raise Failure(f"{what}: {error}")
        if actual != expected:
            raise Failure(f"{what}: {path} has {len(actual)} bytes that differ from the {len(expected)} expected")

    def print_edit(self):
        cfg = self.cfg
        self.emit(f"### 4. Edit cycle, {size_text(EDIT_SIZE)} document and {size_text(EDIT_SIZE)} template, "
                  f"{cfg.cycles} cycles per run in one process, passive")
        self.emit()
        self.emit("| Client | ms/cycle median | ms/cycle min–max | kadrooa / peer, median of per-run ratios |")
        self.emit("|---|---:|---:|---|")
        k = self.edit.get("kadrooa", [])
        ratios = {}
        for peer in EDIT_PEERS:
            p = self.edit.get(peer, [])
            if k and p:
                ratios[peer] = [k[i] / p[i] for i in range(min(len(k), len(p)))]
        rows = (("kadrooa", "kadrooa: setparm, getFile, rewrite, saveFile (one JSON-RPC session)"),
                ("ftplib", "Python ftplib: same FTP commands, 3 connections"),
                ("curl", "libcurl (pycurl): same FTP commands, 3 connections"),
                ("plain", "kadrooa without TLS: the same calls over plain FTP"))
        for client, name in rows:
            if client == "kadrooa" and not self.kadrooa_can("getFile", "saveFile"):
                self.emit(f"| {name} | FAILED | method missing | — |")
            elif client in self.edit_failures:
                note = self.failure_note(f"{client} edit cycle", self.edit_failures[client])
                self.emit(f"| {name} | FAILED | see note {note} | — |")
            elif self.edit.get(client):
                values = self.edit[client]
                ratio = ", ".join(f"{ratio_text(r)} vs {peer}" for peer, r in ratios.items()) \
                    if client == "kadrooa" else "—"
                self.emit(f"| {name} | {f2(median(values))} | {span(values, f2)} | {ratio or '—'} |")
        self.emit()
        peers = [(median(self.edit[p]), p) for p in EDIT_PEERS if self.edit.get(p)]
        best = min(peers)[1] if peers else None
        if TLS_CA:
            met = "plain" in ratios and median(ratios["plain"]) <= 1.1
            self.targets.append((met, "edit cycle over TLS: ≤ 1.1x kadrooa's plain cycle — " +
                                 (f"{median(ratios['plain']):.2f}x" if "plain" in ratios else "no figure")))
        elif best and best in ratios:
            met = median(ratios[best]) <= 1.0
            self.targets.append((met, f"edit cycle: ≤ 1.0x the better of ftplib and curl per cycle — "
                                      f"{median(ratios[best]):.2f}x {best}"))
        else:
            self.targets.append((False, "edit cycle: ≤ 1.0x the better of ftplib and curl per cycle — no figure"))
        stalls = self.stalls
        if stalls:
            self.emit(f"Waits over {STALL_SECONDS * 1000:.0f} ms on the network in one kadrooa cycle under strace "
                      f"(setparm, getFile, saveFile):")
            self.emit()
            for mode in MODES:
                found = stalls.get(mode)
                text = "strace failed" if found is None else "; ".join(found) if found else "none"
                self.emit(f"- {mode}: {text}")
            self.emit()
            counted = [len(v) for v in stalls.values() if v is not None]
            self.targets.append((len(counted) == len(MODES) and not any(counted),
                                 f"no reply waits on a delayed acknowledgement: waits over "
                                 f"{STALL_SECONDS * 1000:.0f} ms in one cycle — " +
                                 ", ".join(f"{m} {'?' if stalls.get(m) is None else len(stalls[m])}"
                                           for m in MODES)))

    # -- row 5 -------------------------------------------------------------------------------------------------
    def print_cost(self):
        cfg = self.cfg
        gib = cfg.size / GiB
        self.emit(f"### 5. Cost per client process, {size_text(cfg.size)} transfers of rows 1 and 2")
        self.emit()
        self.emit("| Transfer | Mode | Client | Peak RSS MiB median (min–max) | CPU s/GiB, user+system, median "
                  "(min–max) |")
        self.emit("|---|---|---|---:|---:|")
        for op in ("get", "put"):
            for mode in MODES:
                for client in CLIENTS:
                    runs = self.bulk.get((op, mode, client))
                    if not runs:
                        continue
                    rss = [m.rss_kib / 1024 for m in runs]
                    cpu = [m.cpu / gib for m in runs]
                    self.emit(f"| {'download' if op == 'get' else 'upload'} | {mode} | {client} | "
                              f"{f2(median(rss))} ({span(rss, f2)}) | {f2(median(cpu))} ({span(cpu, f2)}) |")
        self.emit()

        rss_ok, cpu_ok, details_rss, details_cpu = True, True, [], []
        for op in ("get", "put"):
            for mode in MODES:
                k, c = self.bulk.get((op, mode, "kadrooa")), self.bulk.get((op, mode, "curl"))
                if TLS_CA and mode == "active":
                    continue  # curl is not run there
                if not k or not c:
                    rss_ok = cpu_ok = False
                    continue
                kr, cr = median([m.rss_kib for m in k]) / 1024, median([m.rss_kib for m in c]) / 1024
                kc, cc = median([m.cpu for m in k]) / gib, median([m.cpu for m in c]) / gib
                rss_ok &= kr <= cr
                cpu_ok &= kc <= cc
                word = "down" if op == "get" else "up"
                details_rss.append(f"{word} {mode} {kr:.1f} vs {cr:.1f}")
                details_cpu.append(f"{word} {mode} {kc:.2f} vs {cc:.2f}")

        flat_ok, details_flat = bool(self.small), []
        if self.small:
            self.emit(f"kadrooa's peak RSS, passive, {size_text(SMALL_SIZE)} vs {size_text(cfg.size)}:")
            self.emit()
            self.emit(f"| Transfer | {size_text(SMALL_SIZE)}: MiB median (min–max) | "
                      f"{size_text(cfg.size)}: MiB median (min–max) | Growth MiB |")
            self.emit("|---|---:|---:|---:|")
            for op in ("get", "put"):
                small = self.small.get((op, "passive", "kadrooa"))
                big = self.bulk.get((op, "passive", "kadrooa"))
                if not small or not big:
                    flat_ok = False
                    continue
                s = [m.rss_kib / 1024 for m in small]
                b = [m.rss_kib / 1024 for m in big]
                growth = median(b) - median(s)
                # Flat: fixed buffers, so no more than 1 MiB (allocator and page-cache noise) between the sizes.
                flat_ok &= growth <= 1.0
                details_flat.append(f"{'download' if op == 'get' else 'upload'} {growth:+.2f} MiB")
                self.emit(f"| {'download' if op == 'get' else 'upload'} | {f2(median(s))} ({span(s, f2)}) | "
                          f"{f2(median(b))} ({span(b, f2)}) | {growth:+.2f} |")
            self.emit()
        self.targets.append((rss_ok and bool(details_rss),
                             "peak RSS ≤ curl's (medians, MiB, kadrooa vs curl): " +
                             (", ".join(details_rss) or "no kadrooa figure")))
        self.targets.append((flat_ok, f"peak RSS flat for {size_text(SMALL_SIZE)} vs {size_text(cfg.size)} "
                                      f"(growth ≤ 1 MiB): " + (", ".join(details_flat) or "no kadrooa figure")))
        self.targets.append((cpu_ok and bool(details_cpu),
                             "CPU s/GiB ≤ curl's (medians, kadrooa vs curl): " +
                             (", ".join(details_cpu) or "no kadrooa figure")))

    # -- the whole report --------------------------------------------------------------------------------------
    def machine(self):
        cfg = self.cfg
        model = "unknown"
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
        with open("/proc/meminfo") as f:
            memory = int(re.search(r"MemTotal:\s+(\d+)", f.read()).group(1)) * 1024

        def version(cmd, pattern=None):
            try:
                text = subprocess.run(cmd, capture_output=True, text=True, timeout=10, stdin=subprocess.DEVNULL)
            except (OSError, subprocess.TimeoutExpired):
                return "?"
            output = (text.stdout + text.stderr).strip()
            match = re.search(pattern, output) if pattern else None
            return match.group(0) if match else output.splitlines()[0] if output else "?"

        over = " over TLS 1.3 (FTP with AUTH TLS, PROT P)" if TLS_CA else ""
        self.emit(f"## Transfer benchmark{over}: kadrooa vs curl, lftp, ftplib and the loopback limit")
        self.emit()
        self.emit(f"- Machine: {os.cpu_count()} CPUs (nproc), {model}, Linux {platform.release()}, "
                  f"{memory / GiB:.1f} GiB memory; load average at start {os.getloadavg()[0]:.2f}")
        self.emit(f"- Server: {cfg.server} on "
                  f"127.0.0.1:{cfg.port}, local user with a SHA-512 (1000 rounds) password hash, files on tmpfs ({cfg.work})")
        self.emit(f"- Clients: kadrooa {os.environ.get('KADROOA_REVISION', '')} ({cfg.kadrooa}), "
                  f"{version(['curl', '--version'], r'curl [0-9.]+')}, "
                  f"{version(['lftp', '--version'], r'Version [0-9.]+').replace('Version', 'lftp')}, "
                  f"Python {platform.python_version()} ftplib, {pycurl_version()}, "
                  f"{version(['iperf3', '--version'], r'iperf [0-9.]+')}")
        self.emit(f"- Method: {cfg.runs} interleaved runs after a warm-up, order rotating per run; medians and "
                  f"min–max; ratios are kadrooa/peer per run index, then their median. Throughput in MB/s "
                  f"(10^6 bytes/s) from the wall clock of each client process (start to exit: connect, login, "
                  f"transfer, quit). Every transfer's bytes are checked (size, cmp) outside the timing.")
        self.emit()

    def report(self):
        if self.out and self.out[-1] != "":
            self.emit()
        if self.targets:
            self.emit("### Targets")
            self.emit()
            for met, text in self.targets:
                self.emit(f"- [{'x' if met else ' '}] {'met' if met else 'not met'}: {text}")
            self.emit()
        if self.notes:
            self.emit("Notes:")
            self.emit()
            for note in self.notes:
                self.emit(f"- {note}")
            self.emit()
        load = os.getloadavg()[0]
        self.emit(f"Load average at the end: {load:.2f}. "
                  f"{'All transfers correct.' if not self.failed else 'SOME TRANSFERS FAILED (see above).'}")
        print("\n".join(self.out), flush=True)


class Session:
    """A kadrooa process answering JSON-RPC requests one line at a time; killed if it outlives its deadline."""

    def __init__(self, cfg, cycles):
        self.errors = open(os.path.join(cfg.work, "kadrooa-session.stderr"), "wb")
        self.process = subprocess.Popen([cfg.kadrooa], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=self.errors, env=kadrooa_env(cfg), start_new_session=True)
        _live.add(self.process)
        self.next_id = 0
        self.expired = False
        self.timer = threading.Timer(60 + cycles * 1.0, self.expire)
        self.timer.start()

    def expire(self):
        self.expired = True
        _kill_group(self.process)

    def call(self, method, params):
        self.next_id += 1
        try:
            self.process.stdin.write((request(self.next_id, method, params) + "\n").encode())
            self.process.stdin.flush()
            line = self.process.stdout.readline()
        except BrokenPipeError:
            line = b""
        if not line:
            raise Failure(f"kadrooa {'timed out' if self.expired else 'exited'} during {method}")
        response = json.loads(line)
        if "error" in response:
            raise Failure(f"kadrooa {method}: {json.dumps(response['error'])[:300]}")
        return response.get("result")

    def close(self):
        self.timer.cancel()
        try:
            self.process.stdin.close()
            self.process.wait(timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            _kill_group(self.process)
            self.process.wait()
        _live.discard(self.process)
        self.errors.close()


# ---------------------------------------------------------------------------------------------------------------

def parse_size(text):
    match = re.fullmatch(r"(\d+)([KMG]?)(i?B)?", text.strip(), re.I)
    if not match or int(match.group(1)) == 0:
        raise argparse.ArgumentTypeError(f"bad size {text!r}: use e.g. 64M, 256M, 1G (binary units) or bytes")
    unit = {"": 1, "K": 1024, "M": MiB, "G": GiB}[match.group(2).upper()]
    return int(match.group(1)) * unit


def parse_rows(text):
    rows = set()
    for part in text.split(","):
        part = part.strip().lower()
        if part in ROW_NAMES:
            rows.add(ROW_NAMES[part])
        elif part.isdigit() and 1 <= int(part) <= 5:
            rows.add(int(part))
        else:
            raise argparse.ArgumentTypeError(f"bad row {part!r}: use 1-5 or {', '.join(ROW_NAMES)}")
    return rows


def positive(text):
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be at least 1")
    return value


def main():
    parser = argparse.ArgumentParser(prog="bench")
    parser.add_argument("--size", type=parse_size, default=GiB)
    parser.add_argument("--runs", type=positive, default=5)
    parser.add_argument("--only", type=parse_rows, default={1, 2, 3, 4, 5})
    parser.add_argument("--cycles", type=positive, default=200)
    cfg = Config(parser.parse_args())
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    os.makedirs(cfg.local, exist_ok=True)
    os.makedirs(cfg.tmp, exist_ok=True)

    bench = Bench(cfg)
    try:
        bench.probe_kadrooa()
        bench.machine()
        ops = [op for op, row in (("get", 1), ("put", 2)) if row in cfg.rows or 5 in cfg.rows]
        if ops:
            bench.run_bulk(ops)
        if 5 in cfg.rows:
            bench.run_small()
        if 3 in cfg.rows:
            bench.run_loopback()
        if 4 in cfg.rows:
            bench.run_edit()
        for op, row in (("get", 1), ("put", 2)):
            if row in cfg.rows:
                bench.print_bulk(op)
                bench.bulk_targets(op)
        if 3 in cfg.rows:
            bench.print_loopback()
        if 4 in cfg.rows:
            bench.print_edit()
        if 5 in cfg.rows:
            bench.print_cost()
        # quit.txt is the control's FTP quit script, rewritten before every transfer and never deleted.
        leftovers = sorted(set(os.listdir(cfg.tmp)) - {"quit.txt"})
        if leftovers:
            bench.notes.append(f"files left in kadrooa's TMPDIR: {', '.join(leftovers[:10])}")
        bench.report()
    finally:
        kill_live_processes()
    if bench.failed:
        return EXIT_WRONG
    if bench.missing:
        return EXIT_NO_KADROOA
    return 0


if __name__ == "__main__":
    sys.exit(main())
