"""The session commands, the settings dialog, the About box and the exit
question seen from outside. Screenshots of each dialog are kept in the
build folder's e2e-screens."""

from __future__ import annotations

import re
import subprocess

import pytest

import simserver as sim
from corvane_app import EXIT_TIMEOUT, TITLE, click_first_row, start

SESSIONS = 11
ACTION_ABOUT, ACTION_EXIT, ACTION_SEND_MESSAGE = 100, 101, 105
IDOK, IDYES, IDNO = 1, 6, 7
EDIT_MESSAGE = 101
DIALOG_TIMEOUT = 20

DISCONNECT_QUESTION = "選択したセッションを切断してもいいですか?"
EXIT_QUESTION = "Corvaneを終了してもいいですか?"


X11_DRIVER_KEY = r"HKCU\Software\Wine\X11 Driver"


@pytest.fixture(autouse=True)
def framed_windows(wine):
    """Wine draws the window frames itself for these tests, so that the
    screenshots show the dialogs' captions even without a window manager
    (Xvfb has none). The prefix is shared: the setting goes again after."""
    def reg(*args: str) -> None:
        subprocess.run(["wine", "reg", *args], env=wine.env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    reg("add", X11_DRIVER_KEY, "/v", "Managed", "/t", "REG_SZ", "/d", "N", "/f")
    try:
        yield
    finally:
        reg("delete", X11_DRIVER_KEY, "/v", "Managed", "/f")


def write_environment(sandbox, **keys: str) -> None:
    lines = ["[Environment]", "IsSecond=1", *(f"{k}={v}" for k, v in keys.items())]
    sandbox.ini.write_bytes(("\r\n".join(lines) + "\r\n").encode("cp932"))


def ini_value(sandbox, key: str):
    match = re.search(rf"^{key}=(.*?)\r?$", sandbox.ini.read_bytes().decode("cp932"), re.M)
    return match.group(1) if match else None


def wait_dialog(wine, title: str, containing: str = "") -> list[str]:
    """The texts of the one dialog box titled `title` that shows `containing`."""
    boxes = wine.wait_until(lambda: [b for b in wine.dialogs(title) if any(containing in t for t in b)],
                            timeout=DIALOG_TIMEOUT, what=f"a dialog {title!r} with {containing!r}")
    assert len(boxes) == 1, boxes
    return boxes[0]


def wait_no_dialog(wine, title: str) -> None:
    wine.wait_until(lambda: not wine.dialogs(title), timeout=DIALOG_TIMEOUT, what=f"dialog {title!r} to close")


def wait_exit(wine, program) -> int:
    try:
        return program.wait(timeout=EXIT_TIMEOUT)
    except subprocess.TimeoutExpired:
        wine.screenshot("still-running")
        raise AssertionError(f"still running {EXIT_TIMEOUT} s after the exit") from None


def post_command(wine, command_id: int) -> None:
    """Posts a command to the main window; a tool run that found no window
    (the machine is busy, the tool did not start) is tried again, since
    nothing was posted then."""
    wine.wait_until(lambda: wine._tool_lines("command", TITLE, str(command_id)) is not None, timeout=15,
                    what=f"command {command_id} posted")


def start_with_selected_session(wine, sandbox, session: sim.Session):
    """Starts, refreshes the list and selects its one row with a real click."""
    sandbox.sim.set_sessions([session])
    sandbox.sim.set_delete_removes_session(False)
    program = start(wine, sandbox)
    wine.send_keys(TITLE, "F5")
    wine.wait_until(lambda: len(wine.list_rows(TITLE, SESSIONS)) == 1, timeout=15, what="the session row")
    click_first_row(wine)
    return program


def test_delete_key_disconnects_the_selected_session_after_yes(wine, sandbox):
    write_environment(sandbox, DisconnectMessage="1")
    program = start_with_selected_session(wine, sandbox, sim.Session("PC01", "太郎", 1, 5, 0))

    wine.send_keys(TITLE, "Delete")
    assert DISCONNECT_QUESTION in wait_dialog(wine, TITLE, DISCONNECT_QUESTION)
    wine.press_button(TITLE, IDNO)
    wait_no_dialog(wine, TITLE)
    assert sandbox.sim.calls().session_dels == []

    wine.send_keys(TITLE, "Delete")
    boxes = wait_dialog(wine, TITLE, DISCONNECT_QUESTION)
    assert "はい(&Y)" in boxes and "いいえ(&N)" in boxes
    wine.press_button(TITLE, IDYES)
    sandbox.sim.wait_for(lambda c: c[sim.SESSION_DELS] >= 1, timeout=15, what="the disconnection")
    deletes = sandbox.sim.calls().session_dels
    assert [(d.server, d.client_name, d.user_name) for d in deletes] == [(None, "\\\\PC01", "太郎")]
    assert program.running()


def test_settings_dialog_from_the_keyboard_saves_a_change_at_once(wine, sandbox):
    write_environment(sandbox)
    program = start(wine, sandbox)
    assert ini_value(sandbox, "PopupNotifyWindow") is None

    wine.send_keys(TITLE, "alt+t", "e")
    texts = wait_dialog(wine, "環境設定", "接続検出時にポップアップで通知する")
    assert "経過時間による自動切断（0は切断しない）" in texts and "キャンセル" in texts
    wine.screenshot("settings-dialog")
    # The first box has the focus: clear it, then Enter presses OK.
    wine.send_keys("環境設定", "space", "Return")
    wait_no_dialog(wine, "環境設定")
    wine.wait_until(lambda: ini_value(sandbox, "PopupNotifyWindow") == "0", timeout=10,
                    what="PopupNotifyWindow=0 in Corvane.ini")
    assert program.running()


def test_send_message_about_box_and_exit_question(wine, sandbox):
    write_environment(sandbox, ExitMessage="1")
    program = start_with_selected_session(wine, sandbox, sim.Session("PC01", "Taro", 1, 5, 0))

    post_command(wine, ACTION_SEND_MESSAGE)
    texts = wait_dialog(wine, "送信メッセージ入力", "キャンセル")
    wine.set_dialog_text("送信メッセージ入力", EDIT_MESSAGE, "本日は早めに終了する")
    wine.screenshot("send-message-dialog")
    wine.press_button("送信メッセージ入力", IDOK)
    sandbox.sim.wait_for(lambda c: c[sim.MESSAGE_SENDS] >= 1, timeout=15, what="the message")
    sends = sandbox.sim.calls().message_sends
    assert [(s.msg_name, s.text, s.byte_length) for s in sends] == [("PC01", "本日は早めに終了する", 20)]

    post_command(wine, ACTION_ABOUT)
    texts = wait_dialog(wine, "バージョン情報", "Corvane ver1.19")
    assert "OK" in texts
    wine.screenshot("about-box")
    wine.dismiss_dialogs("バージョン情報")
    wait_no_dialog(wine, "バージョン情報")

    post_command(wine, ACTION_EXIT)
    texts = wait_dialog(wine, TITLE, EXIT_QUESTION)
    wine.screenshot("exit-question")
    wine.press_button(TITLE, IDYES)
    assert wait_exit(wine, program) == 0


def test_exit_ends_the_program_even_when_the_settings_file_refuses_writes(wine, sandbox):
    write_environment(sandbox)
    program = start(wine, sandbox)
    # A folder in the file's place: every profile write is refused.
    sandbox.ini.unlink()
    sandbox.ini.mkdir()
    post_command(wine, ACTION_EXIT)
    texts = wait_dialog(wine, TITLE, "に書き込めません")
    assert any("Corvane.ini に書き込めません" in t for t in texts), texts
    wine.screenshot("refused-save")
    wine.dismiss_dialogs(TITLE)
    assert wait_exit(wine, program) == 0


def test_without_server_functions_the_empty_session_list_shows(wine, sandbox_missing_export):
    program = wine.start(sandbox_missing_export.exe)
    wine.wait_window(TITLE, process=program)
    wine.wait_until(lambda: wine.control_visible(TITLE, SESSIONS), timeout=10, what="the session list")
    assert wine.list_rows(TITLE, SESSIONS) == []
    wine.screenshot("unbound")
