#pragma once
// The watch's settings as the feed carries them: the keys of the settings
// file that the service follows, with their values as the file writes them
// (disconnect times in seconds). A tray shows them in its settings dialog
// and sends changed ones back; the service writes only these keys, and only
// well-formed values, into its own settings file.
#include <cstdint>
#include <string>

#include "core/feed/FeedAccess.h"
#include "core/feed/FeedMessages.h"
#include "core/settings/ProfileStore.h"
#include "core/settings/Settings.h"

namespace corvane::feed {

WatchSettings WatchSettingsOf(const Settings& settings, ShowToUsers show);

// The known keys of `values` into `settings` (and `show`); a value that is
// not a number leaves its field alone.
void ApplyWatchSettings(const WatchSettings& values, Settings& settings, ShowToUsers* show = nullptr);

// Whether `values` holds every key of the watch once, each with a value the
// service reads back as given (flags 0 or 1, times and sizes not negative).
bool ValidWatchSettings(const WatchSettings& values);

// Writes valid values into [Environment], with IsSecond=1 for the times; 0,
// ERROR_INVALID_PARAMETER for values that are not valid, or the first
// refused write's code.
std::uint32_t WriteWatchSettings(IProfileStore& store, const WatchSettings& values);

}  // namespace corvane::feed
