#pragma once
// The event log's file operations, clock and shell on Win32.
#include "core/app/OpenLogFile.h"
#include "core/events/EventLog.h"

namespace corvane::win {

// Files opened with CreateFileW; every error is GetLastError's code. Files it
// makes are for administrators only (win/security/FileSecurity.h).
class LogFileSystemWin : public ILogFileSystem {
public:
    bool Exists(const std::string& path) override;
    std::uint32_t OpenForRead(const std::string& path, std::unique_ptr<ILogFile>& file) override;
    std::uint32_t Create(const std::string& path, std::unique_ptr<ILogFile>& file) override;
    std::uint32_t CreateNew(const std::string& path, std::unique_ptr<ILogFile>& file) override;
    std::uint32_t OpenForAppend(const std::string& path, std::unique_ptr<ILogFile>& file) override;
    std::uint32_t Delete(const std::string& path) override;
    std::uint32_t Move(const std::string& from, const std::string& to) override;
};

// The local wall-clock time (GetLocalTime).
class LocalClockWin : public IClock {
public:
    LocalTime Now() override;
};

// Opens an existing file as the person at the desktop (OpenAsDesktopUser);
// a missing one gives the system's error (2) without asking the shell.
class ShellOpenerWin : public IShellOpener {
public:
    int Open(const std::string& path) override;
};

}  // namespace corvane::win
