#pragma once
// The files that record who used the server (the event log, its backup and
// the unsaved lines) are for administrators: Windows itself shows sessions
// and open files to them only. Such a file is made with its own protected
// access list instead of the folder's, which in Program Files would let
// every user read it.
#include <windows.h>

namespace corvane::win {

// Security attributes for CreateFileW: full control for Administrators and
// SYSTEM, read for the account that writes the file (so that the person who
// runs the program can read the log in an editor that is not elevated), and
// nothing inherited from the folder. Null when the descriptor could not be
// made; the file then takes the folder's permissions, as before.
SECURITY_ATTRIBUTES* AdministratorsOnlyFile() noexcept;

// Gives an existing file the same access list (a file made by an earlier
// version, moved to a new name). Returns the system's error code, 0 when done.
DWORD RestrictToAdministrators(const wchar_t* path) noexcept;

}  // namespace corvane::win
