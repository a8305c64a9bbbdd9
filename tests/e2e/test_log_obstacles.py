"""A log that cannot be written: the program says so in its status bar, keeps
watching, and once the log can be written again it logs what happened in the
meantime, each event once, after the earlier lines."""

from __future__ import annotations

import shutil
import subprocess
import time
from pathlib import Path

import pytest

import simserver as sim
from corvane_app import TITLE, balloons, close_and_wait, log_lines, start, wait_for_log
from test_event_log import TRACE, WARNING, reports

STATUS_BAR = 13
LOG_FAULT = "ログファイルに書き込めません"


# Each obstacle is set up on the log and gives back what removes it.

def replace_by_folder(log: Path, scratch: Path, cleanups: list):
    log.rename(scratch / "moved.txt")
    log.mkdir()
    return log.rmdir


def make_immutable(log: Path, scratch: Path, cleanups: list):
    if subprocess.run(["chattr", "+i", str(log)], capture_output=True).returncode != 0:
        pytest.skip("chattr +i is not allowed here")
    cleanups.append(lambda: subprocess.run(["chattr", "-i", str(log)]))
    return lambda: subprocess.run(["chattr", "-i", str(log)], check=True)


def fill_its_disk(log: Path, scratch: Path, cleanups: list):
    """Moves the log onto a file system of its own (through a symbolic link)
    and fills that file system."""
    small = scratch / "small"
    small.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(small)],
                      capture_output=True).returncode != 0:
        pytest.skip("no small file system can be mounted here")
    cleanups.append(lambda: subprocess.run(["umount", "-l", str(small)]))
    shutil.copyfile(log, small / log.name)
    log.unlink()
    log.symlink_to(small / log.name)
    filler = small / "filler"
    with open(filler, "wb", buffering=0) as out:
        try:
            while out.write(b"\0" * 512):
                pass
        except OSError:
            pass

    return filler.unlink


def status_line(wine, wanted, timeout: float = 15) -> str:
    deadline = time.monotonic() + timeout
    while not wanted(line := wine.control_text(TITLE, STATUS_BAR)) and time.monotonic() < deadline:
        time.sleep(0.2)
    return line


@pytest.mark.parametrize("obstacle", [replace_by_folder, make_immutable, fill_its_disk],
                         ids=["replaced-by-a-folder", "read-only", "disk-full"])
def test_unwritable_log_is_named_and_loses_no_event(wine, sandbox, tmp_path, obstacle):
    cleanups: list = []
    try:
        unwritable_log(wine, sandbox, tmp_path, obstacle, cleanups)
    finally:
        for cleanup in cleanups:
            cleanup()


def unwritable_log(wine, sandbox, tmp_path, obstacle, cleanups):
    # An earlier line sized so that the first event ends the log on a page
    # boundary: the next line then needs space of its own on the disk.
    first = len("2026/12/08 09:00:00,接続検出,10.0.0.1,10.0.0.1,taro\r\n".encode("cp932"))
    sandbox.log.write_bytes(b"2026/12/01 09:00:00,old," + b"x" * (4096 - first - 26) + b"\r\n")
    sandbox.sim.set_sessions([sim.Session("10.0.0.1", "taro", 1, 0, 0)])
    program = start(wine, sandbox, passes=2)
    earlier = wait_for_log(sandbox.log, "接続検出,10.0.0.1,10.0.0.1,taro".encode("cp932"), timeout=10)
    kept = sandbox.log.read_bytes()
    assert len(kept) == 4096

    remove = obstacle(sandbox.log, tmp_path, cleanups)
    try:
        sandbox.sim.modify(lambda s: s.sessions.append(sim.Session("10.0.0.2", "hanako", 1, 0, 0)))
        line = status_line(wine, lambda text: LOG_FAULT in text)
        assert LOG_FAULT in line and "(エラー " in line, line
        passes = sandbox.sim.counters()[sim.SESSION_ENUMS]
        sandbox.sim.wait_for(lambda c: c[sim.SESSION_ENUMS] >= passes + 3, timeout=15, what="watching to go on")
        assert program.running()
    finally:
        remove()
    texts = wait_for_log(sandbox.log, "接続検出,10.0.0.2,10.0.0.2,hanako".encode("cp932"), timeout=15)
    assert status_line(wine, lambda text: text == "") == ""
    if obstacle is replace_by_folder:
        assert (tmp_path / "moved.txt").read_bytes() == kept
        assert texts == ["接続検出,10.0.0.2,10.0.0.2,hanako".encode("cp932")]  # a log of its own
    else:
        assert sandbox.log.read_bytes().startswith(kept)
        assert texts == earlier + ["接続検出,10.0.0.2,10.0.0.2,hanako".encode("cp932")]
    close_and_wait(wine, program)


