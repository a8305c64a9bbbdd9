#pragma once
// The background watcher: every pass has the main thread run the session scan
// and then the resource scan, and waits for each.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/text/Collation.h"
#include "core/watch/WatchPorts.h"
#include "core/watch/WatchTypes.h"

namespace corvane {

struct WatchContext {
    IWatchOwner& Owner;
    IServerApi& Server;
    IResolver& Resolver;
    IWatchViews& Views;
    IEventLog& Log;
    INotifier& Notifier;
    IMainThreadRunner& Runner;
    ISleeper& Sleeper;
    const text::ICollation& Collation;
};

inline constexpr int kBlinkIntervalMs = 500;
inline constexpr int kBalloonTimeoutMs = 1000;

class TWatchThread {
public:
    explicit TWatchThread(const WatchContext& context);
    ~TWatchThread();
    TWatchThread(const TWatchThread&) = delete;
    TWatchThread& operator=(const TWatchThread&) = delete;

    // Starts the thread body; passes run until Terminate.
    void Start();
    // Sets the stop flag; the pass in progress runs to its end.
    void Terminate() noexcept;
    // True once the thread body has returned (or was never started).
    bool Finished() const noexcept;
    // Joins the thread. The caller must keep serving the main-thread calls
    // until Finished() is true, or this may wait for ever.
    void WaitFor();

    // One pass of the loop, without the trailing pause. Public for tests.
    void Pass();
    // The two scans; they run on the main thread.
    void SessionScan();
    void ResourceScan();

    const std::vector<TSessionInfo>& Sessions() const noexcept { return sessions_; }
    const std::vector<TFileInfo>& Resources() const noexcept { return resources_; }
    bool RefreshView() const noexcept { return refreshView_; }

private:
    void Execute();
    void DisconnectSession(const std::string& computerName, const std::string& userName);
    void RemoveOverLimit(std::int32_t limit, std::uint32_t TSessionInfo::*seconds, const char* eventWord);
    std::string EventText(const char* word, const TSessionInfo& info) const;

    WatchContext ctx_;
    std::vector<TSessionInfo> sessions_;
    std::vector<TFileInfo> resources_;
    bool refreshView_ = false;
    std::mutex passLock_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{true};
    std::thread thread_;
};

}  // namespace corvane
