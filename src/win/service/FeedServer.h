#pragma once
// The service's end of the feed: a local named pipe that any number of trays
// (up to kMaxClients) read at once. One thread serves every instance with
// overlapped I/O. The pipe takes local clients only, its first instance must
// be the service's own, and its security descriptor lets SYSTEM and
// Administrators in, and the Interactive group too when ShowToUsers allows
// the people at the computer to look.
//
// Each client has a bounded queue: a tray that does not read is dropped,
// never waited for, and gets a fresh snapshot when it connects again. A
// client that sends anything but well-formed commands is dropped; the others
// go on as before.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/events/WatchEvent.h"
#include "core/feed/FeedAccess.h"
#include "core/feed/FeedMessages.h"
#include "win/service/CallerTokens.h"
#include "win/ui/UniqueResource.h"

namespace corvane::win {

inline constexpr wchar_t kFeedPipeName[] = L"\\\\.\\pipe\\Corvane.Feed";

struct FeedServerHooks {
    // The setting in force; asked for every new instance and every caller.
    std::function<feed::ShowToUsers()> Show;
    // Whether the server can check and close single open files.
    std::function<bool()> CanCloseFiles;
    // The whole state from SnapshotBegin to SnapshotEnd, asked under the
    // same lock as Broadcast's producer, so that no change falls between.
    std::function<std::vector<feed::Message>()> Snapshot;
    // Carries out a command of a caller that may act (the server has checked
    // it); runs on the server's thread.
    std::function<feed::CommandResult(const feed::Command&, const PipeCaller&)> Command;
};

class FeedServer final : public IEventSink {
public:
    static constexpr std::size_t kMaxClients = 24;
    static constexpr std::size_t kMaxQueuedBytes = 32u << 20;
    static constexpr DWORD kHeartbeatMs = 1000;

    FeedServer(std::wstring pipeName, FeedServerHooks hooks);
    ~FeedServer() override;
    FeedServer(const FeedServer&) = delete;
    FeedServer& operator=(const FeedServer&) = delete;

    // Creates the pipe's first instance and starts serving; 0 or the system's
    // error code (ERROR_ACCESS_DENIED: another process made the pipe first).
    DWORD Start();
    void Stop() noexcept;

    // The messages `produce` makes, to every client that has its snapshot.
    // `produce` runs under the state lock (see Hooks::Snapshot). Any thread.
    void Broadcast(const std::function<std::vector<feed::Message>()>& produce);

    // IEventSink: every event of the watch, as it is published.
    void Publish(const std::vector<WatchEvent>& events) noexcept override;

    // Clients connected now (for tests and the service's own report).
    std::size_t ClientCount() const;

private:
    struct Client;
    struct Listener;

    void Run() noexcept;
    bool Listen(bool first, DWORD& error);
    void Accept();
    void StartRead(Client& client);
    void ReadDone(Client& client);
    void StartWrite(Client& client);
    void WriteDone(Client& client);
    void Enqueue(Client& client, std::string frame);
    void HandleCommand(Client& client, const feed::Command& command);
    void Close(Client& client) noexcept;
    void Sweep() noexcept;
    void DropUnseeing(feed::ShowToUsers show);
    feed::ShowToUsers CurrentShow() const;
    UniqueHandle CreateInstance(bool first, DWORD& error);

    std::wstring pipeName_;
    FeedServerHooks hooks_;
    UniqueHandle stop_;
    UniqueHandle wake_;
    std::unique_ptr<Listener> listener_;
    feed::ShowToUsers shownTo_ = feed::ShowToUsers::AdministratorsOnly;  // the pipe's descriptor; the thread's own
    mutable std::mutex lock_;  // the clients' queues and flags, and the producers' state
    std::vector<std::unique_ptr<Client>> clients_;
    std::thread thread_;
    std::atomic<bool> running_{false};
};

}  // namespace corvane::win
