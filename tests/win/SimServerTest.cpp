// The simulated server DLL, loaded in-process from a private copy and driven
// through the same exported names the program binds to.
#include <windows.h>
#include <lm.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/SimServerControl.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

using SessionEnumFn = NET_API_STATUS(NET_API_FUNCTION*)(LMSTR, LMSTR, LMSTR, DWORD, LPBYTE*, DWORD, LPDWORD,
                                                        LPDWORD, LPDWORD);
using FileEnumFn = NET_API_STATUS(NET_API_FUNCTION*)(LMSTR, LMSTR, LMSTR, DWORD, LPBYTE*, DWORD, LPDWORD,
                                                     LPDWORD, PDWORD_PTR);
using BufferFreeFn = NET_API_STATUS(NET_API_FUNCTION*)(LPVOID);
using SessionDelFn = NET_API_STATUS(NET_API_FUNCTION*)(LMSTR, LMSTR, LMSTR);
using MessageSendFn = NET_API_STATUS(NET_API_FUNCTION*)(LPCWSTR, LPCWSTR, LPCWSTR, LPBYTE, DWORD);

fs::path ExeFolder() {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return fs::path(path).parent_path();
}

// The build puts the DLL beside this program; bin/ is the fallback.
fs::path BuiltDll(const fs::path& subfolder) {
    for (const fs::path& base : {ExeFolder(), ExeFolder().parent_path() / "bin"}) {
        const fs::path candidate = base / subfolder / "netapi32.dll";
        if (fs::exists(candidate)) return candidate;
    }
    return {};
}

std::wstring Wide(const std::string& utf8) {
    std::wstring out(utf8.size(), L'\0');
    out.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(),
                            static_cast<int>(out.size()))));
    return out;
}

