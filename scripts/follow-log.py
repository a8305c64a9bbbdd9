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
    def __init__(self, path: str, from_start: bool) -> None:
        self.path = path
        self.file = None
        self.inode = None
        self.pending = b""
        self.from_start = from_start

    def _open(self, at_end: bool) -> None:
        try:
            f = open(self.path, "rb")
        except OSError:
            return
        self.file = f
        self.inode = os.fstat(f.fileno()).st_ino
        if at_end:
            f.seek(0, os.SEEK_END)

    def _drain(self, out) -> None:
        data = self.file.read()
        if not data:
            return
        self.pending += data
        *lines, self.pending = self.pending.split(b"\r\n")
        for line in lines:
            out.write(decode(line) + "\n")
        out.flush()

    def poll(self, out) -> None:
        if self.file is None:
            # The first log of a run is shown whole; a log already there is
            # shown from its end unless asked otherwise.
            existed = os.path.exists(self.path)
            self._open(at_end=existed and not self.from_start)
            self.from_start = True
            if self.file is None:
                return
        self._drain(out)
        try:
            moved = os.stat(self.path).st_ino != self.inode
        except OSError:
            moved = True
        if moved:
            # Rotated (or removed): finish the old file, then start on the new one.
            self._drain(out)
            if self.pending:
                out.write(decode(self.pending) + "\n")
                self.pending = b""
            self.file.close()
            self.file = None
            self._open(at_end=False)
            if self.file is not None:
                self._drain(out)


def main(argv: list[str]) -> int:
    if len(argv) < 2 or argv[1] in ("-h", "--help"):
        print(__doc__)
        return 2
    follower = Follower(argv[1], "--from-start" in argv[2:])
    try:
        while True:
            follower.poll(sys.stdout)
            time.sleep(0.2)
    except (KeyboardInterrupt, BrokenPipeError):
        return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
