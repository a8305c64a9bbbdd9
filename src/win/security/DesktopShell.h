#pragma once
// corvane.exe runs elevated; a document it opened itself would bring up the
// browser or editor elevated too, with every file and program within reach
// of its dialogs. So documents are opened by the shell of the desktop (the
// process of the person logged on, not elevated), the way a double click on
// the desktop opens them.
#include <windows.h>

#include <string>

namespace corvane::win {

// Asks the desktop's shell to open `target` (a file, folder or URL) with its
// "open" verb. S_OK once the shell has taken it; an error when no desktop
// shell runs or it does not answer.
HRESULT OpenThroughDesktop(const std::wstring& target) noexcept;

// Opens `target` as the person at the desktop, or, when no desktop shell
// answers (a system without one), with ShellExecuteW from this process.
// Returns ShellExecuteW's kind of result: above 32 on success, else the
// error (2 for a file that does not exist).
int OpenAsDesktopUser(const std::wstring& target, HWND owner = nullptr) noexcept;

}  // namespace corvane::win
