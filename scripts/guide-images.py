#!/usr/bin/env python3
"""Takes the pictures of the user guide (README.ja.md) from the real program.

    scripts/guide-images.py BINDIR OUTDIR

BINDIR is a mingw build's bin folder (corvane.exe, the simulated server
netapi32.dll and corvane_wintool.exe). The program runs under Wine on a
private Xvfb display, in code page 932, beside the simulated server holding a
few sessions and open files of a small office; each picture is cropped to the
window it shows and written to OUTDIR:

    main-sessions.png    the main window, セッション tab, one row selected
    main-resources.png   the main window, 共有リソース tab
    main-filter.png      the same tab with "xlsx" typed into the filter box
    balloon.png          the tray icon with the balloon of a new connection
    tray-menu.png        the tray icon's right-button menu
    settings.png         the 環境設定 dialog

scripts/guide-images builds what is needed and calls this.
"""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
# The end-to-end harness drives Wine, the window tool and xdotool; the
# pictures are taken with the same hands.
from conftest import WineSession, _base_env, _stop_wineserver, start_xvfb, stop_xvfb  # noqa: E402
from corvane_app import TITLE, balloons  # noqa: E402
import simserver as sim  # noqa: E402

SETTINGS_TITLE = "環境設定"
TRAY_TITLE = "Wine System Tray"
COMMAND_SET_ENVIRONMENT = 103
COMMAND_REFRESH = 106
SESSIONS_LIST = 11
RESOURCES_LIST = 12
IDCANCEL = 2

# A morning at a small office: who is connected and what they hold open.
# Clients over SMB2 are listed by their address; a name that does not
# resolve shows "(N/A)", which the guide explains.
SESSIONS = [
    sim.Session("192.168.1.23", "tanaka", 2, 3 * 3600 + 12 * 60 + 5, 40),
    sim.Session("192.168.1.31", "suzuki", 1, 2 * 3600 + 3 * 60 + 44, 9 * 60 + 30),
    sim.Session("PC-ACCT01", "伊藤", 1, 47 * 60 + 18, 0),
    sim.Session("NOTE-07", "yamada", 0, 12 * 60 + 2, 11 * 60 + 50),
]
FILES = [
    sim.OpenFile(101, "D:\\share\\営業\\見積書.xlsx", "tanaka"),
    sim.OpenFile(102, "D:\\share\\営業\\顧客一覧.csv", "tanaka"),
    sim.OpenFile(103, "D:\\share\\営業\\月報 2026-12.docx", "suzuki"),
    sim.OpenFile(104, "D:\\share\\経理\\請求書控え.xlsx", "伊藤"),
]
LATE_COMER = sim.Session("PC-DEV01", "佐藤", 1, 3, 0)

# The options of a fresh start, in seconds (no conversion from minutes), and
# columns widened the way a user would drag them, so that names are whole.
INI = ("[Environment]\r\nIsSecond=1\r\n"
       "[Columns]\r\nColumn0=100\r\nColumn1=88\r\nColumn2=62\r\nColumn3=76\r\nColumn4=70\r\n"
       "Column5=92\r\nColumnResource0=80\r\nColumnResource1=400\r\n")


def guide_prefix(root: Path, display: str) -> Path:
    """The pictures' own Wine prefix, booted once: Xvfb has no window manager,
    so Wine is told to draw the windows' frames and captions itself, as
    Windows does (the test prefixes stay as they are)."""
    prefix = root / "build" / "guide-wineprefix"
    marker = prefix / ".corvane-guide-ready"
    if marker.exists():
        return prefix
    shutil.rmtree(prefix, ignore_errors=True)
    prefix.mkdir(parents=True)
    env = _base_env(prefix, display)
    print("== Preparing the Wine prefix for the pictures (about a minute the first time)")
    try:
        subprocess.run(["wineboot", "-i"], env=env, timeout=300, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Decorated",
                        "/d", "N", "/f"], env=env, timeout=120, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The glyphs of the caption buttons.
        fonts = prefix / "drive_c" / "windows" / "Fonts"
        if Path("/usr/share/wine/fonts/marlett.ttf").is_file() and fonts.is_dir():
            shutil.copy2("/usr/share/wine/fonts/marlett.ttf", fonts / "marlett.ttf")
    finally:
        _stop_wineserver(env)
    marker.write_text("booted\n")
    return prefix


