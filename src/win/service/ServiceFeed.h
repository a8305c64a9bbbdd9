#pragma once
// The service's feed: what its watch tracks and every event, to the trays
// over the pipe, and their commands carried out for the callers that may
// act. The pipe opens after the first pass, so that the first snapshot a
// tray gets is the whole state and not an empty list that would make it
// announce every session again.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/feed/FeedAccess.h"
#include "core/feed/FeedMessages.h"
#include "core/feed/FeedPublisher.h"
#include "core/host/HeadlessWatch.h"
#include "win/service/FeedServer.h"

namespace corvane::win {

struct ServiceFeedParts {
    HeadlessWatch& Watch;
    IServerApi& Server;
    IClock& Clock;
    std::wstring PipeName;
    // On the thread of the passes: the watch's health now.
    std::function<feed::Health()> Health;
    // Any thread: the watch's settings and who may look.
    std::function<feed::WatchSettings()> Settings;
    std::function<feed::ShowToUsers()> Show;
    // Writes the settings into the service's settings file (0 or the code).
    std::function<std::uint32_t(const feed::WatchSettings&)> WriteSettings;
    // Tells the event log of a command carried out, and for whom.
    std::function<void(const PipeCaller& caller, const std::string& what)> Carried;
    // Tells the event log that the pipe could not be made.
    std::function<void(DWORD code)> Unavailable;
};

inline constexpr std::chrono::seconds kPipeRetry{10};

class ServiceFeed {
public:
    explicit ServiceFeed(ServiceFeedParts parts);
    ~ServiceFeed();
    ServiceFeed(const ServiceFeed&) = delete;
    ServiceFeed& operator=(const ServiceFeed&) = delete;

    // Every event of the watch, for the trays.
    IEventSink& Events() noexcept { return *server_; }
    // On the thread of the passes, after each: the changes to the trays; the
    // first call opens the pipe. A pipe that cannot be opened (its name
    // taken by another program, say) is reported once and tried again every
    // kPipeRetry, so the trays get their service back once the name is free.
    void AfterPass();
    // The settings were read again: the trays get them.
    void SettingsChanged();
    void Stop() noexcept;

private:
    feed::CommandResult Carry(const feed::Command& command, const PipeCaller& caller);

    ServiceFeedParts parts_;
    feed::FeedPublisher publisher_;  // under the server's lock (Broadcast, Snapshot)
    std::unique_ptr<FeedServer> server_;
    bool started_ = false;
    bool reported_ = false;
    std::chrono::steady_clock::time_point nextTry_{};
};

}  // namespace corvane::win
