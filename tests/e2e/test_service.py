"""corvane-service.exe installed by the MSI under Wine: it watches from the
prefix's boot with no program of a user running, ends a session over its
idle limit, stops as the tray exits (what the log could not take saved
beside it, and said once in the event log), survives an upgrade without
losing a client or writing an old line again, and has corvane.exe show its
watch instead of starting a second one. The service's reports are read from Wine's trace
of ReportEventW, which the service writes to the output of the wineboot
that started the service manager."""

from __future__ import annotations

import contextlib
import re
import shutil
import subprocess
import threading
import time
from pathlib import Path

import pytest

import simserver as sim
from conftest import WineProcess
from corvane_app import TITLE, close_and_wait, event_texts, log_lines, wait_for_log
from test_event_log import TRACE, WARNING, reports
from test_installer import MSIEXEC_TIMEOUT, corvane_apps, make_packages, msiexec

SERVICE = "Corvane"


@pytest.fixture(scope="module")
def packages(bindir, build_dir) -> Path:
    out = build_dir / "e2e-service-msi"
    shutil.rmtree(out, ignore_errors=True)
    for version in ("1.0.0", "1.0.1"):
        make_packages(bindir / "corvane.exe", out, version)
    return out


def sc_state(wine) -> str:
    result = wine.run("sc", "query", SERVICE, timeout=60)
    m = re.search(rb"STATE\s+:\s+\d+\s+(\w+)", result.stdout)
    return m.group(1).decode() if m else ""


