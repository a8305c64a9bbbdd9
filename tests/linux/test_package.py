"""The Debian package of corvane-watch, made around the program under test:
it installs, runs from /usr/sbin, its unit passes systemd-analyze verify, and
it is removed again."""
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

WATCH = os.environ.get("CORVANE_WATCH", "")
ROOT = Path(__file__).resolve().parents[2]


def run(*args, **kwargs):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=120, **kwargs)


@pytest.mark.skipif(not WATCH, reason="CORVANE_WATCH names no program")
def test_package_installs_runs_verifies_and_is_removed(tmp_path):
    if os.geteuid() != 0:
        pytest.skip("dpkg -i needs root")
    if not all(shutil.which(t) for t in ("dpkg-deb", "dpkg-shlibdeps", "help2man", "systemd-analyze")):
        pytest.skip("dpkg-dev, help2man or systemd is missing (scripts/setup installs them)")
    if run("dpkg-query", "-W", "corvane-watch").returncode == 0:
        pytest.skip("corvane-watch is installed on this machine already; left alone")

    made = run(str(ROOT / "scripts" / "make-deb"), WATCH, str(tmp_path))
    assert made.returncode == 0, made.stderr
    deb = Path(made.stdout.strip())
    assert re.fullmatch(r"corvane-watch_\d+\.\d+\.\d+_amd64\.deb", deb.name), deb.name
    try:
        installed = run("dpkg", "-i", str(deb))
        assert installed.returncode == 0, installed.stdout + installed.stderr
        shown = run("/usr/sbin/corvane-watch", "--help")
        assert shown.returncode == 0 and "Usage: corvane-watch" in shown.stdout
        unit = "/lib/systemd/system/corvane-watch.service"
        verified = run("systemd-analyze", "verify", unit)
        assert verified.returncode == 0 and "corvane-watch" not in verified.stderr, verified.stderr
        assert (os.stat("/var/log/corvane").st_mode & 0o777) == 0o750
        assert Path("/usr/share/man/man8/corvane-watch.8.gz").exists()
        assert "/etc/default/corvane-watch" in run("dpkg-query", "-W", "-f=${Conffiles}", "corvane-watch").stdout
    finally:
        removed = run("dpkg", "-r", "corvane-watch")
    assert removed.returncode == 0, removed.stdout + removed.stderr
    assert not Path("/usr/sbin/corvane-watch").exists() and not Path(unit).exists()
    assert run("dpkg-query", "-W", "-f=${Status}", "corvane-watch").stdout.split()[-1] != "installed"
    run("dpkg", "--purge", "corvane-watch")  # its conffile and log folder too: the machine as it was
