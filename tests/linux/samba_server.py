"""A real smbd started on loopback (IPv4 and IPv6) for corvane-watch's tests and benchmark,
with a guest share, wrappers of smbstatus/smbcontrol for its settings, and
smbclient as the remote user."""
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
from contextlib import contextmanager
from pathlib import Path

SBIN_PATH = os.environ.get("PATH", "") + ":/usr/sbin:/usr/bin:/sbin"


def find(program):
    return shutil.which(program, path=SBIN_PATH)


def wait_for(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(0.05)


def read(path, encoding="utf-8"):
    try:
        return Path(path).read_bytes().decode(encoding)
    except FileNotFoundError:
        return ""


def missing():
    """Why a real smbd cannot be started here, or None."""
    if os.geteuid() != 0:
        return "smbd is started as root"
    if not all(find(p) for p in ("smbd", "smbstatus", "smbcontrol", "smbclient")):
        return "samba and smbclient are not installed"
    return None


@contextmanager
def running_samba():
    """Yields {"root", "port", "share", "lock", "smbstatus", "smbcontrol"}: the lock directory holds
    Samba's change signals; the wrappers count their runs in smbstatus.runs and smbcontrol.runs."""
    smbd, smbstatus, smbcontrol = find("smbd"), find("smbstatus"), find("smbcontrol")
    # The guest account must reach the share: a folder of its own under /tmp
    # (pytest's folders are closed to other users).
    root = Path(tempfile.mkdtemp(prefix="corvane-samba-"))
    for sub in ("private", "lock", "state", "cache", "pid", "ncalrpc", "log", "share"):
        (root / sub).mkdir()
    share = root / "share"
    (share / "hello.txt").write_text("hello\n")
    (share / "報告書.txt").write_text("日本語\n")
    for path in (root, share, *share.iterdir()):
        path.chmod(0o755 if path.is_dir() else 0o644)
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    conf = root / "smb.conf"
    conf.write_text(f"""[global]
  netbios name = CORVANETEST
  workgroup = TESTGROUP
  server role = standalone server
  interfaces = 127.0.0.1 ::1
  bind interfaces only = yes
  smb ports = {port}
  disable netbios = yes
  private dir = {root}/private
  lock directory = {root}/lock
  state directory = {root}/state
  cache directory = {root}/cache
  pid directory = {root}/pid
  ncalrpc dir = {root}/ncalrpc
  log file = {root}/log/log.%m
  map to guest = Bad User
  guest account = nobody
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
  server min protocol = SMB2_10

[pub]
  path = {share}
  guest ok = yes
  read only = yes
""")
    # The watcher reaches this server's state through wrappers, as an
    # unusual installation would with --smbstatus/--smbcontrol.
    wrappers = {}
    for name, program in (("smbstatus", smbstatus), ("smbcontrol", smbcontrol)):
        wrapper = root / name
        # Each run is counted in <name>.runs beside it.
        wrapper.write_text(f'#!/bin/sh\necho run >> {root / name}.runs\nexec {program} -s {conf} "$@"\n')
        wrapper.chmod(0o755)
        wrappers[name] = wrapper
    with open(root / "smbd.out", "wb") as out:
        server = subprocess.Popen([smbd, "--foreground", "--no-process-group", "-s", str(conf), "--debug-stdout", "-d1"],
                                  stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                  start_new_session=True)

    def listening():
        if server.poll() is not None:
            raise AssertionError("smbd ended: " + read(root / "smbd.out"))
        with socket.socket() as s:
            return s.connect_ex(("127.0.0.1", port)) == 0

    try:
        wait_for(listening, 20, "smbd to listen")
        yield {"root": root, "port": port, "share": share, "lock": root / "lock", **wrappers}
    finally:
        # smbd and every connection process it forked are in its own group.
        try:
            os.killpg(server.pid, signal.SIGTERM)
            server.wait(10)
        except (ProcessLookupError, subprocess.TimeoutExpired):
            pass
        try:
            os.killpg(server.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        server.wait(10)
        shutil.rmtree(root, ignore_errors=True)




class Client:
    """smbclient connected to the test share; commands go to its input."""

    def __init__(self, samba, address="127.0.0.1"):
        """Connects from `address`: "127.0.0.1", or "::1" for a client over IPv6."""
        self.said = None
        self.process = subprocess.Popen(
            [find("smbclient"), "//localhost/pub", "-I", address, "-p", str(samba["port"]), "-N"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

    def send(self, command):
        self.process.stdin.write(command.encode() + b"\n")
        self.process.stdin.flush()

    def leave(self, timeout=15):
        """Closes its input (so it quits) and returns what it printed."""
        if self.said is None:
            try:
                out, _ = self.process.communicate(timeout=timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                out, _ = self.process.communicate(timeout=timeout)
            self.said = out.decode("utf-8", "replace")
        return self.said


