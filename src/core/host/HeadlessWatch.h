#pragma once
// The watch of the headless editions (corvane-watch on Linux, the Windows
// service): no main window and no message loop, so scans run directly on the
// thread that drives the passes, nothing is shown, and the pace between
// passes is kept here with a wait that a stop request ends at once.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/settings/Settings.h"
#include "core/watch/WatchThread.h"

namespace corvane {

struct WatchParts {
    const Settings& CurrentSettings;
    IServerApi& Server;
    IResolver& Resolver;  // this computer's own name and addresses, for the local-connection filter
    IEventSink& Events;
    IClock& Clock;
    INotifier& Notifier;
    // The statuses of a pass's two listings, after a pass in which one failed
    // and after the first that worked again (see IWatchOwner). None: the
    // server port tells its own problems.
    std::function<void(std::uint32_t sessionStatus, std::uint32_t fileStatus)> EnumerationResult = nullptr;
};

class HeadlessWatch {
public:
    explicit HeadlessWatch(const WatchParts& parts);
    ~HeadlessWatch();
    HeadlessWatch(const HeadlessWatch&) = delete;
    HeadlessWatch& operator=(const HeadlessWatch&) = delete;

    // One pass: the session scan, then the resource scan unless switched off.
    void Pass();
    // Until Stop: every `tick`, a pass when `due` says so; `afterPass` runs
    // after each. `due` runs on this thread between passes, where the
    // settings may be changed.
    void Run(std::chrono::milliseconds tick, const std::function<bool()>& due, const std::function<void()>& afterPass);
    // Ends Run at once, or after the pass in progress. Safe from any thread.
    void Stop();
    // Ends the pause between passes now (changed settings, say). Any thread.
    void Wake();
    // An event of a command carried out for someone (a file closed): goes to
    // the outputs with the next pass, which it wakes. Any thread.
    void PostEvent(WatchEvent event);
    // After Run, once nothing posts any more: what was posted since the last
    // pass goes to the outputs.
    void PublishPosted();

    // The tracked records; read them only on the thread that runs the passes.
    const std::vector<TSessionInfo>& Sessions() const noexcept;
    const std::vector<TFileInfo>& Resources() const noexcept;
    // Any thread: `read` sees the tracked sessions and open files between
    // two passes, and no pass publishes events while it runs. An output that
    // is given the records here and then every event from its Publish misses
    // nothing and sees nothing twice. Keep it short: the next pass waits.
    void Snapshot(const std::function<void(const std::vector<TSessionInfo>& sessions,
                                           const std::vector<TFileInfo>& resources)>& read) const;

private:
    struct Glue;
    std::unique_ptr<Glue> glue_;
    mutable std::mutex passLock_;  // held by each pass and by Snapshot
    std::atomic<bool> stopRequested_{false};
};

// Every event to each of the outputs, in the order they were added. Outputs
// are added before the first pass.
class EventFanOut final : public IEventSink {
public:
    explicit EventFanOut(std::vector<IEventSink*> sinks = {}) : sinks_(std::move(sinks)) {}
    void Add(IEventSink& sink) { sinks_.push_back(&sink); }
    void Publish(const std::vector<WatchEvent>& events) noexcept override {
        for (IEventSink* sink : sinks_) sink->Publish(events);
    }

private:
    std::vector<IEventSink*> sinks_;
};

}  // namespace corvane
