#pragma once
// The watch's events as reports of the system's event log: which message of
// the program's message table describes each one, its level, its category and
// the strings put into the message. The numbers are those of res/events.mc.
// Besides the events it reports the states an administrator collecting the
// logs of several servers must see: a server that cannot be listed, a log file
// that cannot be written, events the log file had to drop.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/events/WatchEvent.h"

namespace corvane {

struct EventLogState;
struct EventLogExit;

enum class ReportLevel { Information, Warning, Error };

namespace report {
// Categories.
inline constexpr std::uint16_t kCategorySession = 1;
inline constexpr std::uint16_t kCategoryResource = 2;
inline constexpr std::uint16_t kCategoryWatch = 3;
inline constexpr std::uint16_t kCategoryLog = 4;
inline constexpr std::uint16_t kCategoryCount = 4;
// Event IDs.
inline constexpr std::uint32_t kConnected = 1001;
inline constexpr std::uint32_t kDisconnected = 1002;
inline constexpr std::uint32_t kAccessed = 1003;
inline constexpr std::uint32_t kConnTimeDisconnect = 1004;
inline constexpr std::uint32_t kIdleTimeDisconnect = 1005;
inline constexpr std::uint32_t kDisconnectFailed = 1006;
inline constexpr std::uint32_t kFileClosed = 1007;
inline constexpr std::uint32_t kFileCloseFailed = 1008;
inline constexpr std::uint32_t kSessionsUnlisted = 2001;
inline constexpr std::uint32_t kFilesUnlisted = 2002;
inline constexpr std::uint32_t kWatchRestored = 2003;
inline constexpr std::uint32_t kLogUnwritable = 3001;
inline constexpr std::uint32_t kLogLost = 3002;
inline constexpr std::uint32_t kLogRestored = 3003;
inline constexpr std::uint32_t kLogSavedAside = 3004;
inline constexpr std::uint32_t kLogExitLost = 3005;
// The service's own life.
inline constexpr std::uint32_t kServiceStarted = 4001;
inline constexpr std::uint32_t kServiceStopped = 4002;
inline constexpr std::uint32_t kSettingsReread = 4003;
inline constexpr std::uint32_t kSettingRefused = 4004;
inline constexpr std::uint32_t kServerUnbound = 4005;
inline constexpr std::uint32_t kCommandCarriedOut = 4006;
inline constexpr std::uint32_t kFeedUnavailable = 4007;
}  // namespace report

struct EventReport {
    std::uint32_t Id = 0;
    ReportLevel Level = ReportLevel::Information;
    std::uint16_t Category = 0;
    std::vector<std::string> Strings;  // UTF-8, %1, %2, ... of the message

    bool operator==(const EventReport&) const = default;
};

// The report of one event. Names from the server go in as the log file has
// them, one line each (the event log's XML form has no room for control
// characters either).
EventReport ReportOf(const WatchEvent& event);

// What the log's end came to, when lines could not be written to it: saved
// to a file of their own, or lost. Nothing when everything was written.
std::optional<EventReport> ReportOf(const EventLogExit& exit);

// An insert string as the event log is given it: each '%' is followed by a
// WORD JOINER (U+2060, not shown), so that no viewer reads "%%1833", "%1" or
// "%n" in a name as a reference to another text; the name still reads as itself.
std::string LiteralInsert(const std::string& text);

// Where the reports go: the system's event log.
class IEventReporter {
public:
    virtual ~IEventReporter() = default;
    // Makes the program known to the event log as the reports' source, with
    // its message table; 0 or the system's code. Reports still work without
    // it, only without their descriptions.
    virtual std::uint32_t Register() noexcept = 0;
    // 0 or the system's code. The strings are given as they are.
    virtual std::uint32_t Report(const EventReport& report) noexcept = 0;
};

// What has gone wrong with the reports (0: nothing).
struct EventReportState {
    std::uint32_t RegisterCode = 0;  // the source could not be registered
    std::uint32_t ReportCode = 0;    // the last failed report's code, 0 after one that worked
    std::uint64_t Failed = 0;        // reports that could not be made

    bool operator==(const EventReportState&) const = default;
};

// The event log as an output of the watch. Publish reports each event, and
// the file log's state after it (the file log publishes first). The watch's
// enumeration results come through EnumerationResult. A failing enumeration
// or log file is reported when it starts and when it changes, and its end
// once, never on every pass. Nothing is reported while `enabled` says no;
// the source is registered on the first report after it says yes. A report
// that fails is counted; nothing here throws or waits on a retry.
class EventReportSink : public IEventSink {
public:
    EventReportSink(IEventReporter& reporter, std::function<bool()> enabled,
                    std::function<std::string(std::uint32_t)> describe,
                    std::function<EventLogState()> logState);

    void Publish(const std::vector<WatchEvent>& events) noexcept override;
    void EnumerationResult(std::uint32_t sessionStatus, std::uint32_t fileStatus) noexcept;
    // Reports what no box can show any more (the session is ending), even
    // with the reports turned off: the event log is the only one left to tell.
    void Tell(const EventReport& report) noexcept;

    EventReportState State() const;

private:
    void LogResult(const EventLogState& state);
    void Send(EventReport report);
    bool Ready();

    IEventReporter& reporter_;
    std::function<bool()> enabled_;
    std::function<std::string(std::uint32_t)> describe_;
    std::function<EventLogState()> logState_;
    mutable std::mutex lock_;
    bool registered_ = false;
    EventReportState state_;
    std::uint32_t sessionStatus_ = 0, fileStatus_ = 0;
    std::uint32_t logCode_ = 0;
    std::size_t logHeld_ = 0;
    bool logDropping_ = false;
};

}  // namespace corvane
