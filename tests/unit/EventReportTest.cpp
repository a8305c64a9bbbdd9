#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "core/events/EventReport.h"
#include "core/events/EventLog.h"
#include "support/Events.h"

namespace corvane {

void PrintTo(const EventReport& r, std::ostream* os) {
    *os << "{" << r.Id << " level " << static_cast<int>(r.Level) << " category " << r.Category;
    for (const std::string& s : r.Strings) *os << " \"" << s << "\"";
    *os << "}";
}

namespace {

using L = ReportLevel;
using Strings = std::vector<std::string>;

struct RecordingReporter : IEventReporter {
    std::uint32_t registerCode = 0, reportCode = 0;
    int registrations = 0;
    std::vector<EventReport> reports;
    std::uint32_t Register() noexcept override {
        ++registrations;
        return registerCode;
    }
    std::uint32_t Report(const EventReport& report) noexcept override {
        reports.push_back(report);
        return reportCode;
    }
};

WatchEvent Event(EventKind kind, std::string computer, std::string address, std::string user, std::string path = "",
                 std::string detail = "", std::uint64_t count = 0) {
    return test::MakeEvent(kind, std::move(computer), std::move(address), std::move(user), std::move(path),
                           std::move(detail), count);
}

struct Enumeration {
    std::uint32_t sessions, files;
};

// One step of the watch as the sink sees it: a pass's events (with the file
// log's state at the time), or a pass's enumeration results; then the
// reports it must add.
struct Step {
    std::variant<std::vector<WatchEvent>, Enumeration> input;
    EventLogState log;
    bool enabled;
    std::vector<EventReport> reports;
};

TEST(EventReportSink, ReportsEachEventAndEachChangeOfTheWatchAndTheLogOnce) {
    RecordingReporter reporter;
    EventLogState log;
    bool enabled = true;
    EventReportSink sink(
        reporter, [&] { return enabled; },
        [](std::uint32_t code) { return code == 5 ? std::string("アクセスが拒否されました。") : std::string(); },
        [&] { return log; });

    const EventLogState ok;
    const EventLogState full{112, "write C:\\x\\CorvaneLog.txt: disk full", 10000, 3};
    const EventLogState denied{5, "open C:\\x\\CorvaneLog.txt", 2, 0};
    const Step steps[] = {
        {std::vector<WatchEvent>{}, ok, true, {}},
        {std::vector<WatchEvent>{
             Event(EventKind::Connected, "PC01", "192.168.0.5", "taro"),
             Event(EventKind::Accessed, "", "", "taro", "D:\\share\\見積\r\n書.xlsx"),
             Event(EventKind::Disconnected, "PC01", "192.168.0.5", "taro"),
             Event(EventKind::ConnTimeDisconnect, "NOTE-07", "(N/A)", "yamada"),
             Event(EventKind::IdleTimeDisconnect, "NOTE-08", "10.0.0.8", "鈴木"),
             Event(EventKind::DisconnectFailed, "PC02", "", "hanako", "", "no such process"),
             Event(EventKind::FileClosed, "", "", "taro", "D:\\share\\売上.xlsx"),
             Event(EventKind::FileCloseFailed, "", "", "taro", "D:\\share\\売上.xlsx", "(エラー 5)"),
             Event(EventKind::EventsLost, "", "", "", "", "", 152),
         },
         ok,
         true,
         {{1001, L::Information, 1, Strings{"PC01", "192.168.0.5", "taro"}},
          {1003, L::Information, 2, Strings{"taro", "D:\\share\\見積  書.xlsx"}},  // one line, as in the log file
          {1002, L::Information, 1, Strings{"PC01", "192.168.0.5", "taro"}},
          {1004, L::Information, 1, Strings{"NOTE-07", "(N/A)", "yamada"}},
          {1005, L::Information, 1, Strings{"NOTE-08", "10.0.0.8", "鈴木"}},
          {1006, L::Warning, 1, Strings{"PC02", "hanako", "no such process"}},
          {1007, L::Information, 2, Strings{"taro", "D:\\share\\売上.xlsx"}},
          {1008, L::Warning, 2, Strings{"taro", "D:\\share\\売上.xlsx", "(エラー 5)"}},
          {3002, L::Error, 4, Strings{"152"}}}},
        // A listing that fails: told when it starts and when its code changes.
        {Enumeration{5, 0}, ok, true, {{2001, L::Warning, 3, Strings{"5", "アクセスが拒否されました。"}}}},
        {Enumeration{5, 0}, ok, true, {}},
        {Enumeration{5, 53}, ok, true, {{2002, L::Warning, 3, Strings{"53", ""}}}},
        {Enumeration{0, 53}, ok, true, {}},
        {Enumeration{0, 0}, ok, true, {{2003, L::Information, 3, Strings{}}}},
        {Enumeration{0, 0}, ok, true, {}},
        // The file log fails, then drops events, then works again.
        {std::vector<WatchEvent>{}, denied, true, {{3001, L::Error, 4, Strings{"open C:\\x\\CorvaneLog.txt", "5"}}}},
        {std::vector<WatchEvent>{}, denied, true, {}},
        {std::vector<WatchEvent>{}, full, true,
         {{3001, L::Error, 4, Strings{"write C:\\x\\CorvaneLog.txt: disk full", "112"}},
          {3002, L::Error, 4, Strings{"3"}}}},
        {std::vector<WatchEvent>{}, full, true, {}},
        {std::vector<WatchEvent>{}, ok, true, {{3003, L::Information, 4, Strings{}}}},
        // Turned off: nothing. Turned on while a listing fails: its start is told then.
        {Enumeration{5, 0}, ok, false, {}},
        {std::vector<WatchEvent>{Event(EventKind::Connected, "PC03", "10.0.0.3", "jiro")}, ok, false, {}},
        {Enumeration{5, 0}, ok, true, {{2001, L::Warning, 3, Strings{"5", "アクセスが拒否されました。"}}}},
        {Enumeration{0, 0}, ok, true, {{2003, L::Information, 3, Strings{}}}},
    };
    std::vector<EventReport> expected;
    int index = 0;
    for (const Step& step : steps) {
        log = step.log;
        enabled = step.enabled;
        if (const auto* events = std::get_if<std::vector<WatchEvent>>(&step.input))
            sink.Publish(*events);
        else
            sink.EnumerationResult(std::get<Enumeration>(step.input).sessions, std::get<Enumeration>(step.input).files);
        expected.insert(expected.end(), step.reports.begin(), step.reports.end());
        ASSERT_EQ(reporter.reports, expected) << "after step " << index;
        ++index;
    }
    EXPECT_EQ(reporter.registrations, 1);
    EXPECT_EQ(sink.State(), EventReportState{});

    // A failed registration and failed reports are counted and kept for the
    // window to tell; reporting goes on.
    RecordingReporter refusing;
    refusing.registerCode = 5;
    refusing.reportCode = 1502;
    EventReportSink failing(refusing, [] { return true; }, nullptr, nullptr);
    failing.Publish({Event(EventKind::Connected, "PC01", "10.0.0.1", "a"), Event(EventKind::Connected, "PC02", "10.0.0.2", "b")});
    EXPECT_EQ(refusing.reports.size(), 2u);
    EXPECT_EQ(failing.State(), (EventReportState{5, 1502, 2}));
    refusing.reportCode = 0;
    failing.Publish({Event(EventKind::Disconnected, "PC01", "10.0.0.1", "a")});
    EXPECT_EQ(failing.State(), (EventReportState{5, 0, 2}));
}

// Names reach the event log with every '%' followed by a word joiner: a
// viewer never takes "%%1833" or "%1" in them for another text.
TEST(EventReportSink, PercentInANameStaysLiteral) {
    const std::string joiner = "\u2060";
    const std::pair<std::string, std::string> rows[] = {
        {"D:\\share\\plain.xlsx", "D:\\share\\plain.xlsx"},
        {"D:\\%%1833.xlsx", "D:\\%" + joiner + "%" + joiner + "1833.xlsx"},
        {"%1 %n 100%", "%" + joiner + "1 %" + joiner + "n 100%" + joiner},
        {"", ""},
    };
    for (const auto& [name, sent] : rows) {
        RecordingReporter reporter;
        EventReportSink sink(reporter, [] { return true; }, nullptr, nullptr);
        sink.Publish({Event(EventKind::Accessed, "", "", "taro", name)});
        ASSERT_EQ(reporter.reports.size(), 1u);
        EXPECT_EQ(reporter.reports[0].Strings, (Strings{"taro", sent})) << name;
    }
}


// The end of the log, told in the event log when no box can be: where the
// waiting lines went, or that they were lost; nothing when none waited.
TEST(EventReportSink, LogExitIsToldAsSavedOrLost) {
    using L = ReportLevel;
    EXPECT_EQ(ReportOf(EventLogExit{}), std::nullopt);
    EXPECT_EQ(ReportOf(EventLogExit{3, "C:\\x\\CorvaneLog.unsaved-20261208-090000.txt", ""}),
              (EventReport{3004, L::Warning, 4, Strings{"3", "C:\\x\\CorvaneLog.unsaved-20261208-090000.txt"}}));
    EXPECT_EQ(ReportOf(EventLogExit{2, "", "open failed\r\n(error 5)"}),
              (EventReport{3005, L::Error, 4, Strings{"2", "open failed  (error 5)"}}));

    RecordingReporter reporter;
    EventReportSink off(reporter, [] { return false; }, nullptr, nullptr);
    off.Tell(*ReportOf(EventLogExit{1, "C:\\100%\\u.txt", ""}));  // told even with the reports off
    EXPECT_EQ(reporter.registrations, 1);
    ASSERT_EQ(reporter.reports.size(), 1u);
    EXPECT_EQ(reporter.reports[0].Strings[1], "C:\\100%\u2060\\u.txt");
}

}  // namespace
}  // namespace corvane
