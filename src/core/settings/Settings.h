#pragma once
// The options of the main window, one field per key of the settings file.
#include <atomic>
#include <cstdint>
#include <string>

namespace corvane {

// A value that one thread writes and another reads without a lock. Copyable
// so that the record it sits in stays a plain value.
template <typename T>
class SharedValue {
public:
    SharedValue(T value = T{}) noexcept : value_(value) {}
    SharedValue(const SharedValue& other) noexcept : value_(other.load()) {}
    SharedValue& operator=(const SharedValue& other) noexcept { store(other.load()); return *this; }
    SharedValue& operator=(T value) noexcept { store(value); return *this; }
    operator T() const noexcept { return load(); }
    T load() const noexcept { return value_.load(std::memory_order_acquire); }
    void store(T value) noexcept { value_.store(value, std::memory_order_release); }
private:
    std::atomic<T> value_;
};
using SharedFlag = SharedValue<bool>;

inline constexpr std::int32_t kDefaultMaxLogSize = 1048576;

// Initial values are those before the settings file is read: everything off,
// zero or empty, except the log size limit.
struct Settings {
    bool PopupNotifyWindow = false;
    bool PopupNotifyWindowByTray = false;
    bool NotifyConnectSessionBySound = false;
    bool NotifyResourceAccess = false;
    bool NotifyResourceAccessByTray = false;
    bool NotifyResourceAccessBySound = false;
    std::string SoundFileName;
    std::string SoundFileNameConnectSession;
    SharedFlag IgnoreSharedResource = false;  // also read by the watch thread
    bool IgnoreLocalConnection = false;
    SharedFlag IgnoreAutoRefresh = false;     // also read by the watch thread
    std::int32_t DisconnectConnTime = 0;
    std::int32_t DisconnectIdleTime = 0;
    bool ExitMessage = false;
    bool DisconnectMessage = false;
    bool IgnoreFileCloseMessage = false;      // "ファイルを閉じる" without its question
    bool CloseIsMinimize = false;
    SharedValue<std::int32_t> MaxLogSize = kDefaultMaxLogSize;  // read by the watch thread's log
    SharedFlag WriteEventLog = false;         // also read by the watch thread
    std::int32_t Sort = 0;
    std::int32_t SortResource = 0;
};

}  // namespace corvane
