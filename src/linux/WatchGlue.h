#pragma once
// The one place where corvane-watch meets TWatchThread: the headless program
// has no main window and no message loop, so scans run directly on the
// calling thread, nothing is shown, and the pace between passes is kept here
// with a wait that a stop request ends at once.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "core/settings/Settings.h"
#include "core/watch/WatchThread.h"

namespace corvane::samba {

struct WatchParts {
    const Settings& CurrentSettings;
    IServerApi& Server;
    IResolver& Resolver;  // this computer's own name and addresses, for the local-connection filter
    IEventSink& Events;
    IClock& Clock;
    INotifier& Notifier;
};

class HeadlessWatch {
public:
    explicit HeadlessWatch(const WatchParts& parts);
    ~HeadlessWatch();
    HeadlessWatch(const HeadlessWatch&) = delete;
    HeadlessWatch& operator=(const HeadlessWatch&) = delete;

    // One pass: the session scan, then the resource scan unless switched off.
    void Pass();
    // Until Stop: every `tick`, a pass when `due` says so; `afterPass` runs after each.
    void Run(std::chrono::milliseconds tick, const std::function<bool()>& due, const std::function<void()>& afterPass);
    // Ends Run at once, or after the pass in progress. Safe from any thread.
    void Stop();

    const std::vector<TSessionInfo>& Sessions() const noexcept;
    const std::vector<TFileInfo>& Resources() const noexcept;

private:
    struct Glue;
    std::unique_ptr<Glue> glue_;
    std::atomic<bool> stopRequested_{false};
};

}  // namespace corvane::samba