def capture(wine: WineSession, target: Path, window: str = "root",
            crop: tuple[int, int, int, int] | None = None) -> None:
    """One X window (or a part of the screen) as a small PNG: no metadata,
    a palette where the picture has few enough colours."""
    raw = Path(wine.screens) / f"{target.stem}.raw.png"  # beside the program, not among the pictures
    subprocess.run(["import", "-window", window, str(raw)], env=wine.env, timeout=30, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    args = ["convert", str(raw)]
    if crop:
        left, top, right, bottom = crop
        args += ["-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage"]
    args += ["-strip", "-define", "png:exclude-chunks=date,time", str(target)]
    subprocess.run(args, env=wine.env, timeout=30, check=True)
    raw.unlink()
    print(f"   {target} ({target.stat().st_size} bytes)")


def union(*rects: tuple[int, int, int, int], margin: int = 0) -> tuple[int, int, int, int]:
    return (max(0, min(r[0] for r in rects) - margin), max(0, min(r[1] for r in rects) - margin),
            max(r[2] for r in rects) + margin, max(r[3] for r in rects) + margin)


def click(wine: WineSession, x: int, y: int, button: int = 1) -> None:
    """A click without waiting for the pointer's motion to be reported
    (xdotool's --sync waits for ever when Wine's tray holds the pointer)."""
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "sleep", "0.2", "click", str(button)],
                   env=wine.env, timeout=15, check=True)


def tray_icon(wine: WineSession) -> tuple[int, int]:
    """Screen position of our icon: the first slot of Wine's tray window, whose
    frame and caption Wine draws above it (a 20-pixel slot, 2-pixel border)."""
    x, y, _, height = wine.window_geometry(wine.wait_window(TRAY_TITLE, timeout=30))
    return x + 12, y + height - 12


def open_menus(wine: WineSession) -> list[tuple[int, int, int, int]]:
    lines = wine.tool("windows", "#32768").stdout.decode().splitlines()
    return [tuple(int(v) for v in line.split("\t")[0].split()[:4]) for line in lines]


def wait_rows(wine: WineSession, control: int, count: int) -> list[list[str]]:
    return wine.wait_until(lambda: (rows := wine.list_rows(TITLE, control)) and len(rows) == count and rows,
                           timeout=30, what=f"{count} rows in list {control}")


