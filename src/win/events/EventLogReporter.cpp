#include "win/events/EventLogReporter.h"

#include <vector>

#include "events.h"  // generated from res/events.mc

namespace corvane::win {
namespace {

// The message table and the core's numbers are the same ones.
static_assert(CORVANE_CATEGORY_SESSION == report::kCategorySession);
static_assert(CORVANE_CATEGORY_RESOURCE == report::kCategoryResource);
static_assert(CORVANE_CATEGORY_WATCH == report::kCategoryWatch);
static_assert(CORVANE_CATEGORY_LOG == report::kCategoryLog);
static_assert(CORVANE_EVENT_CONNECTED == report::kConnected);
static_assert(CORVANE_EVENT_DISCONNECTED == report::kDisconnected);
static_assert(CORVANE_EVENT_ACCESSED == report::kAccessed);
static_assert(CORVANE_EVENT_CONN_TIME_DISCONNECT == report::kConnTimeDisconnect);
static_assert(CORVANE_EVENT_IDLE_TIME_DISCONNECT == report::kIdleTimeDisconnect);
static_assert(CORVANE_EVENT_DISCONNECT_FAILED == report::kDisconnectFailed);
static_assert(CORVANE_EVENT_FILE_CLOSED == report::kFileClosed);
static_assert(CORVANE_EVENT_FILE_CLOSE_FAILED == report::kFileCloseFailed);
static_assert(CORVANE_EVENT_SESSIONS_UNLISTED == report::kSessionsUnlisted);
static_assert(CORVANE_EVENT_FILES_UNLISTED == report::kFilesUnlisted);
static_assert(CORVANE_EVENT_WATCH_RESTORED == report::kWatchRestored);
static_assert(CORVANE_EVENT_LOG_UNWRITABLE == report::kLogUnwritable);
static_assert(CORVANE_EVENT_LOG_LOST == report::kLogLost);
static_assert(CORVANE_EVENT_LOG_RESTORED == report::kLogRestored);
static_assert(CORVANE_EVENT_LOG_SAVED_ASIDE == report::kLogSavedAside);
static_assert(CORVANE_EVENT_LOG_EXIT_LOST == report::kLogExitLost);
static_assert(CORVANE_EVENT_SERVICE_STARTED == report::kServiceStarted);
static_assert(CORVANE_EVENT_SERVICE_STOPPED == report::kServiceStopped);
static_assert(CORVANE_EVENT_SETTINGS_REREAD == report::kSettingsReread);
static_assert(CORVANE_EVENT_SETTING_REFUSED == report::kSettingRefused);
static_assert(CORVANE_EVENT_SERVER_UNBOUND == report::kServerUnbound);
static_assert(CORVANE_EVENT_COMMAND_CARRIED_OUT == report::kCommandCarriedOut);
static_assert(CORVANE_EVENT_FEED_UNAVAILABLE == report::kFeedUnavailable);

using UniqueKey = UniqueResource<NullHandleTraits<HKEY, &RegCloseKey>>;

WORD EventType(ReportLevel level) {
    switch (level) {
        case ReportLevel::Warning: return EVENTLOG_WARNING_TYPE;
        case ReportLevel::Error: return EVENTLOG_ERROR_TYPE;
        case ReportLevel::Information: break;
    }
    return EVENTLOG_INFORMATION_TYPE;
}

// The value as a path, with environment strings expanded; empty when missing.
std::wstring PathValue(HKEY key, const wchar_t* name) {
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &bytes) != ERROR_SUCCESS)
        return {};
    value.resize(wcsnlen(value.c_str(), value.size()));
    if (type == REG_EXPAND_SZ) {
        std::wstring expanded(32768, L'\0');
        const DWORD n = ExpandEnvironmentStringsW(value.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
        if (n == 0 || n > expanded.size()) return {};
        expanded.resize(n - 1);
        return expanded;
    }
    return value;
}

DWORD DwordValue(HKEY key, const wchar_t* name) {
    DWORD type = 0, value = 0, bytes = sizeof value;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return 0;
    return value;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

}  // namespace

std::wstring ProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

EventLogReporter::EventLogReporter(std::wstring messageFile) : messageFile_(std::move(messageFile)) {}

std::uint32_t EventLogReporter::Register() noexcept {
    constexpr DWORD kTypes = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    LSTATUS status = ERROR_SUCCESS;
    try {
        HKEY raw = nullptr;
        bool current = false;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, KEY_QUERY_VALUE, &raw) == ERROR_SUCCESS) {
            const UniqueKey key(raw);
            // A key written by an installer may use an expandable string
            // (%ProgramFiles%...): what it names is compared.
            current = SamePath(PathValue(key.get(), L"EventMessageFile"), messageFile_) &&
                      SamePath(PathValue(key.get(), L"CategoryMessageFile"), messageFile_) &&
                      DwordValue(key.get(), L"CategoryCount") == report::kCategoryCount &&
                      DwordValue(key.get(), L"TypesSupported") == kTypes;
        }
        if (!current) {
            status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_SET_VALUE, nullptr, &raw, nullptr);
            if (status == ERROR_SUCCESS) {
                const UniqueKey key(raw);
                const auto* path = reinterpret_cast<const BYTE*>(messageFile_.c_str());
                const auto pathBytes = static_cast<DWORD>((messageFile_.size() + 1) * sizeof(wchar_t));
                const DWORD categories = report::kCategoryCount;
                const auto dword = [](const DWORD& v) { return reinterpret_cast<const BYTE*>(&v); };
                // A plain string: the path is the program's own, taken
                // literally, so a folder whose name holds '%' reads back as
                // itself and is never expanded as an environment string.
                status = RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_SZ, path, pathBytes);
                if (status == ERROR_SUCCESS)
                    status = RegSetValueExW(key.get(), L"CategoryMessageFile", 0, REG_SZ, path, pathBytes);
                if (status == ERROR_SUCCESS)
                    status = RegSetValueExW(key.get(), L"CategoryCount", 0, REG_DWORD, dword(categories), sizeof(DWORD));
                if (status == ERROR_SUCCESS)
                    status = RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD, dword(kTypes), sizeof(DWORD));
            }
        }
    } catch (...) {
        status = ERROR_NOT_ENOUGH_MEMORY;
    }
    Open();
    return static_cast<std::uint32_t>(status);
}

std::uint32_t EventLogReporter::Open() noexcept {
    if (!source_) source_.reset(RegisterEventSourceW(nullptr, kEventSourceName));
    return source_ ? 0 : GetLastError();
}

std::uint32_t EventLogReporter::Report(const EventReport& report) noexcept {
    try {
        if (const std::uint32_t code = Open(); code != 0) return code;
        std::vector<std::wstring> strings;
        strings.reserve(report.Strings.size());
        for (const std::string& s : report.Strings) strings.push_back(Wide(s));
        std::vector<LPCWSTR> pointers;
        for (const std::wstring& s : strings) pointers.push_back(s.c_str());
        if (!ReportEventW(source_.get(), EventType(report.Level), report.Category, report.Id, nullptr,
                          static_cast<WORD>(pointers.size()), 0, pointers.empty() ? nullptr : pointers.data(),
                          nullptr))
            return GetLastError();
        return 0;
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace corvane::win
