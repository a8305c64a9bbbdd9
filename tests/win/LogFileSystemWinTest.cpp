// The event log over the real file functions.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>
#include <cstring>

#include "core/app/OpenLogFile.h"
#include "core/events/EventLog.h"
#include "core/settings/Settings.h"
#include "support/FakeClock.h"
#include "support/TestFiles.h"
#include "WinTestSupport.h"
#include "win/events/LogFileSystemWin.h"

namespace corvane::test {
namespace {

class LogFileSystemWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        logPath_ = dir_ / L"CorvaneLog.txt";
        backupPath_ = dir_ / L"CorvaneLog.txt.bak";
    }
    static std::string Bytes(const fs::path& path) { return ReadBytes(path); }
    // The lock is re-entrant, so only another thread can tell that it was released.
    static void ExpectLockFree(EventLog& log) {
        bool taken = false;
        std::thread other([&] {
            taken = log.Lock().try_lock();
            if (taken) log.Lock().unlock();
        });
        other.join();
        EXPECT_TRUE(taken) << "the log lock is still held";
    }

    win::LogFileSystemWin files;
    FakeClock clock;
    std::int32_t maxLogSize = kDefaultMaxLogSize;
    TempFolder folder_{"corvane-log-"};
    const fs::path dir_ = folder_.Path();
    fs::path logPath_, backupPath_;
    const std::string stamp_ = "2006/05/01 09:05:07,";
};

TEST_F(LogFileSystemWinTest, WritesCodePage932AndRotates) {
    EventLog log(files, clock, Utf8(logPath_), [this] { return maxLogSize; });
    log.WriteLogFile("接続検出,PC01,10.0.0.2,user");
    log.WriteLogFile("a,b\r\nc");
    EXPECT_EQ(Bytes(logPath_), stamp_ + "\x90\xda\x91\xb1\x8c\x9f\x8f\x6f,PC01,10.0.0.2,user\r\n" + stamp_ +
                                   "a,b\r\nc\r\n");
    EXPECT_FALSE(fs::exists(backupPath_));

    maxLogSize = 0;
    log.WriteLogFile("two");
    log.WriteLogFile("three");
    EXPECT_EQ(Bytes(logPath_), stamp_ + "three\r\n");
    EXPECT_EQ(Bytes(backupPath_), stamp_ + "two\r\n");
}

TEST_F(LogFileSystemWinTest, BackupHeldOpenLosesNoLine) {
    { std::ofstream(backupPath_, std::ios::binary) << "old\r\n"; }
    // Held by another program that does not allow deletion.
    const HANDLE held = CreateFileW(backupPath_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    maxLogSize = 0;
    EventLog log(files, clock, Utf8(logPath_), [this] { return maxLogSize; });
    log.WriteLogFile("one");
    log.WriteLogFile("two");
    CloseHandle(held);
    EXPECT_EQ(Bytes(logPath_), stamp_ + "one\r\n" + stamp_ + "two\r\n");
    EXPECT_EQ(Bytes(backupPath_), "old\r\n");

    log.WriteLogFile("three");  // released: rotates as usual
    EXPECT_EQ(Bytes(backupPath_), stamp_ + "one\r\n" + stamp_ + "two\r\n");
    EXPECT_EQ(Bytes(logPath_), stamp_ + "three\r\n");
}

TEST_F(LogFileSystemWinTest, ErrorCarriesTheSystemCode) {
    EventLog log(files, clock, Utf8(dir_ / L"missing" / L"CorvaneLog.txt"), [] { return kDefaultMaxLogSize; });
    try {
        log.WriteLogFile("line");
        FAIL() << "no error";
    } catch (const LogIoError& e) {
        EXPECT_EQ(e.Code(), static_cast<int>(ERROR_PATH_NOT_FOUND));
    }
    ExpectLockFree(log);
}

TEST_F(LogFileSystemWinTest, TwoAppendersInterleaveWholeLines) {
    // Both open before either writes, as two programs appending at once.
    { std::ofstream(logPath_, std::ios::binary) << "earlier\r\n"; }
    std::unique_ptr<ILogFile> first, second;
    ASSERT_EQ(files.OpenForAppend(Utf8(logPath_), first), 0u);
    ASSERT_EQ(files.OpenForAppend(Utf8(logPath_), second), 0u);
    for (const char* line : {"a1\r\n", "b1\r\n", "a2\r\n", "b2\r\n"}) {
        ILogFile& writer = line[0] == 'a' ? *first : *second;
        ASSERT_EQ(writer.Write(line, std::strlen(line)), 0u);
        ASSERT_EQ(writer.Flush(), 0u);
    }
    EXPECT_EQ(first->Close(), 0u);
    EXPECT_EQ(second->Close(), 0u);
    EXPECT_EQ(Bytes(logPath_), "earlier\r\na1\r\nb1\r\na2\r\nb2\r\n");
}

TEST_F(LogFileSystemWinTest, AppendingFileIsCutBackAndAppendsAfterTheCut) {
    { std::ofstream(logPath_, std::ios::binary) << "earlier\r\n"; }
    std::unique_ptr<ILogFile> file;
    ASSERT_EQ(files.OpenForAppend(Utf8(logPath_), file), 0u);
    ASSERT_EQ(file->Write("half a li", 9), 0u);
    ASSERT_EQ(file->Truncate(9), 0u);
    std::uint64_t size = 0;
    ASSERT_EQ(file->Size(size), 0u);
    EXPECT_EQ(size, 9u);
    ASSERT_EQ(file->Write("next\r\n", 6), 0u);
    EXPECT_EQ(file->Close(), 0u);
    EXPECT_EQ(Bytes(logPath_), "earlier\r\nnext\r\n");
}

TEST_F(LogFileSystemWinTest, LogHeldExclusivelyRaisesSharingViolationAndKeepsTheLine) {
    EventLog log(files, clock, Utf8(logPath_), [] { return kDefaultMaxLogSize; });
    log.WriteLogFile("one");
    const HANDLE held = CreateFileW(logPath_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    try {
        log.WriteLogFile("two");
        ADD_FAILURE() << "no error";
    } catch (const LogIoError& e) {
        EXPECT_EQ(e.Code(), static_cast<int>(ERROR_SHARING_VIOLATION));
    }
    CloseHandle(held);
    log.WriteLogFile("three");
    EXPECT_EQ(Bytes(logPath_), stamp_ + "one\r\n" + stamp_ + "two\r\n" + stamp_ + "three\r\n");
}

// corvane.exe runs elevated: a document it opens is started by the desktop's
// shell, as the person at the desktop, not by the program itself.
}  // namespace
}  // namespace corvane::test

