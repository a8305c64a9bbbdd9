"""Every event also goes to the Windows event log. Wine keeps no event log,
but its ReportEventW names each report (type, category, event ID) on the
advapi channel and writes each insert string to the eventlog channel; the
test reads both from the program's output."""

from __future__ import annotations

import re
import time

import simserver as sim
from corvane_app import close_and_wait, expected_address, start, wait_for_log

TRACE = "-all,fixme+advapi,+eventlog"
SOURCE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Corvane"
INFORMATION, WARNING = 4, 2

REPORT = re.compile(r"fixme:advapi:ReportEventW \(\w+,0x(\w+),0x(\w+),0x(\w+),\w+,0x(\w+),")
STRING = re.compile(r":eventlog:ReportEventW (L\".*\")$")


def unquote(text: str) -> str:
    """A string as Wine's debugstr_w writes it: L"...", \\xxxx for what is
    not printable ASCII."""
    assert text.startswith('L"') and text.endswith('"'), text
    return re.sub(r"\\([0-9a-f]{4}|.)",
                  lambda m: chr(int(m.group(1), 16)) if len(m.group(1)) == 4
                  else {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)),
                  text[2:-1])


def reports(output: bytes) -> list[tuple[int, int, int, list[str]]]:
    """(event ID, type, category, insert strings) of each ReportEventW call."""
    found = []
    for line in output.decode("utf-8", "replace").splitlines():
        if m := REPORT.search(line):
            found.append((int(m.group(3), 16), int(m.group(1), 16), int(m.group(2), 16), []))
        elif (m := STRING.search(line)) and found:
            found[-1][3].append(unquote(m.group(1)))
    return found


def write_ini(sandbox, **keys: str) -> None:
    lines = ["[Environment]", "IsSecond=1", *(f"{k}={v}" for k, v in keys.items())]
    sandbox.ini.write_bytes(("\r\n".join(lines) + "\r\n").encode("cp932"))


def test_each_event_and_a_failing_listing_are_reported_once_and_nothing_when_turned_off(wine, sandbox):
    # WriteEventLog is on unless the file says otherwise.
    write_ini(sandbox, DisconnectConnTime="100")
    path = "D:\\share\\営業\\見積書.xlsx"
    sandbox.sim.set_sessions([sim.Session("PC-SALES01", "tanaka", 1, 5, 0),
                              sim.Session("10.0.0.1", "taro", 1, 101, 0)])
    sandbox.sim.set_files([sim.OpenFile(1, path, "tanaka")])
    program = start(wine, sandbox, winedebug=TRACE)
    wait_for_log(sandbox.log, "接続時間による自動切断,10.0.0.1,10.0.0.1,taro".encode("cp932"), timeout=15)

    sandbox.sim.set_status(sessions=sim.ERROR_ACCESS_DENIED)
    passes = sandbox.sim.counters()[sim.SESSION_ENUMS]
    sandbox.sim.wait_for(lambda c: c[sim.SESSION_ENUMS] >= passes + 3, timeout=15, what="three refused passes")
    sandbox.sim.set_status(sessions=0)
    passes = sandbox.sim.counters()[sim.SESSION_ENUMS]
    sandbox.sim.wait_for(lambda c: c[sim.SESSION_ENUMS] >= passes + 2, timeout=15, what="two passes that work")
    close_and_wait(wine, program)

    sales = expected_address("PC-SALES01")
    got = reports((sandbox.folder / "corvane.out").read_bytes())
    # In the order of the log file: a pass's sessions, then its open files.
    assert [r for r in got if r[0] != 2001] == [
        (1001, INFORMATION, 1, ["PC-SALES01", sales, "tanaka"]),
        (1001, INFORMATION, 1, ["10.0.0.1", "10.0.0.1", "taro"]),
        (1004, INFORMATION, 1, ["10.0.0.1", "10.0.0.1", "taro"]),
        (1003, INFORMATION, 2, ["tanaka", path]),
        (2003, INFORMATION, 3, []),
    ]
    refused = [r for r in got if r[0] == 2001]
    assert len(refused) == 1 and refused[0][1:3] == (WARNING, 3) and refused[0][3][0] == "5", got
    assert got.index(refused[0]) == 4, got

    # The source's key names the program as its message file.
    query = wine.run("reg", "query", SOURCE_KEY, timeout=60)
    values = {m.group(1): (m.group(2), m.group(3).strip())
              for m in re.finditer(r"^\s*(\w+)\s+(REG_\w+)\s+(.*)$", query.stdout.decode("utf-8", "replace"), re.M)}
    program_path = "Z:" + str(sandbox.exe).replace("/", "\\")
    assert values["EventMessageFile"] == ("REG_SZ", program_path), values
    assert values["CategoryMessageFile"] == ("REG_SZ", program_path), values
    assert values["CategoryCount"][1] in ("0x4", "4") and values["TypesSupported"][1] in ("0x7", "7"), values

    # The texts Event Viewer shows, in both languages of the message table.
    english = wine.tool("message", str(sandbox.exe), "1003", "0x409").stdout.decode()
    japanese = wine.tool("message", str(sandbox.exe), "1003", "0x411").stdout.decode()
    assert english.startswith("A shared file was opened.") and "%2" in english, english
    assert japanese.startswith("共有リソースへのアクセスを検出しました。") and "%2" in japanese, japanese

    # Turned off: the file log goes on, the event log gets nothing.
    write_ini(sandbox, WriteEventLog="0")
    sandbox.sim.set_sessions([sim.Session("PC-SALES02", "suzuki", 1, 5, 0)])
    program = start(wine, sandbox, winedebug=TRACE)
    wait_for_log(sandbox.log, f"接続検出,PC-SALES02,{expected_address('PC-SALES02')},suzuki".encode("cp932"),
                 timeout=15)
    time.sleep(1)
    close_and_wait(wine, program)
    assert reports((sandbox.folder / "corvane.out").read_bytes()) == []
