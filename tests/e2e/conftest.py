"""End-to-end harness: corvane.exe and the simulated server DLL under Wine,
on an X display (the caller's DISPLAY, or an Xvfb started here).

Fixtures:
  bindir          the build's bin folder (--bindir)
  x_display       the X display in use
  wine_prefix     the suite's own Wine prefix, <bindir>/../e2e-wineprefix,
                  booted once and reused; every test ends with wineserver -k
  sandbox         a fresh folder holding corvane.exe, with a SimServer for
                  it; the simulated netapi32.dll is in the prefix's system
                  folder, where the program looks for it (the program and the
                  DLL keep their files beside corvane.exe, so each test gets
                  its own)
  sandbox_missing_export   the same with the DLL that lacks NetMessageBufferSend
                           and NetFileClose
  wine            a WineSession: starts programs, finds windows, sends keys
                  and clicks, closes windows, reads list views, tabs, column
                  widths, placements and dialog boxes through corvane_wintool,
                  takes screenshots; kills what is left and stops the
                  prefix's wineserver at the end of the test
Every wait is bounded.
"""

from __future__ import annotations

import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path
from typing import Optional

import pytest

from simserver import SimServer, install_in_prefix

PROGRAM = "corvane.exe"
SERVER_DLL = "netapi32.dll"
WINDOW_TOOL = "corvane_wintool.exe"

BOOT_TIMEOUT = 300       # first wineboot of a new prefix
WINDOW_TIMEOUT = 60      # a program's first window (Wine starts slowly on a cold prefix)
TOOL_TIMEOUT = 60
PRESS_RETRY_SECONDS = 5


def pytest_addoption(parser):
    parser.addoption("--bindir", action="store", default=os.environ.get("CORVANE_BINDIR"),
                     help="build folder holding corvane.exe and netapi32.dll (<build>/bin)")


# ---------------------------------------------------------------------------
# Session-wide: paths, display, prefix


@pytest.fixture(scope="session")
def bindir(pytestconfig) -> Path:
    value = pytestconfig.getoption("--bindir")
    if not value:
        raise pytest.UsageError("--bindir is required (the build's bin folder)")
    path = Path(value).resolve()
    if not (path / SERVER_DLL).is_file():
        raise pytest.UsageError(f"{path / SERVER_DLL} not found: build the simserver target first")
    return path


@pytest.fixture(scope="session")
def build_dir(bindir) -> Path:
    return bindir.parent


@pytest.fixture(scope="session")
def screens_dir(build_dir) -> Path:
    path = build_dir / "e2e-screens"
    path.mkdir(parents=True, exist_ok=True)
    return path


def start_xvfb() -> tuple[subprocess.Popen, str]:
    """A private Xvfb; it picks a free display number itself and reports it,
    so two runs never share a display."""
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
        pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        start_new_session=True)
    os.close(write_fd)
    try:
        number = _read_display_number(read_fd, timeout=30)
    finally:
        os.close(read_fd)
    if number is None:
        xvfb.kill()
        xvfb.wait(timeout=10)
        raise RuntimeError("Xvfb did not report a display within 30 s")
    return xvfb, f":{number}"


@pytest.fixture(scope="session")
def x_display():
    existing = os.environ.get("DISPLAY")
    if existing:
        yield existing
        return
    xvfb, display = start_xvfb()
    try:
        yield display
    finally:
        stop_xvfb(xvfb)


def stop_xvfb(xvfb: subprocess.Popen) -> None:
    xvfb.terminate()
    try:
        xvfb.wait(timeout=10)
    except subprocess.TimeoutExpired:
        xvfb.kill()
        xvfb.wait(timeout=10)


def _read_display_number(fd: int, timeout: float) -> Optional[str]:
    import select
    deadline = time.monotonic() + timeout
    data = b""
    while time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            break
        chunk = os.read(fd, 64)
        if not chunk:
            break
        data += chunk
        if b"\n" in data:
            return data.split(b"\n")[0].decode().strip()
    return None


def _base_env(prefix: Path, display: str) -> dict:
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": str(prefix),
        "WINEARCH": "win64",
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree,mshtml=;netapi32=n,b",
        "LC_ALL": "ja_JP.UTF-8",
        "DISPLAY": display,
    })
    return env


