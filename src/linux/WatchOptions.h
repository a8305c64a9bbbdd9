#pragma once
// corvane-watch's command line and how it meets the Corvane.ini keys.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/events/EventLog.h"
#include "core/settings/ProfileStore.h"
#include "core/settings/Settings.h"

namespace corvane::samba {

struct WatchOptions {
    std::string ConfigPath;                 // empty: no settings file, every key at its default
    std::string LogPath = kLogFileName;     // in the working directory unless a path is given
    LogEncoding Encoding = LogEncoding::Utf8;
    std::string Smbstatus = "smbstatus";
    std::string Smbcontrol = "smbcontrol";
    std::string NotifySend;                 // empty: no desktop notifications
    std::chrono::milliseconds Interval{1000};
    std::chrono::milliseconds Timeout{10000};
    std::string LockDirectory;              // Samba's; empty: as Samba's settings give it
    bool Poll = false;
    bool JsonEvents = false;                // --stdout-format json: events, not announcements, on standard output                      // a full listing every Interval, signals unread
    bool Once = false;
    bool Help = false;
    // Flags that override the settings file's keys.
    std::optional<std::int32_t> MaxLogSize;
    std::optional<std::int32_t> DisconnectConnTime;
    std::optional<std::int32_t> DisconnectIdleTime;
    std::optional<bool> IgnoreSharedResource;
};

struct ParsedOptions {
    WatchOptions Options;
    std::string Error;  // empty when the command line was understood
};

ParsedOptions ParseCommandLine(const std::vector<std::string>& args);

// The settings the watch runs with: the file's keys (or their defaults),
// then the flags. Returns an error text when they ask for what Samba cannot
// do (an idle-time limit).
std::string ResolveSettings(const WatchOptions& options, IProfileStore& store, Settings& settings);

std::string HelpText();

}  // namespace corvane::samba
