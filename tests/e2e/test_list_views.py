"""The session and resource lists seen from outside: filled on F5 in the
manual-refresh mode, following every watch pass without it, the second tab,
and the access lines of the log."""

from __future__ import annotations

import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

import simserver as sim
from corvane_app import TITLE, close_and_wait, expected_address, start

TAB_CONTROL, SESSIONS, RESOURCES = 10, 11, 12
ROW_TIMEOUT = 15



def event_texts(log: Path) -> list[str]:
    """The event texts of the log (code page 932), without their stamps."""
    if not log.exists():
        return []
    return [line[20:] for line in log.read_bytes().decode("cp932").split("\r\n")[:-1]]


def wait_for_log(log: Path, texts: list[str], timeout: float) -> list[str]:
    deadline = time.monotonic() + timeout
    while True:
        logged = event_texts(log)
        if all(text in logged for text in texts):
            return logged
        if time.monotonic() >= deadline:
            raise AssertionError(f"log lines {[t for t in texts if t not in logged]} missing after "
                                 f"{timeout}s; log: {logged}")
        time.sleep(0.2)


def wait_passes(sandbox, count: int) -> None:
    """Waits until `count` more whole passes (session and resource scan) ran."""
    now = sandbox.sim.counters()
    sandbox.sim.wait_for(lambda c: c[sim.FILE_ENUMS] >= now[sim.FILE_ENUMS] + count
                         and c[sim.SESSION_ENUMS] >= now[sim.SESSION_ENUMS] + count,
                         timeout=20, what=f"{count} more passes")


def wait_rows(wine, control_id: int, expected: list[list[str]]) -> None:
    wine.wait_until(lambda: wine.list_rows(TITLE, control_id) == expected, timeout=ROW_TIMEOUT,
                    what=f"rows {expected} in list {control_id}")



def session_row(session: sim.Session) -> list[str]:
    return [session.computer, expected_address(session.computer), session.user, str(session.opens),
            *(time_text(s) for s in (session.seconds, session.idle_seconds))]


def time_text(seconds: int) -> str:
    days, rest = divmod(seconds, 86400)
    clock = f"{rest // 3600:02d}:{rest // 60 % 60:02d}:{rest % 60:02d}"
    return f"{days} d. {clock}" if days else clock


def test_manual_refresh_fills_the_lists_only_on_f5(wine, sandbox):
    taro = sim.Session("10.0.0.1", "太郎", 2, 3661, 59)
    hanako = sim.Session("10.0.0.2", "hanako", 1, 90061, 0)
    report = sim.OpenFile(7, "C:\\share\\報告書.txt", "太郎")
    table = sim.OpenFile(8, "D:\\data\\a,b.csv", "hanako")
    sandbox.sim.set_sessions([taro, hanako])
    sandbox.sim.set_files([report, table])

    start(wine, sandbox)
    wait_passes(sandbox, 3)
    assert wine.list_rows(TITLE, SESSIONS) == []
    assert wine.list_rows(TITLE, RESOURCES) == []
    # Tracking and logging go on without a refresh.
    assert sorted(t for t in event_texts(sandbox.log) if t.startswith("アクセス検出,")) == sorted(
        ["アクセス検出,太郎,C:\\share\\報告書.txt", "アクセス検出,hanako,D:\\data\\a,b.csv"])

    wine.send_keys(TITLE, "F5")
    wait_rows(wine, SESSIONS, [session_row(taro), session_row(hanako)])
    assert session_row(taro)[4:] == ["01:01:01", "00:00:59"]
    assert session_row(hanako)[4:] == ["1 d. 01:01:01", "00:00:00"]
    wait_rows(wine, RESOURCES, [["太郎", report.path], ["hanako", table.path]])
    wine.screenshot("sessions")

    wine.click_tab(TITLE, 1)
    wine.wait_until(lambda: wine.selected_tab(TITLE) == 1, timeout=10, what="the second tab")
    assert wine.control_visible(TITLE, RESOURCES) and not wine.control_visible(TITLE, SESSIONS)
    wine.screenshot("resources")

    # The server changes: tracked and logged at once, shown only after F5.
    taro.seconds, taro.idle_seconds, taro.opens = 7322, 0, 3
    jiro = sim.Session("PC03.invalid", "jiro", 1, 5, 5)
    notes = sim.OpenFile(9, "C:\\share\\memo.txt", "jiro")
    sandbox.sim.set_sessions([taro, hanako, jiro])
    sandbox.sim.set_files([report, table, notes])
    wait_for_log(sandbox.log, [f"接続検出,PC03.invalid,{expected_address('PC03.invalid')},jiro",
                               "アクセス検出,jiro,C:\\share\\memo.txt"], timeout=15)
    wait_passes(sandbox, 3)
    assert wine.list_rows(TITLE, SESSIONS) == [session_row(sim.Session("10.0.0.1", "太郎", 2, 3661, 59)),
                                               session_row(hanako)]
    assert wine.list_rows(TITLE, RESOURCES) == [["太郎", report.path], ["hanako", table.path]]

    wine.send_keys(TITLE, "F5")
    wait_rows(wine, SESSIONS, [session_row(taro), session_row(hanako), session_row(jiro)])
    assert session_row(taro)[3:] == ["3", "02:02:02", "00:00:00"]
    wait_rows(wine, RESOURCES, [["太郎", report.path], ["hanako", table.path], ["jiro", notes.path]])
    wine.screenshot("resources-refreshed")

    # Every access logged once, however many passes saw it.
    accesses = [t for t in event_texts(sandbox.log) if t.startswith("アクセス検出,")]
    assert sorted(accesses) == sorted([f"アクセス検出,{f.user},{f.path}" for f in (report, table, notes)])


