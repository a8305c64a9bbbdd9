#include "core/settings/SettingsStore.h"

#include <cstdint>
#include <string_view>

#include "core/display/DpiScale.h"
#include "core/text/Text.h"

namespace corvane {
namespace {

constexpr const char* kWindow = "Window";
constexpr const char* kColumns = "Columns";
constexpr const char* kEnvironment = "Environment";
constexpr int kSessionColumnDefault = 80;
constexpr int kResourceColumnDefault = 100;

std::string Format(std::string_view pattern, const std::string& path) {
    std::string out;
    const auto at = pattern.find("%s");
    out.append(pattern.substr(0, at));
    out.append(path);
    out.append(pattern.substr(at + 2));
    return out;
}

class Reader {
public:
    Reader(IProfileStore& store, const char* section) : store_(store), section_(section) {}

    std::int32_t Int(const std::string& key, std::int32_t fallback) {
        const auto value = text::ParseInt32(store_.ReadString(section_, key));
        return value ? static_cast<std::int32_t>(*value) : fallback;
    }
    bool Flag(const std::string& key, bool fallback) { return Int(key, fallback ? 1 : 0) != 0; }
    std::string String(const std::string& key) { return store_.ReadString(section_, key); }

private:
    IProfileStore& store_;
    const char* section_;
};

class Writer {
public:
    Writer(IProfileStore& store, const char* section) : store_(store), section_(section) {}

    void String(const std::string& key, const std::string& value) {
        if (const auto code = store_.WriteString(section_, key, value)) throw SettingsWriteError(store_.Path(), code);
    }
    void Int(const std::string& key, std::int32_t value) { String(key, std::to_string(value)); }
    void Flag(const std::string& key, bool value) { String(key, value ? "1" : "0"); }

private:
    IProfileStore& store_;
    const char* section_;
};

// The file held the disconnect times in minutes; 32-bit arithmetic as stored.
std::int32_t MinutesToSeconds(std::int32_t minutes) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(minutes) * 60u);
}

}  // namespace

SettingsWriteError::SettingsWriteError(const std::string& path, std::uint32_t code)
    : std::runtime_error(Format("%s に書き込めません", path)), path_(path), code_(code) {}

void LoadSettings(IProfileStore& store, ISettingsWindow& window, Settings& settings) {
    PlacementBytes bytes{};
    if (store.ReadStruct(kWindow, "Placement", bytes.data(), bytes.size())) {
        const auto placement = DecodePlacement(bytes);
        if (placement.flags != 0 || placement.showCmd != 0) window.SetPlacement(placement);
    }

    Reader columns(store, kColumns);
    settings.Sort = columns.Int("Sort", 0);
    // The widths are stored in pixels at 96 DPI. Files written before that
    // rule kept the control's pixels at whatever scale they were saved at;
    // they are read as 96-DPI pixels too, since the scale is not recorded:
    // right for files written at 100 %, and merely wider columns (never cut
    // text) for files written at a larger scale, until the next save.
    const int dpi = window.ColumnDpi();
    for (int i = 0, n = window.ColumnCount(ListKind::Sessions); i < n; ++i) {
        window.SetColumnWidth(ListKind::Sessions, i,
                              app::ScaleToDpi(columns.Int("Column" + std::to_string(i),
                                                            app::DesignedWidth(app::kSessionColumnWidths, i,
                                                                               kSessionColumnDefault)),
                                                dpi));
    }
    settings.SortResource = columns.Int("SortResource", 0);
    for (int i = 0, n = window.ColumnCount(ListKind::Resources); i < n; ++i) {
        window.SetColumnWidth(
            ListKind::Resources, i,
            app::ScaleToDpi(columns.Int("ColumnResource" + std::to_string(i), kResourceColumnDefault), dpi));
    }

    Reader env(store, kEnvironment);
    settings.PopupNotifyWindow = env.Flag("PopupNotifyWindow", true);
    settings.PopupNotifyWindowByTray = env.Flag("PopupNotifyWindowByTray", true);
    settings.NotifyConnectSessionBySound = env.Flag("NotifyConnectSessionBySound", false);
    settings.NotifyResourceAccess = env.Flag("NotifyResourceAccess", false);
    settings.NotifyResourceAccessByTray = env.Flag("NotifyResourceAccessByTray", true);
    settings.NotifyResourceAccessBySound = env.Flag("NotifyResourceAccessBySound", false);
    settings.SoundFileName = env.String("SoundFileName");
    settings.SoundFileNameConnectSession = env.String("SoundFileNameConnectSession");
    if (settings.SoundFileNameConnectSession.empty()) {
        settings.SoundFileNameConnectSession = settings.SoundFileName;
    }
    settings.IgnoreSharedResource = env.Flag("IgnoreSharedResource", false);
    settings.IgnoreLocalConnection = env.Flag("IgnoreLocalConnection", true);
    settings.IgnoreAutoRefresh = env.Flag("IgnoreAutoRefresh", true);
    const bool isSecond = env.Flag("IsSecond", false);
    settings.DisconnectConnTime = env.Int("DisconnectConnTime", 0);
    settings.DisconnectIdleTime = env.Int("DisconnectIdleTime", 0);
    settings.ExitMessage = env.Flag("ExitMessage", false);
    settings.DisconnectMessage = env.Flag("DisconnectMessage", false);
    settings.IgnoreFileCloseMessage = env.Flag("IgnoreFileCloseMessage", false);
    settings.CloseIsMinimize = env.Flag("CloseIsMinimize", false);
    settings.MaxLogSize = env.Int("MaxLogSize", kDefaultMaxLogSize);
    settings.WriteEventLog = env.Flag("WriteEventLog", true);
    window.SetTabIndex(env.Int("TabIndex", 0));

    if (!isSecond) {
        settings.DisconnectConnTime = MinutesToSeconds(settings.DisconnectConnTime);
        settings.DisconnectIdleTime = MinutesToSeconds(settings.DisconnectIdleTime);
        Writer(store, kEnvironment).Flag("IsSecond", true);
    }
}

