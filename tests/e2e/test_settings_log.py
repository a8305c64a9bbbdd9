"""Corvane.ini and CorvaneLog.txt seen from outside: what the first start,
a close and a restart leave in the settings file, the event log's bytes, the
connected-time limit, and a settings file that refuses writes."""

from __future__ import annotations

import re
import struct
import time
from datetime import datetime
from pathlib import Path

import simserver as sim
from corvane_app import (EXIT_TIMEOUT, STAMP, TITLE, close_and_wait, event_texts, expected_address, log_lines,
                         start, wait_for_log)

TAB_CONTROL, SESSIONS, RESOURCES = 10, 11, 12
DESIGNED_RECT = (386, 368, 904, 648)   # left, top, right, bottom at 96 dpi

ENVIRONMENT_DEFAULTS = {
    "PopupNotifyWindow": "1",
    "PopupNotifyWindowByTray": "1",
    "NotifyConnectSessionBySound": "0",
    "NotifyResourceAccess": "0",
    "NotifyResourceAccessByTray": "1",
    "NotifyResourceAccessBySound": "0",
    "SoundFileName": "",
    "SoundFileNameConnectSession": "",
    "IgnoreSharedResource": "0",
    "IgnoreLocalConnection": "1",
    "IgnoreAutoRefresh": "1",
    "DisconnectConnTime": "0",
    "DisconnectIdleTime": "0",
    "ExitMessage": "0",
    "DisconnectMessage": "0",
    "IgnoreFileCloseMessage": "0",
    "CloseIsMinimize": "0",
    "MaxLogSize": "1048576",
    "WriteEventLog": "1",
}


# ---------------------------------------------------------------------------
# The settings file's text


def read_ini(path: Path) -> dict[str, dict[str, str]]:
    """Sections and keys of an INI file in code page 932; a repeated section
    or key is an error."""
    sections: dict[str, dict[str, str]] = {}
    current = None
    for line in path.read_bytes().decode("cp932").splitlines():
        if not line.strip():
            continue
        if line.startswith("[") and line.endswith("]"):
            name = line[1:-1]
            assert name not in sections, f"section [{name}] twice in {path.name}"
            current = sections[name] = {}
            continue
        key, equals, value = line.partition("=")
        assert equals and current is not None, f"stray line {line!r} in {path.name}"
        assert key not in current, f"key {key} twice in {path.name}"
        current[key] = value
    return sections


def write_ini(path: Path, sections: dict[str, dict[str, str]]) -> None:
    text = "".join(f"[{name}]\r\n" + "".join(f"{key}={value}\r\n" for key, value in keys.items())
                   for name, keys in sections.items())
    path.write_bytes(text.encode("cp932"))


def placement_value(flags: int, show: int, min_pos: tuple[int, int], max_pos: tuple[int, int],
                    rect: tuple[int, int, int, int]) -> str:
    """A window placement in the settings file's struct form: the 44 bytes as
    uppercase hexadecimal, then their sum modulo 256."""
    record = struct.pack("<11i", 44, flags, show, *min_pos, *max_pos, *rect)
    return record.hex().upper() + f"{sum(record) % 256:02X}"


def placement_of(values: tuple[int, ...]) -> str:
    """The struct form of a placement as read by `wine.placement`."""
    flags, show, min_x, min_y, max_x, max_y, *rect = values
    return placement_value(flags, show, (min_x, min_y), (max_x, max_y), tuple(rect))


# ---------------------------------------------------------------------------
# The log's bytes

def cp932(text: str) -> bytes:
    return text.encode("cp932")


# ---------------------------------------------------------------------------




# The session columns' designed widths at 96 DPI (the test prefixes' scale).
DESIGNED_SESSION_WIDTHS = [100, 80, 80, 80, 80, 92]


