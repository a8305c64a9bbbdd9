"""The Windows installer end to end: scripts/make-windows-packages builds the
MSI from the program under test, Wine's msiexec installs it silently into
Program Files, the program runs and logs from there with the event source
naming it, a higher version installs over it keeping the settings and one
entry in Apps, and removal takes the program, the key and the Start menu
entries and keeps Corvane.ini and the log."""

from __future__ import annotations

import re
import subprocess
from pathlib import Path

import simserver as sim
from corvane_app import TITLE, close_and_wait, wait_for_log
from simserver import install_in_prefix

ROOT = Path(__file__).resolve().parents[2]
EVENT_SOURCE = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Corvane"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
MSIEXEC_TIMEOUT = 300


def make_packages(exe: Path, out: Path, version: str, env: dict | None = None) -> str:
    result = subprocess.run([str(ROOT / "scripts" / "make-windows-packages"), str(exe), str(out), version],
                            capture_output=True, text=True, timeout=300, env=env)
    assert result.returncode == 0, result.stderr
    assert (out / f"corvane-{version}-x64.msi").is_file() and (out / f"corvane-{version}-win64.zip").is_file()
    return result.stdout


def msiexec(wine, *args: str) -> None:
    env = dict(wine.env, WINEDLLOVERRIDES="mscoree,mshtml=")  # the installer needs no simulated server
    result = subprocess.run(["wine", "msiexec", *args, "/qn"], env=env, capture_output=True,
                            timeout=MSIEXEC_TIMEOUT)
    assert result.returncode == 0, f"msiexec {' '.join(args)}: exit {result.returncode} {result.stderr[-500:]!r}"


def reg_query(wine, key: str, *args: str) -> str:
    result = subprocess.run(["wine", "reg", "query", key, *args], env=wine.env, capture_output=True,
                            timeout=60)
    return result.stdout.decode("utf-8", "replace") if result.returncode == 0 else ""


def corvane_apps(wine) -> list[dict[str, str]]:
    """The values of each Corvane entry in Apps (the uninstall keys)."""
    entries, values = [], None
    for line in reg_query(wine, UNINSTALL, "/s").splitlines():
        if line.startswith("HKEY_"):
            values = {}
            entries.append(values)
        elif values is not None and (m := re.match(r"\s+(\w+)\s+REG_\w+\s+(.*)$", line)):
            values[m.group(1)] = m.group(2).strip()
    return [e for e in entries if e.get("DisplayName") == "Corvane"]


def start_menu_entries(prefix: Path) -> list[str]:
    """The Corvane entries in the Start menu, for all users or this one
    (Wine's msiexec puts a per-machine package's shortcuts in the latter)."""
    roots = [prefix / "drive_c" / "ProgramData" / "Microsoft" / "Windows" / "Start Menu",
             *(prefix / "drive_c" / "users").glob("*/AppData/Roaming/Microsoft/Windows/Start Menu")]
    return sorted(link.name for root in roots for link in root.glob("Programs/Corvane/*.lnk"))


def test_msi_installs_runs_upgrades_and_removes_keeping_the_users_records(wine, wine_prefix, bindir, build_dir):
    out = build_dir / "e2e-msi"
    make_packages(bindir / "corvane.exe", out, "1.0.0")
    make_packages(bindir / "corvane.exe", out, "1.0.1")
    folder = wine_prefix / "drive_c" / "Program Files" / "Corvane"
    install_in_prefix(bindir / "netapi32.dll", wine_prefix)
    try:
        msiexec(wine, "/i", str(out / "corvane-1.0.0-x64.msi"))
        assert sorted(p.name for p in folder.iterdir()) == ["LICENSE.txt", "README.html", "README.ja.html",
                                                            "corvane.exe"]
        assert start_menu_entries(wine_prefix) == ["Corvane Guide.lnk", "Corvane.lnk"]
        key = reg_query(wine, EVENT_SOURCE, "/v", "EventMessageFile")
        assert r"C:\Program Files\Corvane\corvane.exe" in key, key
        assert [(a["DisplayVersion"], a["Publisher"]) for a in corvane_apps(wine)] == \
            [("1.0.0", "The Corvane developers")]

        # The installed program watches and logs beside itself.
        server = sim.SimServer(folder)
        server.reset()
        server.set_sessions([sim.Session("PC01", "taro", 1, 0, 0)])
        program = wine.start(folder / "corvane.exe")
        wine.wait_window(TITLE, process=program)
        wait_for_log(folder / "CorvaneLog.txt", "接続検出,PC01,(N/A),taro".encode("cp932"), timeout=30)
        close_and_wait(wine, program)
        settings = (folder / "Corvane.ini").read_bytes()
        log = (folder / "CorvaneLog.txt").read_bytes()

        # A higher version replaces it: one entry in Apps, the records kept.
        msiexec(wine, "/i", str(out / "corvane-1.0.1-x64.msi"))
        assert [a["DisplayVersion"] for a in corvane_apps(wine)] == ["1.0.1"]
        assert (folder / "Corvane.ini").read_bytes() == settings
        assert (folder / "CorvaneLog.txt").read_bytes() == log

        msiexec(wine, "/x", str(out / "corvane-1.0.1-x64.msi"))
        assert not (folder / "corvane.exe").exists()
        assert (folder / "Corvane.ini").read_bytes() == settings
        assert (folder / "CorvaneLog.txt").read_bytes() == log
        assert reg_query(wine, EVENT_SOURCE) == ""
        assert start_menu_entries(wine_prefix) == []
        assert corvane_apps(wine) == []
    finally:
        for version in ("1.0.0", "1.0.1"):  # nothing left for the other tests
            subprocess.run(["wine", "msiexec", "/x", str(out / f"corvane-{version}-x64.msi"), "/qn"],
                           env=wine.env, capture_output=True, timeout=MSIEXEC_TIMEOUT)
