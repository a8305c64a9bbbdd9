#include "core/feed/FeedSettings.h"

#include <array>

#include "core/text/Text.h"

namespace corvane::feed {
namespace {

enum class Form { Flag, Seconds, Size, Show };
struct Key {
    const char* Name;
    Form Kind;
};
constexpr std::array<Key, 7> kKeys{{
    {"IgnoreSharedResource", Form::Flag},
    {"IgnoreLocalConnection", Form::Flag},
    {"DisconnectConnTime", Form::Seconds},
    {"DisconnectIdleTime", Form::Seconds},
    {"MaxLogSize", Form::Size},
    {"WriteEventLog", Form::Flag},
    {kShowToUsersKey, Form::Show},
}};

bool Valid(const Key& key, const std::string& value) {
    const std::optional<int> number = text::ParseInt32(value);
    if (!number || std::to_string(*number) != value) return false;
    switch (key.Kind) {
        case Form::Flag:
        case Form::Show: return *number == 0 || *number == 1;
        case Form::Seconds:
        case Form::Size: return *number >= 0;
    }
    return false;
}

}  // namespace

WatchSettings WatchSettingsOf(const Settings& s, ShowToUsers show) {
    const auto flag = [](bool v) { return std::string(v ? "1" : "0"); };
    return WatchSettings{{
        {"IgnoreSharedResource", flag(s.IgnoreSharedResource)},
        {"IgnoreLocalConnection", flag(s.IgnoreLocalConnection)},
        {"DisconnectConnTime", std::to_string(s.DisconnectConnTime)},
        {"DisconnectIdleTime", std::to_string(s.DisconnectIdleTime)},
        {"MaxLogSize", std::to_string(s.MaxLogSize.load())},
        {"WriteEventLog", flag(s.WriteEventLog)},
        {kShowToUsersKey, std::to_string(static_cast<int>(show))},
    }};
}

void ApplyWatchSettings(const WatchSettings& values, Settings& s, ShowToUsers* show) {
    for (const auto& [name, value] : values.Values) {
        const std::optional<int> number = text::ParseInt32(value);
        if (!number) continue;
        if (name == "IgnoreSharedResource") s.IgnoreSharedResource = *number != 0;
        else if (name == "IgnoreLocalConnection") s.IgnoreLocalConnection = *number != 0;
        else if (name == "DisconnectConnTime") s.DisconnectConnTime = *number;
        else if (name == "DisconnectIdleTime") s.DisconnectIdleTime = *number;
        else if (name == "MaxLogSize") s.MaxLogSize = *number;
        else if (name == "WriteEventLog") s.WriteEventLog = *number != 0;
        else if (name == kShowToUsersKey && show) *show = *number == 1 ? ShowToUsers::Interactive : ShowToUsers::AdministratorsOnly;
    }
}

bool ValidWatchSettings(const WatchSettings& values) {
    if (values.Values.size() != kKeys.size()) return false;
    for (const Key& key : kKeys) {
        std::size_t found = 0;
        for (const auto& [name, value] : values.Values) {
            if (name != key.Name) continue;
            if (!Valid(key, value)) return false;
            ++found;
        }
        if (found != 1) return false;
    }
    return true;
}

std::uint32_t WriteWatchSettings(IProfileStore& store, const WatchSettings& values) {
    constexpr const char* kEnvironment = "Environment";
    if (!ValidWatchSettings(values)) return 87;  // ERROR_INVALID_PARAMETER
    // Both times in seconds first, the mark that they are seconds last: a
    // reread between the writes may take a new time for minutes (a limit
    // sixty times longer), never an old one in minutes for seconds.
    for (const auto& [name, value] : values.Values)
        if (const std::uint32_t code = store.WriteString(kEnvironment, name, value)) return code;
    return store.WriteString(kEnvironment, "IsSecond", "1");
}

}  // namespace corvane::feed
