"""corvane-watch end to end: a real smbd started here on loopback, smbclient as
the remote user, and smbstatus stand-ins that fail in every way."""
import json
import os
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parent))
from samba_server import Client, find, missing, read, running_samba, wait_for  # noqa: E402

WATCH = os.environ.get("CORVANE_WATCH", "")
FIXTURES = Path(__file__).parent / "smbstatus"


def stop(process, timeout=10):
    """Ends a process we started: SIGTERM, then SIGKILL; returns its status."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout)
    return process.returncode


class Watch:
    """corvane-watch running in the background, its output in files."""

    def __init__(self, folder, *args, samba=None, log=None):
        """With `samba`, the watch reads that server's change signals; else it polls every 0.2 s.
        The event log is `log`, or CorvaneLog.txt in `folder`."""
        self.log = log or folder / "CorvaneLog.txt"
        self.out = folder / "watch.out"
        self.err = folder / "watch.err"
        pace = ["--lock-directory", str(samba["lock"])] if samba else ["--poll", "--interval", "0.2"]
        with open(self.out, "wb") as out, open(self.err, "wb") as err:
            self.process = subprocess.Popen([WATCH, "--log", str(self.log), *pace, *args],
                                            stdout=out, stderr=err, stdin=subprocess.DEVNULL)

    def log_has(self, text):
        return text in read(self.log)

    def wait_log(self, text, timeout=20):
        wait_for(lambda: self.log_has(text), timeout, f"{text!r} in the event log\n{read(self.log)}{read(self.err)}")

    def stop(self):
        return stop(self.process)


def run_watch(*args, timeout=30):
    return subprocess.run([WATCH, *args], capture_output=True, text=True, timeout=timeout)


pytestmark = pytest.mark.skipif(not WATCH, reason="CORVANE_WATCH names no program")


# ---------------------------------------------------------------- real smbd

@pytest.fixture(scope="module")
def samba():
    why = missing()
    if why:
        pytest.skip(why)
    with running_samba() as server:
        yield server


@pytest.fixture
def settings_file(tmp_path):
    # The test client connects from this computer itself.
    ini = tmp_path / "Corvane.ini"
    ini.write_bytes(b"[Environment]\r\nIsSecond=1\r\nIgnoreLocalConnection=0\r\nNotifyResourceAccess=1\r\n")
    return ini


def listings(samba):
    return read(samba["root"] / "smbstatus.runs").count("run")


def test_connection_access_and_leaving_are_logged(samba, tmp_path, settings_file):
    watch = Watch(tmp_path, "--config", str(settings_file),
                  "--smbstatus", str(samba["smbstatus"]), "--smbcontrol", str(samba["smbcontrol"]), samba=samba)
    client = Client(samba)
    try:
        watch.wait_log("接続検出,127.0.0.1,127.0.0.1,nobody")
        assert not watch.log_has("アクセス検出,")

        # One client idle: Samba's signals stay still, and so does the watch.
        time.sleep(2)  # the looks again shortly after a client came
        before = listings(samba)
        time.sleep(3)
        assert listings(samba) == before

        client.send("open hello.txt")
        watch.wait_log(f"アクセス検出,nobody,{samba['share']}/hello.txt")

        second = run_watch("--log", str(watch.log), "--smbstatus", str(samba["smbstatus"]))
        assert second.returncode == 2
        assert (f"the event log {watch.log} is already kept by another corvane-watch (pid {watch.process.pid}, "
                f"holding {watch.log}.lock)") in second.stderr, second.stderr

        # A snapshot reads only: no file, even with a limit the session is over, and nothing ended.
        calls = tmp_path / "smbcontrol-calls"
        spy = tmp_path / "smbcontrol-spy"
        spy.write_text(f'#!/bin/sh\necho "$@" >> {calls}\n')
        spy.chmod(0o755)
        quiet = tmp_path / "quiet"
        quiet.mkdir()
        snapshot = subprocess.run([WATCH, "--once", "--config", str(settings_file), "--disconnect-conn-time", "1",
                                   "--smbstatus", str(samba["smbstatus"]), "--smbcontrol", str(spy)],
                                  cwd=quiet, capture_output=True, text=True, timeout=30)
        assert snapshot.returncode == 0, snapshot.stderr
        assert re.search(r"^session\t127\.0\.0\.1\t127\.0\.0\.1\tnobody\t1\t00:00:\d\d$", snapshot.stdout, re.M)
        assert f"file\tnobody\t{samba['share']}/hello.txt\t" in snapshot.stdout
        assert list(quiet.iterdir()) == [] and not calls.exists()

        client.leave()
        watch.wait_log("切断検出,127.0.0.1,127.0.0.1,nobody")
    finally:
        client.leave()
        assert watch.stop() == 0, read(watch.err)

    lines = read(watch.log).splitlines()
    events = [line.split(",", 1)[1] for line in lines]
    assert events == ["接続検出,127.0.0.1,127.0.0.1,nobody",
                      f"アクセス検出,nobody,{samba['share']}/hello.txt",
                      "切断検出,127.0.0.1,127.0.0.1,nobody"]
    assert all(re.match(r"\d{4}/\d\d/\d\d \d\d:\d\d:\d\d,", line) for line in lines)
    assert read(watch.log).count("\r\n") == 3
    assert (watch.log.stat().st_mode & 0o777) == 0o640
    assert "cannot read Samba's change signals" not in read(watch.err)
    out = read(watch.out)
    assert "共有リソースへの接続を検出しました。 127.0.0.1 (nobody)\n" in out
    assert f"共有リソースへのアクセスを検出しました。 nobody ({samba['share']}/hello.txt)\n" in out
    print("event log of the run:\n" + read(watch.log))


def test_connected_time_limit_ends_the_connection(samba, tmp_path, settings_file):
    watch = Watch(tmp_path, "--config", str(settings_file), "--disconnect-conn-time", "2", "--log-encoding", "cp932",
                  "--stdout-format", "json",
                  "--smbstatus", str(samba["smbstatus"]), "--smbcontrol", str(samba["smbcontrol"]), samba=samba)
    client = Client(samba)
    try:
        wait_for(lambda: "接続時間による自動切断,127.0.0.1,127.0.0.1,nobody" in read(watch.log, "cp932"), 30,
                 "the automatic disconnection\n" + read(watch.err))
        client.send("ls")
        said = client.leave()
        assert re.search(r"NT_STATUS_(CONNECTION_DISCONNECTED|CONNECTION_RESET|END_OF_FILE|PIPE_BROKEN)", said), said

        def no_sessions():
            listing = subprocess.run([samba["smbstatus"], "--json"], capture_output=True, text=True, timeout=30)
            return json.loads(listing.stdout)["sessions"] == {}
        wait_for(no_sessions, 10, "the session to leave the server's list")
    finally:
        client.leave()
        assert watch.stop() == 0, read(watch.err)
    log = read(watch.log, "cp932")
    assert [line.split(",", 1)[1] for line in log.splitlines()] == [
        "接続検出,127.0.0.1,127.0.0.1,nobody", "接続時間による自動切断,127.0.0.1,127.0.0.1,nobody"]
    assert "切断失敗" not in log and "could not end" not in read(watch.err)
    # The same events as JSON lines, for collectors; no announcement in between.
    lines = [json.loads(line) for line in read(watch.out).splitlines()]
    assert [(e["kind"], e["word"], e["computer"], e["address"], e["user"], e["path"]) for e in lines] == [
        ("connect", "接続検出", "127.0.0.1", "127.0.0.1", "nobody", ""),
        ("conn-time-disconnect", "接続時間による自動切断", "127.0.0.1", "127.0.0.1", "nobody", "")]
    assert all(re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d", e["time"]) for e in lines)
    print("event log of the run:\n" + log)


def test_a_client_over_ipv6_is_logged_with_its_address_unless_local_ones_are_ignored(samba, tmp_path, settings_file):
    ignoring = tmp_path / "ignoring"
    ignoring.mkdir()
    defaults = ignoring / "Corvane.ini"  # IgnoreLocalConnection=1, the default
    defaults.write_bytes(b"[Environment]\r\nIsSecond=1\r\nNotifyResourceAccess=1\r\n")
    smbstatus = ["--smbstatus", str(samba["smbstatus"])]
    logging = Watch(tmp_path, "--config", str(settings_file), *smbstatus, samba=samba)
    ignored = Watch(ignoring, "--config", str(defaults), *smbstatus, samba=samba)
    client = Client(samba, "::1")
    try:
        logging.wait_log("接続検出,::1,::1,nobody")
        client.send("open hello.txt")
        # The access shows that the other watch saw the client too.
        ignored.wait_log(f"アクセス検出,nobody,{samba['share']}/hello.txt")
    finally:
        client.leave()
        assert logging.stop() == 0, read(logging.err)
        assert ignored.stop() == 0, read(ignored.err)
    assert "接続検出" not in read(ignored.log) and "切断検出" not in read(ignored.log), read(ignored.log)


# ------------------------------------------------ smbstatus that misbehaves

@pytest.fixture
def fake_smbstatus(tmp_path):
    """An smbstatus whose answer is switched through the file `mode`."""
    mode = tmp_path / "mode"
    script = tmp_path / "smbstatus"
    script.write_text(f"""#!/bin/sh
