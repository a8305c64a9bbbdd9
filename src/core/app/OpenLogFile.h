#pragma once
// The open-log command of the main window and the tray menu.
#include <string>

#include "core/watch/WatchPorts.h"

namespace corvane {

// The shell's "open" verb; returns the shell's result (success above 32).
class IShellOpener {
public:
    virtual ~IShellOpener() = default;
    virtual int Open(const std::string& path) = 0;
};

// Opens the log with the program associated with it, or reports the shell's
// failure in an error balloon.
void OpenLogFile(IShellOpener& shell, INotifier& notifier, const std::string& logPath);

}  // namespace corvane