def take(bindir: Path, outdir: Path, wine: WineSession, folder: Path) -> None:
    server = sim.SimServer(folder)
    server.reset()
    (folder / "Corvane.ini").write_bytes(INI.encode("ascii"))
    program = wine.start(folder / "corvane.exe")
    window = wine.wait_window(TITLE, process=program)
    server.wait_for(lambda c: c[sim.SESSION_ENUMS] >= 1, timeout=30, what="the first watch pass")

    # A new connection: the balloon over the tray icon.
    server.modify(lambda s: setattr(s, "sessions", [LATE_COMER]))
    found = wine.wait_until(lambda: balloons(wine), timeout=20, what="the connection balloon")
    time.sleep(0.5)  # drawn whole
    # Only the balloon: Wine's tray window is not what Windows shows.
    capture(wine, outdir / "balloon.png", crop=union(*found, margin=2))
    # A click on the icon stops the blinking; the balloon goes with its timeout.
    click(wine, *tray_icon(wine))

    # The office at work; F5 brings the lists up to date.
    server.modify(lambda s: (setattr(s, "sessions", SESSIONS + [LATE_COMER]), setattr(s, "files", FILES)))
    passes = server.counters()[sim.SESSION_ENUMS]
    server.wait_for(lambda c: c[sim.SESSION_ENUMS] >= passes + 2, timeout=30, what="two more passes")
    wine.post_command(TITLE, COMMAND_REFRESH)
    wait_rows(wine, SESSIONS_LIST, len(SESSIONS) + 1)
    wine.wait_until(lambda: not balloons(wine), timeout=30, what="the balloon to go")

    # The main window at its designed size, the first session selected.
    left, top, _, _ = wine.tab_rect(TITLE, 0)
    # The first row, below the filter box and the column headers; the first
    # click may only bring the window to the front.
    for _ in range(2):
        click(wine, left + 40, top + 74)
        time.sleep(0.7)
    capture(wine, outdir / "main-sessions.png", window)

    wine.click_tab(TITLE, 1)
    wait_rows(wine, RESOURCES_LIST, len(FILES))
    time.sleep(0.5)
    capture(wine, outdir / "main-resources.png", window)
    # Part of a name in the filter box (Ctrl+F): only the rows that hold it.
    wine.send_keys(TITLE, "ctrl+f", "x", "l", "s", "x", delay_ms=50)
    wait_rows(wine, RESOURCES_LIST, len([f for f in FILES if "xlsx" in f.path]))
    time.sleep(0.5)
    capture(wine, outdir / "main-filter.png", window)
    wine.send_keys(TITLE, "Escape")
    wait_rows(wine, RESOURCES_LIST, len(FILES))
    wine.click_tab(TITLE, 0)

    # The tray icon's menu.
    x, y = tray_icon(wine)
    click(wine, x, y, button=3)
    menus = wine.wait_until(lambda: open_menus(wine), timeout=10, what="the tray menu")
    time.sleep(0.5)
    capture(wine, outdir / "tray-menu.png", crop=union(*menus))
    subprocess.run(["xdotool", "key", "Escape"], env=wine.env, timeout=15)
    wine.wait_until(lambda: not open_menus(wine), timeout=10, what="the tray menu to close")

    # The settings dialog with the options of a fresh start.
    wine.post_command(TITLE, COMMAND_SET_ENVIRONMENT)
    dialog = wine.wait_window(SETTINGS_TITLE, timeout=15)
    time.sleep(0.5)
    capture(wine, outdir / "settings.png", dialog)
    wine.press_button(SETTINGS_TITLE, IDCANCEL)
    wine.wait_until(lambda: not wine.find_windows(SETTINGS_TITLE), timeout=10, what="the dialog to close")

    close_program(wine, program)


def close_program(wine, program) -> None:
    """The close box; a program that does not end is left to the Wine stop after it."""
    wine.close_window(TITLE)
    try:
        program.wait(timeout=20)
    except subprocess.TimeoutExpired:
        print("   (the program did not end by itself; Wine is stopped below)")


def main() -> int:
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    bindir, outdir = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    for name in ("corvane.exe", "netapi32.dll", "corvane_wintool.exe"):
        if not (bindir / name).is_file():
            print(f"{bindir / name} is missing: build the mingw preset first", file=sys.stderr)
            return 1
    outdir.mkdir(parents=True, exist_ok=True)
    folder = bindir.parent / "guide-images"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    shutil.copy2(bindir / "corvane.exe", folder / "corvane.exe")

    xvfb, display = start_xvfb()
    wine = None
    try:
        prefix = guide_prefix(ROOT, display)
        sim.install_in_prefix(bindir / "netapi32.dll", prefix)
        wine = WineSession(prefix, display, bindir, folder, "guide")
        _stop_wineserver(wine.env)
        take(bindir, outdir, wine, folder)
    finally:
        if wine:
            wine.cleanup()
        stop_xvfb(xvfb)
    return 0


if __name__ == "__main__":
    sys.exit(main())
