"""ファイルを閉じる: one file of a user is closed on the server, the user's
session and other files stay; every open of the row is closed after a
question that DisconnectMessage does not turn off; an id the server has given
to another file is left alone; the command is off while the resource scan is
and without NetFileClose."""

from __future__ import annotations

import time

import simserver as sim
from corvane_app import TITLE, click_first_row, close_and_wait, event_texts, start, wait_for_log
from test_dialogs import IDNO, IDOK, IDYES, ini_value, post_command, wait_dialog, wait_no_dialog, write_environment

SESSIONS, RESOURCES = 11, 12
ACTION_SET_ENVIRONMENT, ACTION_FILE_CLOSE = 103, 107
ROW_TIMEOUT = 20
QUESTION = "閉じてもいいですか"
CLOSED = "ファイル強制クローズ,".encode("cp932")


def wait_rows(wine, control_id: int, expected: list[list[str]]) -> None:
    wine.wait_until(lambda: wine.list_rows(TITLE, control_id) == expected, timeout=ROW_TIMEOUT,
                    what=f"rows {expected} in list {control_id}")


def select_first_resource(wine, rows: list[list[str]]) -> None:
    """F5, the resource tab showing `rows`, and a click on the first row."""
    wine.send_keys(TITLE, "F5")
    wine.click_tab(TITLE, 1)
    wine.wait_until(lambda: wine.selected_tab(TITLE) == 1, timeout=10, what="the resource tab")
    wait_rows(wine, RESOURCES, rows)
    click_first_row(wine)


def closed_lines(sandbox) -> list[bytes]:
    return [t for t in event_texts(sandbox.log) if t.startswith(CLOSED)] if sandbox.log.exists() else []


def test_delete_in_the_resource_list_closes_only_the_selected_file(wine, sandbox):
    write_environment(sandbox, DisconnectMessage="1")
    taro = sim.Session("PC01", "太郎", 2, 60, 0)
    report = sim.OpenFile(7, "D:\\share\\売上 12月.xlsx", "太郎")
    notes = sim.OpenFile(8, "D:\\share\\memo.txt", "太郎")
    sandbox.sim.set_sessions([taro])
    sandbox.sim.set_files([report, notes])
    program = start(wine, sandbox)
    select_first_resource(wine, [["太郎", report.path], ["太郎", notes.path]])

    wine.send_keys(TITLE, "Delete")
    texts = wait_dialog(wine, TITLE, "閉じてもいいですか")
    assert any(f"{report.path} (太郎)" in t for t in texts), texts
    assert not any(notes.path in t for t in texts), texts
    wine.screenshot("question")
    wine.press_button(TITLE, IDYES)

    sandbox.sim.wait_for(lambda c: c[sim.FILE_CLOSES] >= 1, timeout=15, what="the close")
    wait_for_log(sandbox.log, f"ファイル強制クローズ,太郎,{report.path}".encode("cp932"), timeout=15)
    calls = sandbox.sim.calls()
    assert [(c.server, c.file_id, c.status) for c in calls.file_closes] == [(None, 7, sim.NERR_SUCCESS)]
    assert calls.session_dels == []
    # The lists follow at once; the user's session and other file stay.
    wait_rows(wine, RESOURCES, [["太郎", notes.path]])
    assert [row[:3] for row in wine.list_rows(TITLE, SESSIONS)] == [["PC01", "(N/A)", "太郎"]]
    assert not [t for t in event_texts(sandbox.log) if t.startswith("切断検出,".encode("cp932"))]
    assert not wine.dialogs(TITLE), "no box after a close that worked"
    assert program.running()
    close_and_wait(wine, program)


def test_both_opens_of_a_file_close_after_a_question_that_disconnect_message_keeps(wine, sandbox):
    write_environment(sandbox, DisconnectMessage="0")
    sheet = "D:\\share\\売上.xlsx"
    other = sim.OpenFile(8, "D:\\share\\memo.txt", "太郎")
    sandbox.sim.set_files([sim.OpenFile(71, sheet, "太郎"), other, sim.OpenFile(73, sheet, "太郎")])
    program = start(wine, sandbox)
    select_first_resource(wine, [["太郎", sheet], ["太郎", other.path]])  # one row for both opens

    # No closes nothing.
    wine.send_keys(TITLE, "Delete")
    assert any(f"{sheet} (太郎)" in t for t in wait_dialog(wine, TITLE, QUESTION))
    wine.press_button(TITLE, IDNO)
    wait_no_dialog(wine, TITLE)
    time.sleep(1)
    assert sandbox.sim.calls().file_closes == []

    post_command(wine, ACTION_FILE_CLOSE)
    wait_dialog(wine, TITLE, QUESTION)
    wine.press_button(TITLE, IDYES)
    wait_for_log(sandbox.log, CLOSED + f"太郎,{sheet}".encode("cp932"), timeout=15)
    wait_rows(wine, RESOURCES, [["太郎", other.path]])
    calls = sandbox.sim.calls()
    assert [(c.file_id, c.status) for c in calls.file_closes] == [(71, sim.NERR_SUCCESS), (73, sim.NERR_SUCCESS)]
    assert len(closed_lines(sandbox)) == 1
    assert not wine.dialogs(TITLE)
    close_and_wait(wine, program)


