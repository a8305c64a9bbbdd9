#pragma once
// Tells when Corvane.ini beside the service has changed: the system's
// notice of changes in its folder (ReadDirectoryChangesW), never a poll.
// The log is written in the same folder; only the settings file's name
// counts. Several writes in a row (an editor's save) are told once, after
// they have been quiet for a moment.
#include <windows.h>

#include <functional>
#include <string>
#include <thread>

#include "win/ui/UniqueResource.h"

namespace corvane::win {

class SettingsWatcher {
public:
    // `changed` runs on the watcher's own thread: keep it short.
    SettingsWatcher(std::wstring folder, std::wstring fileName, std::function<void()> changed);
    ~SettingsWatcher();
    SettingsWatcher(const SettingsWatcher&) = delete;
    SettingsWatcher& operator=(const SettingsWatcher&) = delete;

    // Starts watching; 0, or the system's code when the folder cannot be watched.
    DWORD Start();

private:
    void Watch() noexcept;
    bool Named(const BYTE* records, DWORD size) const;

    std::wstring folder_;
    std::wstring fileName_;
    std::function<void()> changed_;
    UniqueFile directory_;
    UniqueHandle stop_;
    UniqueHandle done_;  // the read's completion
    std::thread thread_;
};

}  // namespace corvane::win
