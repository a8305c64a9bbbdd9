"""corvane.exe as the end-to-end tests drive it: starting it until it
watches, closing it with the close box, and what it shows for a name."""

from __future__ import annotations

import socket
import subprocess

import simserver as sim

TITLE = "Corvane"
EXIT_TIMEOUT = 10     # the close box must end the program within this


def start(wine, sandbox, passes: int = 1):
    """Starts the program and waits for its window and `passes` watch passes."""
    program = wine.start(sandbox.exe)
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
    """What the program shows for a computer name: its first IPv4 address, or
    "(N/A)" when it does not resolve (Wine asks the same resolver)."""
    try:
        return socket.gethostbyname(computer)
    except OSError:
        return "(N/A)"