def test_an_id_given_to_another_file_since_the_last_scan_is_not_closed(wine, sandbox):
    sheet = "D:\\share\\売上.xlsx"
    sandbox.sim.set_files([sim.OpenFile(7, sheet, "太郎")])
    program = start(wine, sandbox)
    select_first_resource(wine, [["太郎", sheet]])
    # The listing fails from now on, so the program keeps id 7 of the last
    # scan, which the server gives to another file.
    sandbox.sim.set_status(files=5)
    sandbox.sim.set_files([sim.OpenFile(7, "D:\\share\\other.txt", "太郎")])
    enums = sandbox.sim.counters()[sim.FILE_ENUMS]
    sandbox.sim.wait_for(lambda c: c[sim.FILE_ENUMS] >= enums + 2, timeout=15, what="a failed listing")

    wine.send_keys(TITLE, "Delete")
    wait_dialog(wine, TITLE, QUESTION)
    wine.press_button(TITLE, IDYES)
    wait_dialog(wine, TITLE, "一覧が変わっていた")
    assert sandbox.sim.calls().file_closes == []
    assert closed_lines(sandbox) == []
    wine.press_button(TITLE, IDOK)
    close_and_wait(wine, program)


def toggle_ignore_shared_resource(wine, sandbox, value: str) -> None:
    """The settings dialog from the main window: its eleventh tab stop is
    "共有リソース情報を検出対象外にする"."""
    post_command(wine, ACTION_SET_ENVIRONMENT)
    wait_dialog(wine, "環境設定", "共有リソース情報を検出対象外にする")
    wine.send_keys("環境設定", *["Tab"] * 10, "space", "Return")
    wait_no_dialog(wine, "環境設定")
    wine.wait_until(lambda: ini_value(sandbox, "IgnoreSharedResource") == value, timeout=10,
                    what=f"IgnoreSharedResource={value}")


def test_the_command_is_off_while_the_resource_scan_is(wine, sandbox):
    write_environment(sandbox, IgnoreSharedResource="0")
    sandbox.sim.set_files([sim.OpenFile(7, "D:\\share\\a.txt", "太郎")])
    program = start(wine, sandbox)
    select_first_resource(wine, [["太郎", "D:\\share\\a.txt"]])

    toggle_ignore_shared_resource(wine, sandbox, "1")
    post_command(wine, ACTION_FILE_CLOSE)
    time.sleep(2)  # a question would be up by now
    assert not wine.dialogs(TITLE)
    assert sandbox.sim.calls().file_closes == []
    # The frozen row is still selected: once the scan runs again, it asks.
    toggle_ignore_shared_resource(wine, sandbox, "0")
    enums = sandbox.sim.counters()[sim.FILE_ENUMS]
    sandbox.sim.wait_for(lambda c: c[sim.FILE_ENUMS] > enums, timeout=15, what="the resource scan")
    post_command(wine, ACTION_FILE_CLOSE)
    wait_dialog(wine, TITLE, QUESTION)
    wine.press_button(TITLE, IDNO)
    assert sandbox.sim.calls().file_closes == []
    close_and_wait(wine, program)


def test_without_net_file_close_the_command_does_nothing(wine, sandbox_missing_export):
    box = sandbox_missing_export
    box.sim.set_files([sim.OpenFile(7, "D:\\share\\a.txt", "太郎")])
    program = wine.start(box.exe)
    wine.wait_window(TITLE, process=program)
    wine.click_tab(TITLE, 1)
    wine.wait_until(lambda: wine.selected_tab(TITLE) == 1, timeout=10, what="the resource tab")
    post_command(wine, ACTION_FILE_CLOSE)
    wine.send_keys(TITLE, "Delete")
    time.sleep(2)  # a box would be up by now
    assert not wine.dialogs(TITLE)
    assert box.sim.calls().file_closes == []
    assert program.running()
    close_and_wait(wine, program)