def test_without_manual_refresh_the_lists_follow_every_pass(wine, sandbox):
    sandbox.ini.write_bytes(b"[Environment]\r\nIsSecond=1\r\nIgnoreAutoRefresh=0\r\n")
    taro = sim.Session("10.0.0.1", "太郎", 2, 3661, 59)
    report = sim.OpenFile(7, "C:\\share\\報告書.txt", "太郎")
    sandbox.sim.set_sessions([taro])
    sandbox.sim.set_files([report])

    start(wine, sandbox)
    wait_rows(wine, SESSIONS, [session_row(taro)])
    wait_rows(wine, RESOURCES, [["太郎", report.path]])

    # Static numbers: the rows stay as they are pass after pass.
    wait_passes(sandbox, 3)
    assert wine.list_rows(TITLE, SESSIONS) == [session_row(taro)]

    # A new session and access appear, changed numbers show, without F5.
    taro.seconds, taro.opens = 3662, 3
    hanako = sim.Session("10.0.0.2", "hanako", 1, 86400, 1)
    table = sim.OpenFile(8, "D:\\data\\a,b.csv", "hanako")
    sandbox.sim.set_sessions([taro, hanako])
    sandbox.sim.set_files([report, table])
    wait_rows(wine, SESSIONS, [session_row(taro), session_row(hanako)])
    assert session_row(taro)[3:5] == ["3", "01:01:02"]
    wait_rows(wine, RESOURCES, [["太郎", report.path], ["hanako", table.path]])

    # A session that ends and a file that closes disappear.
    sandbox.sim.set_sessions([hanako])
    sandbox.sim.set_files([table])
    wait_rows(wine, SESSIONS, [session_row(hanako)])
    wait_rows(wine, RESOURCES, [["hanako", table.path]])

    wine.click_tab(TITLE, 1)
    wine.wait_until(lambda: wine.selected_tab(TITLE) == 1, timeout=10, what="the second tab")
    wine.screenshot("resources")

    logged = event_texts(sandbox.log)
    pc01, pc02 = expected_address("10.0.0.1"), expected_address("10.0.0.2")
    assert sorted(logged) == sorted([
        f"接続検出,10.0.0.1,{pc01},太郎", "アクセス検出,太郎,C:\\share\\報告書.txt",
        f"接続検出,10.0.0.2,{pc02},hanako", "アクセス検出,hanako,D:\\data\\a,b.csv",
        f"切断検出,10.0.0.1,{pc01},太郎"])


