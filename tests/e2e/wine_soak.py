"""A soak of corvane.exe against the simulated server: sessions and open
files come and go for a given time while the program's holdings are sampled
from outside, and the event log, followed across its rotations, must account
for every change exactly once.

Used by scripts/soak-wine.py (long runs) and tests/e2e/test_soak.py (a short
one). The caller starts the program and runs the window tool; everything else
is here.

Pacing: the program only sees what a pass lists, so a session or file that
came and went between two passes leaves no trace. Every record therefore
stays listed until the server has been asked for its list at least
PASSES_SEEN more times after it appeared (the simulator counts each
enumeration), which leaves no event the program could honestly miss.
"""

from __future__ import annotations

import collections
import dataclasses
import importlib.util
import os
import random
import statistics
import subprocess
import threading
import time
from pathlib import Path
from typing import Callable, Optional

import simserver as sim
from corvane_app import STAMP, expected_address

# The log follower of scripts/run, which reads the log across its rotations.
_FOLLOW_LOG = Path(__file__).resolve().parents[2] / "scripts" / "follow-log.py"
_spec = importlib.util.spec_from_file_location("follow_log", _FOLLOW_LOG)
follow_log = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(follow_log)

TITLE = "Corvane"
LOG = "CorvaneLog.txt"
BACKUP = "CorvaneLog.txt.bak"
LOG_BLOCK = 128          # the program rounds the log's size up to this before comparing
PASSES_SEEN = 3          # enumerations a record outlives before it may go
FLAP_SECONDS = 1.5       # how long a refused enumeration lasts
# Allowed rise of each counter between the start and the end of the run
# (median of the first third of the settled samples against the median of
# the last third). Handles and windows come and go with balloons and the
# tray's tip; the resident heap breathes with the allocator.
SLACK = {"handles": 16, "gdi": 16, "user": 8, "private_kib": 2048}
COUNTERS = ("handles", "gdi", "user", "private_kib")


def write_ini(folder: Path, max_log_size: int) -> None:
    text = f"[Environment]\r\nIsSecond=1\r\nMaxLogSize={max_log_size}\r\n"
    (folder / "Corvane.ini").write_bytes(text.encode("cp932"))


# ---------------------------------------------------------------------------
# The churn


@dataclasses.dataclass
class _Live:
    record: object
    removable_at: int     # enumeration count from which it may go


class Churn:
    """Changes the simulated server's lists a little at every step and keeps
    the log lines those changes must produce."""

    def __init__(self, server: sim.SimServer, seed: int, max_sessions: int = 12, max_files: int = 40):
        self.server = server
        self.rng = random.Random(seed)
        self.max_sessions, self.max_files = max_sessions, max_files
        self.sessions: dict[str, _Live] = {}
        self.files: dict[int, _Live] = {}
        self.expected: list[str] = []
        self.serial = 0
        self.flap_until = 0.0
        self.next_flap = time.monotonic() + self.rng.uniform(10, 30)
        self.flaps = 0
        self.status = (0, 0)

    def _enumerations(self) -> int:
        c = self.server.counters()
        return min(c[sim.SESSION_ENUMS], c[sim.FILE_ENUMS])

    def _new_session(self, seen_from: int) -> None:
        self.serial += 1
        n = self.serial
        kind = n % 4
        computer = (f"192.0.2.{n % 250 + 1}" if kind == 0 else
                    f"営業PC{n:05}.invalid" if kind == 1 else f"pc{n:05}.invalid")
        user = f"利用者{n:05}" if kind in (1, 2) else f"user{n:05}"
        session = sim.Session(computer, user, 1, 0, 0)
        self.sessions[user] = _Live(session, seen_from)
        self.expected.append(f"接続検出,{computer},{expected_address(computer)},{user}")

    def _new_file(self, seen_from: int) -> None:
        self.serial += 1
        n = self.serial
        user = self.rng.choice(list(self.sessions))
        path = (f"D:\\share\\部署{n % 9}\\資料{n:06}.xlsx" if n % 2 else f"E:\\data\\report{n:06}.txt")
        self.files[n] = _Live(sim.OpenFile(n, path, user), seen_from)
        self.expected.append(f"アクセス検出,{user},{path}")

    def _write(self) -> None:
        state = sim.State(session_status=self.status[0], file_status=self.status[1],
                          sessions=[live.record for live in self.sessions.values()],
                          files=[live.record for live in self.files.values()])
        self.server.write_state(state)

    def step(self) -> None:
        now = time.monotonic()
        seen = self._enumerations()
        if self.flap_until:
            if now < self.flap_until:
                return
            # Watching works again: what was listed before the refusal must
            # still be seen by good passes.
            self.flap_until = 0.0
            self.status = (0, 0)
            for live in (*self.sessions.values(), *self.files.values()):
                live.removable_at = max(live.removable_at, seen + PASSES_SEEN)
            self._write()
            return
        if now >= self.next_flap:
            self.flaps += 1
            self.status = (sim.ERROR_ACCESS_DENIED, 0) if self.flaps % 2 else (0, sim.ERROR_ACCESS_DENIED)
            self.flap_until = now + FLAP_SECONDS
            self.next_flap = now + self.rng.uniform(20, 60)
            self._write()
            return
        removable = lambda table: [k for k, live in table.items() if live.removable_at <= seen]
        choice = self.rng.random()
        if len(self.sessions) < 3 or (choice < 0.25 and len(self.sessions) < self.max_sessions):
            self._new_session(seen + PASSES_SEEN)
        elif choice < 0.45 and (gone := removable(self.sessions)):
            session = self.sessions.pop(self.rng.choice(gone)).record
            self.expected.append(
                f"切断検出,{session.computer},{expected_address(session.computer)},{session.user}")
        elif choice < 0.8 and len(self.files) < self.max_files:
            self._new_file(seen + PASSES_SEEN)
        elif gone := removable(self.files):
            del self.files[self.rng.choice(gone)]
        else:
            return
        self._write()

    def settle(self, timeout: float) -> None:
        """Stops the refusals and waits until the last changes were seen."""
        self.status = (0, 0)
        self.flap_until = 0.0
        self._write()
        target = self._enumerations() + PASSES_SEEN
        self.server.wait_for(lambda c: min(c[sim.SESSION_ENUMS], c[sim.FILE_ENUMS]) >= target,
                             timeout=timeout, what="the last changes to be seen")


