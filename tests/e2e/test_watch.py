"""The watch seen from outside: a busy server leaves the window answering and
new connections logged promptly, a server that refuses its lists is named in
the status bar, and a name with line breaks stays one log line."""

from __future__ import annotations

import json
import subprocess
import time

import pytest

import simserver as sim
from corvane_app import TITLE, close_and_wait, event_texts, start, wait_for_log

STATUS_BAR = 13


def busy_office(sessions: int, files: int) -> tuple[list[sim.Session], list[sim.OpenFile]]:
    users = [f"user{i:03}" for i in range(sessions)]
    return ([sim.Session(f"PC{i:03}", users[i], 1, 10 + i, i % 7) for i in range(sessions)],
            [sim.OpenFile(i, f"D:\\share\\部署{i % 9}\\資料{i:04}.xlsx", users[i % sessions]) for i in range(files)])


def test_busy_server_keeps_the_window_answering_and_logs_new_sessions_promptly(wine, sandbox):
    sessions, files = busy_office(40, 500)
    sandbox.sim.set_sessions(sessions)
    sandbox.sim.set_files(files)
    program = start(wine, sandbox, passes=2)

    median, longest = map(float, wine.tool("ping", TITLE, "40", "20").stdout.split())
    assert longest < 100, f"the window took {longest} ms to answer (median {median} ms)"

    sandbox.sim.modify(lambda s: s.sessions.append(sim.Session("NEWPC.invalid", "newcomer", 1, 0, 0)))
    written = time.monotonic()
    wait_for_log(sandbox.log, "接続検出,NEWPC.invalid,(N/A),newcomer".encode("cp932"), timeout=10)
    assert time.monotonic() - written < 2.0
    close_and_wait(wine, program)


def test_refused_enumeration_is_named_in_the_status_bar_until_watching_works(wine, sandbox):
    sandbox.sim.set_status(sessions=sim.ERROR_ACCESS_DENIED)
    program = start(wine, sandbox)

    deadline = time.monotonic() + 10
    while "(エラー 5)" not in (line := wine.control_text(TITLE, STATUS_BAR)) and time.monotonic() < deadline:
        time.sleep(0.2)
    assert "セッションの一覧を取得できません。" in line and "(エラー 5)" in line, line

    sandbox.sim.set_status(sessions=0)
    deadline = time.monotonic() + 10
    while wine.control_text(TITLE, STATUS_BAR) and time.monotonic() < deadline:
        time.sleep(0.2)
    assert wine.control_text(TITLE, STATUS_BAR) == ""
    close_and_wait(wine, program)


def test_program_asks_for_no_rights_in_its_manifest(sandbox):
    # As the face of the service it runs as whoever starts it; alone, it asks
    # for elevation itself when it starts.
    assert b'level="asInvoker"' in sandbox.exe.read_bytes()


def test_line_breaks_in_names_never_split_an_event(wine, sandbox):
    sandbox.sim.set_sessions([sim.Session("PC01\r\n2026/12/08 09:00:00,切断検出,PC09", "taro\n", 1, 0, 0)])
    sandbox.sim.set_files([sim.OpenFile(1, "D:\\share\\a\r\nb.txt", "taro")])
    program = start(wine, sandbox, passes=2)
    close_and_wait(wine, program)
    assert [t.decode("cp932") for t in event_texts(sandbox.log)] == [
        "接続検出,PC01  2026/12/08 09:00:00,切断検出,PC09,(N/A),taro ",
        "アクセス検出,taro,D:\\share\\a  b.txt",
    ]


def own_addresses() -> list[str]:
    """This computer's addresses other than loopback, as its adapters have
    them (a link-local one with its interface's number as the zone)."""
    try:
        links = json.loads(subprocess.run(["ip", "-j", "addr"], capture_output=True, check=True).stdout)
    except (OSError, subprocess.CalledProcessError, ValueError):
        return []
    found = []
    for link in links:
        for info in link.get("addr_info", []):
            if info.get("scope") == "host" or info.get("family") not in ("inet", "inet6"):
                continue
            zone = f"%{link['ifindex']}" if info["scope"] == "link" and info["family"] == "inet6" else ""
            found.append(info["local"] + zone)
    return found


def test_clients_named_by_address_show_it_and_this_computer_is_left_out(wine, sandbox):
    # The Windows server names a client by its address, IPv6 too; with the
    # default settings this computer's own connections are not logged: those
    # from loopback and those from the addresses of its adapters, which only
    # the adapter list tells (its name resolves to none of its link-local
    # addresses).
    own = own_addresses()
    names = ["::1", "[::1]", "127.0.0.1", "fe80::1c2d:3e4f:5a6b:7c8d", "2001:db8::25", "192.168.1.50", *own]
    sandbox.sim.set_sessions([sim.Session(name, f"user{i}", 1, 0, 0) for i, name in enumerate(names)])
    program = start(wine, sandbox, passes=2)
    close_and_wait(wine, program)
    assert [t.decode("cp932") for t in event_texts(sandbox.log)] == [
        "接続検出,fe80::1c2d:3e4f:5a6b:7c8d,fe80::1c2d:3e4f:5a6b:7c8d,user3",
        "接続検出,2001:db8::25,2001:db8::25,user4",
        "接続検出,192.168.1.50,192.168.1.50,user5",
    ]
    if not own:
        pytest.skip("this computer has no address besides loopback: only loopback was tried")