echo run >> {tmp_path / 'runs'}
case "$(cat {mode})" in
  listing) cat {FIXTURES / 'samba-4.16-style.json'} ;;
  garbage) echo 'Samba version 4.12.0'; echo 'PID Username Group Machine' ;;
  truncated) head -c 700 {FIXTURES / 'samba-4.16-style.json'} ;;
  fail) echo 'smbstatus: unknown option --json' >&2; exit 3 ;;
  hang) exec sleep 30 ;;
esac
""")
    script.chmod(0o755)
    return mode, script


@pytest.mark.parametrize("mode, reason", [
    ("missing", "not found"),
    ("fail", "exit status 3: smbstatus: unknown option --json"),
    ("hang", "no answer within 500 ms"),
    ("garbage", "no valid JSON"),
    ("truncated", "no valid JSON"),
])
def test_once_says_why_a_listing_failed_and_logs_nothing(tmp_path, fake_smbstatus, mode, reason):
    mode_file, script = fake_smbstatus
    mode_file.write_text(mode)
    program = tmp_path / "absent" if mode == "missing" else script
    started = time.monotonic()
    result = run_watch("--once", "--timeout", "0.5", "--smbstatus", str(program), "--log", str(tmp_path / "log.txt"))
    assert result.returncode == 1
    assert time.monotonic() - started < 10
    errors = result.stderr.strip().splitlines()
    assert len(errors) == 1 and reason in errors[0] and errors[0].endswith("pass skipped"), result.stderr
    assert result.stdout == ""
    assert not (tmp_path / "log.txt").exists()


def test_unwritable_log_is_refused_at_start(tmp_path, fake_smbstatus):
    mode, script = fake_smbstatus
    mode.write_text("listing")
    result = run_watch("--smbstatus", str(script), "--log", str(tmp_path / "missing" / "log.txt"))
    assert result.returncode == 2
    assert f"cannot write the event log {tmp_path}/missing/log.txt: {tmp_path}/missing: " in result.stderr
    assert result.stdout == ""


def test_a_link_in_place_of_the_log_is_not_followed(tmp_path, fake_smbstatus, settings_file):
    mode, script = fake_smbstatus
    mode.write_text("listing")
    target = tmp_path / "elsewhere"
    target.write_text("untouched\n")
    folder = tmp_path / "logs"
    folder.mkdir()
    (folder / "CorvaneLog.txt").symlink_to(target)
    watch = Watch(folder, "--config", str(settings_file), "--smbstatus", str(script))
    try:
        wait_for(lambda: "holding its lines" in read(watch.err), 20, "the log's failure\n" + read(watch.err))
    finally:
        assert watch.stop() == 0, read(watch.err)
    assert "CorvaneLog.txt: open failed (error 40)" in read(watch.err)  # ELOOP
    assert read(target) == "untouched\n"
    # What the log could not take went to the unsaved file beside it.
    unsaved = list(folder.glob("CorvaneLog.unsaved-*.txt"))
    assert len(unsaved) == 1 and not unsaved[0].is_symlink(), unsaved
    assert read(unsaved[0]).count("接続検出,") == 2


def test_failing_passes_keep_what_was_seen_and_are_told_once(tmp_path, fake_smbstatus, settings_file):
    mode, script = fake_smbstatus
    runs = lambda: read(tmp_path / "runs").count("run")
    mode.write_text("listing")
    watch = Watch(tmp_path, "--config", str(settings_file), "--smbstatus", str(script), "--timeout", "0.5")
    try:
        watch.wait_log("接続検出,PC01,192.168.10.21,taro")
        for bad, reason in (("garbage", "no valid JSON"), ("fail", "exit status 3"), ("hang", "no answer")):
            mode.write_text(bad)
            wait_for(lambda: reason in read(watch.err), 20, reason)
        seen = runs()
        wait_for(lambda: runs() >= seen + 3, 20, "three more failing passes")
        assert read(watch.err).count("no answer") == 1
        mode.write_text("listing")
        wait_for(lambda: "answers again" in read(watch.err), 20, "recovery")
        mode.write_text("garbage")
        wait_for(lambda: read(watch.err).count("no valid JSON") == 2, 20, "a new failure")
    finally:
        assert watch.stop() == 0, read(watch.err)
    errors = read(watch.err)
    # One line per change of state, not one per pass.
    assert errors.count("pass skipped") == 4, errors
    events = [line.split(",", 1)[1] for line in read(watch.log).splitlines()]
    assert events == ["接続検出,PC01,192.168.10.21,taro", "接続検出,2001:db8::15,2001:db8::15,hanako",
                      "アクセス検出,taro,/srv/share/経理/2024.xlsx", "アクセス検出,hanako,/srv/share/経理/2024.xlsx"], events


def test_announcements_on_standard_output_and_the_desktop(tmp_path, fake_smbstatus, settings_file):
    mode, script = fake_smbstatus
    mode.write_text("listing")
    sent = tmp_path / "sent"
    notify = tmp_path / "notify-send"
    notify.write_text(f'#!/bin/sh\nfor a in "$@"; do printf "[%s]" "$a"; done >> {sent}\necho >> {sent}\n')
    notify.chmod(0o755)
    watch = Watch(tmp_path, "--config", str(settings_file), "--smbstatus", str(script), f"--notify-send={notify}")
    try:
        wait_for(lambda: read(sent).count("\n") >= 4, 20, "two desktop notifications\n" + read(watch.err))
    finally:
        assert watch.stop() == 0, read(watch.err)
    assert read(watch.out).splitlines() == [
        "共有リソースへの接続を検出しました。 PC01 (taro)",
        "共有リソースへの接続を検出しました。 2001:db8::15 (hanako)",
        "共有リソースへのアクセスを検出しました。 taro (/srv/share/経理/2024.xlsx)",
        "共有リソースへのアクセスを検出しました。 hanako (/srv/share/経理/2024.xlsx)"]
    assert read(sent).splitlines() == [
        "[--app-name=corvane-watch][--][共有リソースへの接続を検出しました。][PC01 (taro)",
        "2001:db8::15 (hanako)]",
        "[--app-name=corvane-watch][--][共有リソースへのアクセスを検出しました。][taro (/srv/share/経理/2024.xlsx)",
        "hanako (/srv/share/経理/2024.xlsx)]"]

    # A snapshot prints its listing only.
    once = run_watch("--once", "--config", str(settings_file), "--smbstatus", str(script), "--log",
                     str(tmp_path / "once.txt"))
    assert once.returncode == 0 and once.stdout.splitlines()[0].startswith("session\tPC01\t"), once.stdout
    assert all(line.startswith(("session\t", "file\t")) for line in once.stdout.splitlines())

    absent = run_watch("--once", "--smbstatus", str(script), "--notify-send=/nonexistent/notify-send",
                       "--log", str(tmp_path / "log2.txt"))
    assert absent.returncode == 0 and "desktop notifications are off" in absent.stderr


def test_a_connection_that_cannot_be_ended_is_told_once_and_asked_again(tmp_path, fake_smbstatus, settings_file):
    mode, script = fake_smbstatus
    mode.write_text("listing")  # PC01/taro has been connected for 300 s
    smbcontrol = tmp_path / "smbcontrol"
    smbcontrol.write_text(f"#!/bin/sh\necho run >> {tmp_path / 'ends'}\n"
                          "echo 'Can not send message to process' >&2\nexit 1\n")
    smbcontrol.chmod(0o755)
    watch = Watch(tmp_path, "--config", str(settings_file), "--smbstatus", str(script),
                  "--smbcontrol", str(smbcontrol), "--disconnect-conn-time", "200")
    try:
        watch.wait_log(f"切断失敗,PC01,taro,{smbcontrol} 3101 shutdown: exit status 1: Can not send message to process")
        # Still listed and still connected: asked again, not told again, and still watched.
        wait_for(lambda: read(tmp_path / "ends").count("run") >= 3, 20, "more attempts")
        assert watch.process.poll() is None
    finally:
        assert watch.stop() == 0, read(watch.err)
    log = read(watch.log)
    assert log.count("切断失敗") == 1 and "接続時間による自動切断" not in log and log.count("接続検出,PC01,") == 1, log
    assert read(watch.err).count("could not end a connection: PC01,taro,") == 1


def test_help_and_refused_idle_limit(tmp_path):
    shown = run_watch("--help")
    assert shown.returncode == 0 and "Samba reports no idle time" in shown.stdout
    ini = tmp_path / "Corvane.ini"
    ini.write_bytes(b"[Environment]\r\nIsSecond=1\r\nDisconnectIdleTime=600\r\n")
    refused = run_watch("--config", str(ini), "--log", str(tmp_path / "log.txt"))
    assert refused.returncode == 2
    assert "Samba reports no idle time" in refused.stderr and str(ini) in refused.stderr
    assert not (tmp_path / "log.txt").exists()


def test_a_disk_that_fills_and_frees_leaves_no_line_twice_or_joined(tmp_path, settings_file):
    """The log on a 64 KiB tmpfs that fills up in the middle of a pass of 200 new
    sessions: once there is room again, each of their lines is in the log once, whole."""
    disk = tmp_path / "disk"
    disk.mkdir()
    if os.geteuid() != 0 or subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(disk)],
                                           capture_output=True).returncode != 0:
        pytest.skip("no tmpfs can be mounted here")
    listing = tmp_path / "listing.json"
    script = tmp_path / "smbstatus"
    script.write_text(f"#!/bin/sh\ncat {listing}\n")
    script.chmod(0o755)

    def sessions(count):
        return {str(1000 + i): {"session_id": str(1000 + i), "server_id": {"pid": str(20000 + i)},
                                "uid": 1000, "gid": 1000, "username": f"user{i:03}", "groupname": "users",
                                "remote_machine": f"PC{i:03}", "hostname": f"ipv4:192.168.10.{i + 1}:44500"}
                for i in range(count)}

    listing.write_text(json.dumps({"version": "4.17.12", "sessions": {}, "tcons": {}, "open_files": {}}))
    watch = Watch(tmp_path, "--config", str(settings_file), "--smbstatus", str(script), log=disk / "CorvaneLog.txt")
    filler = disk / "filler"
    try:
        wait_for(lambda: read(str(watch.log) + ".lock").strip(), 20, "the watch's lock file")
        fill = os.open(filler, os.O_WRONLY | os.O_CREAT)  # every page taken, then two given back
        try:
            while os.write(fill, b"x" * 4096):
                pass
        except OSError:
            pass
        os.close(fill)
        os.truncate(filler, max(filler.stat().st_size - 8192, 0))
        listing.write_text(json.dumps({"version": "4.17.12", "sessions": sessions(200), "tcons": {},
                                       "open_files": {}}))
        wait_for(lambda: "cannot write the event log" in read(watch.err), 20, "the full disk told\n" + read(watch.err))
        time.sleep(1)  # a few more passes try again against the full disk
        filler.unlink()
        wait_for(lambda: "can be written again" in read(watch.err), 20, "the log written again\n" + read(watch.err))
    finally:
        assert watch.stop() == 0, read(watch.err)
        log = read(watch.log)
        subprocess.run(["umount", "-l", str(disk)])
    lines = log.split("\r\n")
    assert lines[-1] == "" and log.count("\n") == len(lines) - 1, log[-200:]
    whole = re.compile(r"\d{4}/\d\d/\d\d \d\d:\d\d:\d\d,接続検出,PC\d{3},192\.168\.10\.\d+,user\d{3}")
    assert [line for line in lines[:-1] if not whole.fullmatch(line)] == []
    events = [line.split(",", 1)[1] for line in lines[:-1]]
    assert sorted(events) == sorted(f"接続検出,PC{i:03},192.168.10.{i + 1},user{i:03}" for i in range(200))
