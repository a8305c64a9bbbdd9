"""corvane.exe as the face of corvane-service.exe under Wine: a standard
user's tray (Administrators deny-only, started through corvane_wintool)
shows what the service watches without loading the server functions, is
told of a new connection, and cannot end a session, while an administrator's
tray can; with ShowToUsers=0 the standard user sees nothing and is told why.
A tray outlives the service's stop and start without telling anyone twice.
Announcements are counted by the sound each one plays (Wine's winmm traces
the file it is asked to play)."""

from __future__ import annotations

import subprocess
import time
from pathlib import Path

import simserver as sim
from conftest import WineProcess
from corvane_app import TITLE, click_first_row, close_and_wait, wait_for_log
from test_dialogs import SESSIONS
from test_event_log import TRACE as SERVICE_TRACE
from test_service import SERVICE, installed_service, packages, sc_state  # noqa: F401 (a fixture)
from test_watch import STATUS_BAR

NOT_ACTING = "管理者として実行していないため、切断などの操作はできません(表示のみ)"
NOT_LOOKING = "共有の状況は管理者だけが見られる設定です"
NO_SERVICE = "監視サービスに接続できません"
SOUND = "C:\\windows\\connect.wav"
TRACE = "+loaddll,+winmm"
INSTALLED_EXE = "C:\\Program Files\\Corvane\\corvane.exe"
RUN_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"


def write_user_settings(prefix: Path) -> None:
    """Each user's own choices in their profile: lists kept up to date, and a
    sound for every announced connection."""
    for user in (prefix / "drive_c" / "users").iterdir():
        if user.name == "Public" or not (user / "AppData").is_dir():
            continue
        folder = user / "AppData" / "Roaming" / "Corvane"
        folder.mkdir(parents=True, exist_ok=True)
        lines = ["[Environment]", "IsSecond=1", "IgnoreAutoRefresh=0", "NotifyConnectSessionBySound=1",
                 f"SoundFileNameConnectSession={SOUND}"]
        (folder / "Corvane.ini").write_bytes(("\r\n".join(lines) + "\r\n").encode("cp932"))