def _stop_wineserver(env: dict) -> None:
    try:
        subprocess.run(["wineserver", "-k"], env=env, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        pass
    try:
        subprocess.run(["wineserver", "-w"], env=env, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        pass


@pytest.fixture(scope="session")
def wine_prefix(build_dir, x_display) -> Path:
    prefix = build_dir / "e2e-wineprefix"
    marker = prefix / ".corvane-e2e-ready-windows-unmanaged"
    if not marker.exists():
        shutil.rmtree(prefix, ignore_errors=True)
        prefix.mkdir(parents=True)
        env = _base_env(prefix, x_display)
        try:
            subprocess.run(["wineboot", "-i"], env=env, timeout=BOOT_TIMEOUT,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        finally:
            _stop_wineserver(env)
        marker.write_text("booted\n")
    # Xvfb has no window manager: Wine manages the windows itself, as Windows
    # does, instead of waiting for one (two seconds at every hidden window,
    # which would count against the program's close). Set at every run, since
    # a test that frames its windows takes the value away again after it.
    env = _base_env(prefix, x_display)
    try:
        subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                        "/d", "N", "/f"], env=env, timeout=BOOT_TIMEOUT,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        # The registry reaches the disk when the server ends by itself.
        subprocess.run(["wineserver", "-w"], env=env, timeout=BOOT_TIMEOUT,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    finally:
        _stop_wineserver(env)
    return prefix


# ---------------------------------------------------------------------------
# Per test: program folder and Wine session


class Sandbox:
    """A program folder: corvane.exe, its INI and log, and the simulated
    server's files."""

    def __init__(self, folder: Path):
        self.folder = folder
        self.exe = folder / PROGRAM
        self.sim = SimServer(folder)
        self.ini = folder / "Corvane.ini"
        self.log = folder / "CorvaneLog.txt"


def _make_sandbox(request, build_dir: Path, bindir: Path, dll_dir: Path, prefix: Path) -> Sandbox:
    program = bindir / PROGRAM
    if not program.is_file():
        pytest.fail(f"{program} has not been built")
    dll = dll_dir / SERVER_DLL
    assert dll.is_file(), f"{dll} has not been built"
    # Kept under the build folder until the next run of the same test, for
    # a look at the INI, the log and the simulated server's files.
    folder = build_dir / "e2e-runs" / _safe_name(request.node.name)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    shutil.copy2(program, folder / PROGRAM)
    install_in_prefix(dll, prefix)
    box = Sandbox(folder)
    box.sim.reset()
    return box


@pytest.fixture
def sandbox(request, build_dir, bindir, wine_prefix) -> Sandbox:
    return _make_sandbox(request, build_dir, bindir, bindir, wine_prefix)


@pytest.fixture
def sandbox_missing_export(request, build_dir, bindir, wine_prefix) -> Sandbox:
    return _make_sandbox(request, build_dir, bindir, bindir / "missing-export", wine_prefix)


def _safe_name(name: str) -> str:
    return re.sub(r"[^A-Za-z0-9_.-]+", "_", name)


class WineProcess:
    def __init__(self, popen: subprocess.Popen, name: str):
        self.popen = popen
        self.name = name

    def running(self) -> bool:
        return self.popen.poll() is None

    def wait(self, timeout: float) -> int:
        """Exit code; raises subprocess.TimeoutExpired after `timeout` seconds."""
        return self.popen.wait(timeout=timeout)


class WineSession:
    def __init__(self, prefix: Path, display: str, bindir: Path, screens: Path, test_name: str):
        self.env = _base_env(prefix, display)
        self.bindir = bindir
        self.screens = screens
        self.test_name = _safe_name(test_name)
        self.processes: list[WineProcess] = []
        self.last_tool: Optional[subprocess.CompletedProcess] = None

    # -- programs -----------------------------------------------------------
    def start(self, exe: Path, name: Optional[str] = None, winedebug: Optional[str] = None) -> WineProcess:
        """Starts `exe` with its own folder as the working folder. Output goes
        to <exe folder>/<name>.out, with Wine's debug channels `winedebug`
        when given."""
        name = name or exe.stem
        env = dict(self.env, WINEDEBUG=winedebug) if winedebug else self.env
        out = open(exe.parent / f"{name}.out", "wb")
        try:
            popen = subprocess.Popen(["wine", str(exe)], cwd=exe.parent, env=env,
                                     stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                     start_new_session=True)
        finally:
            out.close()
        process = WineProcess(popen, name)
        self.processes.append(process)
        return process

    def run(self, *args: str, timeout: float, env: Optional[dict] = None) -> subprocess.CompletedProcess:
        """Runs `wine <args>` to its end; stdout and stderr as bytes. The
        output goes through files, not pipes: a process of Wine's own that
        the program's start brought up can inherit a pipe and hold it open
        long after the program ended, and a reader would wait for it."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            done = subprocess.run(["wine", *args], env=env or self.env, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=err, timeout=timeout)
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(done.args, done.returncode, out.read(), err.read())

    def tool(self, *args: str, timeout: float = TOOL_TIMEOUT) -> subprocess.CompletedProcess:
        """Runs corvane_wintool.exe inside the prefix."""
        return self.run(str(self.bindir / WINDOW_TOOL), *args, timeout=timeout)

    # -- windows ------------------------------------------------------------
    def _xdotool(self, *args: str, timeout: float = 15) -> subprocess.CompletedProcess:
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True,
                              timeout=timeout)

    def find_windows(self, title: str) -> list[str]:
        """X ids of the mapped windows whose title is exactly `title`."""
        result = self._xdotool("search", "--onlyvisible", "--name", f"^{re.escape(title)}$")
        return result.stdout.split()

    def wait_window(self, title: str, timeout: float = WINDOW_TIMEOUT,
                    process: Optional[WineProcess] = None) -> str:
        deadline = time.monotonic() + timeout
        while True:
            windows = self.find_windows(title)
            if windows:
                return windows[0]
            if process is not None and not process.running():
                raise AssertionError(f"{process.name} ended (exit code {process.popen.returncode}) "
                                     f"before a window titled {title!r} appeared")
            if time.monotonic() >= deadline:
                self.screenshot("timeout")
                raise AssertionError(f"no window titled {title!r} within {timeout}s")
            time.sleep(0.25)

    def send_keys(self, title: str, *keys: str, delay_ms: int = 12) -> None:
        """Focuses the window titled `title` and types xdotool key names
        (e.g. "F5", "alt+F4", "Delete"), `delay_ms` apart."""
        window = self.wait_window(title, timeout=15)
        self._xdotool("windowfocus", "--sync", window)
        self._xdotool("key", "--clearmodifiers", "--delay", str(delay_ms), *keys, timeout=15 + len(keys) * delay_ms / 1000)

    def close_window(self, title: str) -> None:
        """What a click on the window's close box does (WM_SYSCOMMAND SC_CLOSE)."""
        result = self.tool("close", title)
        assert result.returncode == 0, \
            f"no visible window titled {title!r} to close: {result.stdout!r} {result.stderr!r}"

    def click(self, x: int, y: int, button: int = 1, repeat: int = 1, sync: bool = True) -> None:
        """A real click at screen position (x, y): left (1), middle (2) or
        right (3), `repeat` times 100 ms apart (2: a double click). With
        `sync`, xdotool waits to see the pointer arrive, which it never does
        over the window of a program started with a restricted token."""
        args = ["mousemove", *(["--sync"] if sync else []), str(x), str(y), "click"]
        if repeat > 1:
            args += ["--repeat", str(repeat), "--delay", "100"]
        result = self._xdotool(*args, str(button))
        assert result.returncode == 0, f"xdotool click failed: {result.stderr!r}"

    def move_mouse(self, x: int, y: int) -> None:
        result = self._xdotool("mousemove", "--sync", str(x), str(y))
        assert result.returncode == 0, f"xdotool mousemove failed: {result.stderr!r}"

    def window_geometry(self, window: str) -> tuple[int, int, int, int]:
        """X position and size of the X window `window`: (x, y, width, height)."""
        result = self._xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in result.stdout.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    # -- the program's controls, read through corvane_wintool ---------------
    def _tool_lines(self, *args: str) -> Optional[list[str]]:
        """The tool's output lines (UTF-8, cells tab-separated), or None when
        no window matched."""
        result = self.tool(*args)
        self.last_tool = result
        if result.returncode == 2:
            raise AssertionError(f"corvane_wintool {' '.join(args)}: usage error {result.stderr!r}")
        if result.returncode != 0:
            return None
        text = result.stdout.decode("utf-8")
        return [line[:-1] if line.endswith("\r") else line for line in text.split("\n")][:-1]

    def _tool_required(self, *args: str) -> list[str]:
        lines = self._tool_lines(*args)
        if lines is None:
            self._fail_tool(args)
        return lines

    def _fail_tool(self, args) -> None:
        """Fails with what tells a window that went from one that was never
        there: the tool's exit code and error output, and which of the
        test's programs still run."""
        result = self.last_tool
        self.screenshot("tool-" + "-".join(args[:2]))
        programs = ", ".join(f"{p.name} " + ("running" if p.running() else f"ended ({p.popen.returncode})")
                             for p in self.processes)
        raise AssertionError(f"corvane_wintool {' '.join(args)}: no such window or control "
                             f"(exit code {result.returncode}, error output {result.stderr[-400:]!r}; "
                             f"programs: {programs or 'none'})")

    def list_rows(self, title: str, control_id: int) -> list[list[str]]:
        """Every row of a report list view: [caption, sub item 0, ...]."""
        return [line.split("\t") for line in self._tool_required("listview", title, str(control_id))]

    def column_widths(self, title: str, control_id: int) -> list[int]:
        lines = self._tool_required("columns", title, str(control_id))
        return [int(width) for width in lines[0].split("\t")] if lines and lines[0] else []

    def control_text(self, title: str, control_id: int) -> str:
        """The window text of a control (the status bar's line, say)."""
        lines = self._tool_required("text", title, str(control_id))
        return lines[0] if lines else ""

    def control_visible(self, title: str, control_id: int) -> bool:
        return self._tool_required("visible", title, str(control_id)) == ["1"]

    def selected_tab(self, title: str, control_id: int = 10) -> int:
        return int(self._tool_required("tab", title, str(control_id))[0])

    def tab_rect(self, title: str, index: int, control_id: int = 10) -> tuple[int, int, int, int]:
        """Screen rectangle (left, top, right, bottom) of one tab."""
        left, top, right, bottom = map(int, self._tool_required("tabrect", title, str(index),
                                                                str(control_id))[0].split())
        return left, top, right, bottom

    def click_tab(self, title: str, index: int, control_id: int = 10) -> None:
        """A real mouse click in the middle of a tab."""
        left, top, right, bottom = self.tab_rect(title, index, control_id)
        self.click((left + right) // 2, (top + bottom) // 2)

    def placement(self, title: str) -> tuple[tuple[int, ...], tuple[int, int, int, int]]:
        """The window's placement (flags, showCmd, minX, minY, maxX, maxY,
        normal left, top, right, bottom) and its window rectangle."""
        lines = self._tool_required("placement", title)
        return tuple(map(int, lines[0].split())), tuple(map(int, lines[1].split()))

    def dialogs(self, title: str) -> list[list[str]]:
        """The child texts of every visible dialog box titled `title`."""
        lines = self._tool_lines("dialogs", title)
        return [] if lines is None else [line.split("\t") for line in lines]

    def dismiss_dialogs(self, title: str) -> None:
        """Presses OK in every dialog box titled `title`."""
        self._tool_required("dismiss", title)

    def press_button(self, title: str, button_id: int) -> None:
        """Presses button `button_id` (6 Yes, 7 No, 2 Cancel...) in every
        dialog box titled `title`. Tried again for a few seconds when no box
        is found: each try is a Wine process of its own, and a box that a
        test has just seen is there unless the program ended it."""
        args = ("press", title, str(button_id))
        deadline = time.monotonic() + PRESS_RETRY_SECONDS
        while self._tool_lines(*args) is None:
            if time.monotonic() >= deadline:
                self._fail_tool(args)
            time.sleep(0.5)

    def set_dialog_text(self, title: str, control_id: int, text: str) -> None:
        """Sets the text of a control in every dialog box titled `title`."""
        self._tool_required("settext", title, str(control_id), text)

    def post_command(self, title: str, command_id: int) -> None:
        """Posts WM_COMMAND `command_id` to the window titled `title`."""
        self._tool_required("command", title, str(command_id))

    @staticmethod
    def wait_until(probe, timeout: float, what: str, interval: float = 0.25):
        """Calls `probe` until it returns something true and returns that;
        raises AssertionError with the last value after `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while True:
            value = probe()
            if value:
                return value
            if time.monotonic() >= deadline:
                raise AssertionError(f"timed out after {timeout}s waiting for {what}; last: {value!r}")
            time.sleep(interval)

    def screenshot(self, label: str = "") -> Path:
        name = self.test_name + (f"-{_safe_name(label)}" if label else "") + ".png"
        path = self.screens / name
        subprocess.run(["import", "-window", "root", str(path)], env=self.env, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path

    # -- cleanup ------------------------------------------------------------
    def cleanup(self) -> None:
        for process in self.processes:
            if process.running():
                try:
                    os.killpg(process.popen.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        _stop_wineserver(self.env)
        for process in self.processes:
            try:
                process.popen.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.popen.kill()


@pytest.fixture
def wine(request, wine_prefix, x_display, bindir, screens_dir):
    session = WineSession(wine_prefix, x_display, bindir, screens_dir, request.node.name)
    _stop_wineserver(session.env)  # nothing left over from an earlier test
    try:
        yield session
    finally:
        session.cleanup()
