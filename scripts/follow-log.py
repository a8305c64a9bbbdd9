#!/usr/bin/env python3
"""Prints the event log as it grows: each line decoded from code page 932,
one line per event. Follows the log across its rotation (the full log moves
to CorvaneLog.txt.bak and a new one begins) without losing the lines written
just before the move. Usage: follow-log.py PATH [--from-start]"""

from __future__ import annotations

import os
import sys
import time


def decode(raw: bytes) -> str:
    return raw.decode("cp932", errors="replace")


class Follower:
    """Follows the log at `path` as it grows and across its rotations (the
    full log moves to CorvaneLog.txt.bak and a new one begins), and hands on
    its lines as bytes without their CR LF: `on_file()` when a log file
    begins, `on_line(raw)` for each line, `on_tail(raw)` for what a file held
    after its last CR LF when it moved away or the follower was closed (by
    default a line like any other). The lines written just before a move are
    read through the handle still open on the old file."""

    def __init__(self, path: str, from_start: bool, on_line, on_file=None, on_tail=None) -> None:
        self.path = path
        self.file = None
        self.inode = None
        self.pending = b""
        self.from_start = from_start
        self.on_line = on_line
        self.on_file = on_file or (lambda: None)
        self.on_tail = on_tail or on_line

    def _open(self, at_end: bool) -> None:
        try:
            f = open(self.path, "rb")
        except OSError:
            return
        self.file = f
        self.inode = os.fstat(f.fileno()).st_ino
        if at_end:
            f.seek(0, os.SEEK_END)
        self.on_file()

    def _drain(self) -> None:
        data = self.file.read()
        if not data:
            return
        self.pending += data
        *lines, self.pending = self.pending.split(b"\r\n")
        for line in lines:
            self.on_line(line)

    def poll(self) -> None:
        if self.file is None:
            # The first log of a run is read whole; a log already there is
            # read from its end unless asked otherwise.
            existed = os.path.exists(self.path)
            self._open(at_end=existed and not self.from_start)
            self.from_start = True
            if self.file is None:
                return
        self._drain()
        try:
            moved = os.stat(self.path).st_ino != self.inode
        except OSError:
            moved = True
        if moved:
            # Rotated (or removed): finish the old file, then start on the new one.
            self.close()
            self._open(at_end=False)
            if self.file is not None:
                self._drain()

    def close(self) -> None:
        """Finishes the file in hand: its last lines, and a tail without CR LF."""
        if self.file is None:
            return
        self._drain()
        if self.pending:
            self.on_tail(self.pending)
            self.pending = b""
        self.file.close()
        self.file = None


def printer(out):
    """An `on_line` that writes each line to `out`, decoded."""
    def line(raw: bytes) -> None:
        out.write(decode(raw) + "\n")
        out.flush()
    return line


def main(argv: list[str]) -> int:
    if len(argv) < 2 or argv[1] in ("-h", "--help"):
        print(__doc__)
        return 2
    follower = Follower(argv[1], "--from-start" in argv[2:], printer(sys.stdout))
    try:
        while True:
            follower.poll()
            time.sleep(0.2)
    except (KeyboardInterrupt, BrokenPipeError):
        return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