namespace corvane::test {
namespace {

struct BalloonNotifier : INotifier {
    std::vector<std::string> texts;
    void SetTipHelp(const std::string&) override {}
    void ShowBalloonHelp(const std::string& title, const std::string& text, int, TBalloonIconType) override {
        texts.push_back(title + "|" + text);
    }
    void PlayWave(const std::string&) override {}
    void StartIconAnimation(int) override {}
};

TEST_F(LogFileSystemWinTest, OpeningALogThatDoesNotExistShowsTheShellError) {
    win::ShellOpenerWin shell;
    BalloonNotifier notifier;
    const std::string path = Utf8(logPath_);
    OpenLogFile(shell, notifier, path);
    ASSERT_EQ(notifier.texts.size(), 1u);
    EXPECT_EQ(notifier.texts[0], "LogFile Error Message|以下のパスオープンに失敗しました(2)\r\n\r\n" + path);
}

// corvane.exe runs elevated: a document it opens is started by the desktop's
// shell, as the person at the desktop, not by the program itself.
TEST_F(LogFileSystemWinTest, DocumentIsStartedByTheDesktopShell) {
    // A document type of the test's own, opened by corvane_wintool, which
    // writes down which process started it.
    const fs::path tool = ProgramFolder().parent_path() / "bin" / "corvane_wintool.exe";
    const fs::path document = dir_ / L"guide.corvanetest";
    const fs::path starter = dir_ / L"starter.txt";
    std::ofstream(document) << "guide";
    const std::wstring classes = L"Software\\Classes\\";
    const std::wstring command = L"\"" + tool.wstring() + L"\" parent \"" + starter.wstring() + L"\"";
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, (classes + L".corvanetest").c_str(), nullptr, REG_SZ,
                              L"Corvane.TestDocument", sizeof L"Corvane.TestDocument"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, (classes + L"Corvane.TestDocument\\shell\\open\\command").c_str(),
                              nullptr, REG_SZ, command.c_str(),
                              static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))), ERROR_SUCCESS);

    win::ShellOpenerWin shell;
    EXPECT_GT(shell.Open(Utf8(document)), 32);
    const auto deadline = GetTickCount64() + 20000;
    while (!fs::exists(starter) && GetTickCount64() < deadline) Sleep(100);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (classes + L".corvanetest").c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (classes + L"Corvane.TestDocument").c_str());
    ASSERT_TRUE(fs::exists(starter)) << "the document did not open";
    std::string starterName = Bytes(starter);
    std::transform(starterName.begin(), starterName.end(), starterName.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_EQ(starterName, "explorer.exe");
}

}  // namespace
}  // namespace corvane::test
