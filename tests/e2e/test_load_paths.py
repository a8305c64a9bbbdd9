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
    imports = imported_libraries(bindir / "corvane.exe")
    assert "kernel32.dll" in imports, imports  # the table was read
    assert sorted(imports - ALLOWED_IMPORTS) == []


def test_libraries_planted_beside_the_program_are_not_loaded_and_it_still_works(wine, sandbox, bindir):
    for name in PLANTED:
        shutil.copy2(bindir / "planted.dll", sandbox.folder / f"{name}.dll")
    # As Windows does for libraries that are not known ones: the program's
    # folder first.
    wine.env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;" + ";".join(f"{name}=n,b" for name in PLANTED)
    write_environment(sandbox, NotifyConnectSessionBySound="1", SoundFileName="C:\\windows\\no-such.wav")
    sandbox.sim.set_sessions([sim.Session("PC01", "taro", 1, 0, 0)])
    program = start(wine, sandbox, winedebug="+loaddll")
    wait_for_log(sandbox.log, "接続検出,PC01,(N/A),taro".encode("cp932"), timeout=15)

    # The sound of the connection: winmm comes from the system folder.
    out = sandbox.folder / "corvane.out"

    def loaded_paths() -> list[str]:
        text = out.read_text(errors="replace").replace("\\\\", "\\")
        return [path.lower() for path in re.findall(r'Loaded L"([^"]+)"', text)]
    wine.wait_until(lambda: any(path.endswith("\\winmm.dll") for path in loaded_paths()), timeout=15,
                    what="winmm loaded for the sound")
    post_command(wine, ACTION_ABOUT)
    wait_dialog(wine, "バージョン情報", "Corvane ver")
    wine.dismiss_dialogs("バージョン情報")
    close_and_wait(wine, program)

    marks = sorted(path.name for path in sandbox.folder.glob("*.loaded"))
    assert marks == [], f"planted libraries were loaded: {marks}"
    for name in PLANTED:
        places = [path for path in loaded_paths() if path.endswith(f"\\{name}.dll")]
        assert places and all(path.startswith("c:\\windows\\system32\\") for path in places), \
            f"{name}.dll loaded from {places}"
    assert sandbox.sim.counters()[sim.SESSION_ENUMS] >= 1  # the simulated server from the system folder
