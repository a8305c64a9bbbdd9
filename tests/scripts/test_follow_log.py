"""scripts/follow-log.py: what the terminal of scripts/run shows of the log."""

import importlib.util
import io
import os
from pathlib import Path

SCRIPT = Path(__file__).resolve().parents[2] / "scripts" / "follow-log.py"
module_source = importlib.util.spec_from_file_location("follow_log", SCRIPT)
follow_log = importlib.util.module_from_spec(module_source)
module_source.loader.exec_module(follow_log)


def append(path: Path, text: str) -> None:
    with open(path, "ab") as f:
        f.write(text.encode("cp932"))


def test_every_line_once_across_partial_writes_and_rotation(tmp_path):
    log = tmp_path / "CorvaneLog.txt"
    out = io.StringIO()
    follower = follow_log.Follower(str(log), from_start=False, on_line=follow_log.printer(out))
    follower.poll()                         # no log yet: the first one is shown whole
    append(log, "2026/12/08 09:00:00,接続検出,PC01,(N/A),太郎\r\n2026/12/08 09:00:01,アク")
    follower.poll()
    append(log, "セス検出,太郎,D:\\共有\\表.xlsx\r\n")
    append(log, "2026/12/08 09:00:02,切断検出,PC01,(N/A),太郎\r\n")   # written just before the move
    os.replace(log, tmp_path / "CorvaneLog.txt.bak")
    append(log, "2026/12/08 09:00:03,接続検出,PC02,(N/A),花子\r\n")
    follower.poll()
    assert out.getvalue().splitlines() == [
        "2026/12/08 09:00:00,接続検出,PC01,(N/A),太郎",
        "2026/12/08 09:00:01,アクセス検出,太郎,D:\\共有\\表.xlsx",
        "2026/12/08 09:00:02,切断検出,PC01,(N/A),太郎",
        "2026/12/08 09:00:03,接続検出,PC02,(N/A),花子",
    ]


def test_a_log_already_there_is_followed_from_its_end(tmp_path):
    log = tmp_path / "CorvaneLog.txt"
    append(log, "2026/12/07 18:00:00,接続検出,OLD,(N/A),old\r\n")
    out = io.StringIO()
    follower = follow_log.Follower(str(log), from_start=False, on_line=follow_log.printer(out))
    follower.poll()
    append(log, "2026/12/08 09:00:00,接続検出,NEW,(N/A),new\r\n")
    follower.poll()
    assert out.getvalue().splitlines() == ["2026/12/08 09:00:00,接続検出,NEW,(N/A),new"]