def boot(wine, out: Path, while_down=None) -> None:
    """Ends every program of the prefix (then calls `while_down`) and boots
    it again: the services set to start automatically start. Their trace
    goes to `out`."""
    subprocess.run(["wineserver", "-k"], env=wine.env, capture_output=True, timeout=60)
    subprocess.run(["wineserver", "-w"], env=wine.env, capture_output=True, timeout=60)
    if while_down:
        while_down()
    with open(out, "ab") as output:
        subprocess.run(["wineboot"], env=wine.env, stdout=output, stderr=output, timeout=300, check=True)
    # Wine ends its services with the last program of a user; a computer
    # stays on. A command prompt waiting for input keeps the prefix up.
    keeper = subprocess.Popen(["wine", "cmd.exe"], env=wine.env, stdin=subprocess.PIPE,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    wine.processes.append(WineProcess(keeper, "keeper"))


def windows_programs(prefix: Path) -> list[str]:
    """The command lines of the programs running now in the Wine prefix."""
    found = []
    for process in Path("/proc").glob("[0-9]*"):
        try:
            if f"WINEPREFIX={prefix}".encode() not in (process / "environ").read_bytes().split(b"\0"):
                continue
            found.append((process / "cmdline").read_bytes().replace(b"\0", b" ").decode("utf-8", "replace"))
        except OSError:
            pass
    return [line for line in found if ".exe" in line.lower()]


class Installed:
    def __init__(self, folder: Path, trace: Path):
        self.folder = folder
        self.log = folder / "CorvaneLog.txt"
        self.sim = sim.SimServer(folder)
        self.trace = trace

    def reports(self) -> list:
        return reports(self.trace.read_bytes()) if self.trace.exists() else []


@contextlib.contextmanager
def installed_service(wine, prefix: Path, msi: Path, ini: str = ""):
    """Installs `msi` with its service into a fresh Program Files\\Corvane of
    the suite's prefix (settings `ini` put there first), with the simulated
    server and the event log's trace for the service; removes it again."""
    folder = prefix / "drive_c" / "Program Files" / "Corvane"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    trace = folder.parent / "corvane-service-trace.out"
    trace.unlink(missing_ok=True)
    box = Installed(folder, trace)
    if ini:
        (folder / "Corvane.ini").write_bytes(ini.replace("\n", "\r\n").encode("cp932"))
    box.sim.reset()
    sim.install_in_prefix(wine.bindir / "netapi32.dll", prefix)
    sim.serve_service(wine.env, winedebug=TRACE)
    boot(wine, trace)  # the service manager starts with the service's environment
    try:
        msiexec(wine, "/i", str(msi))
        wine.wait_until(lambda: sc_state(wine) == "RUNNING", timeout=60, what="the service running")
        yield box
    finally:
        for version in ("1.0.1", "1.0.0"):  # nothing left for the other tests
            wine.run("msiexec", "/x", str(msi.with_name(f"corvane-{version}-x64.msi")), "/qn",
                     timeout=MSIEXEC_TIMEOUT)
        sim.serve_service(wine.env)


def test_service_watches_from_boot_and_ends_an_idle_session_with_no_tray(wine, wine_prefix, packages):
    ini = "[Environment]\nIsSecond=1\nDisconnectIdleTime=60\n"
    with installed_service(wine, wine_prefix, packages / "corvane-1.0.0-x64.msi", ini) as box:
        # After the install, every program ends and the prefix boots again,
        # with a client idle for longer than the limit. Wine's boot is also a
        # log-on, which would start the tray: left out, as at the log-on screen.
        wine.run("reg", "delete", r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run", "/v", "Corvane", "/f",
                 timeout=60)
        boot(wine, box.trace, lambda: box.sim.set_sessions([sim.Session("PC-IDLE", "taro", 1, 300, 120),
                                                             sim.Session("PC-BUSY", "hanako", 1, 300, 5)]))
        assert sc_state(wine) == "RUNNING"
        wait_for_log(box.log, "アイドル時間による自動切断,PC-IDLE,(N/A),taro".encode("cp932"), timeout=30)
        assert [(c.client_name, c.user_name) for c in box.sim.calls().session_dels] == [("\\\\PC-IDLE", "taro")]
        assert "接続検出,PC-BUSY,(N/A),hanako".encode("cp932") in event_texts(box.log)
        programs = windows_programs(wine_prefix)
        assert any("corvane-service.exe" in p for p in programs), programs
        assert not any(re.search(r"[\\/]corvane\.exe", p, re.I) for p in programs), programs


def test_stop_while_the_log_cannot_be_written_saves_the_waiting_line_and_says_so_once(wine, wine_prefix, packages):
    with installed_service(wine, wine_prefix, packages / "corvane-1.0.0-x64.msi") as box:
        box.log.unlink(missing_ok=True)
        box.log.mkdir()  # a folder where the log should be: every write fails
        passes = box.sim.counters()[sim.SESSION_ENUMS]
        box.sim.set_sessions([sim.Session("PC-WAIT", "jiro", 1, 5, 0)])
        box.sim.wait_for(lambda c: c[sim.SESSION_ENUMS] >= passes + 2, timeout=15, what="two passes")
        result = wine.run("net", "stop", SERVICE, timeout=60)
        assert result.returncode == 0, result
        assert sc_state(wine) == "STOPPED"
        unsaved = list(box.folder.glob("CorvaneLog.unsaved-*.txt"))
        assert len(unsaved) == 1, list(box.folder.iterdir())
        assert [line[20:] for line in log_lines(unsaved[0])] == ["接続検出,PC-WAIT,(N/A),jiro".encode("cp932")]
        saved = [r for r in box.reports() if r[0] == 3004]
        where = "C:\\Program Files\\Corvane\\" + unsaved[0].name
        assert saved == [(3004, WARNING, 4, ["1", where])], box.reports()
        assert [r[0] for r in box.reports()][-1] == 4002  # stopped, after it


def test_upgrade_while_clients_come_and_go_loses_none_and_writes_no_old_line_again(wine, wine_prefix, packages):
    with installed_service(wine, wine_prefix, packages / "corvane-1.0.0-x64.msi") as box:
        box.sim.set_sessions([sim.Session("PC-OLD", "taro", 1, 5, 0)])
        wait_for_log(box.log, "接続検出,PC-OLD,(N/A),taro".encode("cp932"), timeout=30)
        before = box.log.read_bytes()
        # Clients come every 0.3 s for as long as the upgrade runs, and the
        # first one goes: some connect while neither service watches.
        came, done = [], threading.Event()

        def clients() -> None:
            while not done.is_set():
                came.append(f"PC-{len(came):03d}")
                box.sim.set_sessions([sim.Session(name, "user", 1, 5, 0) for name in came])
                done.wait(0.3)

        started = time.time()
        thread = threading.Thread(target=clients)
        thread.start()
        try:
            msiexec(wine, "/i", str(packages / "corvane-1.0.1-x64.msi"))
        finally:
            done.set()
            thread.join()
        assert [a["DisplayVersion"] for a in corvane_apps(wine)] == ["1.0.1"]
        assert sc_state(wine) == "RUNNING"
        for name in came:
            wait_for_log(box.log, f"接続検出,{name},(N/A),user".encode("cp932"), timeout=30)
        after = box.log.read_bytes()
        # What the old service wrote stays as it was, and nothing of it comes
        # again: every later line is stamped after the upgrade began.
        assert after.startswith(before)
        earliest = time.strftime("%Y/%m/%d %H:%M:%S", time.localtime(int(started))).encode()
        later = after[len(before):].split(b"\r\n")[:-1]
        assert later and all(line[:19] >= earliest for line in later), later
        assert box.sim.counters()[sim.LOADS] >= 2  # two services loaded the server


def test_tray_started_while_the_service_runs_shows_its_watch_and_writes_nothing(wine, wine_prefix, packages):
    with installed_service(wine, wine_prefix, packages / "corvane-1.0.0-x64.msi") as box:
        box.sim.set_sessions([sim.Session("PC-TRAY", "saburo", 1, 5, 0)])
        wait_for_log(box.log, "接続検出,PC-TRAY,(N/A),saburo".encode("cp932"), timeout=30)
        log = box.log.read_bytes()
        tray = wine.start(box.folder / "corvane.exe", name="tray")
        wine.wait_window(TITLE, process=tray)
        wine.send_keys(TITLE, "F5")
        wine.wait_until(lambda: [r[0] for r in wine.list_rows(TITLE, 11)] == ["PC-TRAY"], timeout=15,
                        what="the service's session in the tray")
        time.sleep(1)
        close_and_wait(wine, tray)
        # No line and no settings file of its own beside the service.
        assert box.log.read_bytes() == log
        assert not (box.folder / "Corvane.ini").exists()
        assert sc_state(wine) == "RUNNING"
