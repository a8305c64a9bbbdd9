#pragma once
// The keys of Corvane.ini that the watch itself follows, as a headless
// watcher (the Windows service) reads them: the window's keys are left out,
// nothing is written back, and a value that is not a number is named.
#include <string>
#include <vector>

#include "core/settings/ProfileStore.h"
#include "core/settings/Settings.h"

namespace corvane {

// A key whose value could not be read; the watch runs with its default.
struct SettingProblem {
    std::string Key;
    std::string Value;    // as the file has it
    std::string Default;  // what is used instead
};

// Reads IgnoreSharedResource, IgnoreLocalConnection, DisconnectConnTime,
// DisconnectIdleTime (minutes unless IsSecond=1, as the tray reads them),
// MaxLogSize and WriteEventLog from [Environment] into `settings`, each at the
// tray's default when missing or malformed; the other fields are left alone.
// Returns the malformed keys, in the order above.
std::vector<SettingProblem> LoadWatchSettings(IProfileStore& store, Settings& settings);

}  // namespace corvane
