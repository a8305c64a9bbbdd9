"""Test-side control of the simulated server DLL (netapi32.dll from
tests/support/simserver), through the files it keeps in the program's folder.

corvane.exe takes netapi32.dll from the system folder only, so the simulated
server is put there, over Wine's own, in the Wine prefix of the run
(install_in_prefix); Wine is told to prefer it (netapi32=n,b). In the system
folder it keeps its files beside the program that loaded it.

The file formats are described in tests/support/simserver/SimServerFormat.h;
this module reads and writes exactly the same text. Text fields are str on
this side (UTF-8 in the files, UTF-16 on the DLL's API side); None stands for
a null pointer.
"""

from __future__ import annotations

import dataclasses
import os
import shutil
import subprocess
import time
from pathlib import Path
from typing import Callable, Iterable, Optional

STATE_FILE = "simserver-state.txt"
CALLS_FILE = "simserver-calls.txt"
COUNTERS_FILE = "simserver-counters.txt"
LIFETIME_FILE = "simserver-lifetime.txt"   # a line per load and release
NULL_FIELD = "%null"

# Counter names.
LOADS = "loads"
UNLOADS = "unloads"
SESSION_ENUMS = "session-enums"
FILE_ENUMS = "file-enums"
SESSION_ENUM_ODD_ARGS = "session-enum-odd-args"
FILE_ENUM_ODD_ARGS = "file-enum-odd-args"
SESSION_DELS = "session-dels"
MESSAGE_SENDS = "message-sends"
FILE_CLOSES = "file-closes"
BUFFERS_ALLOCATED = "buffers-allocated"
BUFFERS_FREED = "buffers-freed"
BAD_FREES = "bad-frees"
NULL_FREES = "null-frees"
STATE_ERRORS = "state-errors"

# Statuses worth naming in tests.
NERR_SUCCESS = 0
ERROR_ACCESS_DENIED = 5
ERROR_MORE_DATA = 234
NERR_CLIENT_NAME_NOT_FOUND = 2312
NERR_FILE_ID_NOT_FOUND = 2314


def escape_field(text: Optional[str]) -> str:
    if text is None:
        return NULL_FIELD
    out = []
    for byte in text.encode("utf-8", "surrogatepass"):
        if byte < 0x20 or byte == 0x7F or byte == 0x25:
            out.append(b"%%%02X" % byte)
        else:
            out.append(bytes([byte]))
    return b"".join(out).decode("utf-8", "surrogatepass")


def unescape_field(field: str) -> Optional[str]:
    if field == NULL_FIELD:
        return None
    raw = field.encode("utf-8", "surrogatepass")
    out = bytearray()
    i = 0
    while i < len(raw):
        if raw[i] == 0x25:
            digits = raw[i + 1:i + 3]
            if len(digits) != 2 or not all(chr(d) in "0123456789abcdefABCDEF" for d in digits):
                raise ValueError(f"bad escape in field {field!r}")
            out.append(int(digits, 16))
            i += 3
        else:
            out.append(raw[i])
            i += 1
    return out.decode("utf-8", "replace")


@dataclasses.dataclass
class Session:
    computer: Optional[str]
    user: Optional[str]
    opens: int = 1
    seconds: int = 0        # connected
    idle_seconds: int = 0


@dataclasses.dataclass
class OpenFile:
    id: int
    path: Optional[str]
    user: Optional[str]
    permissions: int = 1    # PERM_FILE_READ
    locks: int = 0


