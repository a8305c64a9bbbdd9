"""The close box under load: the window leaves the screen at once, the
process ends within a second, and a start right after it runs."""

from __future__ import annotations

import time

import simserver as sim
from corvane_app import TITLE, close_and_wait, start

WINDOW_GONE_S = 0.2
PROCESS_GONE_S = 1.0


def test_close_at_40_sessions_and_500_files_is_prompt_and_a_restart_runs(wine, sandbox):
    users = [f"user{i:02}" for i in range(40)]
    sandbox.sim.set_sessions([sim.Session(f"10.0.1.{i + 1}", users[i], 1, 60, 0) for i in range(40)])
    sandbox.sim.set_files([sim.OpenFile(i, f"D:\\share\\資料{i:03}.xlsx", users[i % 40]) for i in range(500)])
    program = start(wine, sandbox, passes=2)

    wine.close_window(TITLE)  # the request is posted when the tool returns
    asked = time.monotonic()
    gone = None
    while program.running() and time.monotonic() - asked < 10:
        if gone is None and not wine.find_windows(TITLE):
            gone = time.monotonic() - asked
        time.sleep(0.005)
    ended = time.monotonic() - asked
    assert program.wait(timeout=10) == 0
    if gone is None:
        gone = ended
    print(f"\nclose at 40 / 500: window gone after {gone * 1000:.0f} ms, process ended after {ended * 1000:.0f} ms")
    assert gone < WINDOW_GONE_S, f"the window stayed {gone:.3f} s"
    assert ended < PROCESS_GONE_S, f"the process ran {ended:.3f} s after the close"

    # Started again at once: the new instance is not taken for the old one.
    again = wine.start(sandbox.exe)
    wine.wait_window(TITLE, timeout=30, process=again)
    assert again.running()
    close_and_wait(wine, again)
