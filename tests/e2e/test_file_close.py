"""ファイルを閉じる: one file of a user is closed on the server, the user's
session and other files stay; without NetFileClose the command is off."""

from __future__ import annotations

import time

import simserver as sim
from corvane_app import TITLE, close_and_wait, event_texts, start, wait_for_log
from test_dialogs import IDYES, post_command, wait_dialog, write_environment

SESSIONS, RESOURCES = 11, 12
ACTION_FILE_CLOSE = 107
ROW_TIMEOUT = 20


def wait_rows(wine, control_id: int, expected: list[list[str]]) -> None:
    wine.wait_until(lambda: wine.list_rows(TITLE, control_id) == expected, timeout=ROW_TIMEOUT,
                    what=f"rows {expected} in list {control_id}")


def test_delete_in_the_resource_list_closes_only_the_selected_file(wine, sandbox):
    write_environment(sandbox, DisconnectMessage="1")
    taro = sim.Session("PC01", "太郎", 2, 60, 0)
    report = sim.OpenFile(7, "D:\\share\\売上 12月.xlsx", "太郎")
    notes = sim.OpenFile(8, "D:\\share\\memo.txt", "太郎")
    sandbox.sim.set_sessions([taro])
    sandbox.sim.set_files([report, notes])
    program = start(wine, sandbox)
    wine.send_keys(TITLE, "F5")
    wine.click_tab(TITLE, 1)
    wine.wait_until(lambda: wine.selected_tab(TITLE) == 1, timeout=10, what="the resource tab")
    wait_rows(wine, RESOURCES, [["太郎", report.path], ["太郎", notes.path]])
    left, _, _, bottom = wine.tab_rect(TITLE, 0)
    # Below the tab: the list's frame, its header, then the first row.
    wine.click(left + 30, bottom + 34)

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
