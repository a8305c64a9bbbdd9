#include "core/events/EventReport.h"

#include <utility>

#include "core/events/EventLog.h"

namespace corvane {

EventReport ReportOf(const WatchEvent& e) {
    using namespace report;
    const auto session = [&](std::uint32_t id) {
        return EventReport{id, ReportLevel::Information, kCategorySession,
                           {OneLineName(e.ComputerName), OneLineName(e.IpAddress), OneLineName(e.UserName)}};
    };
    switch (e.Kind) {
        case EventKind::Connected: return session(kConnected);
        case EventKind::Disconnected: return session(kDisconnected);
        case EventKind::ConnTimeDisconnect: return session(kConnTimeDisconnect);
        case EventKind::IdleTimeDisconnect: return session(kIdleTimeDisconnect);
        case EventKind::Accessed:
            return {kAccessed, ReportLevel::Information, kCategoryResource,
                    {OneLineName(e.UserName), OneLineName(e.PathName)}};
        case EventKind::FileClosed:
            return {kFileClosed, ReportLevel::Information, kCategoryResource,
                    {OneLineName(e.UserName), OneLineName(e.PathName)}};
        case EventKind::FileCloseFailed:
            return {kFileCloseFailed, ReportLevel::Warning, kCategoryResource,
                    {OneLineName(e.UserName), OneLineName(e.PathName), OneLineName(e.Detail)}};
        case EventKind::DisconnectFailed:
            return {kDisconnectFailed, ReportLevel::Warning, kCategorySession,
                    {OneLineName(e.ComputerName), OneLineName(e.UserName), OneLineName(e.Detail)}};
        case EventKind::EventsLost:
            return {kLogLost, ReportLevel::Error, kCategoryLog, {std::to_string(e.Count)}};
    }
    return {};
}

std::optional<EventReport> ReportOf(const EventLogExit& exit) {
    using namespace report;
    if (exit.Unsaved == 0) return std::nullopt;
    const std::string count = std::to_string(exit.Unsaved);
    if (!exit.SavedTo.empty()) return EventReport{kLogSavedAside, ReportLevel::Warning, kCategoryLog, {count, exit.SavedTo}};
    return EventReport{kLogExitLost, ReportLevel::Error, kCategoryLog, {count, OneLineName(exit.Error)}};
}

std::string LiteralInsert(const std::string& text) {
    std::string literal;
    literal.reserve(text.size());
    for (const char c : text) {
        literal += c;
        if (c == '%') literal += "\u2060";
    }
    return literal;
}

EventReportSink::EventReportSink(IEventReporter& reporter, std::function<bool()> enabled,
                                 std::function<std::string(std::uint32_t)> describe,
                                 std::function<EventLogState()> logState)
    : reporter_(reporter),
      enabled_(std::move(enabled)),
      describe_(std::move(describe)),
      logState_(std::move(logState)) {}

bool EventReportSink::Ready() {
    if (!enabled_ || !enabled_()) return false;
    if (!registered_) {
        registered_ = true;
        state_.RegisterCode = reporter_.Register();
    }
    return true;
}

void EventReportSink::Send(EventReport report) {
    for (std::string& text : report.Strings) text = LiteralInsert(text);
    if (const std::uint32_t code = reporter_.Report(report); code != 0) {
        state_.ReportCode = code;
        ++state_.Failed;
    } else {
        state_.ReportCode = 0;
    }
}

void EventReportSink::Publish(const std::vector<WatchEvent>& events) noexcept {
    try {
        std::lock_guard<std::mutex> guard(lock_);
        // The source is registered at the first pass, before anything needs reporting.
        if (!Ready()) return;
        if (logState_) LogResult(logState_());
        for (const WatchEvent& event : events) Send(ReportOf(event));
    } catch (...) {
        // Out of memory: these reports are lost, the file log has the events.
    }
}

// The states are followed only while reports are made, so that the event log
// tells the end of every failure whose start it told, and the start of one
// that was going on when the reports were turned on.
void EventReportSink::LogResult(const EventLogState& s) {
    using namespace report;
    if (s.Code != 0 && s.Code != logCode_)
        Send({kLogUnwritable, ReportLevel::Error, kCategoryLog, {OneLineName(s.Error), std::to_string(s.Code)}});
    if (s.Code != 0 && s.Dropped != 0 && !logDropping_)
        Send({kLogLost, ReportLevel::Error, kCategoryLog, {std::to_string(s.Dropped)}});
    if (s.Code == 0 && logCode_ != 0) Send({kLogRestored, ReportLevel::Information, kCategoryLog, {}});
    logCode_ = s.Code;
    logDropping_ = s.Code != 0 && s.Dropped != 0;
}

void EventReportSink::EnumerationResult(std::uint32_t sessionStatus, std::uint32_t fileStatus) noexcept {
    using namespace report;
    try {
        std::lock_guard<std::mutex> guard(lock_);
        if (!Ready()) return;
        const auto failed = [&](std::uint32_t id, std::uint32_t status) {
            std::string text = describe_ ? describe_(status) : std::string();
            Send({id, ReportLevel::Warning, kCategoryWatch, {std::to_string(status), OneLineName(text)}});
        };
        if (sessionStatus != 0 && sessionStatus != sessionStatus_) failed(kSessionsUnlisted, sessionStatus);
        if (fileStatus != 0 && fileStatus != fileStatus_) failed(kFilesUnlisted, fileStatus);
        if (sessionStatus == 0 && fileStatus == 0 && (sessionStatus_ != 0 || fileStatus_ != 0))
            Send({kWatchRestored, ReportLevel::Information, kCategoryWatch, {}});
        sessionStatus_ = sessionStatus;
        fileStatus_ = fileStatus;
    } catch (...) {
        // Out of memory: this report is lost; the status bar still tells.
    }
}

void EventReportSink::Tell(const EventReport& report) noexcept {
    try {
        std::lock_guard<std::mutex> guard(lock_);
        if (!registered_) {
            registered_ = true;
            state_.RegisterCode = reporter_.Register();
        }
        Send(report);
    } catch (...) {
        // Out of memory: nothing left to tell it with.
    }
}

EventReportState EventReportSink::State() const {
    std::lock_guard<std::mutex> guard(lock_);
    return state_;
}

}  // namespace corvane