def busy_office(sandbox) -> tuple[list[list[str]], list[list[str]]]:
    """200 sessions and 5,000 open files on the server; the rows they give."""
    users = [f"user{i:03}" for i in range(200)]
    sessions = [sim.Session(f"PC{i:03}.invalid", users[i], 1, 10, 0) for i in range(200)]
    files = [sim.OpenFile(i, f"D:\\share\\部署{i % 9}\\資料{i:05}.xlsx", users[i % 200]) for i in range(5000)]
    sandbox.sim.set_sessions(sessions)
    sandbox.sim.set_files(files)
    return [session_row(s) for s in sessions], [[f.user, f.path] for f in files]


def row_count(wine, control_id: int) -> int:
    return int(wine.tool("count", TITLE, str(control_id)).stdout.split()[0])


def test_automatic_refresh_keeps_the_window_answering_while_thousands_of_rows_come_and_go(wine, sandbox):
    # 1,000 clients named by their addresses, 20,000 open files; then every
    # other client logs off with its files, all in one pass.
    sessions = [sim.Session(f"10.1.{i // 250}.{i % 250}", f"user{i:04}", 1, 10, 0) for i in range(1000)]
    files = [sim.OpenFile(i, f"D:\\share\\部署{i % 9}\\資料{i:05}.xlsx", sessions[i % 1000].user)
             for i in range(20000)]
    staying = sessions[::2]
    staying_files = [f for i, f in enumerate(files) if i % 2 == 0]
    sandbox.sim.set_sessions(sessions)
    sandbox.sim.set_files(files)
    sandbox.ini.write_bytes(b"[Environment]\r\nIsSecond=1\r\nIgnoreAutoRefresh=0\r\n")
    program = wine.start(sandbox.exe)
    sandbox.sim.wait_for(lambda c: c[sim.SESSION_ENUMS] >= 1, timeout=60, what="the first listing")
    # Unbroken streams of probes: from the first listing on while the first
    # passes add every row, then while one pass removes half of them.
    with ThreadPoolExecutor(1) as pool:
        probes = pool.submit(wine.tool, "ping", TITLE, "1500", "20", timeout=240)
        wine.wait_until(lambda: row_count(wine, SESSIONS) == 1000 and row_count(wine, RESOURCES) == 20000,
                        timeout=120, what="both lists full")
        assert not probes.done(), "the probes ended before the lists were full"
        filling = float(probes.result().stdout.split()[1])
        probes = pool.submit(wine.tool, "ping", TITLE, "300", "20", timeout=120)
        time.sleep(1)
        sandbox.sim.set_sessions(staying)
        sandbox.sim.set_files(staying_files)
        wine.wait_until(lambda: row_count(wine, SESSIONS) == 500 and row_count(wine, RESOURCES) == 10000,
                        timeout=60, what="half of the rows gone")
        assert not probes.done(), "the probes ended before half of the rows were gone"
        emptying = float(probes.result().stdout.split()[1])
    wait_rows(wine, SESSIONS, [session_row(s) for s in staying])
    close_and_wait(wine, program)
    print(f"\nlongest wait of the window while 21,000 rows filled: {filling:.1f} ms, "
          f"while 10,500 of them went in one pass: {emptying:.1f} ms")
    longest = max(filling, emptying)
    assert longest < 100, f"the window waited {longest} ms while the lists filled and emptied"


def test_f5_fills_both_lists_with_thousands_of_rows(wine, sandbox):
    expected_sessions, expected_files = busy_office(sandbox)
    program = start(wine, sandbox, passes=2)
    assert wine.list_rows(TITLE, SESSIONS) == []
    wine.send_keys(TITLE, "F5")
    wait_rows(wine, SESSIONS, expected_sessions)
    wait_rows(wine, RESOURCES, expected_files)
    close_and_wait(wine, program)
