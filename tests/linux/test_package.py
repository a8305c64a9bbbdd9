"""The Debian package of corvane-watch as scripts/make-deb builds it (debhelper,
dpkg-buildpackage): lintian finds nothing, its maintainer scripts manage the
service through an install, an upgrade, a removal and a purge in a dpkg root
of its own (this machine's packages are left alone), and its program still
sees and ends a client of a real smbd under the unit's restrictions."""
import functools
import os
import re
import shutil
import signal
import subprocess
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parent))
from samba_server import SBIN_PATH, Client, find, missing, read, running_samba, wait_for  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
UNIT = ROOT / "packaging" / "corvane-watch.service"
SERVICE = "corvane-watch.service"


def run(*args, timeout=120, **kwargs):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=timeout,
                          env={**os.environ, "PATH": SBIN_PATH}, **kwargs)


@pytest.fixture(scope="module")
def deb(tmp_path_factory):
    if os.geteuid() != 0:
        pytest.skip("the package is tried in a dpkg root of its own, which needs root")
    if not all(find(t) for t in ("dpkg-buildpackage", "dh", "lintian", "help2man", "systemd-analyze")):
        pytest.skip("dpkg-dev, debhelper, lintian, help2man or systemd is missing (scripts/setup installs them)")
    made = run(str(ROOT / "scripts" / "make-deb"), str(tmp_path_factory.mktemp("dist")), timeout=1500)
    assert made.returncode == 0, made.stderr
    deb = Path(made.stdout.strip())
    assert re.fullmatch(r"corvane-watch_\d+\.\d+\.\d+_amd64\.deb", deb.name), deb.name
    return deb


def test_lintian_finds_no_error_and_no_warning(deb):
    checked = run("lintian", "--fail-on", "error,warning", str(deb), timeout=300)
    assert checked.returncode == 0, checked.stdout + checked.stderr


def test_the_unit_is_exposed_little():
    rated = run("systemd-analyze", "security", "--offline=yes", str(UNIT))
    exposure = re.search(r"Overall exposure level for \S+: (\d+\.\d)", rated.stdout)
    assert exposure and float(exposure[1]) <= 2.5, rated.stdout


def dpkg_root(folder):
    """A root for dpkg --root: an empty package database, and what the
    maintainer scripts run chrooted there need: a shell, rm, a /dev/null (a
    file will do) and stand-ins for systemd's tools that write their calls to
    /calls. /run/systemd/system tells the scripts that systemd runs the machine."""
    (folder / "var/lib/dpkg/updates").mkdir(parents=True)
    (folder / "dev").mkdir()
    (folder / "dev/null").touch()
    (folder / "var/lib/dpkg/info").mkdir()
    (folder / "var/lib/dpkg/status").touch()
    (folder / "run/systemd/system").mkdir(parents=True)
    for program in ("/bin/sh", "/bin/rm"):
        needed = re.findall(r"(/\S+) \(0x", run("ldd", program).stdout)
        for path in (program, *needed):
            copy = folder / path.lstrip("/")
            copy.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(os.path.realpath(path), copy)
    for tool in ("systemctl", "deb-systemd-helper", "deb-systemd-invoke"):
        stub = folder / "usr/bin" / tool
        stub.parent.mkdir(parents=True, exist_ok=True)
        stub.write_text(f'#!/bin/sh\necho "{tool} $*" >> /calls\n')
        stub.chmod(0o755)
    return folder


def test_install_upgrade_remove_and_purge_manage_the_service(deb, tmp_path):
    root = dpkg_root(tmp_path / "root")
    calls = root / "calls"

    def dpkg(*args):
        calls.unlink(missing_ok=True)
        # Its dependencies (Samba, the C++ library) are not in this root.
        done = run("dpkg", f"--root={root}", f"--log={tmp_path / 'dpkg.log'}", "--force-depends", *args)
        assert done.returncode == 0, done.stdout + done.stderr
        said = read(calls).splitlines()
        return [line.split(" ", 1)[1] for line in said if line.startswith("deb-systemd-invoke ")], said

    # The same package, rebuilt with a higher version.
    unpacked = tmp_path / "unpacked"
    assert run("dpkg-deb", "-R", str(deb), str(unpacked)).returncode == 0
    control = unpacked / "DEBIAN" / "control"
    control.write_text(re.sub(r"^Version: (.*)$", r"Version: \1+1", control.read_text(), flags=re.M))
    newer = tmp_path / "newer.deb"
    assert run("dpkg-deb", "--root-owner-group", "-b", str(unpacked), str(newer)).returncode == 0

    invoked, said = dpkg("-i", str(deb))
    assert invoked == [f"start {SERVICE}"] and f"deb-systemd-helper enable {SERVICE}" in said, said
    shown = run(str(root / "usr/sbin/corvane-watch"), "--help")
    assert shown.returncode == 0 and "Usage: corvane-watch" in shown.stdout
    assert (root / "usr/share/man/man8/corvane-watch.8.gz").exists()
    # The unit checked with the targets of this machine's systemd beside it.
    shutil.copytree("/lib/systemd/system", root / "lib/systemd/system", dirs_exist_ok=True,
                    ignore=shutil.ignore_patterns(SERVICE))
    verified = run("systemd-analyze", "verify", f"--root={root}", "--man=no", f"/lib/systemd/system/{SERVICE}")
    assert verified.returncode == 0 and SERVICE not in verified.stderr, verified.stderr
    # What the service and its administrator leave behind.
    log = root / "var/log/corvane/CorvaneLog.txt"
    log.parent.mkdir(parents=True)
    log.write_text("2026/12/08 10:00:00,接続検出,PC01,192.168.10.21,taro\r\n")
    defaults = root / "etc/default/corvane-watch"
    defaults.write_text('CORVANE_OPTIONS="--disconnect-conn-time 28800"\n')

    invoked, said = dpkg("-i", str(newer))
    assert invoked == [f"restart {SERVICE}"], said
    assert defaults.read_text() == 'CORVANE_OPTIONS="--disconnect-conn-time 28800"\n'

    invoked, said = dpkg("-r", "corvane-watch")
    assert invoked == [f"stop {SERVICE}"], said
    assert not (root / "usr/sbin/corvane-watch").exists()
    assert log.exists() and defaults.exists()

    invoked, said = dpkg("--purge", "corvane-watch")
    assert invoked == [] and f"deb-systemd-helper purge {SERVICE}" in said, said
    assert not log.parent.exists() and not defaults.exists()


