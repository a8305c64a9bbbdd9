// The feed's pipe with a real server and clients in one process: a client
// that sends garbage is dropped while a tray connected beside it goes on
// receiving.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "WinTestSupport.h"
#include "core/feed/FeedCodec.h"
#include "win/feed/FeedClient.h"
#include "win/service/FeedServer.h"

namespace corvane::test {
namespace {

using namespace corvane::win;

constexpr wchar_t kPipe[] = L"\\\\.\\pipe\\Corvane.Feed.Test";

struct Received {
    std::mutex lock;
    std::vector<feed::Message> messages;
    std::vector<std::string> states;

    std::size_t Count() {
        std::lock_guard g(lock);
        return messages.size();
    }
    bool HasEventFor(const std::string& user) {
        std::lock_guard g(lock);
        for (const auto& m : messages)
            if (const auto* e = std::get_if<feed::EventMessage>(&m); e && e->Event.UserName == user) return true;
        return false;
    }
};

FeedClientHooks HooksInto(Received& into, DWORD serverId) {
    return {[serverId] { return serverId; },
            [&into](const feed::Message& m) {
                std::lock_guard g(into.lock);
                into.messages.push_back(m);
            },
            [&into](bool connected, const std::string& why) {
                std::lock_guard g(into.lock);
                into.states.push_back(connected ? "connected" : why);
            }};
}

WatchEvent ConnectedEvent(const std::string& user) {
    WatchEvent e;
    e.Kind = EventKind::Connected;
    e.ComputerName = "PC01";
    e.IpAddress = "192.168.0.5";
    e.UserName = user;
    return e;
}

TEST(FeedPipeTest, GarbageClientIsDroppedWhileTrayKeepsReceiving) {
    FeedServer server(kPipe, {[] { return feed::ShowToUsers::Interactive; }, [] { return true; },
                              [] {
                                  return std::vector<feed::Message>{
                                      feed::SnapshotBegin{}, feed::SessionRow{1, "PC01", "192.168.0.5", "taro", 1, 5, 0},
                                      feed::SnapshotEnd{}};
                              },
                              nullptr});
    ASSERT_EQ(server.Start(), 0u);

    Received tray;
    FeedClient client(kPipe, HooksInto(tray, GetCurrentProcessId()));
    client.Start();
    ASSERT_TRUE(PumpUntil([&] { return tray.Count() >= 4; }));  // Hello and the snapshot
    {
        std::lock_guard g(tray.lock);
        const auto* hello = std::get_if<feed::Hello>(&tray.messages[0]);
        ASSERT_NE(hello, nullptr);
        EXPECT_NE(hello->Granted, feed::Access::None);
        EXPECT_EQ(std::get<feed::SessionRow>(tray.messages[2]).UserName, "taro");
        EXPECT_EQ(tray.states, std::vector<std::string>{"connected"});
    }

    // A client that writes a frame of no known form.
    UniqueFile garbage(CreateFileW(kPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(garbage);
    ASSERT_TRUE(PumpUntil([&] { return server.ClientCount() == 2; }));
    const char junk[] = "\x05\x00\x00\x00\x01\x00\x63\xff\xff";
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(garbage.get(), junk, sizeof junk - 1, &written, nullptr));
    ASSERT_TRUE(PumpUntil([&] { return server.ClientCount() == 1; }));
    // Its end is broken: whatever it had been sent, reading runs dry with an error.
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(garbage.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    }
    const DWORD readError = GetLastError();
    EXPECT_TRUE(readError == ERROR_BROKEN_PIPE || readError == ERROR_PIPE_NOT_CONNECTED) << readError;

    server.Publish({ConnectedEvent("hanako")});
    EXPECT_TRUE(PumpUntil([&] { return tray.HasEventFor("hanako"); }));
    client.Stop();
    server.Stop();
}

}  // namespace
}  // namespace corvane::test
