#!/usr/bin/python3
"""Send Files and Receive Files against zip + curl and curl + unzip, on the same data, side by side.

Run through bench/run.sh, which builds the programs first. For every data set: ours and the peer alternate,
RUNS times each, and the medians are compared. Ours is tools' workflow_bench in a child process of its own
(its peak resident memory is that child's maxrss); it reports each step's time, the longest gap of a 5 ms probe
timer on its event loop, and, in runs of their own, how long a cancel in the middle of each step takes.
The window set runs Receive Files through the program's main window itself (window_bench: a sample installation,
Test Connection, a click on Receive Files) against vsftpd, timed from the click to the final status line and to
the end of the run.
"""

import argparse
import ctypes
import datetime
import json
import os
import platform
import pwd
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import zlib

USER, PASSWORD = "bench", "bench-pw"
MiB = 1 << 20
CANCEL_MIN_STEP = 0.1  # s: shorter steps have no middle worth aiming at

# key, layout, MiB (0: small files of about 8 KiB), files in the bulk folder, in full runs only
SETS = [
    ("256MiB", "online", 256, 8, False),
    ("1GiB", "tova", 1024, 16, False),
    ("2GiB", "ledgra", 2048, 24, True),
    ("5k", "ledgra", 0, 5000, False),
    ("20k", "ledgra", 0, 20000, False),
    ("window", "ledgra", 0, 5000, False),
]
WINDOW_KIB = (8, 20)  # the window set's files: 8 to 20 KiB
WINDOW_JOBS = ("window, to the final status line", "window, to the end of the run")


def log(*args):
    print(*args, file=sys.stderr, flush=True)


def median(values):
    return statistics.median(values) if values else None


# ---------------------------------------------------------------- FTP servers


