#!/usr/bin/env python3
"""Pictures of the program at several display scales, to look at by eye.

    scripts/dpi-screens.py BINDIR OUTDIR [DPI ...]      (default DPIs: 96 144 192)

For each DPI, Wine's LogPixels is set in a Wine prefix of its own
(build/dpi-wineprefix) and the program runs beside the simulated server with
the rows of the user guide, no stored column widths, so the columns show at
their designed widths scaled. Written to OUTDIR: main-<dpi>.png,
settings-<dpi>.png and about-<dpi>.png.
"""

from __future__ import annotations

import importlib.util
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
_spec = importlib.util.spec_from_file_location("guide_images", ROOT / "scripts" / "guide-images.py")
guide = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(guide)
from conftest import WineSession, _base_env, _stop_wineserver, start_xvfb, stop_xvfb  # noqa: E402  (path set by guide-images)
from corvane_app import TITLE  # noqa: E402
import simserver as sim  # noqa: E402

COMMAND_ABOUT = 100
ABOUT_TITLE = "バージョン情報"
INI = "[Environment]\r\nIsSecond=1\r\n"


def dpi_prefix(display: str, dpi: int) -> tuple[Path, dict]:
    """build/dpi-wineprefix, booted once, Wine drawing the frames itself
    (Managed=N, Decorated=N), LogPixels set to `dpi`."""
    prefix = ROOT / "build" / "dpi-wineprefix"
    env = _base_env(prefix, display)
    marker = prefix / ".corvane-dpi-ready"
    try:
        if not marker.exists():
            shutil.rmtree(prefix, ignore_errors=True)
            prefix.mkdir(parents=True)
            subprocess.run(["wineboot", "-i"], env=env, timeout=300, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for key, value in (("Managed", "N"), ("Decorated", "N")):
                subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", key, "/d", value,
                                "/f"], env=env, timeout=120, check=True,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            fonts = prefix / "drive_c" / "windows" / "Fonts"
            if Path("/usr/share/wine/fonts/marlett.ttf").is_file() and fonts.is_dir():
                shutil.copy2("/usr/share/wine/fonts/marlett.ttf", fonts / "marlett.ttf")
            marker.write_text("booted\n")
        subprocess.run(["wine", "reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                        "/d", str(dpi), "/f"], env=env, timeout=120, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    finally:
        _stop_wineserver(env)  # the next start reads the new scale
    return prefix, env


def take(wine: WineSession, folder: Path, outdir: Path, dpi: int) -> None:
    server = sim.SimServer(folder)
    server.reset()
    server.modify(lambda s: (setattr(s, "sessions", guide.SESSIONS), setattr(s, "files", guide.FILES)))
    (folder / "Corvane.ini").write_bytes(INI.encode("ascii"))
    program = wine.start(folder / "corvane.exe")
    window = wine.wait_window(TITLE, process=program)
    server.wait_for(lambda c: c[sim.SESSION_ENUMS] >= 1, timeout=30, what="the first watch pass")
    wine.post_command(TITLE, guide.COMMAND_REFRESH)
    guide.wait_rows(wine, guide.SESSIONS_LIST, len(guide.SESSIONS))
    time.sleep(1.0)
    guide.capture(wine, outdir / f"main-{dpi}.png", window)

    wine.post_command(TITLE, guide.COMMAND_SET_ENVIRONMENT)
    dialog = wine.wait_window(guide.SETTINGS_TITLE, timeout=15)
    time.sleep(0.7)
    guide.capture(wine, outdir / f"settings-{dpi}.png", dialog)
    wine.press_button(guide.SETTINGS_TITLE, guide.IDCANCEL)
    wine.wait_until(lambda: not wine.find_windows(guide.SETTINGS_TITLE), timeout=10, what="the dialog to close")

    wine.post_command(TITLE, COMMAND_ABOUT)
    about = wine.wait_window(ABOUT_TITLE, timeout=15)
    time.sleep(0.7)
    guide.capture(wine, outdir / f"about-{dpi}.png", about)
    wine.press_button(ABOUT_TITLE, 1)  # IDOK
    wine.wait_until(lambda: not wine.find_windows(ABOUT_TITLE), timeout=10, what="the About box to close")

    guide.close_program(wine, program)


def main() -> int:
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    bindir, outdir = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    dpis = [int(v) for v in sys.argv[3:]] or [96, 144, 192]
    outdir.mkdir(parents=True, exist_ok=True)
    folder = bindir.parent / "dpi-screens-run"
    xvfb, display = start_xvfb()
    try:
        for dpi in dpis:
            print(f"== {dpi} DPI")
            shutil.rmtree(folder, ignore_errors=True)
            folder.mkdir(parents=True)
            shutil.copy2(bindir / "corvane.exe", folder / "corvane.exe")
            prefix, _ = dpi_prefix(display, dpi)
            sim.install_in_prefix(bindir / "netapi32.dll", prefix)
            wine = WineSession(prefix, display, bindir, folder, f"dpi{dpi}")
            try:
                take(wine, folder, outdir, dpi)
            finally:
                wine.cleanup()
    finally:
        stop_xvfb(xvfb)
    return 0


if __name__ == "__main__":
    sys.exit(main())