def test_first_start_creates_only_is_second_and_a_close_writes_every_key(wine, sandbox):
    program = start(wine, sandbox)

    # Before any close: the unit migration alone has written to the file.
    assert read_ini(sandbox.ini) == {"Environment": {"IsSecond": "1"}}
    # Defaults applied to the window.
    values, rect = wine.placement(TITLE)
    assert rect == DESIGNED_RECT
    assert wine.column_widths(TITLE, SESSIONS) == DESIGNED_SESSION_WIDTHS
    assert wine.column_widths(TITLE, RESOURCES) == [100, 100]
    assert wine.selected_tab(TITLE) == 0
    assert wine.control_visible(TITLE, SESSIONS) and not wine.control_visible(TITLE, RESOURCES)

    close_and_wait(wine, program)

    assert read_ini(sandbox.ini) == {
        "Environment": {"IsSecond": "1", **ENVIRONMENT_DEFAULTS, "TabIndex": "0"},
        "Window": {"Placement": placement_of(values)},
        "Columns": {"Sort": "0", **{f"Column{i}": str(w) for i, w in enumerate(DESIGNED_SESSION_WIDTHS)},
                    "SortResource": "0", "ColumnResource0": "100", "ColumnResource1": "100"},
    }


def test_restart_restores_placement_tab_and_column_widths(wine, sandbox):
    stored_rect = (100, 120, 700, 520)
    stored_placement = placement_value(0, 1, (-1, -1), (-1, -1), stored_rect)
    session_widths = [61, 72, 83, 94, 105, 116]
    write_ini(sandbox.ini, {
        "Environment": {"IsSecond": "1", "TabIndex": "1"},
        "Window": {"Placement": stored_placement},
        "Columns": {**{f"Column{i}": str(w) for i, w in enumerate(session_widths)},
                    "ColumnResource0": "130", "ColumnResource1": "240"},
    })

    program = start(wine, sandbox)
    values, rect = wine.placement(TITLE)
    assert tuple(values[6:]) == stored_rect and rect == stored_rect
    stored_geometry = wine.window_geometry(wine.wait_window(TITLE))
    assert wine.column_widths(TITLE, SESSIONS) == session_widths
    assert wine.column_widths(TITLE, RESOURCES) == [130, 240]
    assert wine.selected_tab(TITLE) == 1
    assert wine.control_visible(TITLE, RESOURCES) and not wine.control_visible(TITLE, SESSIONS)
    wine.screenshot("restored")

    close_and_wait(wine, program)
    saved = read_ini(sandbox.ini)
    assert saved["Window"] == {"Placement": stored_placement}
    assert saved["Columns"] == {"Sort": "0", **{f"Column{i}": str(w) for i, w in enumerate(session_widths)},
                                "SortResource": "0", "ColumnResource0": "130", "ColumnResource1": "240"}
    assert saved["Environment"]["TabIndex"] == "1"
    assert set(saved["Environment"]) == {"IsSecond", "TabIndex", *ENVIRONMENT_DEFAULTS}

    # A placement whose checksum is off is not applied: the designed
    # rectangle, on the X side as well.
    damaged = stored_placement[:-2] + f"{(int(stored_placement[-2:], 16) + 1) % 256:02X}"
    saved["Window"]["Placement"] = damaged
    write_ini(sandbox.ini, saved)
    start(wine, sandbox)
    _, rect = wine.placement(TITLE)
    assert rect == DESIGNED_RECT
    x, y, width, height = wine.window_geometry(wine.wait_window(TITLE))
    sx, sy, swidth, sheight = stored_geometry
    assert (x - sx, y - sy) == (DESIGNED_RECT[0] - stored_rect[0], DESIGNED_RECT[1] - stored_rect[1])
    assert (width - swidth, height - sheight) == (
        (DESIGNED_RECT[2] - DESIGNED_RECT[0]) - (stored_rect[2] - stored_rect[0]),
        (DESIGNED_RECT[3] - DESIGNED_RECT[1]) - (stored_rect[3] - stored_rect[1]))
    # The selected tab still came from the file.
    assert wine.selected_tab(TITLE) == 1


def test_session_lines_are_code_page_932_bytes(wine, sandbox):
    start(wine, sandbox, passes=3)
    assert not sandbox.log.exists(), "something was logged without any event"

    sandbox.sim.set_sessions([sim.Session("10.0.0.1", "太郎", 1, 10, 0)])
    address = expected_address("10.0.0.1")
    connected = cp932(f"接続検出,10.0.0.1,{address},太郎")
    before = datetime.now()
    wait_for_log(sandbox.log, connected, timeout=15)

    data = sandbox.log.read_bytes()
    assert STAMP.fullmatch(data[:19]), data
    assert data[19:] == b"," + connected + b"\r\n"
    stamp = datetime.strptime(data[:19].decode("ascii"), "%Y/%m/%d %H:%M:%S")
    assert abs((stamp - before).total_seconds()) < 120, f"stamp {stamp} is not local time ({before})"

    # The address in the log is the one the list shows after a refresh.
    wine.send_keys(TITLE, "F5")
    rows = wine.wait_until(lambda: wine.list_rows(TITLE, SESSIONS), timeout=10, what="the refreshed list")
    assert rows == [["10.0.0.1", address, "太郎", "1", "00:00:10", "00:00:00"]]

    sandbox.sim.set_sessions([])
    wait_for_log(sandbox.log, cp932(f"切断検出,10.0.0.1,{address},太郎"), timeout=15)
    assert event_texts(sandbox.log) == [connected, cp932(f"切断検出,10.0.0.1,{address},太郎")]