def start_tray(wine, folder: Path, name: str, standard: bool) -> WineProcess:
    """The installed corvane.exe, as a standard user or as this prefix's
    administrator, with the loader's and winmm's trace in <name>.out. A
    program that another starts takes Wine's channels from the environment
    of the registry (where the service's trace is set), so they go there too."""
    wine.run("reg", "add", "HKCU\\Environment", "/v", "WINEDEBUG", "/d", f"{SERVICE_TRACE},{TRACE}", "/f",
             timeout=60)
    args = ["wine", str(wine.bindir / "corvane_wintool.exe"), "standard", INSTALLED_EXE] if standard \
        else ["wine", str(folder / "corvane.exe")]
    with open(folder / f"{name}.out", "wb") as out:
        popen = subprocess.Popen(args, cwd=folder, env=dict(wine.env, WINEDEBUG=TRACE), stdin=subprocess.DEVNULL,
                                 stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
    process = WineProcess(popen, name)
    wine.processes.append(process)
    wine.wait_window(TITLE, process=process)
    return process


def trace(folder: Path, name: str) -> str:
    return (folder / f"{name}.out").read_text(errors="replace").replace("\\\\", "\\")


def sounds(folder: Path, name: str) -> int:
    return trace(folder, name).count(f'SoundName=L"{SOUND}"')


def computers(wine) -> list[str]:
    return sorted(row[0] for row in wine.list_rows(TITLE, SESSIONS))


def status(wine) -> str:
    return wine.control_text(TITLE, STATUS_BAR)


def delete_first_session(wine) -> None:
    """Selects the first row with a real click and presses Delete."""
    click_first_row(wine, sync=False)
    time.sleep(0.5)
    wine.send_keys(TITLE, "Delete")


def set_show_to_users(box, value: int) -> None:
    (box.folder / "Corvane.ini").write_bytes(f"[Environment]\r\nShowToUsers={value}\r\n".encode("cp932"))


def test_standard_user_sees_the_services_sessions_and_only_an_administrator_ends_one(wine, wine_prefix, packages):
    with installed_service(wine, wine_prefix, packages / "corvane-1.0.0-x64.msi", "[Environment]\nShowToUsers=1\n") \
            as box:
        box.sim.set_delete_removes_session(False)
        box.sim.set_sessions([sim.Session("10.0.0.1", "taro", 1, 5, 0)])
        wait_for_log(box.log, "接続検出,10.0.0.1,10.0.0.1,taro".encode("cp932"), timeout=30)
        write_user_settings(wine_prefix)
        loads = box.sim.counters()[sim.LOADS]

        tray = start_tray(wine, box.folder, "standard", standard=True)
        wine.wait_until(lambda: computers(wine) == ["10.0.0.1"], timeout=15, what="the service's session")
        wine.wait_until(lambda: status(wine) == NOT_ACTING, timeout=10, what="why the commands are off")
        box.sim.set_sessions([sim.Session("10.0.0.1", "taro", 1, 5, 0), sim.Session("10.0.0.2", "hanako", 1, 5, 0)])
        wine.wait_until(lambda: computers(wine) == ["10.0.0.1", "10.0.0.2"], timeout=15, what="the new session")
        wine.wait_until(lambda: sounds(box.folder, "standard") == 2, timeout=10, what="the new connection's sound")

        delete_first_session(wine)
        time.sleep(2)
        assert box.sim.calls().session_dels == []
        assert status(wine) == NOT_ACTING
        close_and_wait(wine, tray)
        # The server functions were never loaded by the standard user's tray.
        assert "netapi32" not in trace(box.folder, "standard").lower()
        assert box.sim.counters()[sim.LOADS] == loads

        admin = start_tray(wine, box.folder, "admin", standard=False)
        wine.wait_until(lambda: len(computers(wine)) == 2, timeout=15, what="the sessions")
        assert status(wine) == ""
        delete_first_session(wine)
        box.sim.wait_for(lambda c: c[sim.SESSION_DELS] >= 1, timeout=15, what="the disconnection")
        time.sleep(2)
        assert len(box.sim.calls().session_dels) == 1
        close_and_wait(wine, admin)

        # Administrators only: the standard user's tray, open all the while,
        # lists nothing more and says why.
        tray = start_tray(wine, box.folder, "refused", standard=True)
        wine.wait_until(lambda: len(computers(wine)) == 2, timeout=15, what="the sessions")
        set_show_to_users(box, 0)
        wine.wait_until(lambda: any(r[0] == 4003 for r in box.reports()), timeout=15, what="the settings reread")
        wine.wait_until(lambda: status(wine) == NOT_LOOKING, timeout=15, what="why nothing is shown")
        wine.wait_until(lambda: computers(wine) == [], timeout=5, what="the rows gone")
        close_and_wait(wine, tray)


def test_tray_outlives_a_stop_and_start_of_the_service_and_tells_nobody_twice(wine, wine_prefix, packages):
    with installed_service(wine, wine_prefix, packages / "corvane-1.0.0-x64.msi") as box:
        run = wine.run("reg", "query", RUN_KEY, "/v", "Corvane", timeout=60)
        assert b"corvane.exe" in run.stdout.lower(), run  # the tray starts at every user's log-on
        box.sim.set_sessions([sim.Session("10.0.0.1", "taro", 1, 5, 0)])
        write_user_settings(wine_prefix)
        tray = start_tray(wine, box.folder, "tray", standard=False)
        wine.wait_until(lambda: computers(wine) == ["10.0.0.1"], timeout=15, what="the service's session")
        wine.wait_until(lambda: sounds(box.folder, "tray") == 1, timeout=10, what="the connection's sound")

        result = wine.run("net", "stop", SERVICE, timeout=60)
        assert result.returncode == 0, result
        wine.wait_until(lambda: status(wine) == NO_SERVICE, timeout=10, what="the service's absence told")
        assert computers(wine) == ["10.0.0.1"]

        result = wine.run("net", "start", SERVICE, timeout=60)
        assert result.returncode == 0 and sc_state(wine) == "RUNNING", result
        started = time.monotonic()
        wine.wait_until(lambda: status(wine) == "", timeout=10, what="the tray back on the service", interval=0.05)
        assert time.monotonic() - started <= 2.0
        time.sleep(3)
        assert computers(wine) == ["10.0.0.1"]
        assert sounds(box.folder, "tray") == 1  # taro is not announced again

        box.sim.set_sessions([sim.Session("10.0.0.1", "taro", 1, 5, 0), sim.Session("10.0.0.3", "jiro", 1, 5, 0)])
        wine.wait_until(lambda: sounds(box.folder, "tray") == 2, timeout=10, what="the next connection's sound")
        close_and_wait(wine, tray)
