#include "core/settings/WatchSettings.h"

#include <cstdint>

#include "core/text/Text.h"

namespace corvane {

std::vector<SettingProblem> LoadWatchSettings(IProfileStore& store, Settings& settings) {
    constexpr const char* kEnvironment = "Environment";
    std::vector<SettingProblem> problems;
    // An empty value is a missing key, as in the tray; anything else must be
    // a whole 32-bit integer.
    const auto number = [&](const char* key, std::int32_t fallback) {
        const std::string text = store.ReadString(kEnvironment, key);
        if (text.empty()) return fallback;
        if (const auto value = text::ParseInt32(text)) return static_cast<std::int32_t>(*value);
        problems.push_back({key, text, std::to_string(fallback)});
        return fallback;
    };
    const auto flag = [&](const char* key, bool fallback) { return number(key, fallback ? 1 : 0) != 0; };

    settings.IgnoreSharedResource = flag("IgnoreSharedResource", false);
    settings.IgnoreLocalConnection = flag("IgnoreLocalConnection", true);
    const bool isSecond = flag("IsSecond", false);
    std::int32_t connTime = number("DisconnectConnTime", 0);
    std::int32_t idleTime = number("DisconnectIdleTime", 0);
    if (!isSecond) {
        // Minutes, in the 32-bit arithmetic the tray converts them with.
        connTime = static_cast<std::int32_t>(static_cast<std::uint32_t>(connTime) * 60u);
        idleTime = static_cast<std::int32_t>(static_cast<std::uint32_t>(idleTime) * 60u);
    }
    settings.DisconnectConnTime = connTime;
    settings.DisconnectIdleTime = idleTime;
    settings.MaxLogSize = number("MaxLogSize", kDefaultMaxLogSize);
    settings.WriteEventLog = flag("WriteEventLog", true);
    return problems;
}

}  // namespace corvane
