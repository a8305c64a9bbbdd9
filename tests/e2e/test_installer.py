"""The Windows installer end to end: scripts/make-windows-packages builds the
MSI from the program under test, Wine's msiexec installs it silently into
Program Files, the program runs and logs from there with the event source
naming it, a rebuild of the same version (a new product code) and then a
higher version install over it keeping the settings and one entry in Apps,
and removal takes the program, the key and the Start menu entries and keeps
Corvane.ini and the log. The higher version is signed with a certificate made
for the test, in a Japanese name and without a password: both signatures check
out against it, Apps names it as the publisher, and the signed program and
installer still run. Before that, without Wine: what the packaging script
refuses to build, and the Japanese texts the built installer holds."""

from __future__ import annotations

import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

import simserver as sim
from corvane_app import TITLE, close_and_wait, wait_for_log
from simserver import install_in_prefix

ROOT = Path(__file__).resolve().parents[2]
EVENT_SOURCE = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Corvane"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
MSIEXEC_TIMEOUT = 300
SIGNER = "株式会社テスト"
SILENT_STAMP = "http://127.0.0.1:9/"  # nothing listens there
TRAY_ALONE = "CORVANE_NO_SERVICE=1"


def run_packaging(exe: Path, out: Path, version: str, env: dict | None = None) -> subprocess.CompletedProcess:
    return subprocess.run([str(ROOT / "scripts" / "make-windows-packages"), str(exe), str(out), version],
                          capture_output=True, text=True, timeout=300, env=env)


def make_packages(exe: Path, out: Path, version: str, env: dict | None = None) -> str:
    result = run_packaging(exe, out, version, env)
    assert result.returncode == 0, result.stderr
    assert (out / f"corvane-{version}-x64.msi").is_file() and (out / f"corvane-{version}-win64.zip").is_file()
    return result.stdout


def make_certificate(folder: Path, name: str = SIGNER, password: str = "") -> tuple[Path, Path]:
    """A throwaway self-signed code-signing certificate: (PKCS#12 file, PEM)."""
    folder.mkdir(parents=True, exist_ok=True)
    key, pem, pfx = folder / "key.pem", folder / "cert.pem", folder / "cert.pfx"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key), "-out", str(pem),
                    "-days", "2", "-utf8", "-subj", f"/CN={name}", "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, capture_output=True, timeout=60)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", str(key), "-in", str(pem), "-out", str(pfx),
                    "-passout", f"pass:{password}"], check=True, capture_output=True, timeout=60)
    return pfx, pem


def signing_env(pfx: Path, **more: str) -> dict:
    env = {k: v for k, v in os.environ.items() if not k.startswith("CORVANE_SIGN_")}
    return dict(env, CORVANE_SIGN_PFX=str(pfx), **more)


