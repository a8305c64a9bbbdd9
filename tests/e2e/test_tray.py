"""The program in the notification area as a user meets it: its icon in
Wine's tray window, the balloon and the blinking for a new connection, a click
that stops the blinking, the close box that leaves only the icon, a double
click that brings the window back, and the right-button menu. Screenshots of
the tray are kept in the build's e2e-screens folder."""

from __future__ import annotations

import re
import subprocess
import time

import simserver as sim
from corvane_app import EXIT_TIMEOUT, TITLE, balloons, close_and_wait, start

TRAY_TITLE = "Wine System Tray"
ICON_SLOT = 20          # Wine's tray: a small icon with a 2-pixel border
FRAME_PERIOD = 0.5      # the blinking's interval


def tray_window(wine) -> str:
    return wine.wait_window(TRAY_TITLE, timeout=30)


def icon_centre(wine) -> tuple[int, int]:
    """Screen position of the first (our only) icon in the tray window."""
    x, y, _, _ = wine.window_geometry(tray_window(wine))
    return x + ICON_SLOT // 2, y + ICON_SLOT // 2


def icon_colour(wine, keep_as: str = "") -> str:
    """"red" or "blue": the main hue of the tray icon, read from a capture of
    the tray window (kept in e2e-screens when `keep_as` is given)."""
    label = keep_as or "probe"
    path = wine.screens / f"{wine.test_name}-tray-{label}.png"
    subprocess.run(["import", "-window", tray_window(wine), str(path)], env=wine.env, timeout=30,
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    pixel = subprocess.run(["convert", str(path), "-format", "%[pixel:p{4,4}]", "info:"], env=wine.env,
                           timeout=30, check=True, capture_output=True, text=True).stdout
    red, green, blue = (int(v) for v in re.findall(r"\d+", pixel)[:3])
    if not keep_as:
        path.unlink(missing_ok=True)
    if red > blue + 60:
        return "red"
    if blue > red + 60:
        return "blue"
    return f"other {pixel}"


def open_menus(wine) -> list[tuple[int, int, int, int]]:
    result = wine.tool("windows", "#32768")
    return [tuple(int(v) for v in line.split("\t")[0].split()[:4])
            for line in result.stdout.decode().splitlines()]


def stays(wine, colour: str, seconds: float) -> bool:
    """The icon shows `colour` at every look for `seconds` (longer than a frame)."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if icon_colour(wine) != colour:
            return False
        time.sleep(FRAME_PERIOD / 3)
    return True


def new_session(sandbox) -> None:
    sandbox.sim.set_sessions([sim.Session("PC01", "太郎", 1, 10, 0)])


def test_new_connection_shows_a_balloon_and_blinks_until_clicked(wine, sandbox):
    program = start(wine, sandbox)
    assert icon_colour(wine, keep_as="start") == "blue"
    wine.screenshot("start")

    new_session(sandbox)
    wine.wait_until(lambda: balloons(wine), timeout=15, what="the connection balloon")
    wine.screenshot("balloon")
    # Both frames come round, and round again (the captures kept show each).
    for colour in ("red", "blue", "red"):
        wine.wait_until(lambda: icon_colour(wine, keep_as=f"frame-{colour}") == colour, timeout=5,
                        what=f"the {colour} frame")
    assert "接続検出,PC01" in sandbox.log.read_bytes().decode("cp932")

    x, y = icon_centre(wine)
    wine.click(x, y)
    # The click is told from a double click one double-click time later.
    wine.wait_until(lambda: stays(wine, "blue", 4 * FRAME_PERIOD), timeout=10,
                    what="the blinking to stop after a click")
    icon_colour(wine, keep_as="after-click")
    close_and_wait(wine, program)


def test_close_box_leaves_only_the_icon_and_a_double_click_restores(wine, sandbox):
    sandbox.ini.write_bytes(b"[Environment]\r\nIsSecond=1\r\nCloseIsMinimize=1\r\n")
    program = start(wine, sandbox)

    wine.close_window(TITLE)
    wine.wait_until(lambda: not wine.find_windows(TITLE), timeout=10, what="the main window to go")
    assert wine.tool("find", TITLE).returncode == 1, "a visible window titled Corvane is left"
    assert program.running()
    assert icon_colour(wine, keep_as="minimised") == "blue"
    wine.screenshot("minimised")

    x, y = icon_centre(wine)
    wine.click(x, y, repeat=2)
    wine.wait_window(TITLE, timeout=10)
    wine.screenshot("restored")
    assert program.running()


def test_menu_opens_on_the_right_button_and_exits_while_blinking(wine, sandbox):
    program = start(wine, sandbox)
    new_session(sandbox)
    wine.wait_until(lambda: icon_colour(wine) == "red", timeout=15, what="the blinking")
    x, y = icon_centre(wine)
    wine.move_mouse(x - 3, y - 3)  # over the icon: the hover poll starts

    wine.click(x, y, button=3)
    menus = wine.wait_until(lambda: open_menus(wine), timeout=10, what="the tray menu")
    wine.screenshot("menu")
    left, top, right, bottom = menus[0]
    # Four items of one height, no separators; the last one is "終了(&X)".
    item = (bottom - top) / 4
    assert 14 <= item <= 40, f"menu of unexpected height {bottom - top}"
    wine.click((left + right) // 2, int(bottom - item / 2))
    try:
        code = program.wait(timeout=EXIT_TIMEOUT)
    except subprocess.TimeoutExpired:
        wine.screenshot("still-running")
        raise AssertionError(f"still running {EXIT_TIMEOUT} s after the exit command") from None
    assert code == 0
