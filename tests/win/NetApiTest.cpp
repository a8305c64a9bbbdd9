// The run-time binding of the server functions, against the simulated server.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "WinTestSupport.h"
#include "support/SimServerControl.h"
#include "win/watch/NetApi.h"

namespace corvane::test {
namespace {

class NetApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        control.Reset();
        api = win::NetApi::Bind();
        ASSERT_NE(api, nullptr);
    }
    SimServerControl control{ProgramFolder()};
    std::unique_ptr<win::NetApi> api;
};

TEST_F(NetApiTest, SessionsArriveAsUtf8AndEveryBufferIsFreed) {
    control.SetSessions({{std::string("PC01"), std::string("太郎"), 3, 100, 7},
                         {std::string("名前,改行\r\n"), std::string("emoji 😀"), 0, 4294967295u, 0}});
    std::vector<SessionRecord> records;
    ASSERT_EQ(api->EnumSessions(records), 0u);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].ComputerName, "PC01");
    EXPECT_EQ(records[0].UserName, "太郎");
    EXPECT_EQ(records[0].OpenCount, 3u);
    EXPECT_EQ(records[0].ConnectedSeconds, 100u);
    EXPECT_EQ(records[0].IdleSeconds, 7u);
    EXPECT_EQ(records[1].ComputerName, "名前,改行\r\n");
    EXPECT_EQ(records[1].UserName, "emoji 😀");
    EXPECT_EQ(records[1].ConnectedSeconds, 4294967295u);

    control.SetFiles({{7, 1, 2, std::string("C:\\共有\\a,b.txt"), std::string("太郎")}});
    std::vector<FileRecord> files;
    ASSERT_EQ(api->EnumFiles(files), 0u);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].FileId, 7u);
    EXPECT_EQ(files[0].Permissions, 1u);
    EXPECT_EQ(files[0].LockCount, 2u);
    EXPECT_EQ(files[0].PathName, "C:\\共有\\a,b.txt");
    EXPECT_EQ(files[0].UserName, "太郎");

    const auto counters = control.Counters();
    EXPECT_EQ(counters.SessionEnums(), 1);
    EXPECT_EQ(counters.FileEnums(), 1);
    EXPECT_EQ(counters.SessionEnumOddArgs(), 0);  // null names, level 502, -1, no resume handle
    EXPECT_EQ(counters.FileEnumOddArgs(), 0);
    EXPECT_GE(counters.BuffersAllocated(), 2);
    EXPECT_EQ(counters.BuffersOutstanding(), 0);
    EXPECT_EQ(counters.BadFrees(), 0);
}

TEST_F(NetApiTest, FailedEnumerationReturnsItsStatusNoRecordsAndFreesTheBuffer) {
    control.SetSessions({{std::string("PC01"), std::string("Taro"), 1, 1, 1}});
    control.SetFiles({{1, 1, 0, std::string("C:\\x"), std::string("Taro")}});
    control.SetBufferOnFailure(true);
    control.SetSessionStatus(234);  // more data
    control.SetFileStatus(5);
    std::vector<SessionRecord> sessions{{"stale", "stale", 0, 0, 0}};
    std::vector<FileRecord> files{{0, 0, 0, "stale", "stale"}};
    EXPECT_EQ(api->EnumSessions(sessions), 234u);
    EXPECT_EQ(api->EnumFiles(files), 5u);
    EXPECT_TRUE(sessions.empty());
    EXPECT_TRUE(files.empty());
    const auto counters = control.Counters();
    EXPECT_GE(counters.BuffersAllocated(), 2);
    EXPECT_EQ(counters.BuffersOutstanding(), 0);
}

TEST_F(NetApiTest, DeletionAndMessageCarryTheirArguments) {
    api->SessionDel("\\\\PC01", "太郎");
    api->MessageBufferSend("PC01", "こんにちは");
    const auto calls = control.Calls();
    ASSERT_EQ(calls.sessionDels.size(), 1u);
    EXPECT_FALSE(calls.sessionDels[0].server.has_value());
    EXPECT_EQ(calls.sessionDels[0].clientName, std::string("\\\\PC01"));
    EXPECT_EQ(calls.sessionDels[0].userName, std::string("太郎"));
    ASSERT_EQ(calls.messageSends.size(), 1u);
    EXPECT_FALSE(calls.messageSends[0].server.has_value());
    EXPECT_FALSE(calls.messageSends[0].fromName.has_value());
    EXPECT_EQ(calls.messageSends[0].msgName, std::string("PC01"));
    EXPECT_EQ(calls.messageSends[0].text, std::string("こんにちは"));
    EXPECT_EQ(calls.messageSends[0].byteLength, 10u);  // two bytes a character, no terminator
}

TEST(NetApiBinding, FailsWhenAFunctionIsMissingOrTheLibraryIsAbsent) {
    const auto missing = ProgramFolder() / "missing-export" / "netapi32.dll";
    ASSERT_TRUE(std::filesystem::exists(missing));
    EXPECT_EQ(win::NetApi::Bind(missing.wstring().c_str()), nullptr);
    EXPECT_EQ(win::NetApi::Bind(L"no-such-library-corvane.dll"), nullptr);
}

}  // namespace
}  // namespace corvane::test
