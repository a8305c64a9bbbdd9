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
from corvane_app import TITLE, close_and_wait, event_texts, start, wait_for_log

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
