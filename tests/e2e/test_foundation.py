"""Start-up, single instance, the watch loop against the simulated server, and
closing: corvane.exe seen from outside."""

import subprocess
import time

import simserver as sim
from corvane_app import TITLE, close_and_wait, start




def test_second_instance_ends_at_once_and_leaves_the_first_running(wine, sandbox):
    first = start(wine, sandbox)

    second = wine.start(sandbox.exe, name="second")
    try:
        code = second.wait(timeout=30)
    except subprocess.TimeoutExpired:
        raise AssertionError("the second instance is still running after 30 s") from None
    assert code == 0

    assert first.running()
    assert wine.find_windows(TITLE), "the first instance's window is gone"
    # The second process ended before binding the server API.
    assert sandbox.sim.counters()[sim.LOADS] == 1
    before = sandbox.sim.counters()[sim.SESSION_ENUMS]
    sandbox.sim.wait_for(lambda c: c[sim.SESSION_ENUMS] > before, timeout=10,
                         what="the first instance to go on scanning")


def test_scans_keep_enumerating_with_the_documented_arguments(wine, sandbox):
    sandbox.sim.set_sessions([sim.Session("PC01", "alice", 1, 10, 5)])
    sandbox.sim.set_files([sim.OpenFile(1, "C:\\share\\a.txt", "alice")])
    start(wine, sandbox)
    first = sandbox.sim.counters()
    later = sandbox.sim.wait_for(
        lambda c: c[sim.SESSION_ENUMS] >= first[sim.SESSION_ENUMS] + 5
        and c[sim.FILE_ENUMS] >= first[sim.FILE_ENUMS] + 5,
        timeout=15, what="five more passes")

    assert later[sim.SESSION_ENUM_ODD_ARGS] == 0
    assert later[sim.FILE_ENUM_ODD_ARGS] == 0
    assert later[sim.BAD_FREES] == 0
    # At most the buffer of a scan in progress is out.
    assert later.buffers_outstanding in (0, 1)
    assert sandbox.sim.calls().state_errors == []


def test_close_box_ends_the_program_while_scans_run(wine, sandbox):
    # Failing enumerations that still hand out buffers: each must be freed.
    sandbox.sim.set_sessions([sim.Session("PC01", "alice")])
    sandbox.sim.set_buffer_on_failure(True)
    sandbox.sim.set_status(sessions=sim.ERROR_MORE_DATA, files=sim.ERROR_ACCESS_DENIED)
    program = start(wine, sandbox)
    wine.screenshot("before-close")

    close_and_wait(wine, program)

    counters = sandbox.sim.counters()
    assert counters[sim.BUFFERS_ALLOCATED] > 0
    assert counters.buffers_outstanding == 0, dict(counters)
    assert counters[sim.BAD_FREES] == 0
    assert counters[sim.UNLOADS] == 1, "the server library was not released"
    assert sandbox.ini.is_file()


def test_without_every_server_function_nothing_is_watched_and_it_closes(wine, sandbox_missing_export):
    box = sandbox_missing_export
    # Settings of an earlier run: must survive a start that never loaded them.
    stored = ("[Environment]\r\nIsSecond=1\r\nDisconnectIdleTime=42\r\nMaxLogSize=4096\r\n"
              "CloseIsMinimize=0\r\nExitMessage=0\r\n").encode("ascii")
    box.ini.write_bytes(stored)
    box.sim.set_sessions([sim.Session("PC01", "alice")])

    program = wine.start(box.exe)
    wine.wait_window(TITLE, process=program)
    time.sleep(3)
    wine.screenshot()
    counters = box.sim.counters()
    assert counters[sim.LOADS] >= 1, "the simulated server was not the library loaded"
    assert counters[sim.SESSION_ENUMS] == 0
    assert counters[sim.FILE_ENUMS] == 0

    close_and_wait(wine, program)
    assert box.ini.read_bytes() == stored
    assert not box.log.exists()
    assert box.sim.counters()[sim.SESSION_ENUMS] == 0