@dataclasses.dataclass
class State:
    session_status: int = 0
    file_status: int = 0
    buffer_on_failure: bool = False
    delete_removes_session: bool = True
    session_del_status: int = 0      # 0: 0 when a session matched, else 2312
    message_send_status: int = 0
    sessions: list[Session] = dataclasses.field(default_factory=list)
    files: list[OpenFile] = dataclasses.field(default_factory=list)

    def serialize(self) -> str:
        lines = [
            f"session-status\t{self.session_status}",
            f"file-status\t{self.file_status}",
            f"buffer-on-failure\t{int(self.buffer_on_failure)}",
            f"delete-removes-session\t{int(self.delete_removes_session)}",
            f"session-del-status\t{self.session_del_status}",
            f"message-send-status\t{self.message_send_status}",
        ]
        for s in self.sessions:
            lines.append("\t".join(["session", escape_field(s.computer), escape_field(s.user),
                                    str(s.opens), str(s.seconds), str(s.idle_seconds)]))
        for f in self.files:
            lines.append("\t".join(["file", str(f.id), str(f.permissions), str(f.locks),
                                    escape_field(f.path), escape_field(f.user)]))
        return "".join(line + "\n" for line in lines)

    @staticmethod
    def parse(text: str) -> "State":
        state = State()
        for number, line in enumerate(text.split("\n"), 1):
            line = line.rstrip("\r")
            if not line:
                continue
            f = line.split("\t")
            kind = f[0]
            try:
                if kind == "session" and len(f) == 6:
                    state.sessions.append(Session(unescape_field(f[1]), unescape_field(f[2]),
                                                  int(f[3]), int(f[4]), int(f[5])))
                elif kind == "file" and len(f) == 6:
                    state.files.append(OpenFile(int(f[1]), unescape_field(f[4]), unescape_field(f[5]),
                                                int(f[2]), int(f[3])))
                elif len(f) == 2 and kind in ("buffer-on-failure", "delete-removes-session"):
                    setattr(state, kind.replace("-", "_"), f[1] == "1")
                elif len(f) == 2 and kind in ("session-status", "file-status", "session-del-status",
                                              "message-send-status"):
                    setattr(state, kind.replace("-", "_"), int(f[1]))
                else:
                    raise ValueError("unknown record")
            except ValueError as error:
                raise ValueError(f"{STATE_FILE} line {number}: {line!r}: {error}") from None
        return state


@dataclasses.dataclass
class SessionDelCall:
    sequence: int
    server: Optional[str]
    client_name: Optional[str]   # as passed, e.g. "\\PC01"
    user_name: Optional[str]
    status: int


@dataclasses.dataclass
class MessageSendCall:
    sequence: int
    server: Optional[str]
    msg_name: Optional[str]
    from_name: Optional[str]
    text: Optional[str]          # the buflen bytes of UTF-16; None for a null buffer
    byte_length: int             # the buflen argument
    status: int


@dataclasses.dataclass
class FileCloseCall:
    sequence: int
    server: Optional[str]
    file_id: int
    status: int


@dataclasses.dataclass
class Calls:
    session_dels: list[SessionDelCall]
    message_sends: list[MessageSendCall]
    state_errors: list[str]
    file_closes: list[FileCloseCall] = dataclasses.field(default_factory=list)


class Counters(dict):
    """Counter name -> value; absent counters read as 0."""

    def __missing__(self, key: str) -> int:
        return 0

    @property
    def buffers_outstanding(self) -> int:
        return self[BUFFERS_ALLOCATED] - self[BUFFERS_FREED]


def _write_atomically(path: Path, text: str) -> None:
    temp = path.with_name(path.name + f".{os.getpid()}.py.tmp")
    temp.write_bytes(text.encode("utf-8", "surrogatepass"))
    os.replace(temp, path)


def _read_text(path: Path) -> Optional[str]:
    try:
        return path.read_bytes().decode("utf-8", "replace")
    except FileNotFoundError:
        return None


def install_in_prefix(dll: os.PathLike | str, prefix: os.PathLike | str) -> None:
    """Puts the simulated server `dll` where the programs of Wine prefix
    `prefix` find the system's netapi32.dll."""
    target = Path(prefix) / "drive_c" / "windows" / "system32" / "netapi32.dll"
    temp = target.with_name(f"netapi32.{os.getpid()}.tmp")
    shutil.copyfile(dll, temp)
    os.replace(temp, target)


