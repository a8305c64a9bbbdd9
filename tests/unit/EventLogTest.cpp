#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/FakeClock.h"
#include "support/FakeLogFs.h"
#include "core/app/OpenLogFile.h"
#include "core/events/EventLog.h"
#include "core/text/Text.h"

namespace corvane::test {
namespace {

const std::string kLog = "C:\\Corvane\\CorvaneLog.txt";
const std::string kBak = "C:\\Corvane\\CorvaneLog.txt.bak";
const std::string kStamp = "2006/05/01 09:05:07,";

// An earlier log of `bytes` bytes, ending with its line break.
std::string OldLog(std::size_t bytes) { return std::string(bytes - 2, 'a') + "\r\n"; }

class EventLogTest : public ::testing::Test {
protected:
    FakeLogFs fs;
    FakeClock clock;
    std::int32_t maxLogSize = 1048576;
    EventLog log{fs, clock, kLog, [this] { return maxLogSize; }};
};

TEST_F(EventLogTest, FirstLineCreatesTheLogInCodePage932) {
    log.WriteLogFile("接続検出,PC01,192.168.0.5,user");
    ASSERT_EQ(fs.files.count(kLog), 1u);
    EXPECT_EQ(fs.files[kLog], kStamp + "\x90\xda\x91\xb1\x8c\x9f\x8f\x6f,PC01,192.168.0.5,user\r\n");
    EXPECT_EQ(fs.files.count(kBak), 0u);
    EXPECT_EQ(fs.openHandles, 0);
    EXPECT_EQ(log.BackupPath(), kBak);
}

TEST_F(EventLogTest, StampIsZeroPaddedAndTextIsWrittenUnchanged) {
    clock.now = {2024, 12, 31, 23, 0, 9};
    log.WriteLogFile("アクセス検出,user,C:\\a,b\r\nc");
    clock.now = {2025, 1, 1, 0, 0, 0};
    log.WriteLogFile("");
    EXPECT_EQ(fs.files[kLog],
              "2024/12/31 23:00:09,\x83\x41\x83\x4e\x83\x5a\x83\x58\x8c\x9f\x8f\x6f,user,C:\\a,b\r\nc\r\n"
              "2025/01/01 00:00:00,\r\n");
}

TEST_F(EventLogTest, SizeIsRoundedUpToWholeBlocksBeforeTheLine) {
    const std::string text(40, 'x');  // 60-byte line with its stamp and comma
    fs.files[kLog] = OldLog(1048447);
    log.WriteLogFile(text);
    EXPECT_EQ(fs.files[kLog].size(), 1048447u + 62u);
    EXPECT_EQ(fs.files.count(kBak), 0u);

    fs.files[kLog] = OldLog(1048448);
    log.WriteLogFile(text);
    EXPECT_EQ(fs.files[kLog], kStamp + text + "\r\n");
    EXPECT_EQ(fs.files[kBak], OldLog(1048448));
}

TEST_F(EventLogTest, LimitIsReadOnEveryWrite) {
    fs.files[kLog] = OldLog(200);  // counts as 256 bytes
    maxLogSize = 256 + 30;
    log.WriteLogFile("0123456789");  // L = 30: E equals the limit and fits
    EXPECT_EQ(fs.files.count(kBak), 0u);
    EXPECT_EQ(fs.files[kLog].size(), 232u);
    maxLogSize = 256 + 29;  // still 256 counted, now one byte too many
    log.WriteLogFile("0123456789");
    EXPECT_EQ(fs.files[kBak].size(), 232u);
    EXPECT_EQ(fs.files[kLog], kStamp + "0123456789\r\n");
}

TEST_F(EventLogTest, TinyOrNegativeLimitKeepsNewestLineAndTheOneBefore) {
    for (const std::int32_t limit : {0, -1, -2147483647 - 1}) {
        SCOPED_TRACE(limit);
        fs.files.clear();
        maxLogSize = limit;
        log.WriteLogFile("one");
        EXPECT_EQ(fs.files[kLog], kStamp + "one\r\n");
        EXPECT_EQ(fs.files[kBak], "");  // the empty log just created
        log.WriteLogFile("two");
        log.WriteLogFile("three");
        EXPECT_EQ(fs.files[kLog], kStamp + "three\r\n");
        EXPECT_EQ(fs.files[kBak], kStamp + "two\r\n");
        EXPECT_EQ(fs.files.size(), 2u);
    }
}

TEST_F(EventLogTest, HeldBackupLosesNoLine) {
    maxLogSize = 0;
    fs.files[kBak] = "old backup\r\n";
    fs.heldByOthers[kBak] = true;
    log.WriteLogFile("one");
    log.WriteLogFile("two");
    EXPECT_EQ(fs.files[kLog], kStamp + "one\r\n" + kStamp + "two\r\n");
    EXPECT_EQ(fs.files[kBak], "old backup\r\n");

    fs.heldByOthers[kBak] = false;  // released: the next write rotates again
    log.WriteLogFile("three");
    EXPECT_EQ(fs.files[kBak], kStamp + "one\r\n" + kStamp + "two\r\n");
    EXPECT_EQ(fs.files[kLog], kStamp + "three\r\n");
}

TEST_F(EventLogTest, HeldLogIsNotReplaced) {
    maxLogSize = 0;
    fs.files[kLog] = "earlier\r\n";
    fs.heldByOthers[kLog] = true;
    log.WriteLogFile("one");
    EXPECT_EQ(fs.files[kLog], "earlier\r\n" + kStamp + "one\r\n");
    EXPECT_EQ(fs.files.count(kBak), 0u);
}

TEST_F(EventLogTest, DeletedLogIsCreatedAgain) {
    log.WriteLogFile("one");
    fs.files.erase(kLog);
    log.WriteLogFile("two");
    EXPECT_EQ(fs.files[kLog], kStamp + "two\r\n");
}

TEST_F(EventLogTest, EveryFailedStepKeepsEarlierLinesAndTheNextWriteWorks) {
    struct Row {
        const char* step;
        bool rotating;  // the line passes the limit: delete, move and create run
        bool logExists;
        bool raises;  // a refused delete or move only keeps the old files
        bool holds;   // the line did not reach the file and waits for the next write
    };
    // The steps of a write: the log is opened for appending (created when
    // missing), its size read from that handle, the lines written, flushed
    // and closed; rotating closes it, deletes the backup, moves the log,
    // creates a fresh one and opens that.
    const std::vector<Row> rows = {
        {"size", false, true, true, true},     {"close", false, true, true, false},
        {"append", false, true, true, true},   {"write", false, true, true, true},
        {"flush", false, true, true, false},   {"append", false, false, true, true},
        {"create", true, true, true, true},    {"append", true, true, true, true},
        {"delete", true, true, false, false},  {"move", true, true, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.step) + (row.rotating ? " while rotating" : ""));
        fs.files.clear();
        if (row.logExists) fs.files[kLog] = "earlier\r\n";
        maxLogSize = row.rotating ? 0 : 1048576;
        fs.failures = {{row.step, 5}};
        bool raised = false;
        try {
            log.WriteLogFile("line");
        } catch (const LogIoError& e) {
            raised = true;
            EXPECT_EQ(e.Code(), 5);
        }
        EXPECT_EQ(raised, row.raises);
        EXPECT_EQ(fs.openHandles, 0);
        bool taken = false;  // the owner could re-lock a recursive mutex: ask another thread
        std::thread other([&] {
            taken = log.Lock().try_lock();
            if (taken) log.Lock().unlock();
        });
        other.join();
        EXPECT_TRUE(taken);
        const std::string kept = fs.files[kLog] + fs.files[kBak];
        if (row.logExists) {
            EXPECT_NE(kept.find("earlier\r\n"), std::string::npos) << kept;
        }

        EXPECT_EQ(log.State().Held, row.holds ? 1u : 0u);

        fs.failures.clear();
        maxLogSize = 1048576;
        const std::string before = fs.files[kLog];
        log.WriteLogFile("next");
        EXPECT_EQ(fs.files[kLog], before + (row.holds ? kStamp + "line\r\n" : "") + kStamp + "next\r\n");
    }
}

TEST_F(EventLogTest, FailedRecreationAfterRotationIsRaised) {
    fs.files[kLog] = "x\r\n";
    maxLogSize = 0;
    fs.failures = {{"create", 82}};
    try {
        log.WriteLogFile("line");
        FAIL() << "no error";
    } catch (const LogIoError& e) {
        EXPECT_EQ(e.Code(), 82);
    }
    EXPECT_EQ(fs.files[kBak], "x\r\n");
    EXPECT_EQ(fs.openHandles, 0);
}

TEST_F(EventLogTest, LockIsReentrant) {
    std::lock_guard<std::recursive_mutex> held(log.Lock());
    log.WriteLogFile("inside");
    EXPECT_EQ(fs.files[kLog], kStamp + "inside\r\n");
}

TEST_F(EventLogTest, Utf8LogKeepsEveryCharacterAndCountsItsOwnBytes) {
    EventLog utf8{fs, clock, kLog, [this] { return maxLogSize; }, LogEncoding::Utf8};
    utf8.WriteLogFile("接続検出,PC01,(N/A),ユーザー😀");
    EXPECT_EQ(fs.files[kLog], kStamp + "接続検出,PC01,(N/A),ユーザー😀\r\n");

    // "接続検出" is 12 bytes in UTF-8 but 8 in code page 932: a limit that the
    // shorter form would meet rotates the UTF-8 log.
    fs.files[kLog] = OldLog(100);  // counts as 128 bytes
    maxLogSize = 128 + 20 + 8;
    utf8.WriteLogFile("接続検出");
    EXPECT_EQ(fs.files[kBak], OldLog(100));
    EXPECT_EQ(fs.files[kLog], kStamp + "接続検出\r\n");
}

std::vector<WatchEvent> Accesses(std::size_t count, std::size_t pathBytes = 1) {
    std::vector<WatchEvent> events(count);
    for (std::size_t i = 0; i < count; ++i) {
        events[i].Kind = EventKind::Accessed;
        events[i].Time = FakeClock{}.now;
        events[i].UserName = "u" + std::to_string(i);
        events[i].PathName = std::string(pathBytes, 'p');
    }
    return events;
}

// While the log cannot be written its lines wait in memory, oldest first, up
// to the bound; what did not fit is counted and told in one line after them.
// The first write that works puts them all out before newer lines; at exit
// they go to a file of their own.
TEST_F(EventLogTest, HeldLinesAreWrittenFirstAndWhatDidNotFitIsCounted) {
    struct Row {
        const char* name;
        std::size_t events, pathBytes;
        std::size_t held;
        std::uint64_t dropped;
    };
    const std::vector<Row> rows = {
        {"a few", 3, 1, 3, 0},
        {"more lines than the bound", EventLog::kMaxHeldLines + 5, 1, EventLog::kMaxHeldLines, 5},
        {"more bytes than the bound", 3, 3u << 20, 1, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (const bool atExit : {false, true}) {
            FakeLogFs files;
            EventLog held{files, clock, kLog, [] { return 1 << 30; }};
            files.failures = {{"append", 112}};
            held.Publish(Accesses(row.events, row.pathBytes));
            held.Publish({});
            EXPECT_EQ(held.State().Held, row.held);
            EXPECT_EQ(held.State().Dropped, row.dropped);
            EXPECT_EQ(held.State().Code, 112u);

            std::string expected;
            for (const WatchEvent& e : Accesses(row.held, row.pathBytes))
                expected += kStamp + text::Utf8ToCp932(LogText(e)) + "\r\n";
            if (row.dropped)
                expected += kStamp + text::Utf8ToCp932("ログ欠落," + std::to_string(row.dropped)) + "\r\n";
            if (atExit) {
                const EventLogExit exit = held.Finish();
                const std::string unsaved = "C:\\Corvane\\CorvaneLog.unsaved-20060501-090507.txt";
                EXPECT_EQ(exit.SavedTo, unsaved);
                EXPECT_EQ(exit.Unsaved, row.held + (row.dropped ? 1 : 0));
                EXPECT_EQ(files.files[unsaved], expected);
            } else {
                files.failures.clear();
                held.Publish({});  // the next pass, with nothing new
                EXPECT_EQ(files.appends, 1);
                held.Publish(Accesses(1));
                EXPECT_EQ(files.files[kLog], expected + kStamp + text::Utf8ToCp932("アクセス検出,u0,p") + "\r\n");
                EXPECT_EQ(held.State(), EventLogState{});
            }
        }
    }
}

// A disk that fills in the middle of a pass and frees up later: whatever byte
// the write stops at, the log and its backup then hold every line once, whole
// and in order. The write is cut back off the log; where that fails too, the
// lines that made it stay and the line written in part is finished.
TEST_F(EventLogTest, DiskFullAtAnyByteWritesEveryLineOnceWhole) {
    struct Row {
        const char* name;
        std::int32_t limit;  // 200: the log rotates once, after the fourth line
        bool cutFails;
    };
    const std::vector<Row> rows = {
        {"cut back", 1048576, false},
        {"cut back, rotating", 200, false},
        {"cut refused", 1048576, true},
        {"cut refused, rotating", 200, true},
    };
    const auto events = Accesses(7);
    const auto first = std::vector<WatchEvent>(events.begin(), events.begin() + 5);
    const auto second = std::vector<WatchEvent>(events.begin() + 5, events.end());
    std::string expected;
    for (const WatchEvent& e : events) expected += kStamp + text::Utf8ToCp932(LogText(e)) + "\r\n";
    for (const Row& row : rows) {
        for (std::uint64_t space = 0; space <= expected.size(); ++space) {
            SCOPED_TRACE(std::string(row.name) + ", disk full after " + std::to_string(space) + " bytes");
            FakeLogFs files;
            EventLog log{files, clock, kLog, [&row] { return row.limit; }};
            files.space = space;
            if (row.cutFails) files.failures = {{"truncate", 5}};
            log.Publish(first);
            files.space = UINT64_MAX;
            log.Publish(second);
            EXPECT_EQ(files.files[kBak] + files.files[kLog], expected);
            EXPECT_EQ(log.State(), EventLogState{});
        }
    }
}

// The count of lost events is told in one line, once, also when the write of
// that line worked and a later step failed.
TEST_F(EventLogTest, LostCountIsWrittenOnce) {
    for (const char* step : {"flush", "close", "write", "append"}) {
        SCOPED_TRACE(step);
        FakeLogFs files;
        EventLog log{files, clock, kLog, [] { return 1 << 30; }};
        files.failures = {{"append", 112}};
        log.Publish(Accesses(EventLog::kMaxHeldLines + 2));  // two lost
        files.failures = {{step, 5}};
        log.Publish({});
        files.failures.clear();
        log.Publish({});
        log.Publish(Accesses(1));
        const std::string& text = files.files[kLog];
        const std::string lost = text::Utf8ToCp932("ログ欠落,2");
        EXPECT_NE(text.find(lost), std::string::npos);
        EXPECT_EQ(text.find(lost), text.rfind(lost));
        EXPECT_EQ(log.State(), EventLogState{});
    }
}

// Lines written together rotate the log exactly where they would one by one.
TEST_F(EventLogTest, LinesOfOnePassRotateWhereSingleLinesWould) {
    maxLogSize = 300;
    FakeLogFs single;
    EventLog oneByOne{single, clock, kLog, [this] { return maxLogSize; }};
    const auto events = Accesses(40, 7);
    for (const WatchEvent& e : events) oneByOne.Publish({e});
    log.Publish(events);
    EXPECT_EQ(fs.files[kLog], single.files[kLog]);
    EXPECT_EQ(fs.files[kBak], single.files[kBak]);
    EXPECT_FALSE(fs.files[kBak].empty());
}

TEST_F(EventLogTest, ExitWithAnUnwritableFolderTellsHowManyAndWhy) {
    fs.failures = {{"append", 5}, {"create", 5}};
    log.Publish(Accesses(2));
    const EventLogExit exit = log.Finish();
    EXPECT_EQ(exit.Unsaved, 2u);
    EXPECT_TRUE(exit.SavedTo.empty());
    EXPECT_NE(exit.Error.find("create failed (error 5)"), std::string::npos) << exit.Error;
}

// What an earlier run or an earlier save left is kept as it was: a line it
// cut short ends before the next line begins, a save of the same second keeps
// its file, and a save that fails leaves no file behind.
TEST_F(EventLogTest, WhatEarlierRunsLeftIsNeitherJoinedNorReplaced) {
    using Files = std::map<std::string, std::string>;
    const std::string unsaved = "C:\\Corvane\\CorvaneLog.unsaved-20060501-090507.txt";
    const std::string unsaved2 = "C:\\Corvane\\CorvaneLog.unsaved-20060501-090507-2.txt";
    const std::string line = kStamp + "line\r\n";
    struct Row {
        const char* name;
        Files before;
        std::map<std::string, std::uint32_t> failures;  // while writing and at exit
        Files after;
        std::string savedTo;  // at exit; the log written when empty
    };
    const std::vector<Row> rows = {
        {"line cut short", {{kLog, "old\r\n2006/05/01"}}, {}, {{kLog, "old\r\n2006/05/01\r\n" + line}}, ""},
        {"cut after its CR", {{kLog, "old\r"}}, {}, {{kLog, "old\r\n" + line}}, ""},
        {"whole", {{kLog, "old\r\n"}}, {}, {{kLog, "old\r\n" + line}}, ""},
        {"second save in a second", {{unsaved, "first\r\n"}}, {{"append", 5}},
         {{unsaved, "first\r\n"}, {unsaved2, line}}, unsaved2},
        {"save fails", {}, {{"append", 5}, {"write", 112}}, {}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeLogFs files;
        files.files = row.before;
        files.failures = row.failures;
        EventLog log{files, clock, kLog, [] { return 1 << 20; }};
        try {
            log.WriteLogFile("line");
        } catch (const LogIoError&) {
        }
        if (!row.failures.empty()) {
            EXPECT_EQ(log.Finish().SavedTo, row.savedTo);
        }
        EXPECT_EQ(files.files, row.after);
    }
}

// A line cut short by a full disk is finished only in the log it was cut
// short in: a log another program changed meanwhile gets the line whole, on
// a line of its own, also when its size plus the line break it lacked is
// where the cut line ended.
TEST_F(EventLogTest, ALineCutShortIsNotFinishedInALogChangedSince) {
    fs.space = 10;  // "2006/05/01" of the stamp
    fs.failures = {{"truncate", 5}};
    EXPECT_THROW(log.WriteLogFile("line"), LogIoError);
    ASSERT_EQ(fs.files[kLog], "2006/05/01");
    fs.space = UINT64_MAX;
    fs.failures.clear();
    fs.files[kLog] = "other-wr";
    EXPECT_EQ(log.WriteHeld(), 0u);
    EXPECT_EQ(fs.files[kLog], "other-wr\r\n" + kStamp + "line\r\n");
}

struct BalloonRecord {
    std::string title, text;
    int timeout = 0;
    TBalloonIconType icon = TBalloonIconType::bitNone;
};

struct RecordingNotifier : INotifier {
    std::vector<BalloonRecord> balloons;
    void SetTipHelp(const std::string&) override {}
    void ShowBalloonHelp(const std::string& title, const std::string& text, int timeout,
                         TBalloonIconType icon) override {
        balloons.push_back({title, text, timeout, icon});
    }
    void PlayWave(const std::string&) override {}
    void StartIconAnimation(int) override {}
};

struct FakeShell : IShellOpener {
    int result = 0;
    std::vector<std::string> opened;
    int Open(const std::string& path) override {
        opened.push_back(path);
        return result;
    }
};

TEST(OpenLogFileTest, ShellFailureShowsAnErrorBalloon) {
    FakeShell shell;
    RecordingNotifier notifier;
    shell.result = 2;
    OpenLogFile(shell, notifier, kLog);
    ASSERT_EQ(notifier.balloons.size(), 1u);
    EXPECT_EQ(notifier.balloons[0].title, "LogFile Error Message");
    EXPECT_EQ(notifier.balloons[0].text,
              "以下のパスオープンに失敗しました(2)\r\n\r\nC:\\Corvane\\CorvaneLog.txt");
    EXPECT_EQ(notifier.balloons[0].timeout, 1000);
    EXPECT_EQ(notifier.balloons[0].icon, TBalloonIconType::bitError);

    shell.result = 32;
    OpenLogFile(shell, notifier, kLog);
    EXPECT_EQ(notifier.balloons.size(), 2u);
    shell.result = 33;
    OpenLogFile(shell, notifier, kLog);
    EXPECT_EQ(notifier.balloons.size(), 2u);
    EXPECT_EQ(shell.opened, std::vector<std::string>(3, kLog));
}

}  // namespace
}  // namespace corvane::test
