// The Samba server port driving the real watch scans (with a scripted
// smbstatus/smbcontrol), and corvane-watch's options.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <map>
#include <sstream>

#include "support/Events.h"
#include "support/FakeProfileStore.h"
#include "support/FakeWatchPorts.h"
#include "linux/ChangeSignals.h"
#include "linux/JsonEvents.h"
#include "linux/SambaServer.h"
#include "core/host/HeadlessWatch.h"
#include "linux/WatchOptions.h"

namespace corvane::samba {
namespace {

std::string Fixture(const std::string& name) {
    std::ifstream in(std::string(CORVANE_SMBSTATUS_FIXTURES) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

ProcessResult Printed(const std::string& out) {
    ProcessResult r;
    r.Started = true;
    r.ExitStatus = 0;
    r.Out = out;
    return r;
}

ProcessResult Failed(int status, const std::string& err) {
    ProcessResult r;
    r.Started = true;
    r.ExitStatus = status;
    r.Err = err;
    return r;
}

// Answers each program with its queued results, the last one repeating.
struct ScriptedRunner : IProcessRunner {
    std::map<std::string, std::deque<ProcessResult>> answers;
    std::vector<std::string> calls;  // argv joined by spaces
    ProcessResult Run(const std::vector<std::string>& argv, std::chrono::milliseconds) override {
        std::string call;
        for (const auto& a : argv) call += (call.empty() ? "" : " ") + a;
        calls.push_back(call);
        auto& queue = answers[argv.at(0)];
        if (queue.empty()) return Failed(127, "no answer scripted");
        ProcessResult r = queue.front();
        if (queue.size() > 1) queue.pop_front();
        return r;
    }
};

struct SambaWatch : ::testing::Test {
    ScriptedRunner runner;
    text::SimpleCollation collation;
    SambaServer server{runner, SambaTools{"smbstatus", "smbcontrol", std::chrono::seconds(1)}, collation,
                       [] { return std::int64_t{0}; }};
    Settings settings;
    test::FakeResolver resolver;  // this computer: 192.168.0.1, and its name does not resolve
    test::FakeLog log;
    test::FakeClock clock;
    test::FakeNotifier notifier;
    std::unique_ptr<HeadlessWatch> watch;

    void SetUp() override {
        settings.IgnoreLocalConnection = false;  // the recording comes from 127.0.0.1
        settings.PopupNotifyWindow = true;
        watch = std::make_unique<HeadlessWatch>(WatchParts{settings, server, resolver, log, clock, notifier});
    }
    void Answer(std::initializer_list<ProcessResult> results) { runner.answers["smbstatus"] = results; }
};

TEST_F(SambaWatch, ListingsBecomeEventsAndAFailedListingInventsNone) {
    Answer({Printed(Fixture("samba-4.17-two-clients.json")), Failed(1, "smbstatus: cannot open locking.tdb"),
            Printed("<html>proxy error</html>"), Printed(Fixture("samba-4.17-empty.json"))});
    watch->Pass();
    const std::vector<std::string> first = {
        "接続検出,127.0.0.1,127.0.0.1,nobody",
        "アクセス検出,nobody,/tmp/smbx/share/見積, 最終 😀.txt",
        "アクセス検出,nobody,/tmp/smbx/share/報告書.txt",
        "アクセス検出,nobody,/tmp/smbx/share/hello.txt",
    };
    EXPECT_EQ(log.lines, first);
    EXPECT_EQ(runner.calls, std::vector<std::string>{"smbstatus --json -B"});  // one listing serves both scans
    ASSERT_EQ(notifier.balloons.size(), 1u);
    EXPECT_EQ(notifier.balloons[0].text, "127.0.0.1 (nobody)");

    watch->Pass();
    EXPECT_EQ(server.ListingError(), "smbstatus: exit status 1: smbstatus: cannot open locking.tdb");
    watch->Pass();
    EXPECT_NE(server.ListingError().find("no valid JSON"), std::string::npos) << server.ListingError();
    EXPECT_EQ(log.lines, first);
    EXPECT_EQ(watch->Sessions().size(), 1u);
    EXPECT_EQ(watch->Resources().size(), 3u);
    EXPECT_EQ(runner.calls.size(), 3u);

    watch->Pass();
    EXPECT_EQ(server.ListingError(), "");
    ASSERT_FALSE(log.lines.empty());
    EXPECT_EQ(log.lines.back(), "切断検出,127.0.0.1,127.0.0.1,nobody");
    EXPECT_TRUE(watch->Resources().empty());
}

TEST_F(SambaWatch, ConnectedTimeLimitEndsEveryProcessOfTheClientAndTellsAFailureOnce) {
    settings.DisconnectConnTime = 3;  // the recording shows 4 s
    settings.IgnoreSharedResource = true;
    Answer({Printed(Fixture("samba-4.17-two-clients.json"))});
    runner.answers["smbcontrol"] = {Printed(""), Failed(1, "")};
    watch->Pass();
    EXPECT_EQ(std::vector<std::string>(runner.calls.begin() + 1, runner.calls.end()),
              (std::vector<std::string>{"smbcontrol 26139 shutdown", "smbcontrol 26140 shutdown"}));
    EXPECT_EQ(server.TakeDisconnectFailures(),
              (std::vector<DisconnectFailure>{
                  {"127.0.0.1", "nobody", "smbcontrol 26140 shutdown: exit status 1", "127.0.0.1"}}));
    // Still connected: no end is logged, and the next pass asks again without telling again.
    EXPECT_EQ(log.lines, std::vector<std::string>{"接続検出,127.0.0.1,127.0.0.1,nobody"});
    watch->Pass();
    EXPECT_EQ(runner.calls.size(), 6u);
    EXPECT_TRUE(server.TakeDisconnectFailures().empty());
    EXPECT_EQ(log.lines.size(), 1u);

    runner.answers["smbcontrol"] = {Printed("")};
    watch->Pass();
    EXPECT_EQ(log.lines.back(), "接続時間による自動切断,127.0.0.1,127.0.0.1,nobody");
    EXPECT_TRUE(watch->Sessions().empty());
}

TEST_F(SambaWatch, AProcessThatAlsoServesAnotherUserIsNeverShutDown) {
    settings.IgnoreLocalConnection = true;
    settings.DisconnectConnTime = 1000;  // jiro: 3000 s, in processes 5100 and 5200; saburo: 60 s, in 5100
    settings.IgnoreSharedResource = true;
    Answer({Printed(Fixture("samba-4.20-style.json"))});
    for (int pass = 0; pass < 3; ++pass) watch->Pass();
    EXPECT_EQ(runner.calls, std::vector<std::string>(3, "smbstatus --json -B"));  // no smbcontrol at all
    EXPECT_EQ(server.TakeDisconnectFailures(),
              (std::vector<DisconnectFailure>{{"10.0.0.7", "SAMDOM\\jiro",
                                               "smbd process 5100 also serves SAMDOM\\saburo (10.0.0.7); Samba can "
                                               "end only whole processes, so it stays connected",
                                               "10.0.0.7"}}));
    EXPECT_EQ(log.lines, (std::vector<std::string>{"接続検出,10.0.0.7,10.0.0.7,SAMDOM\\jiro",
                                                   "接続検出,10.0.0.7,10.0.0.7,SAMDOM\\saburo"}));
    ASSERT_EQ(watch->Sessions().size(), 2u);
    EXPECT_NE(server.SharedProcess(watch->Sessions()[0]), "");
}

TEST_F(SambaWatch, OneComputerNameFromTwoAddressesIsTwoClientsEachWithItsOwnAddress) {
    settings.IgnoreLocalConnection = true;
    settings.DisconnectConnTime = 3000;  // only the first PC01 (3600 s)
    Answer({Printed(Fixture("samba-4.17-borrowed-names.json"))});
    runner.answers["smbcontrol"] = {Printed("")};
    watch->Pass();
    EXPECT_EQ(log.lines, (std::vector<std::string>{
                             "接続検出,PC01,192.168.10.21,taro", "接続検出,pc01,192.168.10.99,taro",
                             "接続検出,NAS,192.168.10.77,hanako",  // the local NAS session hides nobody
                             "接続時間による自動切断,PC01,192.168.10.21,taro"}));
    EXPECT_EQ(runner.calls.back(), "smbcontrol 6001 shutdown");
    EXPECT_EQ(runner.calls.size(), 2u);
}

TEST_F(SambaWatch, EndingASessionWithNoKnownProcessIsAFailureNotASilence) {
    server.SessionDel("\\\\GONE", "user");
    EXPECT_EQ(server.TakeDisconnectFailures(),
              (std::vector<DisconnectFailure>{{"GONE", "user", "no smbd process is known for this session"}}));
    EXPECT_TRUE(runner.calls.empty());
}

// When a full listing is asked for: each step is (time in ms, what the
// signals read, whether a listing is due; a due listing is taken at once).
TEST(ListingScheduleTest, ListsOnlyWhenSambaSaysItsStateMayHaveChanged) {
    using std::chrono::milliseconds;
    const SignalReading quiet{7, "100\n200\n"}, fileOpened{8, "100\n200\n"}, clientCame{8, "100\n200\n300\n"},
        unreadable{std::nullopt, "100\n200\n300\n"};
    const struct Step {
        int at;
        SignalReading read;
        bool due;
    } steps[] = {
        {0, quiet, true},           // the first look
        {250, quiet, false},        {5000, quiet, false},
        {5250, fileOpened, true},   // an open or close moved the sequence number
        {5500, fileOpened, false},
        {6000, clientCame, true},   // a process came: now, then twice more shortly after
        {6250, clientCame, false},  {6500, clientCame, true}, {6750, clientCame, false},
        {7500, clientCame, true},   {7750, clientCame, false}, {22000, clientCame, false},
        {22500, clientCame, true},  // nothing moved for 15 s
        {23000, unreadable, false}, // a signal lost: plain polling every second
        {23500, unreadable, true},  {24000, unreadable, false}, {24500, unreadable, true},
    };
    ListingSchedule schedule(true, std::chrono::seconds(1));
    const ListingSchedule::Clock::time_point start;
    for (const Step& step : steps) {
        const auto now = start + milliseconds(step.at);
        EXPECT_EQ(schedule.Due(now, step.read), step.due) << "at " << step.at << " ms";
        if (step.due) schedule.Listed(now, step.read, std::nullopt);
    }

    // Open files unwatched: their signal neither starts a listing nor is needed.
    ListingSchedule sessionsOnly(false, std::chrono::seconds(1));
    ASSERT_TRUE(sessionsOnly.Due(start, quiet));
    sessionsOnly.Listed(start, quiet, std::chrono::seconds(3));  // a session reaches the limit in 3 s
    EXPECT_FALSE(sessionsOnly.Due(start + milliseconds(1000), SignalReading{std::nullopt, quiet.Processes}));
    EXPECT_FALSE(sessionsOnly.Due(start + milliseconds(2750), quiet));
    EXPECT_TRUE(sessionsOnly.Due(start + milliseconds(3000), quiet));
}

TEST(JsonEventsTest, OneObjectPerLineWithTheFieldsOfItsKind) {
    const LocalTime at{2025, 6, 30, 12, 0, 5, 540};
    const auto event = [&](EventKind kind, std::string computer, std::string address, std::string user,
                           std::string path, std::string detail = {}, std::uint64_t count = 0) {
        return test::MakeEvent(kind, std::move(computer), std::move(address), std::move(user), std::move(path),
                               std::move(detail), count, at);
    };
    const std::pair<WatchEvent, std::string> cases[] = {
        {event(EventKind::Connected, "PC01", "192.168.1.5", "taro", ""),
         R"({"time":"2025-06-30T12:00:05+09:00","kind":"connect","word":"接続検出","server":"nas1",)"
         R"("computer":"PC01","address":"192.168.1.5","user":"taro","path":""})"},
        {event(EventKind::Accessed, "", "", "hanako", "/srv/経理/a\"b\nc.xlsx"),
         R"({"time":"2025-06-30T12:00:05+09:00","kind":"access","word":"アクセス検出","server":"nas1",)"
         R"("computer":"","address":"","user":"hanako","path":"/srv/経理/a\"b\nc.xlsx"})"},
        {event(EventKind::DisconnectFailed, "PC\xff", "10.0.0.7", "jiro", "", "shared"),
         R"({"time":"2025-06-30T12:00:05+09:00","kind":"disconnect-failed","word":"切断失敗","server":"nas1",)"
         "\"computer\":\"PC\xef\xbf\xbd\",\"address\":\"10.0.0.7\",\"user\":\"jiro\",\"path\":\"\",\"detail\":\"shared\"}"},
        {event(EventKind::EventsLost, "", "", "", "", "", 3),
         R"({"time":"2025-06-30T12:00:05+09:00","kind":"events-lost","word":"ログ欠落","server":"nas1",)"
         R"("computer":"","address":"","user":"","path":"","count":3})"},
    };
    std::ostringstream out;
    JsonLinesSink sink(out, "nas1");
    std::vector<WatchEvent> events;
    std::string expected;
    for (const auto& [e, line] : cases) {
        EXPECT_EQ(JsonLine(e, "nas1"), line);
        events.push_back(e);
        expected += line + "\n";
    }
    sink.Publish(events);
    EXPECT_EQ(out.str(), expected);
}

TEST(WatchOptionsTest, CommandLine) {
    const struct {
        std::vector<std::string> args;
        std::string error;  // part of the error, or empty
        std::function<bool(const WatchOptions&)> check;
    } cases[] = {
        {{}, "", [](const WatchOptions& o) {
             return o.LogPath == "CorvaneLog.txt" && o.Encoding == LogEncoding::Utf8 && !o.Once &&
                    o.Smbstatus == "smbstatus" && o.Interval == std::chrono::seconds(1) && !o.MaxLogSize;
         }},
        {{"--log", "/var/log/x.txt", "--log-encoding=cp932", "--once", "--max-log-size", "0x1000",
          "--disconnect-conn-time=3600", "--ignore-shared-resource", "--smbstatus", "/opt/s", "--smbcontrol=/opt/c",
          "--interval", "0.25", "--timeout", "3", "--config", "/etc/c.ini", "--notify-send"},
         "", [](const WatchOptions& o) {
             return o.LogPath == "/var/log/x.txt" && o.Encoding == LogEncoding::Cp932 && o.Once &&
                    o.MaxLogSize == 4096 && o.DisconnectConnTime == 3600 && o.IgnoreSharedResource == true &&
                    o.Smbstatus == "/opt/s" && o.Smbcontrol == "/opt/c" &&
                    o.Interval == std::chrono::milliseconds(250) && o.Timeout == std::chrono::seconds(3) &&
                    o.ConfigPath == "/etc/c.ini" && o.NotifySend == "notify-send";
         }},
        {{"--log"}, "--log needs a value", nullptr},
        {{"--log-encoding", "latin1"}, "utf-8 or cp932", nullptr},
        {{"--max-log-size", "1MB"}, "not a 32-bit integer", nullptr},
        {{"--disconnect-conn-time", "99999999999"}, "not a 32-bit integer", nullptr},
        {{"--interval", "0"}, "above 0", nullptr},
        {{"--timeout", "fast"}, "above 0", nullptr},
        {{"--idle"}, "unknown option: --idle", nullptr},
        {{"--poll", "--lock-directory", "/var/run/samba"}, "", [](const WatchOptions& o) {
             return o.Poll && o.LockDirectory == "/var/run/samba";
         }},
        {{"--lock-directory="}, "--lock-directory needs a folder", nullptr},
        {{"--stdout-format", "json"}, "", [](const WatchOptions& o) { return o.JsonEvents; }},
        {{"--stdout-format=xml"}, "text or json, not xml", nullptr},
    };
    for (const auto& c : cases) {
        const ParsedOptions parsed = ParseCommandLine(c.args);
        if (c.error.empty()) {
            EXPECT_EQ(parsed.Error, "");
            EXPECT_TRUE(c.check(parsed.Options)) << (c.args.empty() ? "(none)" : c.args[0]);
        } else {
            EXPECT_NE(parsed.Error.find(c.error), std::string::npos) << parsed.Error;
        }
    }
}

TEST(WatchOptionsTest, FlagsWinOverTheSettingsFileAndAnIdleLimitIsRefused) {
    test::FakeProfileStore ini;
    ini.Set("Environment", "IsSecond", "1");
    ini.Set("Environment", "DisconnectConnTime", "600");
    ini.Set("Environment", "MaxLogSize", "5000");
    ini.Set("Environment", "IgnoreLocalConnection", "0");

    Settings settings;
    WatchOptions options;
    options.MaxLogSize = 7000;
    EXPECT_EQ(ResolveSettings(options, ini, settings), "");
    EXPECT_EQ(settings.DisconnectConnTime, 600);
    EXPECT_EQ(settings.MaxLogSize, 7000);
    EXPECT_FALSE(settings.IgnoreLocalConnection);
    EXPECT_TRUE(settings.PopupNotifyWindow);  // a key the file lacks keeps its default

    ini.Set("Environment", "DisconnectIdleTime", "300");
    Settings refused;
    const std::string error = ResolveSettings(WatchOptions{}, ini, refused);
    EXPECT_NE(error.find("Samba reports no idle time"), std::string::npos) << error;
    EXPECT_NE(error.find("DisconnectIdleTime in " + ini.path), std::string::npos) << error;

    options.DisconnectIdleTime = 0;  // the flag may switch the file's limit off
    EXPECT_EQ(ResolveSettings(options, ini, refused), "");
    options.DisconnectIdleTime = 1;
    EXPECT_NE(ResolveSettings(options, ini, refused).find("--disconnect-idle-time"), std::string::npos);
}

}  // namespace
}  // namespace corvane::samba
