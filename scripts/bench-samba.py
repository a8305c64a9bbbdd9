#!/usr/bin/env python3
"""corvane-watch against a real smbd on loopback, one guest client connected
and idle: CPU of the watcher plus its children (smbstatus runs) over 30 s,
in CPU ticks and in per cent of one core, and how soon a new connection
reaches the event log; once polling every second (--poll, the pace before
Samba's change signals were read) and once reading the signals.

usage: bench-samba.py CORVANE_WATCH"""
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "linux"))
from samba_server import Client, missing, read, running_samba, wait_for  # noqa: E402

IDLE_SECONDS = 30
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_ticks(pid):
    """utime + stime + cutime + cstime: the process and its waited-for children."""
    stat = Path(f"/proc/{pid}/stat").read_text()
    fields = stat[stat.rindex(")") + 2:].split()
    return sum(int(f) for f in fields[11:15])


def measure(watch, samba, mode, folder):
    log = folder / "CorvaneLog.txt"
    ini = folder / "Corvane.ini"
    ini.write_bytes(b"[Environment]\r\nIsSecond=1\r\nIgnoreLocalConnection=0\r\n")
    pace = ["--poll", "--interval", "1"] if mode == "poll" else ["--lock-directory", str(samba["lock"])]
    program = subprocess.Popen([watch, "--config", str(ini), "--log", str(log), "--smbstatus", str(samba["smbstatus"]),
                                *pace], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    client = None
    try:
        time.sleep(2)
        client = Client(samba)
        came = time.monotonic()
        wait_for(lambda: "接続検出" in read(log), 30, "the connection in the log")
        to_log = time.monotonic() - came
        time.sleep(3)  # past the looks again after the client came
        before, start = cpu_ticks(program.pid), time.monotonic()
        time.sleep(IDLE_SECONDS)
        ticks, elapsed = cpu_ticks(program.pid) - before, time.monotonic() - start
        return {"mode": mode, "ticks": ticks, "cpu": 100 * ticks / TICKS / elapsed, "to_log": to_log}
    finally:
        if client:
            client.leave()
        program.terminate()
        program.wait(10)


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    why = missing()
    if why:
        print(f"skipped: {why}")
        return 0
    watch = str(Path(sys.argv[1]).resolve())
    rows = []
    with running_samba() as samba:
        one = time.monotonic()
        subprocess.run([samba["smbstatus"], "--json", "-B"], capture_output=True, check=True)
        listing_ms = 1000 * (time.monotonic() - one)
        for mode in ("poll", "signals"):
            with tempfile.TemporaryDirectory() as folder:
                rows.append(measure(watch, samba, mode, Path(folder)))
                print(f"  {rows[-1]}", flush=True)
    print(f"\none smbstatus --json -B: {listing_ms:.0f} ms (wall)")
    print(f"\n| pace | CPU ticks in {IDLE_SECONDS} s (watcher + smbstatus) | % of a core | new connection in the log |")
    print("|---|---|---|---|")
    for row in rows:
        label = "--poll, every 1 s (before)" if row["mode"] == "poll" else "Samba's change signals (after)"
        print(f"| {label} | {row['ticks']} | {row['cpu']:.2f} % | {row['to_log']:.2f} s |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
