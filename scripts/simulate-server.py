#!/usr/bin/env python3
"""Plays a small office day on the simulated server beside corvane.exe:
computers connect and leave, users open and close shared files, sessions sit
idle and their clocks run. Runs until the program's folder disappears or the
process is stopped."""

import random
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))
import simserver as sim  # noqa: E402

PEOPLE = [("PC-SALES01", "tanaka"), ("PC-SALES02", "suzuki"), ("PC-DEV01", "佐藤"),
          ("PC-DEV02", "kobayashi"), ("NOTE-07", "yamada"), ("PC-ACCT01", "伊藤")]
FILES = ["D:\\share\\営業\\見積書.xlsx", "D:\\share\\営業\\顧客一覧.csv", "D:\\share\\開発\\仕様メモ.txt",
         "D:\\share\\開発\\build.log", "D:\\share\\共通\\議事録 2026-12.docx", "D:\\share\\共通"]


def main() -> int:
    folder = Path(sys.argv[1])
    server = sim.SimServer(folder)
    server.reset()
    rng = random.Random(7)
    present: dict[tuple[str, str], list[int]] = {}  # (computer, user) -> [seconds, idle]
    while folder.is_dir():
        for key in list(present):
            present[key][0] += 3
            present[key][1] = 0 if rng.random() < 0.5 else present[key][1] + 3
            if rng.random() < 0.1:
                del present[key]
        if len(present) < len(PEOPLE) and rng.random() < 0.5:
            key = rng.choice(PEOPLE)
            present.setdefault(key, [0, 0])
        sessions, files = [], []
        for (computer, user), (seconds, idle) in present.items():
            opened = rng.sample(range(len(FILES)), rng.randint(0, 2))
            sessions.append(sim.Session(computer, user, len(opened), seconds, idle))
            files += [sim.OpenFile(100 + i, FILES[i], user) for i in opened]
        server.modify(lambda s: (setattr(s, "sessions", sessions), setattr(s, "files", files)))
        time.sleep(3)
    return 0


if __name__ == "__main__":
    sys.exit(main())