class Server:
    """A loopback FTP server whose home for the account is `home`; stopped by stop()."""

    def __init__(self, kind, work, here):
        self.kind = kind
        self.root = os.path.join(work, "ftp-root")
        self.proc = None
        if kind == "pyftpdlib":
            self.user, self.password = USER, PASSWORD
            self.home = os.path.join(self.root, "home", self.user)
            os.makedirs(self.home)
            self.proc = subprocess.Popen(
                ["/usr/bin/python3", os.path.join(here, "ftpserver.py"), self.root, self.user, self.password],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
            line = self.proc.stdout.readline().split()
            if len(line) != 2 or line[0] != "PORT":
                raise RuntimeError("the FTP server did not start")
            self.port = int(line[1])
        else:
            self._start_vsftpd(work)

    def _start_vsftpd(self, work):
        # Debian's vsftpd, unpacked and run with a configuration of its own: no system service. Anonymous
        # access (no system account or PAM set-up needed) under a root of our own; the anonymous session runs
        # as a system account whose home exists, since vsftpd changes into it.
        pkg = os.path.join(work, "vsftpd")
        os.makedirs(pkg)
        subprocess.run(["apt-get", "download", "-qq", "vsftpd"], cwd=pkg, check=True, stderr=subprocess.DEVNULL)
        deb = [f for f in os.listdir(pkg) if f.endswith(".deb")][0]
        subprocess.run(["dpkg-deb", "-x", deb, "x"], cwd=pkg, check=True)
        account = next(p for p in pwd.getpwall() if p.pw_uid != 0 and os.path.isdir(p.pw_dir)
                       and p.pw_name in ("ftp", "daemon", "bin"))
        self.user, self.password = "anonymous", "bench@localhost"
        self.home = os.path.join(self.root, "home", self.user)
        os.makedirs(self.home)
        os.chmod(self.root, 0o755)
        os.chown(self.home, account.pw_uid, account.pw_gid)
        empty = os.path.join(pkg, "empty")
        os.makedirs(empty)
        self.port = free_port()
        conf = os.path.join(pkg, "vsftpd.conf")
        with open(conf, "w") as f:
            f.write("\n".join([
                "listen=YES", "listen_ipv6=NO", "listen_address=127.0.0.1", f"listen_port={self.port}",
                "background=NO", "seccomp_sandbox=NO", "isolate=NO", "isolate_network=NO",
                "anonymous_enable=YES", "local_enable=NO", "no_anon_password=YES", f"ftp_username={account.pw_name}",
                f"anon_root={self.root}", "write_enable=YES", "anon_upload_enable=YES", "anon_mkdir_write_enable=YES",
                "anon_other_write_enable=YES", "anon_umask=022", f"secure_chroot_dir={empty}", "xferlog_enable=NO",
                "tcp_wrappers=NO", "connect_from_port_20=NO", ""]))
        os.chmod(conf, 0o600)
        self.proc = subprocess.Popen([os.path.join(pkg, "x/usr/sbin/vsftpd"), conf], stdin=subprocess.DEVNULL,
                                     preexec_fn=end_with_parent)
        deadline = time.monotonic() + 10
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline or self.proc.poll() is not None:
                    raise RuntimeError("vsftpd did not start")
                time.sleep(0.05)

    @property
    def host(self):
        return f"127.0.0.1:{self.port}"

    def url(self, name):
        return f"ftp://127.0.0.1:{self.port}/home/{self.user}/{name}"

    def cpu_seconds(self):
        # Its own time and that of the session processes it has reaped (vsftpd forks one per login).
        with open(f"/proc/{self.proc.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return sum(int(v) for v in fields[11:15]) / os.sysconf("SC_CLK_TCK")

    def stop(self):
        if self.proc and self.proc.poll() is None:
            if self.proc.stdin:
                self.proc.stdin.close()
            else:
                self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def end_with_parent():
    # PR_SET_PDEATHSIG: the server goes when the benchmark does, however that ends.
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def curl_auth(server):
    return ["--user", f"{server.user}:{server.password}"]


def check_server(server, work):
    """curl alone against the server: what it moves when nothing else does."""
    blob = os.path.join(work, "server-check.bin")
    with open(blob, "wb") as f:
        for _ in range(256):
            f.write(os.urandom(MiB))
    up, down, cpu = [], [], []
    for _ in range(3):
        before = server.cpu_seconds()
        start = time.monotonic()
        subprocess.run(["curl", "-sS", "-T", blob, server.url("check.bin")] + curl_auth(server), check=True)
        up.append(time.monotonic() - start)
        start = time.monotonic()
        subprocess.run(["curl", "-sS", "-o", os.devnull, server.url("check.bin")] + curl_auth(server), check=True)
        down.append(time.monotonic() - start)
        time.sleep(0.2)  # vsftpd reaps its session processes after they end
        cpu.append(server.cpu_seconds() - before)
    os.remove(blob)
    os.remove(os.path.join(server.home, "check.bin"))
    return {"upload_mib_s": 256 / median(up), "download_mib_s": 256 / median(down),
            "server_cpu_s_per_gib": median(cpu) / 256 * 1024}


# ---------------------------------------------------------------- data sets


class DataSet:
    def __init__(self, key, layout, mib, files, build, work, seed, kib=None):
        self.key, self.layout, self.mib, self.files, self.kib = key, layout, mib, files, kib
        self.folder = os.path.join(work, "sets", key, "data")
        subprocess.run([os.path.join(build, "bench_datagen"), self.folder, layout, str(mib), str(files), str(seed)]
                       + ([str(kib[0]), str(kib[1])] if kib else []), check=True)
        self.manifest = self.scan(True)
        self.bytes = sum(size for size, _ in self.manifest.values())
        self.count = len(self.manifest)

    @property
    def label(self):
        size = f"{self.mib // 1024} GiB" if self.mib >= 1024 else f"{self.mib} MiB"
        if self.mib:
            return f"{size} {self.layout}, {self.count} files"
        if self.kib:
            return f"{self.files:,} x {self.kib[0]}-{self.kib[1]} KiB {self.layout}"
        return f"{self.files:,} x 8 KiB {self.layout}"

    def names(self):
        """The data set's files as the peers name them (absolute)."""
        f = self.folder
        if self.layout == "tova":
            return "{}/*".format(sh(f))
        dbs = ["ledgra2.mdb"] + (["norvane.mdb"] if self.layout == "online" else [])
        return " ".join(sh(os.path.join(f, d)) for d in dbs) + " {}/data_qmx/*".format(sh(f))

    def scan(self, checksums):
        found = {}
        for top, _, names in os.walk(self.folder):
            for n in names:
                path = os.path.join(top, n)
                rel = os.path.relpath(path, self.folder)
                crc = None
                if checksums:
                    crc = 0
                    with open(path, "rb") as fh:
                        while chunk := fh.read(4 * MiB):
                            crc = zlib.crc32(chunk, crc)
                found[rel] = (os.path.getsize(path), crc)
        return found

    def verify(self, checksums):
        """Compares the data set as it stands with what was generated: (files missing or changed, what was
        left behind). What was left behind is removed, so that the next run starts from the same place."""
        now = self.scan(checksums)
        damaged = []
        for rel, (size, crc) in self.manifest.items():
            if rel not in now:
                damaged.append(f"missing: {rel}")
            elif now[rel][0] != size or (checksums and now[rel][1] != crc):
                damaged.append(f"changed: {rel}")
        left = []
        for entry in sorted(os.listdir(self.folder)):
            path = os.path.join(self.folder, entry)
            if os.path.isdir(path) and entry != "data_qmx":
                left.append(entry + "/")
                shutil.rmtree(path)
        for rel in sorted(set(now) - set(self.manifest)):
            if os.path.exists(os.path.join(self.folder, rel)):
                left.append(rel)
                os.remove(os.path.join(self.folder, rel))
        return damaged, left

    def problems(self, checksums):
        damaged, left = self.verify(checksums)
        return damaged + [f"left behind: {x}" for x in left]


def sh(path):
    return "'" + path.replace("'", "'\\''") + "'"


# ---------------------------------------------------------------- the jobs


def run_ours(build, job, data, server, cancel=None):
    args = [os.path.join(build, "workflow_bench"), job, data.folder, data.layout, server.host, server.user,
            server.password]
    if cancel:
        args += [str(cancel[0]), str(cancel[1])]
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    proc = subprocess.run(args, capture_output=True, text=True, env=env)
    if proc.returncode != 0:
        raise RuntimeError(f"workflow_bench {job} exited with {proc.returncode}: {proc.stderr[-2000:]}")
    # The child's own high-water mark: its maxrss as the parent gets it also counts the parent's pages, which a
    # vfork'ed child shares until it starts the program.
    result = json.loads(proc.stdout)
    result["maxrss_mib"] = result["peak_rss_mib"]
    return result


def run_window(build, data, server, windir):
    """Receive Files through the main window: the click to the final status line, and to the end of the run."""
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", WINDIR=windir, ZEL_FTP_HOST=server.host)
    proc = subprocess.run([os.path.join(build, "window_bench"), server.user, server.password], capture_output=True,
                          text=True, env=env)
    if proc.returncode != 0:
        raise RuntimeError(f"window_bench exited with {proc.returncode}: {proc.stderr[-2000:]}")
    return json.loads(proc.stdout)


def run_peer(job, data, server):
    f = data.folder
    auth = " ".join(sh(a) for a in curl_auth(server))
    if job == "send":
        archive = os.path.join(f, "ZEL.ZIP")
        cmd = (f"printf '%s\\n' {data.names()} | zip -q -6 {sh(archive)} -@ && "
               f"curl -sS {auth} -T {sh(archive)} {sh(server.url('ZEL.ZIP'))} && rm -f {sh(archive)}")
    else:
        archive = os.path.join(f, "FIXED.ZIP")
        fetch = f"curl -sS {auth} -o {sh(archive)} {sh(server.url('FIXED.ZIP'))}"
        if data.layout == "tova":
            cmd = f"cd {sh(f)} && rm -f -- * && {fetch} && unzip -o -j -q {sh(archive)} -d . && rm -f {sh(archive)}"
        else:
            # Everything lands in data_qmx; the databases then go up into the data folder.
            dbs = ["ledgra2.mdb"] + (["norvane.mdb"] if data.layout == "online" else [])
            cmd = (f"cd {sh(f)} && rm -f -- {' '.join(dbs)} data_qmx/* && {fetch} && "
                   f"unzip -o -j -q {sh(archive)} -d data_qmx && mv {' '.join('data_qmx/' + d for d in dbs)} . && "
                   f"rm -f {sh(archive)}")
    start = time.monotonic()
    subprocess.run(["bash", "-c", cmd], check=True)
    return time.monotonic() - start


def settle():
    """Every run starts from a data set that is on disk, as a customer's is, and inherits no write-back from the
    run before. It matters: on a disk that discards freed blocks, removing a file that was written back costs
    milliseconds, removing one still in the page cache almost nothing."""
    os.sync()


def short_step(name, data, server):
    return name.replace(data.folder + "\\", "").replace(server.host, "server")


def measure_set(data, server, build, runs, cancels_too):
    res = {"key": data.key, "label": data.label, "bytes": data.bytes, "files": data.count, "jobs": {}}
    problems = res["problems"] = []

    # What the receive downloads, and the size a send is compared with: Info-ZIP at level 6 on the same files.
    reference = os.path.join(server.home, "FIXED.ZIP")
    subprocess.run(["bash", "-c", f"printf '%s\\n' {data.names()} | zip -q -6 {sh(reference)} -@"], check=True)
    zip6_size = os.path.getsize(reference)
    sent = os.path.join(server.home, "ZEL.ZIP")

    for job in ("send", "receive"):
        ours, peer = [], []
        archive_sizes = []
        for i in range(runs):
            for who in (("ours", "peer") if i % 2 == 0 else ("peer", "ours")):
                settle()
                if who == "ours":
                    r = run_ours(build, job, data, server)
                    if not r["ok"]:
                        problems.append(f"{job} failed: {r['boxes'][1:]}")
                    ours.append(r)
                    if job == "send" and os.path.exists(sent):
                        archive_sizes.append(os.path.getsize(sent))
                        if i == 0:
                            t = subprocess.run(["unzip", "-tq", sent], capture_output=True, text=True)
                            if t.returncode != 0:
                                problems.append(f"unzip -t fails on our archive: {t.stdout.strip()[-200:]}")
                    problems += [f"after our {job}: {p}" for p in data.problems(checksums=job == "receive")]
                else:
                    peer.append(run_peer(job, data, server))
                    problems += [f"after the peer's {job}: {p}" for p in data.problems(checksums=False)]
                if os.path.exists(sent):
                    os.remove(sent)
            log(f"  {data.key} {job} run {i + 1}: ours {ours[-1]['seconds']:.2f} s, peer {peer[-1]:.2f} s")

        # Steps as the first run saw them; times are medians over the runs.
        names = [s["name"] for s in ours[0]["steps"]]
        steps = []
        for n, name in enumerate(names):
            per_run = [r["steps"][n] for r in ours if len(r["steps"]) == len(names)]
            steps.append({
                "name": short_step(name, data, server),
                "seconds": median([s["seconds"] for s in per_run]),
                "progress_calls": median([s["progress_calls"] for s in per_run]),
                "longest_stall_ms": max(s["longest_stall_ms"] for s in per_run),
                "longest_silence_ms": max(s["longest_silence_ms"] for s in per_run),
            })

        # A cancel in the middle of each step long enough to have one.
        cancels = []
        for n, step in enumerate(steps):
            if n == 0 or step["seconds"] < CANCEL_MIN_STEP or not cancels_too:
                continue
            settle()
            r = run_ours(build, job, data, server, cancel=(n, step["seconds"] * 500))
            damaged, left = data.verify(checksums=job == "receive")
            if os.path.exists(sent):
                os.remove(sent)
            cancels.append({
                "step": step["name"],
                "latency_ms": r["cancel_latency_ms"],
                "refused_after_ms": r["cancel_refused_ms"],
                "honoured": not r["ok"],
                "damaged": damaged,
                "left": left,
                "maxrss_mib": r["maxrss_mib"],
            })
            step["cancel_latency_ms"] = r["cancel_latency_ms"] if not r["ok"] else None
            log(f"  {data.key} {job} cancel in {step['name']}: {r['cancel_latency_ms']:.0f} ms"
                + ("" if not r["ok"] else " (not honoured: the run completed)"))
            # A failed send keeps its archive and a failed receive its download, where the customer sees them.
            expected = "ZEL.ZIP" if job == "send" else "FIXED.ZIP"
            problems += [f"after a cancelled {job} ({step['name']}): {p}" for p in
                         damaged + [f"left behind: {x}" for x in left if x != expected]]

        honoured = [c["latency_ms"] for c in cancels if c["honoured"]]
        res["jobs"][job] = {
            "ours_s": median([r["seconds"] for r in ours]),
            "peer_s": median(peer),
            "ours_runs": [r["seconds"] for r in ours],
            "peer_runs": peer,
            "longest_stall_ms": max(s["longest_stall_ms"] for s in steps),
            "stall_step": max(steps, key=lambda s: s["longest_stall_ms"])["name"],
            "cancel_ms": max(honoured) if honoured else None,
            "cancel_not_honoured": [c["step"] for c in cancels if not c["honoured"]],
            "peak_mib": max(r["maxrss_mib"] for r in ours),
            "archive_ratio": (median(archive_sizes) / zip6_size) if archive_sizes else None,
            "steps": steps,
            "cancels": cancels,
            "failed_runs": sum(1 for r in ours if not r["ok"]),
        }
    os.remove(reference)
    return res


def measure_window(data, server, build, runs, work):
    """The window set: Receive Files through the program's main window, against rm, curl and unzip."""
    res = {"key": data.key, "label": f"{data.label}, {server.kind}", "bytes": data.bytes, "files": data.count,
           "jobs": {}}
    problems = res["problems"] = []
    # A sample installation whose profile names the data folder, as the product writes it.
    windir = os.path.join(work, "window", "WINDOWS")
    os.makedirs(windir)
    with open(os.path.join(windir, "ledgra2.ini"), "w", newline="") as f:
        f.write(f"[General Information]\r\ndbpath={data.folder}\r\nProgramName=LEDGRA.EXE\r\n")
    reference = os.path.join(server.home, "FIXED.ZIP")
    subprocess.run(["bash", "-c", f"printf '%s\\n' {data.names()} | zip -q -6 {sh(reference)} -@"], check=True)

    ours, peer = [], []
    for i in range(runs):
        for who in (("ours", "peer") if i % 2 == 0 else ("peer", "ours")):
            settle()
            if who == "ours":
                r = run_window(build, data, server, windir)
                if not r["ok"]:
                    problems.append(f"window receive failed: {r['failure']}: {r['boxes']}")
                else:
                    ours.append(r)
                problems += [f"after our window receive: {p}" for p in data.problems(checksums=True)]
            else:
                peer.append(run_peer("receive", data, server))
                problems += [f"after the peer's receive: {p}" for p in data.problems(checksums=False)]
        if ours:
            log(f"  {data.key} receive run {i + 1}: ours {ours[-1]['to_status_s']:.2f} s to the final status line, "
                f"{ours[-1]['seconds']:.2f} s to the end; peer {peer[-1]:.2f} s")
    os.remove(reference)
    shutil.rmtree(os.path.dirname(windir))
    if not ours:
        return res
    worst = max(ours, key=lambda r: r["longest_stall_ms"])
    note = (f"longest stall {worst['longest_stall_ms']:.0f} ms, ending {worst['longest_stall_at_s']:.2f} s after the "
            f"click, the status log then ending in: {worst['longest_stall_after'][-80:]!r}")
    for job, key in zip(WINDOW_JOBS, ("to_status_s", "seconds")):
        res["jobs"][job] = {
            "ours_s": median([r[key] for r in ours]),
            "peer_s": median(peer),
            "ours_runs": [r[key] for r in ours],
            "peer_runs": peer,
            "longest_stall_ms": max(r["longest_stall_ms"] for r in ours),
            "cancel_ms": None,
            "cancel_not_honoured": [],
            "peak_mib": max(r["peak_rss_mib"] for r in ours),
            "archive_ratio": None,
            "steps": [],
            "cancels": [],
            "failed_runs": runs - len(ours),
            "stall_note": note,
        }
    return res


# ---------------------------------------------------------------- report


def fmt(v, spec, none="-"):
    return none if v is None else format(v, spec)


def table(results):
    lines = ["| data set | job | ours s | peer s | ratio | MiB/s | longest stall ms | cancel ms | peak MiB | "
             "archive / zip -6 |",
             "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for res in results:
        for job, j in res["jobs"].items():
            cancel = fmt(j["cancel_ms"], ".0f") + ("*" if j["cancel_not_honoured"] else "")
            failed = f" ({j['failed_runs']} failed)" if j["failed_runs"] else ""
            lines.append(
                f"| {res['label']} | {job}{failed} | {j['ours_s']:.2f} | {j['peer_s']:.2f} | "
                f"{j['ours_s'] / j['peer_s']:.2f} | {res['bytes'] / MiB / j['ours_s']:.1f} | "
                f"{j['longest_stall_ms']:.0f} | {cancel} | {j['peak_mib']:.0f} | {fmt(j['archive_ratio'], '.3f')} |")
    lines.append("")
    lines.append("ours: median of the runs, through the same workflow classes as the window (the window set: through "
                 "the main window itself, from the click on Receive Files); peer: zip -q -6 then "
                 "curl -T (send), rm, curl -o, unzip -o -j -q (receive); ratio = ours / peer; MiB/s = data set / "
                 "ours; longest stall: longest gap of a 5 ms timer on our event loop, worst run; cancel: from a "
                 "cancel in the middle of a step to the end of the run, rollback included, worst step (* in some "
                 "step the cancel came too late to stop the run, which completed: see below); peak: resident "
                 "memory of our process, worst run; archive: ours / zip -6 on the same files.")
    return "\n".join(lines)


def breakdown(results):
    lines = []
    for res in results:
        for job, j in res["jobs"].items():
            if not j["steps"]:
                if job == WINDOW_JOBS[-1]:
                    lines.append(f"{res['label']}, receive through the window: {j['stall_note']}")
                continue
            lines.append(f"{res['label']}, {job} (ours, median s / longest stall ms / longest time without "
                         f"progress ms / Progress calls / cancel ms):")
            for s in j["steps"]:
                lines.append(f"  {s['name'][:48]:<48} {s['seconds']:8.3f} {s['longest_stall_ms']:7.0f} "
                             f"{s['longest_silence_ms']:7.0f} {s['progress_calls']:7.0f} "
                             f"{fmt(s.get('cancel_latency_ms'), '7.0f', '      -')}")
            for c in j["cancels"]:
                if not c["honoured"]:
                    lines.append(f"  cancel in {c['step']}: not honoured, the run completed")
    return "\n".join(lines)


def scaling(results):
    by = {r["key"]: r for r in results}
    lines = []
    for small, large, what in (("5k", "20k", "files"), ("256MiB", "1GiB", "bytes"), ("1GiB", "2GiB", "bytes")):
        if small in by and large in by:
            grow = by[large][what] / by[small][what]
            for job in ("send", "receive"):
                a, b = by[small]["jobs"][job], by[large]["jobs"][job]
                lines.append(f"{by[large]['label']} against {by[small]['label']} ({grow:.1f}x the {what}), {job}: "
                             f"ours {b['ours_s'] / a['ours_s']:.2f}x, peer {b['peer_s'] / a['peer_s']:.2f}x")
    return "\n".join(lines)


def targets(results):
    """The figures against the targets the workflows are held to."""
    by = {r["key"]: r for r in results}
    rows = []

    def ratio(keys, job, limit):
        for k in keys:
            if k in by:
                j = by[k]["jobs"][job]
                rows.append((f"{job} {by[k]['label']}: ratio <= {limit}", j["ours_s"] / j["peer_s"], limit))

    ratio(("256MiB", "1GiB"), "send", 0.5)
    ratio(("5k",), "send", 0.8)
    ratio(("256MiB", "1GiB"), "receive", 0.6)
    ratio(("5k", "20k"), "receive", 1.0)
    for job in WINDOW_JOBS:
        if "window" in by and job in by["window"]["jobs"]:
            ratio(("window",), job, 1.0)
    if "5k" in by and "20k" in by:
        for job in ("send", "receive"):
            rows.append((f"{job} 20,000 files / 5,000 files <= 4.4", by["20k"]["jobs"][job]["ours_s"] /
                         by["5k"]["jobs"][job]["ours_s"], 4.4))
    for r in results:
        for job, j in r["jobs"].items():
            rows.append((f"{job} {r['label']}: longest stall <= 100 ms", j["longest_stall_ms"], 100))
            if j["cancel_ms"] is not None:
                rows.append((f"{job} {r['label']}: cancel <= 300 ms", j["cancel_ms"], 300))
            rows.append((f"{job} {r['label']}: peak memory <= 64 MiB", j["peak_mib"], 64))
            if j["archive_ratio"] is not None:
                rows.append((f"{job} {r['label']}: archive <= 1.01 x zip -6", j["archive_ratio"], 1.01))
            for s in j["steps"][1:]:
                if s["seconds"] > 1 and (s["progress_calls"] == 0 or s["longest_silence_ms"] > 1000):
                    rows.append((f"{job} {r['label']}: {s['name']} shows progress within 1 s",
                                 s["longest_silence_ms"] / 1000, 1))
    missed = [r for r in rows if r[1] > r[2]]
    lines = [f"Targets: {len(rows) - len(missed)} of {len(rows)} met."]
    lines += [f"  missed: {name}: {value:.2f}" for name, value, _ in missed]
    return "\n".join(lines)


def plot(results, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4.2))
    big = [r for r in results if r["key"] in ("256MiB", "1GiB", "2GiB")]
    small = [r for r in results if r["key"] in ("5k", "20k")]
    styles = {("send", "ours"): "o-C0", ("send", "peer"): "o--C0", ("receive", "ours"): "s-C2",
              ("receive", "peer"): "s--C2"}
    for (job, who), style in styles.items():
        key = "ours_s" if who == "ours" else "peer_s"
        label = f"{job}, {'ours' if who == 'ours' else ('zip + curl' if job == 'send' else 'curl + unzip')}"
        if big:
            left.plot([r["bytes"] / MiB for r in big], [r["bytes"] / MiB / r["jobs"][job][key] for r in big], style,
                      label=label)
        if small:
            right.plot([r["files"] for r in small], [r["files"] / r["jobs"][job][key] for r in small], style,
                       label=label)
    left.set(xlabel="data set (MiB)", ylabel="MiB/s", title="Throughput against data size")
    right.set(xlabel="files (about 8 KiB each)", ylabel="files/s", title="Throughput against file count")
    for ax in (left, right):
        ax.grid(True, alpha=0.3)
        ax.set_ylim(bottom=0)
        if ax.lines:
            ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=100)


def machine():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    mem = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / (1 << 30)
    return f"{os.cpu_count()} cores ({model}), {mem:.0f} GiB, {platform.system()} {platform.release()}"


# ---------------------------------------------------------------- main


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", required=True, help="build folder holding workflow_bench and bench_datagen")
    ap.add_argument("--quick", action="store_true", help="leave out the 2 GiB data set")
    ap.add_argument("--runs", type=int, default=3, help="runs of ours and of the peer per job (default 3)")
    ap.add_argument("--sets", default="", help="comma-separated keys of the data sets to run: " +
                    ",".join(s[0] for s in SETS))
    ap.add_argument("--server", choices=("pyftpdlib", "vsftpd"), default="pyftpdlib",
                    help="the server of every set but the window set, which runs against vsftpd")
    ap.add_argument("--no-cancel", action="store_true", help="skip the cancel runs")
    ap.add_argument("--work", help="scratch folder (default: a new one under /tmp); removed at the end")
    ap.add_argument("--out", default=os.path.join(here, "..", "results"),
                    help="where the table, the plot and the raw figures go (default bench/results)")
    ap.add_argument("--seed", type=int, default=20240601)
    args = ap.parse_args()

    wanted = [s for s in SETS if (not args.quick or not s[4]) and (not args.sets or s[0] in args.sets.split(","))]
    if args.work:
        os.makedirs(args.work, exist_ok=False)
        work = os.path.abspath(args.work)
    else:
        work = tempfile.mkdtemp(prefix="zel-bench-")
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    build = os.path.abspath(args.build)

    server = window_server = None
    # A stop from outside still ends the servers and removes the scratch data.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        server = Server(args.server, work, here)
        check = check_server(server, work)
        log(f"FTP server {args.server} on {server.host}: curl uploads {check['upload_mib_s']:.0f} MiB/s, "
            f"downloads {check['download_mib_s']:.0f} MiB/s; server CPU {check['server_cpu_s_per_gib']:.2f} s/GiB")
        results = []
        for n, (key, layout, mib, files, _) in enumerate(wanted):
            log(f"data set {key}: generating")
            if key == "window":
                if args.server == "vsftpd":
                    window_server = server
                elif not window_server:
                    window_server = Server("vsftpd", os.path.join(work, "window-server"), here)
                data = DataSet(key, layout, mib, files, build, work, args.seed + n, WINDOW_KIB)
                log(f"data set {data.label}: {data.bytes / MiB:.0f} MiB in {data.count} files")
                results.append(measure_window(data, window_server, build, args.runs, work))
            else:
                data = DataSet(key, layout, mib, files, build, work, args.seed + n)
                log(f"data set {data.label}: {data.bytes / MiB:.0f} MiB in {data.count} files")
                results.append(measure_set(data, server, build, args.runs, not args.no_cancel))
            shutil.rmtree(os.path.dirname(data.folder))
    finally:
        for s in {server, window_server} - {None}:
            s.stop()
        shutil.rmtree(work, ignore_errors=True)

    when = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
    load = os.getloadavg()
    header = (f"Measured {when} on {machine()}; FTP server {args.server} on loopback (curl alone: "
              f"{check['upload_mib_s']:.0f} MiB/s up, {check['download_mib_s']:.0f} MiB/s down); "
              f"{args.runs} interleaved runs each, medians; load average at the end {load[0]:.1f}.")
    report = "\n\n".join(x for x in [header, table(results), scaling(results), targets(results),
                                      breakdown(results)] if x)
    problems = [f"{r['label']}: {p}" for r in results for p in r["problems"]]
    if problems:
        report += "\n\nProblems seen:\n" + "\n".join("  " + p for p in problems)
    print(report)
    with open(os.path.join(out, "table.md"), "w") as f:
        f.write(report + "\n")
    with open(os.path.join(out, "results.json"), "w") as f:
        json.dump({"when": when, "machine": machine(), "server": args.server, "server_check": check,
                   "runs": args.runs, "results": results}, f, indent=1)
    try:
        plot(results, os.path.join(out, "throughput.png"))
    except ImportError:
        log("matplotlib is missing: no plot")
    log(f"results in {out}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
