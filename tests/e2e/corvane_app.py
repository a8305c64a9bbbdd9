"""corvane.exe as the end-to-end tests drive it: starting it until it
watches, closing it with the close box, and what it shows for a name."""

from __future__ import annotations

import re
import subprocess
import time
from pathlib import Path

import simserver as sim

TITLE = "Corvane"
TTS_BALLOON = 0x40
EXIT_TIMEOUT = 10     # the close box must end the program within this


FILTER_ROW = 26       # the filter box's row above the lists, at 96 DPI


def click_first_row(wine, sync: bool = True) -> None:
    """A real click on the first row of the list shown: below the tabs come
    the filter box's row, the list's frame, its header, then the first row."""
    left, _, _, bottom = wine.tab_rect(TITLE, 0)
    wine.click(left + 30, bottom + FILTER_ROW + 34, sync=sync)


def start(wine, sandbox, passes: int = 1, winedebug: str | None = None):
    """Starts the program and waits for its window and `passes` watch passes."""
    program = wine.start(sandbox.exe, winedebug=winedebug)
    wine.wait_window(TITLE, process=program)
    sandbox.sim.wait_for(lambda c: c[sim.SESSION_ENUMS] >= passes and c[sim.FILE_ENUMS] >= passes,
                         timeout=30, what=f"{passes} watch passes")
    return program


def close_and_wait(wine, program) -> None:
    """Clicks the close box and expects the program to end with exit code 0."""
    wine.close_window(TITLE)
    try:
        code = program.wait(timeout=EXIT_TIMEOUT)
    except subprocess.TimeoutExpired:
        wine.screenshot("still-running")
        raise AssertionError(f"still running {EXIT_TIMEOUT} s after the close box") from None
    assert code == 0


def expected_address(computer: str) -> str:
    """What the program shows for a computer name, by the rule rather than by
    asking this machine's resolver: a client named by its IPv4 address shows
    that address; the tests give every other client a name that does not
    resolve, shown as "(N/A)"."""
    parts = computer.split(".")
    if len(parts) == 4 and all(p.isdigit() and int(p) < 256 for p in parts):
        return computer
    return "(N/A)"


STAMP = re.compile(rb"\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}")


def log_lines(path: Path) -> list[bytes]:
    """The log's lines without their CR LF; every line must end with CR LF."""
    if not path.exists():
        return []
    data = path.read_bytes()
    assert data == b"" or data.endswith(b"\r\n"), f"log does not end with CR LF: {data[-40:]!r}"
    return data.split(b"\r\n")[:-1]


def event_texts(path: Path) -> list[bytes]:
    """The event text of each log line (after the 19-character stamp and its
    comma), after checking the stamp's form."""
    texts = []
    for line in log_lines(path):
        assert STAMP.fullmatch(line[:19]), f"bad time stamp in {line!r}"
        assert line[19:20] == b",", f"no comma after the stamp in {line!r}"
        texts.append(line[20:])
    return texts


def wait_for_log(path: Path, text: bytes, timeout: float) -> list[bytes]:
    deadline = time.monotonic() + timeout
    while True:
        texts = event_texts(path) if path.exists() else []
        if text in texts:
            return texts
        if time.monotonic() >= deadline:
            raise AssertionError(f"no log line {text.decode('cp932')!r} within {timeout}s; log: "
                                 f"{[t.decode('cp932', 'replace') for t in texts]}")
        time.sleep(0.2)


def balloons(wine) -> list[tuple[int, int, int, int]]:
    """Screen rectangles of the visible balloon tooltips."""
    result = wine.tool("windows", "tooltips_class32")
    found = []
    for line in result.stdout.decode().splitlines():
        left, top, right, bottom, style = (int(v) for v in line.split("\t")[0].split())
        if style & TTS_BALLOON:
            found.append((left, top, right, bottom))
    return found
