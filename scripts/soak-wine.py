#!/usr/bin/env python3
"""Soaks corvane.exe under Wine: for SECONDS (default 600) the simulated
server's sessions and open files come and go (some names Japanese, now and
then a list refused with status 5), the log rotates every few kilobytes
(MaxLogSize 4096) and is followed across its rotations, and every ~30 s the
program's handles, GDI objects, windows (corvane_wintool stats) and resident
anonymous memory (RssAnon of its Linux process) are sampled. At the end the
close box ends the program and every connection, disconnection and access the
simulator made must appear exactly once in the log and its backups.

Prints the samples and the tally; exits 1 on a missing, repeated, torn or
misplaced line, a counter that grew beyond its slack (tests/e2e/wine_soak.py
says how much), or a program that did not end cleanly.

usage: soak-wine.py RUN_FOLDER EXE [SECONDS]
RUN_FOLDER must hold netapi32.dll (put into the prefix's system folder) and
corvane_wintool.exe; the run itself
happens in RUN_FOLDER/soak, kept for a look afterwards. Uses the prefix of
scripts/wine-run (CORVANE_WINEPREFIX) and DISPLAY, or an Xvfb of its own."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import simserver as sim  # noqa: E402
import wine_soak  # noqa: E402

WINE_RUN = str(ROOT / "scripts" / "wine-run")
SAMPLE_EVERY = 30


def start_xvfb() -> tuple[subprocess.Popen, str]:
    with tempfile.TemporaryFile() as out:
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                stdout=out, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            out.seek(0)
            number = out.read().strip()
            if number:
                return xvfb, ":" + number.decode()
            time.sleep(0.1)
    xvfb.kill()
    raise RuntimeError("Xvfb did not report a display within 30 s")


def main() -> int:
    if len(sys.argv) not in (3, 4):
        print(__doc__, file=sys.stderr)
        return 2
    work, exe = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    seconds = float(sys.argv[3]) if len(sys.argv) == 4 else 600
    folder = work / "soak"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    shutil.copy2(exe, folder / "corvane.exe")
    shutil.copy2(work / "corvane_wintool.exe", folder / "corvane_wintool.exe")

    xvfb = None
    if not os.environ.get("DISPLAY"):
        xvfb, os.environ["DISPLAY"] = start_xvfb()
    prefix = os.environ.setdefault("CORVANE_WINEPREFIX", str(ROOT / "build" / "wineprefix"))
    sim.install_in_prefix(work / "netapi32.dll", prefix)
    out = open(folder / "corvane.out", "wb")

    def start() -> subprocess.Popen:
        return subprocess.Popen([WINE_RUN, "corvane.exe"], cwd=folder, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.STDOUT)

    def tool(*args: str) -> subprocess.CompletedProcess:
        return subprocess.run([WINE_RUN, "corvane_wintool.exe", *args], cwd=folder, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=120)

    print(f"soak of {exe} for {seconds:.0f} s in {folder}", flush=True)
    try:
        result = wine_soak.run(folder, start, tool, seconds, SAMPLE_EVERY,
                               progress=lambda text: print(text, flush=True))
    finally:
        out.close()
        subprocess.run(["wineserver", "-k"], env=os.environ | {"WINEPREFIX": prefix})
        if xvfb is not None:
            xvfb.terminate()
            xvfb.wait(timeout=10)
    print()
    print(result.table())
    problems = result.problems()
    for problem in problems:
        print("FAIL:", problem)
    if not problems:
        print("OK")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