template <typename Fn>
Fn Proc(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// A private copy of the DLL in a fresh folder, so its state files are ours.
class SimServerTest : public ::testing::Test {
protected:
    void SetUp() override { Load(fs::path()); }

    void Load(const fs::path& subfolder) {
        Unload();
        const fs::path built = BuiltDll(subfolder);
        ASSERT_FALSE(built.empty()) << "netapi32.dll not built";
        folder_ = fs::temp_directory_path() /
                  ("corvane-simserver-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial_));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        fs::copy_file(built, folder_ / "netapi32.dll");
        control_ = std::make_unique<SimServerControl>(folder_);
        control_->Reset();
        module_ = LoadLibraryW((folder_ / "netapi32.dll").c_str());
        ASSERT_NE(module_, nullptr);
        sessionEnum_ = Proc<SessionEnumFn>(module_, "NetSessionEnum");
        fileEnum_ = Proc<FileEnumFn>(module_, "NetFileEnum");
        bufferFree_ = Proc<BufferFreeFn>(module_, "NetApiBufferFree");
        sessionDel_ = Proc<SessionDelFn>(module_, "NetSessionDel");
        messageSend_ = Proc<MessageSendFn>(module_, "NetMessageBufferSend");
    }

    void Unload() {
        if (module_) FreeLibrary(module_);
        module_ = nullptr;
        if (!folder_.empty()) {
            std::error_code ignored;
            fs::remove_all(folder_, ignored);
        }
    }

    void TearDown() override { Unload(); }

    SimServerControl& Control() { return *control_; }

    NET_API_STATUS EnumSessions(LPBYTE& buffer, DWORD& read, DWORD& total) {
        return sessionEnum_(nullptr, nullptr, nullptr, 502, &buffer, MAX_PREFERRED_LENGTH, &read, &total,
                            nullptr);
    }
    NET_API_STATUS EnumFiles(LPBYTE& buffer, DWORD& read, DWORD& total) {
        return fileEnum_(nullptr, nullptr, nullptr, 3, &buffer, MAX_PREFERRED_LENGTH, &read, &total, nullptr);
    }
    std::vector<std::pair<std::wstring, std::wstring>> ListedSessions() {
        LPBYTE buffer = nullptr;
        DWORD read = 0, total = 0;
        EXPECT_EQ(EnumSessions(buffer, read, total), 0u);
        std::vector<std::pair<std::wstring, std::wstring>> out;
        const auto* records = reinterpret_cast<const SESSION_INFO_502*>(buffer);
        for (DWORD i = 0; i < read; ++i) out.emplace_back(records[i].sesi502_cname, records[i].sesi502_username);
        bufferFree_(buffer);
        return out;
    }

    fs::path folder_;
    std::unique_ptr<SimServerControl> control_;
    HMODULE module_ = nullptr;
    SessionEnumFn sessionEnum_ = nullptr;
    FileEnumFn fileEnum_ = nullptr;
    BufferFreeFn bufferFree_ = nullptr;
    SessionDelFn sessionDel_ = nullptr;
    MessageSendFn messageSend_ = nullptr;
    static inline int serial_ = 0;
};

const std::string kLong(5000, 'x');
const std::vector<std::string> kHostile = {
    "PC,01", "line\r\nbreak", "tab\there", "100%25 %", "", kLong, "Ω\u00e9\U0001F600", "日本語ﾃｽﾄ", "%null",
};

TEST_F(SimServerTest, SessionsComeBackAsUtf16RecordsWithEveryNameIntact) {
    std::vector<SimSession> sessions;
    for (std::size_t i = 0; i < kHostile.size(); ++i)
        sessions.push_back({kHostile[i], kHostile[kHostile.size() - 1 - i], static_cast<std::uint32_t>(i),
                            0xFFFFFFFFu - static_cast<std::uint32_t>(i), 86400u + static_cast<std::uint32_t>(i)});
    sessions.push_back({"PC-null-user", std::nullopt, 1, 2, 3});
    Control().SetSessions(sessions);

    LPBYTE buffer = nullptr;
    DWORD read = 99, total = 99;
    ASSERT_EQ(EnumSessions(buffer, read, total), 0u);
    ASSERT_NE(buffer, nullptr);
    ASSERT_EQ(read, sessions.size());
    const auto* records = reinterpret_cast<const SESSION_INFO_502*>(buffer);
    for (std::size_t i = 0; i < kHostile.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i].sesi502_cname, Wide(kHostile[i]));
        EXPECT_EQ(records[i].sesi502_username, Wide(kHostile[kHostile.size() - 1 - i]));
        EXPECT_EQ(records[i].sesi502_num_opens, i);
        EXPECT_EQ(records[i].sesi502_time, 0xFFFFFFFFu - i);
        EXPECT_EQ(records[i].sesi502_idle_time, 86400u + i);
    }
    EXPECT_EQ(records[kHostile.size()].sesi502_username, nullptr);
    EXPECT_EQ(std::wstring(records[1].sesi502_cname), L"line\r\nbreak");
    EXPECT_EQ(std::wstring(records[6].sesi502_cname), L"\u03A9\u00E9\xD83D\xDE00");

    EXPECT_EQ(Control().Counters().BuffersOutstanding(), 1);
    EXPECT_EQ(bufferFree_(buffer), 0u);
    const SimCounters counters = Control().Counters();
    EXPECT_EQ(counters.Loads(), 1);
    EXPECT_EQ(counters.SessionEnums(), 1);
    EXPECT_EQ(counters.BuffersAllocated(), 1);
    EXPECT_EQ(counters.BuffersOutstanding(), 0);
    EXPECT_EQ(counters.SessionEnumOddArgs(), 0);
    EXPECT_EQ(counters.StateErrors(), 0);
}

TEST_F(SimServerTest, FilesComeBackAsLevel3RecordsAndStateChangesShowOnTheNextCall) {
    Control().SetFiles({{7, PERM_FILE_READ | PERM_FILE_WRITE, 2, "C:\\共有\\a,b.txt", "alice"},
                        {0xFFFFFFFFu, 0, 0, kLong, ""}});
    LPBYTE buffer = nullptr;
    DWORD read = 0, total = 0;
    ASSERT_EQ(EnumFiles(buffer, read, total), 0u);
    ASSERT_EQ(read, 2u);
    auto* records = reinterpret_cast<const FILE_INFO_3*>(buffer);
    EXPECT_EQ(records[0].fi3_id, 7u);
    EXPECT_EQ(records[0].fi3_permissions, static_cast<DWORD>(PERM_FILE_READ | PERM_FILE_WRITE));
    EXPECT_EQ(records[0].fi3_num_locks, 2u);
    EXPECT_EQ(std::wstring(records[0].fi3_pathname), L"C:\\\u5171\u6709\\a,b.txt");
    EXPECT_EQ(std::wstring(records[0].fi3_username), L"alice");
    EXPECT_EQ(records[1].fi3_id, 0xFFFFFFFFu);
    EXPECT_EQ(std::wstring(records[1].fi3_pathname), Wide(kLong));
    EXPECT_EQ(std::wstring(records[1].fi3_username), L"");
    bufferFree_(buffer);

    Control().SetFiles({});
    buffer = nullptr;
    ASSERT_EQ(EnumFiles(buffer, read, total), 0u);
    EXPECT_EQ(read, 0u);
    EXPECT_NE(buffer, nullptr) << "an empty success still hands out a buffer to free";
    bufferFree_(buffer);

    // Arguments the program never passes are counted and refused.
    buffer = nullptr;
    EXPECT_EQ(fileEnum_(nullptr, nullptr, nullptr, 2, &buffer, MAX_PREFERRED_LENGTH, &read, &total, nullptr),
              static_cast<NET_API_STATUS>(ERROR_INVALID_LEVEL));
    const SimCounters counters = Control().Counters();
    EXPECT_EQ(counters.FileEnums(), 3);
    EXPECT_EQ(counters.FileEnumOddArgs(), 1);
    EXPECT_EQ(counters.BuffersOutstanding(), 0);
}

