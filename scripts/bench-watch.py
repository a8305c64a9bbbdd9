#!/usr/bin/env python3
"""Measures corvane.exe under Wine against the simulated server at several
loads and prints one table: how long after the start the log holds the
first pass's lines (one per session and open file), passes per second, CPU
of the program and wineserver, the main window's answer time (median and
longest of a stream of empty messages), how long a new session takes to
reach the log, and how long the close box takes to end the program. Then, at
the large loads, how the lists fill: the longest wait of the window while
automatic refresh fills them from the start, the same once they are full,
the longest wait while half of the sessions and their open files vanish in
one pass, and the time from F5 (in the default manual mode) until both lists
hold every row. Last, with corvane-service.exe beside the first EXE, the
service's passes per second and CPU at 0 / 0 and 200 / 5,000 against the
tray's watch of the first table, measured in the same run; and at 200 / 5,000
the time from a connection at the server to the tray's announcement of it,
the tray alone against corvane.exe as the face of the service.

usage: bench-watch.py RUN_FOLDER EXE [LABEL EXE ...] [--fill]
RUN_FOLDER must hold netapi32.dll (put into the prefix's system folder) and
corvane_wintool.exe. With --fill only the second table (the lists at the large
loads) is measured."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import simserver as sim  # noqa: E402

WINE_RUN = str(ROOT / "scripts" / "wine-run")
LOADS = [(0, 0), (10, 50), (40, 500), (200, 5000)]
FILL_LOADS = [(200, 5000), (1000, 20000)]
FILL_LIMIT = 120       # seconds; a build that takes longer is reported as "> 120"
REFRESH_COMMAND = "106"  # the refresh action's command id (F5)
SESSIONS_LIST, RESOURCES_LIST = "11", "12"
CPU_SECONDS = 10
TICKS = os.sysconf("SC_CLK_TCK")
# Whose CPU is counted: the program and the Wine server of its prefix.
TRAY_PROCESSES = ("corvane.exe", "wineserver", "wineserver64")
SERVICE_PROCESSES = ("corvane-service.exe", "wineserver", "wineserver64")


def cpu_ticks(names: tuple[str, ...]) -> int:
    """CPU ticks of the named processes of the bench's own Wine prefix (other
    prefixes on the machine, and their wineservers, are not counted)."""
    total = 0
    prefix = f"WINEPREFIX={os.environ['CORVANE_WINEPREFIX']}".encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            stat = Path(f"/proc/{pid}/stat").read_text()
            cmdline = Path(f"/proc/{pid}/cmdline").read_bytes().replace(b"\0", b" ").decode(errors="replace")
            if prefix not in Path(f"/proc/{pid}/environ").read_bytes().split(b"\0"):
                continue
        except OSError:
            continue
        comm = stat[stat.index("(") + 1:stat.rindex(")")]
        if comm in names or any(n in cmdline for n in names if n.endswith(".exe")):
            fields = stat[stat.rindex(")") + 2:].split()
            total += int(fields[11]) + int(fields[12])
    return total


def tool(folder: Path, *args: str, timeout: float = 60) -> subprocess.CompletedProcess:
    return subprocess.run([WINE_RUN, "corvane_wintool.exe", *args], cwd=folder, capture_output=True,
                          timeout=timeout)


def office(n: int, m: int) -> tuple[list[sim.Session], list[sim.OpenFile]]:
    users = [f"user{i:04}" for i in range(max(n, 1))]
    return ([sim.Session(f"PC{i:04}", users[i], 1, 10, 0) for i in range(n)],
            [sim.OpenFile(i, f"D:\\share\\部署{i % 9}\\資料{i:05}.xlsx", users[i % len(users)]) for i in range(m)])


def measure_passes(server, processes, row: dict) -> bool:
    """Passes per second and CPU of the watcher once its second pass has begun; False when it never did."""
    deadline = time.monotonic() + 90
    while server.counters()[sim.SESSION_ENUMS] < 2 and time.monotonic() < deadline:
        time.sleep(0.2)
    if server.counters()[sim.SESSION_ENUMS] < 2:
        row["passes/s"] = "< 0.01"
        return False
    time.sleep(1)
    before_enums, before_cpu = server.counters()[sim.SESSION_ENUMS], cpu_ticks(processes)
    start = time.monotonic()
    time.sleep(CPU_SECONDS)
    elapsed = time.monotonic() - start
    row["passes/s"] = f"{(server.counters()[sim.SESSION_ENUMS] - before_enums) / elapsed:.2f}"
    row["CPU %"] = f"{100 * (cpu_ticks(processes) - before_cpu) / TICKS / elapsed:.1f}"
    return True


def measure(work: Path, exe: Path, n: int, m: int) -> dict[str, str]:
    folder, server = prepare(work, exe, "watch", n, m)
    row = {"load": f"{n} / {m}"}
    started = time.monotonic()
    program = subprocess.Popen([WINE_RUN, "corvane.exe"], cwd=folder, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    log = folder / "CorvaneLog.txt"
    try:
        row["first lines s"] = "> 90" if n + m else "-"
        while n + m and time.monotonic() - started < 90:
            if log.exists() and log.read_bytes().count(b"\r\n") >= n + m:
                row["first lines s"] = f"{time.monotonic() - started:.2f}"
                break
            time.sleep(0.05)
        if not measure_passes(server, TRAY_PROCESSES, row):
            return row
        try:
            answer = tool(folder, "ping", "Corvane", "100", "30", timeout=90)
            median, longest = answer.stdout.split()
            row["answer ms (median / max)"] = f"{float(median):.1f} / {float(longest):.1f}"
        except (subprocess.TimeoutExpired, ValueError):
            row["answer ms (median / max)"] = "> 30000"
        server.modify(lambda s: s.sessions.append(sim.Session("NEWPC", "newcomer", 1, 0, 0)))
        written = time.monotonic()
        row["to the log s"] = "> 60"
        while time.monotonic() - written < 60:
            if log.exists() and b"NEWPC" in log.read_bytes():
                row["to the log s"] = f"{time.monotonic() - written:.2f}"
                break
            time.sleep(0.02)
        tool(folder, "close", "Corvane")
        closed = time.monotonic()
        try:
            program.wait(timeout=60)
            row["close s"] = f"{time.monotonic() - closed:.2f}"
        except subprocess.TimeoutExpired:
            row["close s"] = "> 60"
        return row
    finally:
        if program.poll() is None:
            program.kill()
        subprocess.run(["wineserver", "-k"], env=os.environ | {"WINEPREFIX": os.environ["CORVANE_WINEPREFIX"]})
        time.sleep(1)


SERVICE_LOADS = [(0, 0), (200, 5000)]
ANNOUNCE_LOADS = [(200, 5000)]


def measure_service(work: Path, service: Path, n: int, m: int) -> dict[str, str]:
    """corvane-service.exe installed as the service Corvane of the prefix,
    started by the service manager against the simulated server."""
    folder = work / f"service-{n}-{m}"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    shutil.copy2(service, folder / "corvane-service.exe")
    server = sim.SimServer(folder)
    server.reset()
    sessions, files = office(n, m)
    server.set_sessions(sessions)
    server.set_files(files)
    env = os.environ | {"WINEPREFIX": os.environ["CORVANE_WINEPREFIX"], "WINEDEBUG": "-all", "WINEARCH": "win64"}
    sim.serve_service(env)  # the simulated server, for a program that does not see this environment

    def wine(*args: str) -> None:
        # No pipes: the service manager may be started by this program and
        # would hold them open.
        subprocess.run([WINE_RUN, *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    row = {"program": "service", "load": f"{n} / {m}"}
    wine("sc", "delete", "Corvane")  # one left by a run that was cut short
    wine("sc", "create", "Corvane", "binPath=", "Z:" + str(folder / "corvane-service.exe").replace("/", "\\"))
    # Wine ends its services with the last program of a user: a command
    # prompt waiting for input (and costing nothing) keeps the prefix up.
    keeper = subprocess.Popen([WINE_RUN, "cmd.exe"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        wine("net", "start", "Corvane")
        measure_passes(server, SERVICE_PROCESSES, row)
        return row
    finally:
        wine("net", "stop", "Corvane")
        wine("sc", "delete", "Corvane")
        keeper.kill()
        subprocess.run(["wineserver", "-k"], env=env)
        time.sleep(1)


SOUND = "C:\\windows\\announce.wav"
ANNOUNCE_SETTINGS = ("[Environment]\r\nIsSecond=1\r\nPopupNotifyWindow=1\r\nNotifyConnectSessionBySound=1\r\n"
                     f"SoundFileNameConnectSession={SOUND}\r\n")


def measure_announce(work: Path, exe: Path, n: int, m: int, through_service: bool) -> dict[str, str]:
    """From a session connecting at the server to the tray's announcement of
    it: the balloon, then the sound in the same step, whose start Wine's
    winmm traces (finer than looking for the balloon's window from outside).
    The tray alone, or corvane.exe as the face of the service, installed by
    the MSI into Program Files as a user has them."""
    from types import SimpleNamespace
    from test_installer import make_packages, msiexec
    from test_service import boot, sc_state
    prefix = Path(os.environ["CORVANE_WINEPREFIX"])
    env = os.environ | {"WINEPREFIX": str(prefix), "WINEDEBUG": "-all", "WINEARCH": "win64", "LC_ALL": "ja_JP.UTF-8",
                        "WINEDLLOVERRIDES": "mscoree,mshtml=;netapi32=n,b"}
    wine = SimpleNamespace(env=env, processes=[])
    row = {"program": "tray, through the service" if through_service else "tray alone", "load": f"{n} / {m}"}
    if through_service:
        msi = work / "msi" / "corvane-1.0.0-x64.msi"
        if not msi.is_file():
            make_packages(exe, msi.parent, "1.0.0")
        folder = prefix / "drive_c" / "Program Files" / "Corvane"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        server = sim.SimServer(folder)
        server.reset()
        sessions, files = office(n, m)
        server.set_sessions(sessions)
        server.set_files(files)
        sim.serve_service(env)
        boot(wine, work / "boot.out")
        msiexec(wine, "/i", str(msi))
        deadline = time.monotonic() + 60
        while sc_state(wine) != "RUNNING" and time.monotonic() < deadline:
            time.sleep(0.5)
        for user in (prefix / "drive_c" / "users").iterdir():
            if (user / "AppData").is_dir() and user.name != "Public":
                (user / "AppData" / "Roaming" / "Corvane").mkdir(parents=True, exist_ok=True)
                (user / "AppData" / "Roaming" / "Corvane" / "Corvane.ini").write_bytes(ANNOUNCE_SETTINGS.encode())
    else:
        folder, server = prepare(work, exe, "announce", n, m)
        (folder / "Corvane.ini").write_bytes(ANNOUNCE_SETTINGS.encode())
    out = folder / "tray.out"
    with open(out, "wb") as output:
        program = subprocess.Popen(["wine", str(folder / "corvane.exe")], cwd=folder,
                                   env=env | {"WINEDEBUG": "+winmm"}, stdout=output, stderr=subprocess.STDOUT)

    def sounds() -> int:
        return out.read_text(errors="replace").replace("\\\\", "\\").count(f'SoundName=L"{SOUND}"')
    try:
        deadline = time.monotonic() + 120
        while sounds() < (1 if n else 0) and time.monotonic() < deadline:
            time.sleep(0.1)
        time.sleep(3)  # past the first passes' announcements
        before = sounds()
        server.modify(lambda s: s.sessions.append(sim.Session("NEWPC", "newcomer", 1, 0, 0)))
        connected = time.monotonic()
        row["to the announcement s"] = "> 60"
        while time.monotonic() - connected < 60:
            if sounds() > before:
                row["to the announcement s"] = f"{time.monotonic() - connected:.2f}"
                break
            time.sleep(0.01)
        return row
    finally:
        subprocess.run(["wine", str(work / "corvane_wintool.exe"), "close", "Corvane"], env=env, capture_output=True,
                       timeout=60)
        try:
            program.wait(timeout=30)
        except subprocess.TimeoutExpired:
            program.kill()
        if through_service:
            subprocess.run(["wine", "msiexec", "/x", str(work / "msi" / "corvane-1.0.0-x64.msi"), "/qn"], env=env,
                           capture_output=True, timeout=300)
        subprocess.run(["wineserver", "-k"], env=env)
        time.sleep(1)


def prepare(work: Path, exe: Path, label: str, n: int, m: int) -> tuple[Path, sim.SimServer]:
    folder = work / f"{exe.parent.name}-{label}-{n}-{m}"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    shutil.copy2(exe, folder / "corvane.exe")
    shutil.copy2(work / "corvane_wintool.exe", folder / "corvane_wintool.exe")
    server = sim.SimServer(folder)
    server.reset()
    sessions, files = office(n, m)
    server.set_sessions(sessions)
    server.set_files(files)
    return folder, server


def row_count(folder: Path, list_id: str) -> int:
    try:
        return int(tool(folder, "count", "Corvane", list_id, timeout=30).stdout.split()[0])
    except (subprocess.TimeoutExpired, ValueError, IndexError):
        return -1


def lists_full(folder: Path, n: int, m: int) -> bool:
    return row_count(folder, SESSIONS_LIST) == n and row_count(folder, RESOURCES_LIST) == m


def longest_wait(folder: Path, count: int, pause_ms: int) -> float:
    """The longest of `count` answer times of the window, in ms."""
    try:
        answer = tool(folder, "ping", "Corvane", str(count), str(pause_ms), timeout=FILL_LIMIT + 60)
        return float(answer.stdout.split()[1])
    except (subprocess.TimeoutExpired, ValueError, IndexError):
        return float(FILL_LIMIT * 1000)


def wait_enumerated(server: sim.SimServer) -> bool:
    """Waits until the watch has asked for the sessions once: its first pass
    (name lookups on the watch thread, then the window's share) follows."""
    deadline = time.monotonic() + 90
    while server.counters()[sim.SESSION_ENUMS] < 1 and time.monotonic() < deadline:
        time.sleep(0.05)
    return server.counters()[sim.SESSION_ENUMS] >= 1


def half_vanish(folder: Path, server: sim.SimServer, n: int, m: int) -> str:
    """Every other session and the files its user holds vanish in one pass
    (a department logging off) while one stream of probes runs."""
    sessions, files = office(n, m)
    kept = sessions[::2]
    users = {s.user for s in kept}
    kept_files = [f for f in files if f.user in users]
    result: list[float] = []
    prober = threading.Thread(target=lambda: result.append(longest_wait(folder, 400, 20)))
    prober.start()
    time.sleep(2)  # the stream is running before the server changes
    server.set_sessions(kept)
    server.set_files(kept_files)
    started = time.monotonic()
    while not lists_full(folder, len(kept), len(kept_files)) and time.monotonic() - started < FILL_LIMIT:
        time.sleep(0.2)
    emptied = lists_full(folder, len(kept), len(kept_files))
    prober.join()
    return f"{result[0]:.1f}" if emptied else f"> {FILL_LIMIT} s not emptied"


def measure_fill(work: Path, exe: Path, n: int, m: int) -> dict[str, str]:
    row = {"load": f"{n} / {m}"}
    # Automatic refresh: the first passes add every row while the window is probed.
    folder, server = prepare(work, exe, "auto", n, m)
    (folder / "Corvane.ini").write_bytes(b"[Environment]\r\nIsSecond=1\r\nIgnoreAutoRefresh=0\r\n")
    program = subprocess.Popen([WINE_RUN, "corvane.exe"], cwd=folder, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        if not wait_enumerated(server):
            return row
        # Streams of probes back to back from the first listing until both
        # lists are full: the first pass (log lines, rows) falls inside them.
        stop, waits = threading.Event(), []
        def probe() -> None:
            while not stop.is_set():
                waits.append(longest_wait(folder, 100, 20))
        prober = threading.Thread(target=probe)
        prober.start()
        started = time.monotonic()
        while not lists_full(folder, n, m) and time.monotonic() - started < FILL_LIMIT:
            time.sleep(0.2)
        full = lists_full(folder, n, m)
        stop.set()
        prober.join()
        longest = max(waits) if waits else None
        if longest is None:
            row["auto: longest wait while filling ms"] = "-"
        else:
            row["auto: longest wait while filling ms"] = f"{longest:.1f}" if full else f"> {FILL_LIMIT} s unfilled"
        if full:
            row["auto: longest wait when full ms"] = f"{longest_wait(folder, 100, 30):.1f}"
            row["auto: longest wait while half vanish ms"] = half_vanish(folder, server, n, m)
        tool(folder, "close", "Corvane")
        program.wait(timeout=FILL_LIMIT)
    except subprocess.TimeoutExpired:
        pass
    finally:
        if program.poll() is None:
            program.kill()
        subprocess.run(["wineserver", "-k"], env=os.environ | {"WINEPREFIX": os.environ["CORVANE_WINEPREFIX"]})
        time.sleep(1)
    # The default manual mode: F5, then both lists full.
    folder, server = prepare(work, exe, "manual", n, m)
    program = subprocess.Popen([WINE_RUN, "corvane.exe"], cwd=folder, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        # F5 once the first pass (every name looked up, every line logged) is
        # over, so that the time is the refresh's own.
        deadline = time.monotonic() + 600
        while (min(server.counters()[sim.SESSION_ENUMS], server.counters()[sim.FILE_ENUMS]) < 2
               and time.monotonic() < deadline):
            time.sleep(0.2)
        tool(folder, "command", "Corvane", REFRESH_COMMAND)
        pressed = time.monotonic()
        row["F5 to full lists s"] = f"> {FILL_LIMIT}"
        while time.monotonic() - pressed < FILL_LIMIT:
            if lists_full(folder, n, m):
                row["F5 to full lists s"] = f"{time.monotonic() - pressed:.2f}"
                break
            time.sleep(0.05)
        return row
    finally:
        if program.poll() is None:
            program.kill()
        subprocess.run(["wineserver", "-k"], env=os.environ | {"WINEPREFIX": os.environ["CORVANE_WINEPREFIX"]})
        time.sleep(1)


def measure_all(builds, loads, measure_one, columns: list[str]) -> list[dict[str, str]]:
    """One row per build and load, each printed as soon as it is measured."""
    rows = []
    for label, exe in builds:
        for n, m in loads:
            row = {"build": label} | measure_one(exe.resolve(), n, m)
            rows.append(row)
            print("  " + ", ".join(f"{c}: {row.get(c, '-')}" for c in columns), flush=True)
    return rows


def print_table(columns: list[str], rows: list[dict[str, str]]) -> None:
    print("\n| " + " | ".join(columns) + " |\n|" + "---|" * len(columns))
    for row in rows:
        print("| " + " | ".join(row.get(c, "-") for c in columns) + " |")


def main() -> int:
    args = [a for a in sys.argv[1:] if a != "--fill"]
    fill_only = len(args) < len(sys.argv) - 1
    if len(args) < 2 or len(args) % 2 == 1:
        print(__doc__, file=sys.stderr)
        return 2
    work = Path(args[0])
    sim.install_in_prefix(work / "netapi32.dll", os.environ["CORVANE_WINEPREFIX"])
    builds = [("this build", Path(args[1]))] + [(args[i], Path(args[i + 1])) for i in range(2, len(args), 2)]
    columns = ["build", "load", "first lines s", "passes/s", "CPU %", "answer ms (median / max)", "to the log s", "close s"]
    if not fill_only:
        rows = measure_all(builds, LOADS, lambda exe, n, m: measure(work, exe, n, m), columns)
        print_table(columns, rows)
        service = builds[0][1].parent / "corvane-service.exe"
        if service.is_file():
            # The service must cost no more than the tray's own watch.
            service_columns = ["program", "load", "passes/s", "CPU %"]
            tray = [{"program": "tray (this build)"} | r for r in rows
                    if r["build"] == "this build" and r["load"] in {f"{n} / {m}" for n, m in SERVICE_LOADS}]
            print("== The service against the tray's watch", flush=True)
            service_rows = [measure_service(work, service.resolve(), n, m) for n, m in SERVICE_LOADS]
            print_table(service_columns, tray + service_rows)
            # The face must tell of a connection no later than the tray alone, less one pass.
            print("== From a connection to the tray's announcement, alone and through the service", flush=True)
            announce_columns = ["program", "load", "to the announcement s"]
            print_table(announce_columns, [measure_announce(work, builds[0][1].resolve(), n, m, face)
                                           for n, m in ANNOUNCE_LOADS for face in (False, True)])

    fill_columns = ["build", "load", "auto: longest wait while filling ms", "auto: longest wait when full ms",
                    "auto: longest wait while half vanish ms", "F5 to full lists s"]
    print_table(fill_columns,
                measure_all(builds, FILL_LOADS, lambda exe, n, m: measure_fill(work, exe, n, m), fill_columns))
    return 0


if __name__ == "__main__":
    sys.exit(main())