# ---------------------------------------------------------------------------
# Following the log


class LogCollector(follow_log.Follower):
    """Collects the log's lines as they are written, file by file: the
    program keeps one backup generation, so a line must be read before the
    log moves away twice."""

    def __init__(self, path: Path):
        self.logs: list[list[bytes]] = []    # the lines of each log file in turn
        self.unterminated: list[bytes] = []  # what a log held after its last CR LF
        super().__init__(str(path), from_start=True, on_line=lambda raw: self.logs[-1].append(raw),
                         on_file=lambda: self.logs.append([]), on_tail=self.unterminated.append)


# ---------------------------------------------------------------------------
# Holdings, measured from outside


def unix_pid(folder: Path, exe_name: str = "corvane.exe") -> Optional[int]:
    """The Linux process of the Windows program started in `folder`."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            argv0 = Path(f"/proc/{entry}/cmdline").read_bytes().split(b"\0")[0].decode(errors="replace")
            cwd = os.readlink(f"/proc/{entry}/cwd")
        except OSError:
            continue
        if argv0.replace("\\", "/").rsplit("/", 1)[-1].lower() == exe_name and Path(cwd) == folder.resolve():
            return int(entry)
    return None


def rss_anon_kib(pid: int) -> Optional[int]:
    try:
        for line in Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith("RssAnon:"):
                return int(line.split()[1])
    except OSError:
        pass
    return None


@dataclasses.dataclass
class Sample:
    elapsed: float
    handles: int
    gdi: int
    user: int
    private_kib: int


def parse_stats(stdout: bytes) -> tuple[int, int, int, int]:
    """pid, handles, GDI objects, windows from `corvane_wintool stats`."""
    pid, handles, gdi, user = map(int, stdout.split())
    return pid, handles, gdi, user


# ---------------------------------------------------------------------------
# The run


@dataclasses.dataclass
class SoakResult:
    seconds: float
    max_log_size: int
    samples: list[Sample]
    expected: list[str]
    logs: list[list[bytes]]
    unterminated: list[bytes]
    flaps: int
    exit_code: Optional[int]
    sample_errors: list[str]

    # -- what the log says --------------------------------------------------
    def lines(self) -> list[bytes]:
        return [line for log in self.logs for line in log]

    def torn(self) -> list[bytes]:
        bad = list(self.unterminated)
        for line in self.lines():
            try:
                line.decode("cp932")
            except UnicodeDecodeError:
                bad.append(line)
                continue
            if not (STAMP.fullmatch(line[:19]) and line[19:20] == b","):
                bad.append(line)
        return bad

    def texts(self) -> collections.Counter:
        return collections.Counter(line[20:].decode("cp932", "replace") for line in self.lines())

    def missing(self) -> list[str]:
        return list((collections.Counter(self.expected) - self.texts()).elements())

    def unexpected(self) -> list[str]:
        """Lines nobody asked for, and second copies of expected ones."""
        return list((self.texts() - collections.Counter(self.expected)).elements())

    def rotation_faults(self) -> list[str]:
        """Each rotation must fall where the size rule puts it, and nowhere
        else: a line goes to a fresh log exactly when the current size,
        rounded up to the next block, plus the line exceeds MaxLogSize."""
        faults = []
        size = None
        for index, log in enumerate(self.logs):
            for position, line in enumerate(log):
                if size is not None:
                    rotates = LOG_BLOCK * (size // LOG_BLOCK + 1) + len(line) > self.max_log_size
                    starts = position == 0
                    if rotates != starts:
                        faults.append(f"log {index} line {position}: after {size} bytes the line of "
                                      f"{len(line)} bytes {'stayed' if rotates else 'moved to a new log'}")
                    if starts:
                        size = 0
                size = (size or 0) + len(line) + 2
        return faults

    def growth(self) -> dict[str, int]:
        """The rise of each counter over the settled samples (the first one,
        taken while the program starts, is left out)."""
        settled = self.samples[1:]
        if len(settled) < 3:
            return {}
        third = max(1, len(settled) // 3)
        return {name: int(statistics.median(getattr(s, name) for s in settled[-third:]) -
                          statistics.median(getattr(s, name) for s in settled[:third]))
                for name in COUNTERS}

    def problems(self) -> list[str]:
        out = []
        if self.exit_code != 0:
            out.append(f"the program ended with {self.exit_code}")
        for name, values in (("missing lines", self.missing()), ("unexpected or repeated lines", self.unexpected()),
                             ("torn lines", [l.decode("cp932", "replace") for l in self.torn()]),
                             ("rotation faults", self.rotation_faults()), ("sampling errors", self.sample_errors)):
            if values:
                out.append(f"{len(values)} {name}: {values[:5]}")
        if len(self.logs) < 2:
            out.append("the log never rotated")
        for name, rise in self.growth().items():
            if rise > SLACK[name]:
                out.append(f"{name} grew by {rise} (allowed {SLACK[name]})")
        return out

    def table(self) -> str:
        rows = ["| elapsed s | handles | GDI | USER (windows) | private KiB (RssAnon) |",
                "|---:|---:|---:|---:|---:|"]
        rows += [f"| {s.elapsed:.0f} | {s.handles} | {s.gdi} | {s.user} | {s.private_kib} |" for s in self.samples]
        growth = self.growth()
        lines = len(self.lines())
        rows += ["",
                 f"events made: {len(self.expected)}   lines seen: {lines}   "
                 f"lines missing: {len(self.missing())}   unexpected: {len(self.unexpected())}   "
                 f"torn: {len(self.torn())}",
                 f"rotations: {len(self.logs) - 1} (MaxLogSize {self.max_log_size}; "
                 f"{len(self.rotation_faults())} off the size rule)   refusals (status 5): {self.flaps}",
                 "growth over the run: " + (", ".join(f"{k} {v:+d}" for k, v in growth.items()) or "too few samples")]
        return "\n".join(rows)


def run(folder: Path, start_program: Callable[[], subprocess.Popen],
        tool: Callable[..., subprocess.CompletedProcess], seconds: float, sample_every: float,
        max_log_size: int = 4096, seed: int = 1, progress: Callable[[str], None] = lambda _: None) -> SoakResult:
    """Runs the soak in `folder` (corvane.exe, the simulated server in the
    prefix's system folder). `start_program` starts corvane.exe there; `tool(*args)` runs
    corvane_wintool.exe in the same prefix."""
    server = sim.SimServer(folder)
    server.reset()
    write_ini(folder, max_log_size)
    churn = Churn(server, seed)
    collector = LogCollector(folder / LOG)
    samples: list[Sample] = []
    errors: list[str] = []
    stop = threading.Event()

    program = start_program()
    try:
        server.wait_for(lambda c: c[sim.SESSION_ENUMS] >= 1 and c[sim.FILE_ENUMS] >= 1, timeout=90,
                        what="the first watch pass")
        deadline = time.monotonic() + 30
        while (pid := unix_pid(folder)) is None and time.monotonic() < deadline:
            time.sleep(0.2)
        if pid is None:
            raise RuntimeError("no Linux process of corvane.exe in " + str(folder))
        started = time.monotonic()

        def sample() -> None:
            result = tool("stats", TITLE)
            private = rss_anon_kib(pid)
            if result.returncode != 0 or private is None:
                errors.append(f"stats at {time.monotonic() - started:.0f} s: exit {result.returncode} "
                              f"{result.stderr.decode(errors='replace').strip()!r}")
                return
            _, handles, gdi, user = parse_stats(result.stdout)
            samples.append(Sample(time.monotonic() - started, handles, gdi, user, private))
            s = samples[-1]
            progress(f"  {s.elapsed:5.0f} s  handles {s.handles}  GDI {s.gdi}  USER {s.user}  "
                     f"RssAnon {s.private_kib} KiB")

        def sampler() -> None:
            while True:
                sample()
                if stop.wait(sample_every):
                    return

        thread = threading.Thread(target=sampler, daemon=True)
        thread.start()
        while time.monotonic() - started < seconds:
            if program.poll() is not None:
                errors.append(f"the program ended early with {program.returncode}")
                break
            churn.step()
            for _ in range(2):
                collector.poll()
                time.sleep(0.1)
        churn.settle(timeout=60)
        collector.poll()
        stop.set()
        thread.join(timeout=120)
        sample()                              # the last look, after the churn
        tool("close", TITLE)
        try:
            exit_code = program.wait(timeout=60)
        except subprocess.TimeoutExpired:
            exit_code = None
        collector.poll()
        collector.close()
        return SoakResult(time.monotonic() - started, max_log_size, samples, churn.expected, collector.logs,
                          collector.unterminated, churn.flaps, exit_code, errors)
    finally:
        stop.set()
        if program.poll() is None:
            program.kill()