void SaveSettings(IProfileStore& store, ISettingsWindow& window, const Settings& settings) {
    auto placement = window.GetPlacement();
    placement.length = static_cast<std::uint32_t>(kPlacementRecordSize);
    if (window.IsProgramMinimized()) placement.showCmd = kShowMinimized;
    const auto bytes = EncodePlacement(placement);
    store.WriteStruct(kWindow, "Placement", bytes.data(), bytes.size());  // result not looked at

    Writer columns(store, kColumns);
    columns.Int("Sort", settings.Sort);
    const int dpi = window.ColumnDpi();
    for (int i = 0, n = window.ColumnCount(ListKind::Sessions); i < n; ++i) {
        columns.Int("Column" + std::to_string(i),
                    app::UnscaleFromDpi(window.GetColumnWidth(ListKind::Sessions, i), dpi));
    }
    columns.Int("SortResource", settings.SortResource);
    for (int i = 0, n = window.ColumnCount(ListKind::Resources); i < n; ++i) {
        columns.Int("ColumnResource" + std::to_string(i),
                    app::UnscaleFromDpi(window.GetColumnWidth(ListKind::Resources, i), dpi));
    }

    Writer env(store, kEnvironment);
    env.Flag("PopupNotifyWindow", settings.PopupNotifyWindow);
    env.Flag("PopupNotifyWindowByTray", settings.PopupNotifyWindowByTray);
    env.Flag("NotifyConnectSessionBySound", settings.NotifyConnectSessionBySound);
    env.Flag("NotifyResourceAccess", settings.NotifyResourceAccess);
    env.Flag("NotifyResourceAccessByTray", settings.NotifyResourceAccessByTray);
    env.Flag("NotifyResourceAccessBySound", settings.NotifyResourceAccessBySound);
    env.String("SoundFileName", settings.SoundFileName);
    env.String("SoundFileNameConnectSession", settings.SoundFileNameConnectSession);
    env.Flag("IgnoreSharedResource", settings.IgnoreSharedResource);
    env.Flag("IgnoreLocalConnection", settings.IgnoreLocalConnection);
    env.Flag("IgnoreAutoRefresh", settings.IgnoreAutoRefresh);
    env.Int("DisconnectConnTime", settings.DisconnectConnTime);
    env.Int("DisconnectIdleTime", settings.DisconnectIdleTime);
    env.Flag("ExitMessage", settings.ExitMessage);
    env.Flag("DisconnectMessage", settings.DisconnectMessage);
    env.Flag("IgnoreFileCloseMessage", settings.IgnoreFileCloseMessage);
    env.Flag("CloseIsMinimize", settings.CloseIsMinimize);
    env.Int("MaxLogSize", settings.MaxLogSize);
    env.Flag("WriteEventLog", settings.WriteEventLog);
    env.Int("TabIndex", window.GetTabIndex());
}

void SettingsStore::LoadSettings() {
    corvane::LoadSettings(store_, window_, settings_);
    loaded_ = true;
}

void SettingsStore::SaveSettings() {
    if (loaded_) corvane::SaveSettings(store_, window_, settings_);
}

}  // namespace corvane