def test_outage_ends_sessions_on_time_and_logs_them_with_their_own_times(wine, sandbox, tmp_path):
    """While the log is a folder a session passes its connected-time limit and
    another arrives: the first is ended at once and the second announced;
    the lines come afterwards, in order, stamped when it happened. Closing
    while the log is still broken leaves the held lines in a file beside it."""
    sandbox.ini.write_bytes(b"[Environment]\r\nIsSecond=1\r\nDisconnectConnTime=60\r\n")
    sandbox.sim.set_sessions([sim.Session("10.0.0.1", "taro", 1, 50, 0)])
    program = start(wine, sandbox, passes=2)
    wait_for_log(sandbox.log, "接続検出,10.0.0.1,10.0.0.1,taro".encode("cp932"), timeout=10)
    wine.wait_until(lambda: not balloons(wine), timeout=40, what="the first balloon to go")

    (tmp_path / "first").mkdir()
    remove = replace_by_folder(sandbox.log, tmp_path / "first", [])
    try:
        sandbox.sim.set_sessions([sim.Session("10.0.0.1", "taro", 1, 61, 0),
                                  sim.Session("10.0.0.2", "hanako", 1, 0, 0)])
        sandbox.sim.wait_for(lambda c: c[sim.SESSION_DELS] >= 1, timeout=15, what="the end by connected time")
        assert [(d.client_name, d.user_name) for d in sandbox.sim.calls().session_dels] == [("\\\\10.0.0.1", "taro")]
        wine.wait_until(lambda: balloons(wine), timeout=15, what="the balloon of the new session")
        line = status_line(wine, lambda text: "書き込み待ち 2 件" in text)
        assert LOG_FAULT in line, line
        time.sleep(1.2)  # the stamps of the held lines must be older than the moment the log works again
        restored = time.strftime("%Y/%m/%d %H:%M:%S").encode()
    finally:
        remove()
    wait_for_log(sandbox.log, "接続検出,10.0.0.2,10.0.0.2,hanako".encode("cp932"), timeout=15)
    lines = log_lines(sandbox.log)
    # One pass saw both: its new sessions come first, then the ends by time.
    assert [line[20:] for line in lines] == ["接続検出,10.0.0.2,10.0.0.2,hanako".encode("cp932"),
                                             "接続時間による自動切断,10.0.0.1,10.0.0.1,taro".encode("cp932")]
    assert all(line[:19] < restored for line in lines), (lines, restored)

    (tmp_path / "second").mkdir()
    replace_by_folder(sandbox.log, tmp_path / "second", [])
    sandbox.sim.modify(lambda s: s.sessions.append(sim.Session("10.0.0.3", "jiro", 1, 0, 0)))
    status_line(wine, lambda text: "書き込み待ち 1 件" in text)
    close_and_wait(wine, program)
    unsaved = list(sandbox.folder.glob("CorvaneLog.unsaved-*.txt"))
    assert len(unsaved) == 1, unsaved
    assert log_lines(unsaved[0])[0][20:] == "接続検出,10.0.0.3,10.0.0.3,jiro".encode("cp932")


def test_end_of_session_saves_the_waiting_lines_before_the_process_ends(wine, sandbox, tmp_path):
    """Windows ends the session (WM_QUERYENDSESSION, then WM_ENDSESSION) and the
    process right after the window answered, while a line waits for a log that
    is a folder: by then the line is in a file beside the log, the settings are
    saved and the event log says where the line went."""
    sandbox.sim.set_sessions([sim.Session("10.0.0.1", "taro", 1, 0, 0)])
    program = start(wine, sandbox, winedebug=TRACE)
    wait_for_log(sandbox.log, "接続検出,10.0.0.1,10.0.0.1,taro".encode("cp932"), timeout=10)
    (tmp_path / "moved").mkdir()
    replace_by_folder(sandbox.log, tmp_path / "moved", [])
    sandbox.sim.modify(lambda s: s.sessions.append(sim.Session("10.0.0.2", "hanako", 1, 0, 0)))
    assert "書き込み待ち 1 件" in status_line(wine, lambda text: "書き込み待ち 1 件" in text)
    sandbox.ini.unlink(missing_ok=True)

    ended = wine.tool("endsession", TITLE)
    assert ended.returncode == 0 and ended.stdout.split() == [b"1"], ended
    program.wait(timeout=10)  # ended by the tool, as Windows ends it
    unsaved = list(sandbox.folder.glob("CorvaneLog.unsaved-*.txt"))
    assert len(unsaved) == 1, unsaved
    assert [line[20:] for line in log_lines(unsaved[0])] == ["接続検出,10.0.0.2,10.0.0.2,hanako".encode("cp932")]
    assert sandbox.ini.exists()
    told = [r for r in reports((sandbox.folder / "corvane.out").read_bytes()) if r[0] == 3004]
    assert len(told) == 1 and told[0][1:3] == (WARNING, 4), told
    assert told[0][3][0] == "1" and told[0][3][1].endswith(unsaved[0].name), told