def verify_signature(path: Path, pem: Path) -> None:
    result = subprocess.run(["osslsigncode", "verify", "-in", str(path), "-CAfile", str(pem)],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 0 and "Signature verification: ok" in result.stdout, result.stdout + result.stderr
    # osslsigncode writes the subject's UTF-8 bytes as \xNN.
    escaped = "".join(f"\\x{b:02X}" for b in SIGNER.encode())
    assert f"Subject: /CN={escaped}" in result.stdout, result.stdout


def msi_table(msi: Path, table: str) -> list[list[str]]:
    """The rows of one table of a built MSI, as msiinfo exports them."""
    result = subprocess.run(["msiinfo", "export", str(msi), table], capture_output=True, timeout=60)
    assert result.returncode == 0, result.stderr
    return [line.split("\t") for line in result.stdout.decode("utf-8").split("\r\n")[3:] if line]


# What the packaging script must refuse before it builds anything, and what it
# builds from a certificate in a Japanese name that has no password.
@pytest.mark.parametrize("certificate, settings, refusal", [
    (("Wrong Password Signer", "right"), dict(CORVANE_SIGN_PASSWORD="wrong"), "password"),
    ((SIGNER, ""), dict(CORVANE_SIGN_TIMESTAMP_URL=SILENT_STAMP), "CORVANE_SIGN_ALLOW_NO_TIMESTAMP=1"),
    ((SIGNER, ""), {}, "CORVANE_SIGN_ALLOW_NO_TIMESTAMP=1"),
    (("Café Signer", ""), dict(CORVANE_SIGN_ALLOW_NO_TIMESTAMP="1"), "932"),
    ((SIGNER, ""), dict(CORVANE_SIGN_TIMESTAMP_URL=SILENT_STAMP, CORVANE_SIGN_ALLOW_NO_TIMESTAMP="1"), None),
], ids=["wrong password", "silent time-stamp server", "no time-stamp server", "name outside code page 932",
        "going on without a time stamp"])
def test_packaging_refuses_what_it_cannot_sign_or_name_right(bindir, tmp_path, certificate, settings, refusal):
    pfx, pem = make_certificate(tmp_path / "cert", *certificate)
    out = tmp_path / "out"
    result = run_packaging(bindir / "corvane.exe", out, "1.0.0", signing_env(pfx, **settings))
    if refusal:
        assert result.returncode != 0 and refusal in result.stderr, result.stdout + result.stderr
        assert sorted(out.glob("*")) == []
        return
    assert result.returncode == 0, result.stderr
    assert "signed without a time stamp" in result.stdout, result.stdout
    msi = out / "corvane-1.0.0-x64.msi"
    verify_signature(msi, pem)
    assert ["Manufacturer", SIGNER] in msi_table(msi, "Property")
    assert msi_table(msi, "LaunchCondition") == [["NOT WIX_DOWNGRADE_DETECTED",
                                                  "新しい版の Corvane がすでにインストールされています。"]]


def msiexec(wine, *args: str) -> None:
    env = dict(wine.env, WINEDLLOVERRIDES="mscoree,mshtml=")  # the installer needs no simulated server
    result = wine.run("msiexec", *args, "/qn", timeout=MSIEXEC_TIMEOUT, env=env)
    assert result.returncode == 0, f"msiexec {' '.join(args)}: exit {result.returncode} {result.stderr[-500:]!r}"


def reg_query(wine, key: str, *args: str) -> str:
    result = wine.run("reg", "query", key, *args, timeout=60)
    # reg writes to anything but a console in the console code page, 932 in the Japanese prefix.
    return result.stdout.decode("cp932", "replace") if result.returncode == 0 else ""


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


def run_and_log(wine, folder: Path, computer: str) -> None:
    """The installed program watches and logs beside itself."""
    server = sim.SimServer(folder)
    server.reset()
    server.set_sessions([sim.Session(computer, "taro", 1, 0, 0)])
    program = wine.start(folder / "corvane.exe")
    wine.wait_window(TITLE, process=program)
    wait_for_log(folder / "CorvaneLog.txt", f"接続検出,{computer},(N/A),taro".encode("cp932"), timeout=30)
    close_and_wait(wine, program)


def test_msi_installs_runs_upgrades_and_removes_keeping_the_users_records(wine, wine_prefix, bindir, build_dir,
                                                                          tmp_path):
    out = build_dir / "e2e-msi"
    shutil.rmtree(out, ignore_errors=True)
    said = make_packages(bindir / "corvane.exe", out, "1.0.0")
    assert [line for line in said.splitlines() if "sign" in line.lower()] == \
        ["== Not signed: no certificate given (CORVANE_SIGN_PFX)"]
    make_packages(bindir / "corvane.exe", out / "rebuild", "1.0.0")
    product_codes = {dict(msi_table(msi, "Property"))["ProductCode"]
                     for msi in (out / "corvane-1.0.0-x64.msi", out / "rebuild" / "corvane-1.0.0-x64.msi")}
    assert len(product_codes) == 2
    pfx, pem = make_certificate(tmp_path)
    make_packages(bindir / "corvane.exe", out, "1.0.1",
                  signing_env(pfx, CORVANE_SIGN_TIMESTAMP_URL=SILENT_STAMP, CORVANE_SIGN_ALLOW_NO_TIMESTAMP="1"))
    verify_signature(out / "corvane-1.0.1-x64.msi", pem)
    shutil.unpack_archive(out / "corvane-1.0.1-win64.zip", tmp_path / "zip")
    verify_signature(tmp_path / "zip" / "corvane.exe", pem)

    folder = wine_prefix / "drive_c" / "Program Files" / "Corvane"
    shutil.rmtree(folder, ignore_errors=True)  # records an earlier run kept
    install_in_prefix(bindir / "netapi32.dll", wine_prefix)
    try:
        # The tray alone: the service has tests of its own (test_service.py).
        msiexec(wine, "/i", str(out / "corvane-1.0.0-x64.msi"), TRAY_ALONE)
        assert sorted(p.name for p in folder.iterdir()) == ["LICENSE.txt", "README.html", "README.ja.html",
                                                            "corvane.exe"]
        assert start_menu_entries(wine_prefix) == ["Corvane Guide.lnk", "Corvane.lnk"]
        key = reg_query(wine, EVENT_SOURCE, "/v", "EventMessageFile")
        assert r"C:\Program Files\Corvane\corvane.exe" in key, key
        assert [(a["DisplayVersion"], a["Publisher"]) for a in corvane_apps(wine)] == \
            [("1.0.0", "The Corvane developers")]

        run_and_log(wine, folder, "PC01")
        settings = (folder / "Corvane.ini").read_bytes()
        log = (folder / "CorvaneLog.txt").read_bytes()

        # A rebuild of the same version replaces it: still one entry in Apps.
        msiexec(wine, "/i", str(out / "rebuild" / "corvane-1.0.0-x64.msi"), TRAY_ALONE)
        assert [(a["DisplayVersion"], a["Publisher"]) for a in corvane_apps(wine)] == \
            [("1.0.0", "The Corvane developers")]
        assert (folder / "Corvane.ini").read_bytes() == settings

        # A higher version replaces it: one entry in Apps, the records kept.
        msiexec(wine, "/i", str(out / "corvane-1.0.1-x64.msi"), TRAY_ALONE)
        assert [(a["DisplayVersion"], a["Publisher"]) for a in corvane_apps(wine)] == [("1.0.1", SIGNER)]
        assert (folder / "Corvane.ini").read_bytes() == settings
        assert (folder / "CorvaneLog.txt").read_bytes() == log
        # The signed program runs.
        verify_signature(folder / "corvane.exe", pem)
        run_and_log(wine, folder, "PC02")
        settings, log = (folder / "Corvane.ini").read_bytes(), (folder / "CorvaneLog.txt").read_bytes()

        msiexec(wine, "/x", str(out / "corvane-1.0.1-x64.msi"))
        assert not (folder / "corvane.exe").exists()
        assert (folder / "Corvane.ini").read_bytes() == settings
        assert (folder / "CorvaneLog.txt").read_bytes() == log
        assert reg_query(wine, EVENT_SOURCE) == ""
        assert start_menu_entries(wine_prefix) == []
        assert corvane_apps(wine) == []
    finally:
        for msi in ("corvane-1.0.0-x64.msi", "rebuild/corvane-1.0.0-x64.msi", "corvane-1.0.1-x64.msi"):
            wine.run("msiexec", "/x", str(out / msi), "/qn", timeout=MSIEXEC_TIMEOUT)  # nothing left for the others