def test_log_is_for_administrators_only(wine, sandbox):
    start(wine, sandbox)
    sandbox.sim.set_sessions([sim.Session("10.0.0.1", "太郎", 1, 10, 0)])
    wait_for_log(sandbox.log, cp932(f"接続検出,10.0.0.1,{expected_address('10.0.0.1')},太郎"), timeout=15)

    result = wine.tool("access", "Z:" + str(sandbox.log).replace("/", "\\"))
    assert result.returncode == 0, result
    sddl = result.stdout.decode("utf-8").strip()
    # No group of ordinary users (Everyone, Users, Authenticated Users,
    # Interactive) has any access. (Wine keeps what it can of the list in the
    # file's mode and reads it back from there: SYSTEM, the owner, Everyone.)
    aces = re.findall(r"\(([^;]*);[^;]*;([^;]*);[^;]*;[^;]*;([^)]*)\)", sddl)
    assert ("A", "FA", "SY") in aces, sddl
    everyone = {"WD", "BU", "AU", "IU", "S-1-1-0", "S-1-5-32-545", "S-1-5-11", "S-1-5-4"}
    assert not [ace for ace in aces if ace[0] == "A" and ace[2] in everyone], sddl


def test_connected_time_limit_ends_the_session_and_logs_it(wine, sandbox):
    write_ini(sandbox.ini, {"Environment": {"IsSecond": "1", "DisconnectConnTime": "100"}})
    sandbox.sim.set_sessions([sim.Session("10.0.0.1", "太郎", 1, 101, 0),
                              sim.Session("10.0.0.2", "hanako", 1, 100, 0)])
    start(wine, sandbox)
    sandbox.sim.wait_for(lambda c: c[sim.SESSION_DELS] >= 1, timeout=15, what="NetSessionDel")
    # Some more passes: the ended session is gone from the server and must not
    # be ended again; the one at the limit is not over it.
    now = sandbox.sim.counters()[sim.SESSION_ENUMS]
    sandbox.sim.wait_for(lambda c: c[sim.SESSION_ENUMS] >= now + 5, timeout=15, what="five more passes")

    deletes = sandbox.sim.calls().session_dels
    assert [(d.server, d.client_name, d.user_name) for d in deletes] == [(None, "\\\\10.0.0.1", "太郎")]
    assert [s.computer for s in sandbox.sim.read_state().sessions] == ["10.0.0.2"]

    pc01, pc02 = expected_address("10.0.0.1"), expected_address("10.0.0.2")
    texts = event_texts(sandbox.log)
    assert sorted(texts) == sorted([cp932(f"接続検出,10.0.0.1,{pc01},太郎"), cp932(f"接続検出,10.0.0.2,{pc02},hanako"),
                                    cp932(f"接続時間による自動切断,10.0.0.1,{pc01},太郎")])
    assert texts[-1] == cp932(f"接続時間による自動切断,10.0.0.1,{pc01},太郎")


def test_unwritable_settings_file_shows_an_error_and_the_close_box_still_ends(wine, sandbox):
    program = start(wine, sandbox)
    # A folder in the file's place: every profile write is refused (a
    # read-only file would not do, the suite runs as root).
    sandbox.ini.unlink()
    sandbox.ini.mkdir()

    wine.close_window(TITLE)
    boxes = wine.wait_until(lambda: wine.dialogs(TITLE), timeout=15, what="the error box")
    wine.screenshot("error-box")
    assert len(boxes) == 1
    message = " ".join(boxes[0])
    assert "Corvane.ini に書き込めません" in message, boxes
    assert program.running()

    # A file that refuses writes must not keep the program from ending.
    wine.dismiss_dialogs(TITLE)
    assert program.wait(timeout=EXIT_TIMEOUT) == 0
