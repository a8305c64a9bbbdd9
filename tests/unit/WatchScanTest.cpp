// The session and resource scans, driven through fakes of every port.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

#include "core/events/EventLog.h"
#include "core/watch/PassWait.h"

#include "core/watch/WatchThread.h"
#include "support/FakeLogFs.h"
#include "support/FakeWatchPorts.h"

namespace corvane::test {
namespace {

using ::testing::ElementsAre;

class ScanTest : public ::testing::Test, protected WatchFixture {
protected:
    ScanTest() {
        owner.settings.PopupNotifyWindow = true;
        owner.settings.PopupNotifyWindowByTray = true;
        owner.settings.NotifyConnectSessionBySound = true;
        owner.settings.SoundFileNameConnectSession = "connect.wav";
        owner.settings.IgnoreLocalConnection = true;
        owner.settings.IgnoreAutoRefresh = false;
        resolver.hosts["PC01"] = {"10.0.0.1"};
        resolver.hosts["PC02"] = {"10.0.0.2"};
        resolver.hosts["PC03"] = {"10.0.0.3"};
        resolver.hosts["SERVER"] = {"192.168.0.1"};
        resolver.hosts["localhost"] = {"127.0.0.1"};
    }

    static SessionRecord S(std::string pc, std::string user, std::uint32_t opens = 1, std::uint32_t time = 10,
                           std::uint32_t idle = 5) {
        return {std::move(pc), std::move(user), opens, time, idle};
    }
    // One pass: both scans as the watch thread hands them over.
    void Pass() { thread.Pass(); }
};

TEST_F(ScanTest, FirstPassLogsEverySessionAndNotifiesOnce) {
    server.sessions = {S("PC01", "Taro"), S("PC02", "Hanako"), S("PC03", "Jiro")};
    Pass();
    EXPECT_THAT(log.lines, ElementsAre("接続検出,PC01,10.0.0.1,Taro", "接続検出,PC02,10.0.0.2,Hanako",
                                       "接続検出,PC03,10.0.0.3,Jiro"));
    const std::string lines = "PC01 (Taro)\r\nPC02 (Hanako)\r\nPC03 (Jiro)";
    ASSERT_EQ(notifier.balloons.size(), 1u);
    EXPECT_EQ(notifier.balloons[0].title, "共有リソースへの接続を検出しました。");
    EXPECT_EQ(notifier.balloons[0].text, lines);
    EXPECT_EQ(notifier.balloons[0].timeout, 1000);
    EXPECT_EQ(notifier.balloons[0].icon, TBalloonIconType::bitInfo);
    EXPECT_THAT(notifier.tips, ElementsAre("Corvane\r\n" + lines));
    EXPECT_THAT(notifier.sounds, ElementsAre("connect.wav"));
    EXPECT_THAT(notifier.animations, ElementsAre(500));

    // The same sessions again: nothing new, nothing announced, tip kept.
    log.lines.clear();
    Pass();
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(notifier.balloons.size(), 1u);
    EXPECT_EQ(notifier.tips.size(), 1u);
}

TEST_F(ScanTest, IdentityIsComputerAndUserIgnoringCase) {
    // Listed twice in one enumeration, and once more in other letter case.
    server.sessions = {S("PC01", "Taro", 1), S("PC01", "Taro", 2), S("pc01", "TARO", 3), S("PC01", "Hanako")};
    Pass();
    ASSERT_EQ(thread.Sessions().size(), 2u);
    EXPECT_EQ(thread.Sessions()[0].OpenCount, 3u);  // numbers of the record listed last
    EXPECT_EQ(thread.Sessions()[0].UserName, "Taro");
    EXPECT_THAT(log.lines, ElementsAre("接続検出,PC01,10.0.0.1,Taro", "接続検出,PC01,10.0.0.1,Hanako"));
    EXPECT_THAT(views.calls,
                ElementsAre("add PC01/Taro", "update PC01/Taro", "update PC01/Taro", "add PC01/Hanako"));
}

TEST_F(ScanTest, EmptyUserNameStopsTheWalk) {
    server.sessions = {S("PC01", "Taro"), S("PC02", "Hanako"), S("PC03", "Jiro")};
    Pass();
    log.lines.clear();
    server.sessions = {S("PC01", "Taro"), S("PC02", "Hanako"), S("PC09", ""), S("PC03", "Jiro"),
                       S("PC04", "New")};
    Pass();
    // PC03 after the empty name is not marked, so it vanishes; PC04 is never seen.
    EXPECT_THAT(log.lines, ElementsAre("切断検出,PC03,10.0.0.3,Jiro"));
    ASSERT_EQ(thread.Sessions().size(), 2u);
}

TEST_F(ScanTest, VanishedSessionsAreLoggedAndRemovedLastFirst) {
    server.sessions = {S("PC01", "Taro"), S("PC02", "Hanako"), S("PC03", "Jiro")};
    Pass();
    log.lines.clear();
    views.calls.clear();
    server.sessions = {S("PC02", "Hanako")};
    Pass();
    EXPECT_THAT(log.lines, ElementsAre("切断検出,PC03,10.0.0.3,Jiro", "切断検出,PC01,10.0.0.1,Taro"));
    EXPECT_THAT(views.calls, ElementsAre("update PC02/Hanako", "remove PC03/Jiro", "remove PC01/Taro"));
    EXPECT_TRUE(notifier.balloons.size() == 1u);  // vanishing announces nothing
}

TEST_F(ScanTest, LimitsEndSessionsStrictlyOverAndOnlyOnce) {
    owner.settings.DisconnectConnTime = 100;
    owner.settings.DisconnectIdleTime = 50;
    server.sessions = {S("PC01", "AtLimit", 1, 100, 50), S("PC02", "OverConn", 1, 101, 0),
                       S("PC03", "OverIdle", 1, 0, 51), S("PC01", "OverBoth", 1, 500, 500)};
    Pass();
    EXPECT_THAT(server.deleted, ElementsAre(std::pair<std::string, std::string>("\\\\PC01", "OverBoth"),
                                            std::pair<std::string, std::string>("\\\\PC02", "OverConn"),
                                            std::pair<std::string, std::string>("\\\\PC03", "OverIdle")));
    ASSERT_EQ(thread.Sessions().size(), 1u);
    EXPECT_EQ(thread.Sessions()[0].UserName, "AtLimit");
    EXPECT_EQ(log.lines[4], "接続時間による自動切断,PC01,10.0.0.1,OverBoth");
    EXPECT_EQ(log.lines[5], "接続時間による自動切断,PC02,10.0.0.2,OverConn");
    EXPECT_EQ(log.lines[6], "アイドル時間による自動切断,PC03,10.0.0.3,OverIdle");
    EXPECT_EQ(log.lines.size(), 7u);
}

TEST_F(ScanTest, ASessionTheServerKeepsStaysTrackedWithoutAnEndLine) {
    owner.settings.DisconnectConnTime = 100;
    server.sessions = {S("PC01", "Taro", 1, 200)};
    server.keepSessions = true;
    Pass();
    Pass();
    EXPECT_THAT(log.lines, ElementsAre("接続検出,PC01,10.0.0.1,Taro"));  // no end told, no new connection
    EXPECT_EQ(server.deleted.size(), 2u);                                  // asked again by the next pass
    EXPECT_EQ(thread.Sessions().size(), 1u);

    server.keepSessions = false;
    Pass();
    EXPECT_EQ(log.lines.back(), "接続時間による自動切断,PC01,10.0.0.1,Taro");
    EXPECT_TRUE(thread.Sessions().empty());
}

TEST_F(ScanTest, RecordedAddressesTellClientsApartWithoutALookup) {
    owner.settings.IgnoreLocalConnection = true;
    const auto at = [](SessionRecord r, std::string address) {
        r.ClientAddress = std::move(address);
        return r;
    };
    // PC01 is also what the resolver knows, with another address: the recorded one counts.
    server.sessions = {at(S("PC01", "Taro"), "10.0.0.9"), at(S("PC01", "Taro"), "10.0.0.10"),
                       at(S("PC02", "Hanako"), "::ffff:10.0.0.22"), at(S("PC03", "Jiro"), "2001:db8::3"),
                       at(S("SERVER", "Me"), "10.0.0.30"),       // the server's own name from elsewhere
                       at(S("PC04", "Local"), "127.0.0.1"), S("PC02", "Saburo")};
    Pass();
    EXPECT_THAT(log.lines, ElementsAre("接続検出,PC01,10.0.0.9,Taro", "接続検出,PC01,10.0.0.10,Taro",
                                       "接続検出,PC02,10.0.0.22,Hanako", "接続検出,PC03,2001:db8::3,Jiro",
                                       "接続検出,SERVER,10.0.0.30,Me", "接続検出,PC02,10.0.0.2,Saburo"));
    // The session without a recorded address, and this computer's own name.
    EXPECT_EQ(resolver.lookups.load(), 2);

    server.sessions.erase(server.sessions.begin());
    log.lines.clear();
    Pass();
    EXPECT_THAT(log.lines, ElementsAre("切断検出,PC01,10.0.0.9,Taro"));
}

TEST_F(ScanTest, ZeroAndNegativeLimitsNeverEndASession) {
    for (int limit : {0, -1, -100}) {
        owner.settings.DisconnectConnTime = limit;
        owner.settings.DisconnectIdleTime = limit;
        server.sessions = {S("PC01", "Taro", 1, 4000000000u, 4000000000u)};
        Pass();
        EXPECT_TRUE(server.deleted.empty()) << limit;
        EXPECT_EQ(thread.Sessions().size(), 1u) << limit;
    }
}

TEST_F(ScanTest, LocalSessionsAreIgnoredOnlyWhenAskedTo) {
    server.sessions = {S("SERVER", "Me"), S("localhost", "Loop"), S("PC01", "Taro")};
    Pass();
    EXPECT_THAT(log.lines, ElementsAre("接続検出,PC01,10.0.0.1,Taro"));
    EXPECT_EQ(notifier.balloons.at(0).text, "PC01 (Taro)");

    owner.settings.IgnoreLocalConnection = false;
    log.lines.clear();
    Pass();
    EXPECT_THAT(log.lines, ElementsAre("接続検出,SERVER,192.168.0.1,Me", "接続検出,localhost,127.0.0.1,Loop"));
}

TEST_F(ScanTest, UnresolvableNamesCountAsLocalWhenOwnNameDoesNotResolve) {
    resolver.localName = "NOWHERE";
    server.sessions = {S("GHOST", "Boo"), S("PC01", "Taro")};
    Pass();
    EXPECT_THAT(log.lines, ElementsAre("接続検出,PC01,10.0.0.1,Taro"));

    owner.settings.IgnoreLocalConnection = false;
    log.lines.clear();
    Pass();
    EXPECT_THAT(log.lines, ElementsAre("接続検出,GHOST,(N/A),Boo"));
}

TEST_F(ScanTest, FailedEnumerationKeepsEverythingAndLogsNothing) {
    server.sessions = {S("PC01", "Taro")};
    server.files = {{1, 1, 0, "C:\\share\\a.txt", "Taro"}};
    Pass();
    log.lines.clear();
    views.calls.clear();
    server.sessionStatus = 53;
    server.fileStatus = 234;  // more data counts as a failure too
    server.sessions.clear();
    server.files.clear();
    Pass();
    EXPECT_TRUE(log.lines.empty());
    EXPECT_TRUE(views.calls.empty());
    EXPECT_EQ(thread.Sessions().size(), 1u);
    EXPECT_EQ(thread.Resources().size(), 1u);
}

TEST_F(ScanTest, ManualRefreshModeChangesViewsOnlyAfterARequest) {
    owner.settings.IgnoreAutoRefresh = true;
    server.sessions = {S("PC01", "Taro")};
    server.files = {{1, 1, 0, "C:\\share\\a.txt", "Taro"}};
    Pass();
    EXPECT_TRUE(views.calls.empty());
    EXPECT_EQ(log.lines.size(), 2u);  // tracking and logging go on

    owner.refreshRequested = true;
    Pass();
    EXPECT_THAT(views.calls, ElementsAre("clear sessions", "update PC01/Taro", "clear resources",
                                         "add Taro:C:\\share\\a.txt"));
    EXPECT_FALSE(owner.refreshRequested);

    views.calls.clear();
    server.sessions.clear();
    Pass();
    EXPECT_TRUE(views.calls.empty());
}

TEST_F(ScanTest, AutomaticRefreshModeFollowsEveryPassAndClearsRequests) {
    server.sessions = {S("PC01", "Taro")};
    Pass();
    owner.refreshRequested = true;
    views.calls.clear();
    Pass();
    EXPECT_THAT(views.calls, ElementsAre("update PC01/Taro"));  // no clearing
    EXPECT_FALSE(owner.refreshRequested);
}

// A log that cannot be written holds the pass's lines: the pass still
// announces, notices what went away, ends the session over its limit and
// scans the files, and the lines reach the log in order, with the times of
// their events, at the first pass that can write it.
TEST_F(ScanTest, LogThatCannotBeWrittenStopsNothingAndLosesNothing) {
    FakeLogFs fs;
    EventLog eventLog{fs, clock, "CorvaneLog.txt", [] { return 1048576; }, LogEncoding::Utf8};
    TWatchThread t{WatchContext{owner, server, resolver, views, eventLog, clock, notifier, runner, wait, collation}};
    owner.settings.DisconnectConnTime = 60;
    server.sessions = {S("PC01", "Taro", 1, 50), S("PC03", "Jiro")};
    server.files = {{1, 1, 0, "C:\\share\\a.txt", "Taro"}};
    fs.failures = {{"append", 5}};
    t.Pass();
    clock.now.second = 30;
    server.sessions = {S("PC01", "Taro", 1, 61), S("PC02", "Hanako")};
    server.files.push_back({2, 1, 0, "C:\\share\\b.txt", "Hanako"});
    t.Pass();

    EXPECT_THAT(server.deleted, ElementsAre(std::make_pair(std::string("\\\\PC01"), std::string("Taro"))));
    ASSERT_EQ(notifier.balloons.size(), 2u);
    EXPECT_EQ(notifier.balloons[1].text, "PC02 (Hanako)");
    EXPECT_EQ(server.fileEnums, 2);
    EXPECT_EQ(t.Resources().size(), 2u);
    EXPECT_EQ(eventLog.State(), (EventLogState{5, "CorvaneLog.txt: open failed (error 5)", 7, 0}));
    EXPECT_EQ(fs.files.count("CorvaneLog.txt"), 0u);

    fs.failures.clear();
    clock.now.second = 59;
    server.sessions = {S("PC02", "Hanako")};
    t.Pass();
    EXPECT_EQ(fs.files["CorvaneLog.txt"],
              "2006/05/01 09:05:07,接続検出,PC01,10.0.0.1,Taro\r\n"
              "2006/05/01 09:05:07,接続検出,PC03,10.0.0.3,Jiro\r\n"
              "2006/05/01 09:05:07,アクセス検出,Taro,C:\\share\\a.txt\r\n"
              "2006/05/01 09:05:30,接続検出,PC02,10.0.0.2,Hanako\r\n"
              "2006/05/01 09:05:30,切断検出,PC03,10.0.0.3,Jiro\r\n"
              "2006/05/01 09:05:30,接続時間による自動切断,PC01,10.0.0.1,Taro\r\n"
              "2006/05/01 09:05:30,アクセス検出,Hanako,C:\\share\\b.txt\r\n");
    EXPECT_EQ(eventLog.State(), EventLogState{});
    EXPECT_EQ(fs.appends, 1);  // the held lines of two passes went out in one write
}

// A refresh asked for in manual mode while the listing fails keeps the rows
// on screen and stays asked for until a listing works.
TEST_F(ScanTest, RefreshWhileTheListingFailsKeepsTheRowsAndTheRequest) {
    owner.settings.IgnoreAutoRefresh = true;
    server.sessions = {S("PC01", "Taro")};
    owner.refreshRequested = true;
    Pass();
    views.calls.clear();
    server.sessionStatus = 53;
    owner.refreshRequested = true;
    Pass();
    EXPECT_THAT(views.calls, ElementsAre("clear resources"));  // its own listing worked
    views.calls.clear();
    EXPECT_TRUE(owner.refreshRequested);
    server.sessionStatus = 0;
    Pass();
    EXPECT_THAT(views.calls, ElementsAre("clear sessions", "update PC01/Taro", "clear resources"));
    EXPECT_FALSE(owner.refreshRequested);
}

TEST_F(ScanTest, ResourceScanTracksPathAndUser) {
    owner.settings.NotifyResourceAccess = true;
    owner.settings.NotifyResourceAccessBySound = true;
    owner.settings.NotifyResourceAccessByTray = true;
    owner.settings.SoundFileName = "access.wav";
    server.files = {{1, 1, 0, "C:\\share\\a,b.txt", "Taro"},
                    {2, 1, 0, "C:\\share\\a,b.txt", "Hanako"},
                    {3, 3, 2, "c:\\SHARE\\A,B.TXT", "taro"},
                    {4, 1, 0, "C:\\share\\x.doc", "Jiro"}};
    Pass();
    ASSERT_EQ(thread.Resources().size(), 3u);
    EXPECT_EQ(thread.Resources()[0].FileIds, (std::vector<std::uint32_t>{1, 3}));
    EXPECT_EQ(thread.Resources()[0].LockCount, 2u);
    EXPECT_THAT(log.lines, ElementsAre("アクセス検出,Taro,C:\\share\\a,b.txt", "アクセス検出,Hanako,C:\\share\\a,b.txt",
                                       "アクセス検出,Jiro,C:\\share\\x.doc"));
    ASSERT_EQ(notifier.balloons.size(), 1u);
    EXPECT_EQ(notifier.balloons[0].title, "共有リソースへのアクセスを検出しました。");
    EXPECT_EQ(notifier.balloons[0].text,
              "Taro (C:\\share\\a,b.txt)\r\nHanako (C:\\share\\a,b.txt)\r\nJiro (C:\\share\\x.doc)");
    EXPECT_THAT(notifier.sounds, ElementsAre("access.wav"));
    EXPECT_THAT(notifier.animations, ElementsAre(500));
    EXPECT_TRUE(notifier.tips.empty());  // the resource scan leaves the tip alone

    // Closing writes no log line; the row goes.
    log.lines.clear();
    views.calls.clear();
    server.files.erase(server.files.begin() + 1);
    Pass();
    EXPECT_TRUE(log.lines.empty());
    EXPECT_THAT(views.calls, ElementsAre("remove Hanako:C:\\share\\a,b.txt"));
}

TEST_F(ScanTest, FourNewAccessesGiveOneBalloonOfFourLines) {
    owner.settings.NotifyResourceAccess = true;
    for (std::uint32_t i = 0; i < 4; ++i) server.files.push_back({i, 1, 0, "D:\\f" + std::to_string(i), "U"});
    Pass();
    ASSERT_EQ(notifier.balloons.size(), 1u);
    EXPECT_EQ(notifier.balloons[0].text, "U (D:\\f0)\r\nU (D:\\f1)\r\nU (D:\\f2)\r\nU (D:\\f3)");
}

TEST_F(ScanTest, RefreshRebuildsExactlyTheResourcesStillOpen) {
    owner.settings.IgnoreAutoRefresh = true;
    server.files = {{1, 1, 0, "A", "U"}, {2, 1, 0, "B", "U"}};
    Pass();
    owner.refreshRequested = true;
    Pass();
    server.files = {{2, 1, 0, "B", "U"}, {3, 1, 0, "C", "U"}};
    Pass();  // not shown: B stays, A gone, C tracked unseen
    views.calls.clear();
    owner.refreshRequested = true;
    Pass();
    EXPECT_THAT(views.calls, ElementsAre("clear sessions", "clear resources", "add U:B", "add U:C"));
}

// A resource stands for every open of its path and user: it keeps all the
// ids of the last listing, each once, across the slices of a long listing,
// and keeps them while no listing is had.
TEST_F(ScanTest, ResourcesKeepEveryIdOfTheLastListing) {
    struct Step {
        const char* what;
        std::vector<FileRecord> files;
        std::uint32_t status;
        bool ignore;
        std::vector<std::uint32_t> taroIds, hanakoIds;
        bool scanned;
    };
    std::vector<FileRecord> longListing;
    for (std::uint32_t i = 0; i < kScanSlice + 500; ++i) longListing.push_back({1000 + i, 1, 0, "F" + std::to_string(i), "U"});
    longListing[10] = {71, 1, 0, "D:\\a.xlsx", "taro"};
    longListing[kScanSlice + 100] = {73, 1, 0, "D:\\A.XLSX", "Taro"};
    const std::vector<Step> steps = {
        {"two opens, one row", {{71, 1, 0, "D:\\a.xlsx", "taro"}, {5, 1, 0, "D:\\b.doc", "hanako"},
                                {73, 1, 0, "d:\\A.xlsx", "TARO"}}, 0, false, {71, 73}, {5}, true},
        {"ids follow the listing, each once", {{73, 1, 0, "D:\\a.xlsx", "taro"}, {80, 1, 0, "D:\\a.xlsx", "taro"},
                                               {80, 1, 0, "D:\\a.xlsx", "taro"}, {5, 1, 0, "D:\\b.doc", "hanako"}},
         0, false, {73, 80}, {5}, true},
        {"failed listing keeps them", {}, 53, false, {73, 80}, {5}, true},
        {"no scan keeps them", {}, 0, true, {73, 80}, {5}, false},
        {"one open left", {{80, 1, 0, "D:\\a.xlsx", "taro"}}, 0, false, {80}, {}, true},
        {"across slices", longListing, 0, false, {71, 73}, {}, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        server.files = step.files;
        server.fileStatus = step.status;
        owner.settings.IgnoreSharedResource = step.ignore;
        Pass();
        EXPECT_EQ(thread.FileIdsOf("TARO", "d:\\a.XLSX"), step.taroIds);
        EXPECT_EQ(thread.FileIdsOf("hanako", "D:\\b.doc"), step.hanakoIds);
        EXPECT_EQ(thread.FilesScanned(), step.scanned);
    }
    // One "アクセス検出" line per path and user, whatever its opens.
    EXPECT_EQ(std::count_if(log.lines.begin(), log.lines.end(),
                            [](const std::string& l) { return l.find(",taro,D:\\a.xlsx") != std::string::npos; }),
              1);
}

TEST_F(ScanTest, IgnoreSharedResourceSkipsTheResourceScan) {
    owner.settings.IgnoreSharedResource = true;
    Pass();
    EXPECT_EQ(server.fileEnums, 0);
    EXPECT_EQ(server.sessionEnums, 1);
    EXPECT_EQ(runner.calls, 1);
}

TEST_F(ScanTest, NamesChangingCaseBetweenPassesStayOneSession) {
    server.sessions = {S("PC01", "Taro")};
    server.files = {{1, 1, 0, "C:\\Share\\a.txt", "Taro"}};
    Pass();
    log.lines.clear();
    server.sessions = {S("pc01", "TARO")};
    server.files = {{1, 1, 0, "c:\\SHARE\\A.TXT", "taro"}};
    Pass();
    EXPECT_TRUE(log.lines.empty());
    ASSERT_EQ(thread.Sessions().size(), 1u);
    EXPECT_EQ(thread.Sessions()[0].ComputerName, "PC01");  // the name first seen
    EXPECT_EQ(thread.Resources().size(), 1u);
}

TEST_F(ScanTest, ControlCharactersInNamesNeverSplitAnEvent) {
    owner.settings.NotifyResourceAccess = true;
    resolver.hosts["PC\r\n01"] = {"10.0.0.9"};
    server.sessions = {S("PC\r\n01", "Ta\tro\x01")};
    server.files = {{1, 1, 0, "C:\\a\r\n2026/12/08 09:00:00,切断検出,X.txt", "Taro"}};
    Pass();
    EXPECT_THAT(log.lines, ElementsAre("接続検出,PC  01,10.0.0.9,Ta ro ",
                                       "アクセス検出,Taro,C:\\a  2026/12/08 09:00:00,切断検出,X.txt"));
    EXPECT_THAT(notifier.tips, ElementsAre("Corvane\r\nPC  01 (Ta ro )"));
    ASSERT_EQ(notifier.balloons.size(), 2u);
    EXPECT_EQ(notifier.balloons[1].text, "Taro (C:\\a  2026/12/08 09:00:00,切断検出,X.txt)");
    // The identity keeps the names as the server gave them.
    EXPECT_EQ(thread.Sessions().at(0).ComputerName, "PC\r\n01");
}

// A request that comes while a pass is already under way (its views were
// decided without it) is served whole by the next pass: this pass neither
// clears a list it would not fill, nor drops the request.
TEST_F(ScanTest, RefreshRequestedDuringAPassIsServedByTheNext) {
    owner.settings.IgnoreAutoRefresh = true;
    server.sessions = {S("PC01", "Taro")};
    server.files = {{1, 1, 0, "A", "Taro"}};
    struct RequestingRunner : IMainThreadRunner {
        FakeOwner* owner;
        bool first = true;
        void RunOnMainThread(const std::function<void()>& call) override {
            if (first) owner->refreshRequested = true;
            first = false;
            call();
        }
    } requesting;
    requesting.owner = &owner;
    TWatchThread t{WatchContext{owner, server, resolver, views, log, clock, notifier, requesting, wait, collation}};
    t.Pass();
    EXPECT_TRUE(views.calls.empty());
    EXPECT_TRUE(owner.refreshRequested);
    t.Pass();
    EXPECT_THAT(views.calls, ElementsAre("clear sessions", "update PC01/Taro", "clear resources", "add Taro:A"));
    EXPECT_FALSE(owner.refreshRequested);
}

TEST_F(ScanTest, FailedEnumerationsAreToldUntilOnePassWorksAgain) {
    using R = std::pair<std::uint32_t, std::uint32_t>;
    const std::vector<R> passes = {{0, 0}, {5, 0}, {5, 0}, {0, 0}, {0, 0}, {0, 2114}, {0, 0}};
    for (const auto& [sessions, files] : passes) {
        server.sessionStatus = sessions;
        server.fileStatus = files;
        Pass();
    }
    EXPECT_THAT(owner.enumerationResults, ElementsAre(R{5, 0}, R{5, 0}, R{0, 0}, R{0, 2114}, R{0, 0}));
}

TEST_F(ScanTest, WakeAndTerminateEndThePauseBetweenPasses) {
    thread.Wake();
    EXPECT_EQ(wait.wakes, 1);
    thread.Start();
    while (wait.waits < 3) std::this_thread::yield();
    thread.Terminate();
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
    EXPECT_EQ(wait.wakes, 2);
    EXPECT_EQ(runner.calls, server.sessionEnums + server.fileEnums);  // every listing reaches the main thread
}

TEST(PassWait, AWakeEndsTheWaitAtOnceAndOnlyOnce) {
    PassWait pause;
    pause.Wake();  // before anyone waits: the next wait ends at once
    auto early = std::async(std::launch::async, [&] { pause.Wait(std::chrono::hours(1)); });
    ASSERT_EQ(early.wait_for(std::chrono::seconds(10)), std::future_status::ready);

    auto waiting = std::async(std::launch::async, [&] { pause.Wait(std::chrono::hours(1)); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);  // the wake was used up
    pause.Wake();
    EXPECT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

}  // namespace
}  // namespace corvane::test