# ------------------------------------------ the unit's restrictions by hand

def unit_settings():
    settings = {}
    for line in UNIT.read_text().splitlines():
        if "=" in line and not line.startswith(("#", "[")):
            key, value = line.split("=", 1)
            settings.setdefault(key, []).append(value)
    return settings


@functools.lru_cache(maxsize=None)
def system_calls(name):
    """The system calls of a systemd group (@name, its groups expanded) or a single call."""
    if not name.startswith("@"):
        return frozenset([name])
    listed = run("systemd-analyze", "syscall-filter", name).stdout.splitlines()[1:]
    return frozenset().union(*(system_calls(entry.strip()) for entry in listed
                               if entry.strip() and not entry.strip().startswith("#")))


def allowed_system_calls(filters):
    allowed = set()
    for line in filters:
        deny = line.startswith("~")
        calls = set().union(*(system_calls(name) for name in line.lstrip("~").split()))
        allowed = allowed - calls if deny else allowed | calls
    return allowed


def test_the_watch_sees_and_ends_a_client_under_the_units_restrictions(deb, tmp_path):
    """systemd does not run this machine, so the unit's restrictions are applied
    by hand: its capability bounding set and no new privileges (setpriv), its
    user namespace (unshare -r), its /proc (ProtectProc, ProcSubset); its system
    call filter, address families and MemoryDenyWriteExecute are checked on
    everything the watch, smbstatus and smbcontrol called (strace)."""
    why = missing()
    if why:
        pytest.skip(why)
    if not all(find(t) for t in ("strace", "setpriv", "unshare")):
        pytest.skip("strace or util-linux is missing (scripts/setup installs them)")
    unit = unit_settings()
    assert unit["NoNewPrivileges"] == ["yes"] and unit["PrivateUsers"] == ["yes"]
    bounding = "".join(",+" + cap.lower().removeprefix("cap_") for cap in unit["CapabilityBoundingSet"][-1].split())
    proc = f"hidepid={unit['ProtectProc'][-1]},subset={unit['ProcSubset'][-1]}"

    unpacked = tmp_path / "unpacked"
    assert run("dpkg-deb", "-x", str(deb), str(unpacked)).returncode == 0
    watch = unpacked / "usr/sbin/corvane-watch"
    log = tmp_path / "CorvaneLog.txt"
    trace = tmp_path / "trace"
    ini = tmp_path / "Corvane.ini"
    ini.write_bytes(b"[Environment]\r\nIsSecond=1\r\nIgnoreLocalConnection=0\r\n")
    confined = ["unshare", "--mount", "sh", "-c", f'mount -t proc -o {proc} proc /proc && exec "$@"', "sh",
                "unshare", "--map-root-user",
                "setpriv", f"--bounding-set=-all{bounding}", "--inh-caps=-all", "--no-new-privs"]
    probe = run(*confined, "true")
    if probe.returncode != 0:
        pytest.skip("this machine allows no mount or user namespace: " + probe.stderr)
    with running_samba() as samba:
        restricted = [
            *confined, "strace", "-f", "-qq", "-o", str(trace),
            str(watch), "--log", str(log), "--config", str(ini), "--disconnect-conn-time", "2",
            "--lock-directory", str(samba["lock"]), "--smbstatus", str(samba["smbstatus"]),
            "--smbcontrol", str(samba["smbcontrol"])]
        with open(tmp_path / "watch.err", "wb") as err:
            started = subprocess.Popen(restricted, stdout=subprocess.DEVNULL, stderr=err,
                                       env={**os.environ, "PATH": SBIN_PATH})
        client = Client(samba)
        try:
            wait_for(lambda: "接続時間による自動切断,127.0.0.1,127.0.0.1,nobody" in read(log), 60,
                     "the automatic disconnection\n" + read(log) + read(tmp_path / "watch.err"))
            client.send("ls")
            said = client.leave()
        finally:
            client.leave()
            # The watch runs below strace: it is ended by the pid its log lock names.
            pid = read(str(log) + ".lock").strip()
            if pid:
                os.kill(int(pid), signal.SIGTERM)
            started.wait(30)
    assert re.search(r"NT_STATUS_(CONNECTION_DISCONNECTED|CONNECTION_RESET|END_OF_FILE|PIPE_BROKEN)", said), said
    assert "切断失敗" not in read(log)

    traced = read(trace)
    assert f"execve(\"{samba['smbcontrol']}\"" in traced
    called = set(re.findall(r"^\d+ +(\w+)\(", traced, re.M))
    assert called - allowed_system_calls(unit["SystemCallFilter"]) == set()
    families = set(re.findall(r"^\d+ +socket\((AF_\w+)", traced, re.M))
    assert families <= set(unit["RestrictAddressFamilies"][-1].split()), families
    assert unit["MemoryDenyWriteExecute"] == ["yes"]
    assert not re.findall(r"^\d+ +(?:mmap|mprotect)\(.*PROT_WRITE\|PROT_EXEC.*$", traced, re.M)
