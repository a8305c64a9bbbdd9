#pragma once
// The tray's end of the feed. A thread of its own connects to the pipe,
// trusts it only when the process serving it is the one the service manager
// names for the service, decodes what comes and hands each message on; when
// the connection ends (the service stopped, gone silent, or the pipe broken)
// it says so and tries again every kRetryMs, so that a service that comes
// back is read again within a fraction of a second.
#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "core/feed/FeedMessages.h"
#include "win/ui/UniqueResource.h"

namespace corvane::win {

// The words of the status bar and the tip while the service cannot be read.
inline constexpr const char* kNoServiceText = "監視サービスに接続できません";

struct FeedClientHooks {
    // The only process whose pipe is trusted; 0: none runs now.
    std::function<DWORD()> ServerProcessId;
    // Every message, in order, on the client's thread.
    std::function<void(const feed::Message&)> Message;
    // The connection came (`connected`) or went; `why` says what stands in
    // the way (kNoServiceText, or that the caller may not look). Told once
    // per change, on the client's thread.
    std::function<void(bool connected, const std::string& why)> State;
};

class FeedClient {
public:
    static constexpr DWORD kRetryMs = 250;
    // A service silent for this long (it sends a heartbeat every second) is gone.
    static constexpr DWORD kSilenceMs = 5000;

    FeedClient(std::wstring pipeName, FeedClientHooks hooks);
    ~FeedClient();
    FeedClient(const FeedClient&) = delete;
    FeedClient& operator=(const FeedClient&) = delete;

    void Start();
    void Stop() noexcept;
    // Queues a command for the service; false while there is no connection.
    bool Send(const feed::Command& command);

private:
    void Run() noexcept;
    void Read(HANDLE pipe);
    void Tell(bool connected, const std::string& why);
    bool Pause(DWORD ms) const noexcept;

    std::wstring pipeName_;
    FeedClientHooks hooks_;
    UniqueHandle stop_;
    UniqueHandle outgoing_;  // set when a command waits to be written
    std::mutex lock_;
    std::deque<std::string> commands_;
    std::atomic<bool> connected_{false};
    int told_ = -1;  // the last state told: -1 none, 0 lost, 1 connected
    std::string toldWhy_;
    std::thread thread_;
};

}  // namespace corvane::win
