"""corvane.exe runs elevated, so it loads code from the system folder only:
its import table names nothing but known system libraries and the common
controls, and libraries planted beside it under system names are never
loaded, even with Wine told to look in the program's folder first."""

from __future__ import annotations

import re
import shutil
import subprocess

import simserver as sim
from corvane_app import TITLE, close_and_wait, start, wait_for_log
from test_dialogs import ACTION_ABOUT, post_command, wait_dialog, write_environment

# Windows' known libraries (always taken from System32) that a static import
# may name, and the common controls, which the manifest takes from the
# side-by-side store.
ALLOWED_IMPORTS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
    "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "ws2_32.dll",
}
PLANTED = ("version", "winmm", "netapi32")


def imported_libraries(exe) -> set[str]:
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(exe)], capture_output=True, text=True,
                          check=True).stdout
    return {name.lower() for name in re.findall(r"^\s*DLL Name: (\S+)$", dump, re.M)}


def test_the_program_imports_known_system_libraries_only(bindir):
    for program in ("corvane.exe", "corvane-service.exe"):
        imports = imported_libraries(bindir / program)
        assert "kernel32.dll" in imports, (program, imports)  # the table was read
        assert sorted(imports - ALLOWED_IMPORTS) == [], program


def test_libraries_planted_beside_the_program_are_not_loaded_and_it_still_works(wine, sandbox, bindir):
    for name in PLANTED:
        shutil.copy2(bindir / "planted.dll", sandbox.folder / f"{name}.dll")
    # As Windows does for libraries that are not known ones: the program's
    # folder first. Not for version: Wine's own user32 imports it (Windows'
    # user32 does not), so Wine would load the planted one into any program
    # before its first line; version.dll is left to Wine's order, and the
    # import table test keeps the program from importing it.
    wine.env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winmm=n,b;netapi32=n,b"
    write_environment(sandbox, NotifyConnectSessionBySound="1", SoundFileName="C:\\windows\\no-such.wav")
    sandbox.sim.set_sessions([sim.Session("PC01", "taro", 1, 0, 0)])
    program = start(wine, sandbox, winedebug="+loaddll,+winmm")
    wait_for_log(sandbox.log, "接続検出,PC01,(N/A),taro".encode("cp932"), timeout=15)

    # The sound of the connection, through winmm from the system folder.
    out = sandbox.folder / "corvane.out"

    def loaded() -> list[tuple[str, str]]:
        """(path, native or builtin) of each library Wine loaded."""
        text = out.read_text(errors="replace").replace("\\\\", "\\")
        return [(path.lower(), kind) for path, kind in re.findall(r'Loaded L"([^"]+)" at \w+: (\w+)', text)]
    # Wine's winmm traces the sound it was asked to play.
    wine.wait_until(lambda: 'SoundName=L"C:\\\\windows\\\\no-such.wav"' in out.read_text(errors="replace"),
                    timeout=15, what="the connection's sound")
    post_command(wine, ACTION_ABOUT)
    wait_dialog(wine, "バージョン情報", "Corvane ver")
    wine.dismiss_dialogs("バージョン情報")
    close_and_wait(wine, program)

    marks = sorted(path.name for path in sandbox.folder.glob("*.loaded"))
    assert marks == [], f"planted libraries were loaded: {marks}"
    # Wine names the first file of the name it found even when it runs its
    # own code: what counts is that no file outside System32 was run.
    native = [path for path, kind in loaded() if kind == "native"]
    assert [path for path in native if path.endswith(("\\version.dll", "\\winmm.dll", "\\netapi32.dll"))] == \
        ["c:\\windows\\system32\\netapi32.dll"]
    assert sandbox.sim.counters()[sim.SESSION_ENUMS] >= 1  # the simulated server from the system folder