TEST_F(SimServerTest, FailureStatusesLeaveOutputsAloneUnlessABufferIsWanted) {
    Control().SetSessions({{"PC01", "alice", 1, 2, 3}});
    Control().SetFiles({{1, 1, 0, "C:\\x", "alice"}});
    Control().SetSessionStatus(ERROR_MORE_DATA);
    Control().SetFileStatus(ERROR_ACCESS_DENIED);

    auto sentinel = reinterpret_cast<LPBYTE>(static_cast<std::uintptr_t>(0x1234));
    LPBYTE buffer = sentinel;
    DWORD read = 77, total = 77;
    EXPECT_EQ(EnumSessions(buffer, read, total), static_cast<NET_API_STATUS>(ERROR_MORE_DATA));
    EXPECT_EQ(buffer, sentinel);
    EXPECT_EQ(read, 77u);
    EXPECT_EQ(EnumFiles(buffer, read, total), static_cast<NET_API_STATUS>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(buffer, sentinel);
    EXPECT_EQ(Control().Counters().BuffersAllocated(), 0);

    Control().SetBufferOnFailure(true);
    buffer = nullptr;
    EXPECT_EQ(EnumSessions(buffer, read, total), static_cast<NET_API_STATUS>(ERROR_MORE_DATA));
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(read, 1u);
    EXPECT_EQ(Control().Counters().BuffersOutstanding(), 1);
    bufferFree_(buffer);
    buffer = nullptr;
    EXPECT_EQ(EnumFiles(buffer, read, total), static_cast<NET_API_STATUS>(ERROR_ACCESS_DENIED));
    ASSERT_NE(buffer, nullptr);
    bufferFree_(buffer);
    const SimCounters counters = Control().Counters();
    EXPECT_EQ(counters.BuffersAllocated(), 2);
    EXPECT_EQ(counters.BuffersOutstanding(), 0);
    EXPECT_EQ(counters.SessionEnums(), 2);
    EXPECT_EQ(counters.FileEnums(), 2);
}

TEST_F(SimServerTest, FreesOfForeignOrRepeatedPointersAreCountedNotPerformed) {
    LPBYTE buffer = nullptr;
    DWORD read = 0, total = 0;
    ASSERT_EQ(EnumSessions(buffer, read, total), 0u);
    EXPECT_EQ(bufferFree_(buffer), 0u);
    EXPECT_NE(bufferFree_(buffer), 0u);
    int local = 0;
    EXPECT_NE(bufferFree_(&local), 0u);
    EXPECT_EQ(bufferFree_(nullptr), 0u);
    const SimCounters counters = Control().Counters();
    EXPECT_EQ(counters.BuffersFreed(), 1);
    EXPECT_EQ(counters.BadFrees(), 2);
    EXPECT_EQ(counters.NullFrees(), 1);
    EXPECT_EQ(counters.BuffersOutstanding(), 0);
}

TEST_F(SimServerTest, SessionDelIsRecordedAndEndsTheMatchingSession) {
    Control().SetSessions({{"PC01", "alice", 1, 0, 0}, {"PC01", "bob", 1, 0, 0}, {"PC02", "alice", 1, 0, 0}});
    std::wstring client = L"\\\\pc01";
    std::wstring user = L"ALICE";
    EXPECT_EQ(sessionDel_(nullptr, client.data(), user.data()), 0u);
    EXPECT_EQ(ListedSessions(), (std::vector<std::pair<std::wstring, std::wstring>>{{L"PC01", L"bob"},
                                                                                  {L"PC02", L"alice"}}));

    std::wstring gone = L"\\\\PC09";
    EXPECT_EQ(sessionDel_(nullptr, gone.data(), user.data()), static_cast<NET_API_STATUS>(NERR_ClientNameNotFound));

    Control().SetDeleteRemovesSession(false);
    std::wstring bob = L"bob";
    EXPECT_EQ(sessionDel_(nullptr, client.data(), bob.data()), 0u);
    EXPECT_EQ(ListedSessions().size(), 2u);

    Control().SetDeleteRemovesSession(true);
    Control().SetSessionDelStatus(ERROR_ACCESS_DENIED);
    EXPECT_EQ(sessionDel_(nullptr, client.data(), bob.data()), static_cast<NET_API_STATUS>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ListedSessions().size(), 2u);

    const SimCalls calls = Control().Calls();
    ASSERT_EQ(calls.sessionDels.size(), 4u);
    EXPECT_EQ(calls.sessionDels[0].server, std::nullopt);
    EXPECT_EQ(calls.sessionDels[0].clientName, "\\\\pc01");
    EXPECT_EQ(calls.sessionDels[0].userName, "ALICE");
    EXPECT_EQ(calls.sessionDels[0].status, 0u);
    EXPECT_EQ(calls.sessionDels[1].clientName, "\\\\PC09");
    EXPECT_EQ(calls.sessionDels[1].status, static_cast<std::uint32_t>(NERR_ClientNameNotFound));
    EXPECT_EQ(calls.sessionDels[3].status, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(calls.unreadableLines.empty());
    EXPECT_EQ(Control().Counters().SessionDels(), 4);
}

TEST_F(SimServerTest, MessageSendRecordsExactlyTheBytesItWasGiven) {
    const std::wstring message = L"\u884C1\r\n\u884C2,%\t\U0001F600";
    const std::wstring pc = L"PC01";
    std::wstring padded = message + L"GARBAGE";  // only `buflen` bytes count, no terminator needed
    EXPECT_EQ(messageSend_(nullptr, pc.c_str(), nullptr, reinterpret_cast<LPBYTE>(padded.data()),
                           static_cast<DWORD>(message.size() * sizeof(wchar_t))),
              0u);
    Control().SetMessageSendStatus(NERR_NameNotFound);
    std::wstring empty;
    EXPECT_EQ(messageSend_(L"\\\\srv", pc.c_str(), L"me", reinterpret_cast<LPBYTE>(empty.data()), 0),
              static_cast<NET_API_STATUS>(NERR_NameNotFound));

    const SimCalls calls = Control().Calls();
    ASSERT_EQ(calls.messageSends.size(), 2u);
    const SimMessageSendCall& first = calls.messageSends[0];
    EXPECT_EQ(first.server, std::nullopt);
    EXPECT_EQ(first.msgName, "PC01");
    EXPECT_EQ(first.fromName, std::nullopt);
    EXPECT_EQ(first.text, "行1\r\n行2,%\t\U0001F600");
    EXPECT_EQ(first.byteLength, message.size() * 2);
    EXPECT_EQ(first.status, 0u);
    EXPECT_EQ(calls.messageSends[1].server, "\\\\srv");
    EXPECT_EQ(calls.messageSends[1].fromName, "me");
    EXPECT_EQ(calls.messageSends[1].text, "");
    EXPECT_EQ(calls.messageSends[1].status, static_cast<std::uint32_t>(NERR_NameNotFound));
    EXPECT_LT(calls.messageSends[0].sequence, calls.messageSends[1].sequence);
}

TEST_F(SimServerTest, MalformedStateIsReportedAsAFailedEnumeration) {
    {
        std::FILE* f = _wfopen((folder_ / "simserver-state.txt").c_str(), L"wb");
        ASSERT_NE(f, nullptr);
        std::fputs("session\tPC01\n", f);
        std::fclose(f);
    }
    LPBYTE buffer = nullptr;
    DWORD read = 0, total = 0;
    EXPECT_EQ(EnumSessions(buffer, read, total), static_cast<NET_API_STATUS>(ERROR_INVALID_DATA));
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(Control().Counters().StateErrors(), 1);
    ASSERT_EQ(Control().Calls().stateErrors.size(), 1u);
    EXPECT_THROW(Control().Read(), std::runtime_error);
}

TEST_F(SimServerTest, UnloadIsCountedAndTheVariantLacksOnlyMessageSend) {
    FreeLibrary(module_);
    module_ = nullptr;
    EXPECT_EQ(Control().Counters().Unloads(), 1);
    Load("missing-export");
    EXPECT_EQ(Control().Counters().Loads(), 1);
    EXPECT_EQ(messageSend_, nullptr);
    EXPECT_NE(sessionEnum_, nullptr);
    EXPECT_NE(fileEnum_, nullptr);
    EXPECT_NE(bufferFree_, nullptr);
    EXPECT_NE(sessionDel_, nullptr);
}

}  // namespace
}  // namespace corvane::test
