"""A server that hands the program everything at once: thousands of sessions
and open files, names of 10,000 characters, empty names, commas, line breaks,
characters code page 932 lacks, records listed many times and in other
letter case, statuses flapping between success and errors. The program keeps
answering, logs each event once, frees every buffer and stays within its
memory."""

from __future__ import annotations

import time
from pathlib import Path

import simserver as sim
from corvane_app import TITLE, close_and_wait, event_texts, start

SESSIONS = 5000
FILES = 20000
LONG = 10000


def hostile_name(i: int, plain: str) -> str:
    """Every hundredth record carries one kind of hostile name in turn."""
    kind = i % 100
    return {
        1: "W" * LONG + str(i),
        2: "",
        3: f"{plain},x,y",
        4: f"{plain}\r\n2026/12/08 09:00:00,切断検出,X",
        5: f"{plain}😀한",
    }.get(kind, plain)


def office() -> tuple[list[sim.Session], list[sim.OpenFile]]:
    # Most clients are named by their address, as servers often list them;
    # Wine takes about 80 ms to find that any other name does not resolve.
    sessions = []
    for i in range(SESSIONS):
        user = "U" * LONG if i % 100 == 6 else f"user{i:04}"
        address = f"10.0.{i // 256}.{i % 256}"
        sessions.append(sim.Session(hostile_name(i, address), user, 1, 10, i % 7))
        if i % 100 == 7:
            sessions.append(sim.Session(address, user.upper(), 2, 10, 0))  # the same session again
    files = []
    for i in range(FILES):
        path = hostile_name(i, f"D:\\share\\部署{i % 9}\\資料{i:05}.xlsx")
        files.append(sim.OpenFile(i, path, f"user{i % SESSIONS:04}"))
        if i % 100 == 8:
            files.append(sim.OpenFile(i, path.upper(), f"USER{i % SESSIONS:04}"))
    # Nothing after a session without a user name counts.
    sessions += [sim.Session("PC-END", "", 1, 0, 0), sim.Session("NEVER", "seen", 1, 0, 0)]
    return sessions, files


def identities(pairs) -> int:
    """How many different pairs of names, regardless of letter case."""
    return len({(a.lower(), b.lower()) for a, b in pairs})


def resident_kib(folder: Path) -> int:
    """Resident memory of the corvane.exe process that runs from `folder`."""
    for proc in Path("/proc").iterdir():
        try:
            command = (proc / "cmdline").read_bytes().replace(b"\0", b" ")
            if b"corvane.exe" in command and folder.name.encode() in command:
                for line in (proc / "status").read_text().splitlines():
                    if line.startswith("VmRSS:"):
                        return int(line.split()[1])
        except (OSError, ValueError):
            continue
    raise AssertionError("corvane.exe is not running")


def wait_for_passes(sandbox, more: int, timeout: float) -> None:
    target = sandbox.sim.counters()[sim.SESSION_ENUMS] + more
    sandbox.sim.wait_for(lambda c: c[sim.SESSION_ENUMS] >= target, timeout=timeout, what=f"{more} more passes")


def test_huge_hostile_listings_are_logged_once_and_the_program_keeps_answering(wine, sandbox):
    sessions, files = office()
    sandbox.sim.set_sessions(sessions)
    sandbox.sim.set_files(files)
    sandbox.ini.write_bytes(b"[Environment]\r\nIsSecond=1\r\nIgnoreLocalConnection=0\r\nMaxLogSize=67108864\r\n")
    listed = sessions[:next(i for i, s in enumerate(sessions) if not s.user)]
    expected_sessions = identities((s.computer, s.user) for s in listed)
    expected_files = identities((f.path, f.user) for f in files)
    assert expected_sessions == SESSIONS and FILES - 200 < expected_files < FILES
    program = start(wine, sandbox, passes=2)
    wait_for_passes(sandbox, 1, timeout=120)

    texts = event_texts(sandbox.log)
    connects = [t for t in texts if t.startswith("接続検出,".encode("cp932"))]
    accesses = [t for t in texts if t.startswith("アクセス検出,".encode("cp932"))]
    assert (len(connects), len(accesses)) == (expected_sessions, expected_files)
    assert len(texts) == expected_sessions + expected_files
    assert not [t for t in connects if b"NEVER" in t or b"PC-END" in t]
    assert max(map(len, texts)) > LONG  # the long names arrive whole
    assert b"\r" not in b"".join(texts) and b"\n" not in b"".join(texts)

    # Listed again in other letter case, or with a failed enumeration between:
    # nothing is new.
    sandbox.sim.modify(lambda s: [setattr(x, "computer", x.computer.lower()) for x in s.sessions if x.computer])
    sandbox.sim.modify(lambda s: [setattr(x, "user", x.user.swapcase()) for x in s.sessions if x.user])
    wait_for_passes(sandbox, 2, timeout=120)
    for status in (sim.ERROR_ACCESS_DENIED, 0, sim.ERROR_MORE_DATA, 0):
        sandbox.sim.set_status(sessions=status, files=status)
        sandbox.sim.set_buffer_on_failure(status != 0)
        wait_for_passes(sandbox, 2, timeout=120)
    first = resident_kib(sandbox.folder)
    wait_for_passes(sandbox, 6, timeout=240)
    last = resident_kib(sandbox.folder)

    median, longest = map(float, wine.tool("ping", TITLE, "20", "50").stdout.split())
    print(f"answer median {median} ms, longest {longest} ms; resident {first} KiB, then {last} KiB")
    assert longest < 1000, f"the window took {longest} ms to answer (median {median} ms)"
    assert last < first * 1.1 + 8192, f"resident memory grew from {first} KiB to {last} KiB"
    assert event_texts(sandbox.log) == texts
    close_and_wait(wine, program)
    counters = sandbox.sim.counters()
    assert counters.buffers_outstanding == 0 and counters[sim.BAD_FREES] == 0
