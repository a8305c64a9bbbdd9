#pragma once
// What the tray layer needs of the shell, behind a small interface so tests
// can make the notification area time out or refuse.
#include <windows.h>
#include <shellapi.h>

#include <optional>

#include "core/watch/WatchPorts.h"

namespace corvane::win {

class IShellNotify {
public:
    virtual ~IShellNotify() = default;
    // One Shell_NotifyIconW call. On failure `lastError` holds the thread's
    // last error as the call left it.
    virtual bool Notify(DWORD message, NOTIFYICONDATAW& data, DWORD& lastError) = 0;
};

class ShellNotifyWin final : public IShellNotify {
public:
    bool Notify(DWORD message, NOTIFYICONDATAW& data, DWORD& lastError) override;
};

// Where a tray icon gets its shell function, its pauses and the shell's
// version. Empty members mean the real ones.
struct TrayServices {
    IShellNotify* Shell = nullptr;
    ISleeper* Sleeper = nullptr;
    std::optional<DWORD> ShellVersion;
};

// The shell's version as major * 65536 + minor: the file version of
// shell32.dll, then what its DllGetVersion says.
DWORD FindShellVersion();

constexpr DWORD kNewShellVersion = 5u << 16;  // balloons, multi-line tips

}  // namespace corvane::win