def serve_service(env: dict, program: str = "corvane-service.exe", winedebug: Optional[str] = None) -> None:
    """Lets the service `program` of the Wine prefix in `env` reach the
    simulated server. A service does not see the shell's environment: the
    service manager gives it one made from the registry. So Wine is told
    there to prefer the native netapi32.dll for that program, and, with
    `winedebug`, which debug channels its processes write (to the output of
    the wineboot that starts the service manager). Takes effect for services
    started after the next boot of the prefix."""
    commands = [["reg", "add", f"HKCU\\Software\\Wine\\AppDefaults\\{program}\\DllOverrides", "/v", "netapi32",
                 "/d", "native,builtin", "/f"]]
    if winedebug:
        commands.append(["reg", "add", "HKCU\\Environment", "/v", "WINEDEBUG", "/d", winedebug, "/f"])
    else:
        commands.append(["reg", "delete", "HKCU\\Environment", "/v", "WINEDEBUG", "/f"])
    for command in commands:
        # No pipes: this may start the prefix's service manager, which would hold them open.
        subprocess.run(["wine", *command], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


class SimServer:
    """Controls the simulated server of the programs in `folder` (the folder
    of corvane.exe, or of the test program that loads the DLL)."""

    def __init__(self, folder: os.PathLike | str):
        self.folder = Path(folder)

    # -- state --------------------------------------------------------------
    def reset(self) -> None:
        for name in (CALLS_FILE, COUNTERS_FILE, LIFETIME_FILE):
            try:
                (self.folder / name).unlink()
            except FileNotFoundError:
                pass
        self.write_state(State())

    def write_state(self, state: State) -> None:
        _write_atomically(self.folder / STATE_FILE, state.serialize())

    def read_state(self) -> State:
        text = _read_text(self.folder / STATE_FILE)
        return State() if text is None else State.parse(text)

    def modify(self, change: Callable[[State], None]) -> None:
        """Read-modify-write. Not atomic against the DLL's own rewrite after a
        NetSessionDel that removes a session."""
        state = self.read_state()
        change(state)
        self.write_state(state)

    def set_sessions(self, sessions: Iterable[Session]) -> None:
        sessions = list(sessions)
        self.modify(lambda s: setattr(s, "sessions", sessions))

    def set_files(self, files: Iterable[OpenFile]) -> None:
        files = list(files)
        self.modify(lambda s: setattr(s, "files", files))

    def set_status(self, sessions: Optional[int] = None, files: Optional[int] = None) -> None:
        def change(s: State) -> None:
            if sessions is not None:
                s.session_status = sessions
            if files is not None:
                s.file_status = files
        self.modify(change)

    def set_buffer_on_failure(self, on: bool) -> None:
        self.modify(lambda s: setattr(s, "buffer_on_failure", on))

    def set_delete_removes_session(self, on: bool) -> None:
        self.modify(lambda s: setattr(s, "delete_removes_session", on))

    def set_session_del_status(self, status: int) -> None:
        self.modify(lambda s: setattr(s, "session_del_status", status))

    def set_message_send_status(self, status: int) -> None:
        self.modify(lambda s: setattr(s, "message_send_status", status))

    # -- what happened ------------------------------------------------------
    def calls(self) -> Calls:
        calls = Calls([], [], [])
        text = _read_text(self.folder / CALLS_FILE) or ""
        lines = text.split("\n")
        if lines and lines[-1] == "":
            lines.pop()
        for sequence, line in enumerate(lines):
            f = line.rstrip("\r").split("\t")
            if f[0] == "NetSessionDel" and len(f) == 5:
                calls.session_dels.append(SessionDelCall(
                    sequence, unescape_field(f[1]), unescape_field(f[2]), unescape_field(f[3]), int(f[4])))
            elif f[0] == "NetMessageBufferSend" and len(f) == 7:
                calls.message_sends.append(MessageSendCall(
                    sequence, unescape_field(f[1]), unescape_field(f[2]), unescape_field(f[3]),
                    unescape_field(f[4]), int(f[5]), int(f[6])))
            elif f[0] == "NetFileClose" and len(f) == 4:
                calls.file_closes.append(FileCloseCall(sequence, unescape_field(f[1]), int(f[2]), int(f[3])))
            elif f[0] == "state-error" and len(f) == 2:
                calls.state_errors.append(unescape_field(f[1]) or "")
            else:
                raise ValueError(f"unreadable line in {CALLS_FILE}: {line!r}")
        return calls

    def counters(self) -> Counters:
        counters = Counters()
        for line in (_read_text(self.folder / COUNTERS_FILE) or "").splitlines():
            f = line.split("\t")
            if len(f) == 2:
                try:
                    counters[f[0]] = int(f[1])
                except ValueError:
                    pass
        for line in (_read_text(self.folder / LIFETIME_FILE) or "").splitlines():
            counters[line] += 1
        return counters

    def wait_for(self, predicate: Callable[[Counters], bool], timeout: float,
                 what: str = "condition") -> Counters:
        """Polls the counters until `predicate` holds; raises AssertionError
        with the last counters after `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while True:
            counters = self.counters()
            if predicate(counters):
                return counters
            if time.monotonic() >= deadline:
                raise AssertionError(f"timed out after {timeout}s waiting for {what}; counters: {dict(counters)}")
            time.sleep(0.1)
