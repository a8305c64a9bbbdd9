#pragma once
// The Windows implementations of the settings and event-log ports.
#include <memory>
#include <string>

#include "core/settings/EventLog.h"
#include "core/settings/ProfileStore.h"

namespace corvane::win {

std::unique_ptr<IProfileStore> CreateProfileStore(const std::string& iniPath);
std::unique_ptr<ILogFileSystem> CreateLogFileSystem();
std::unique_ptr<IClock> CreateLocalClock();
std::unique_ptr<IShellOpener> CreateShellOpener();

}  // namespace corvane::win
