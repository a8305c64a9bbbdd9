#pragma once
// The tray's side of the feed: the service's sessions and open files as the
// feed tells of them, offered to the tray's own watch as if they were the
// server's listings. The tray's watch then shows, announces and blinks
// exactly as it does over the server itself, and a session it already
// tracks is not announced again when a new snapshot brings it back.
//
// While no whole snapshot is there (connecting, the service gone) the
// listings fail, so the watch keeps its rows as they were and announces
// nothing; the next whole snapshot is compared with them. A caller the
// service does not let look sees nothing: the listings are empty until it
// is let in again, and what it then finds is new to it, as at a start.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "core/feed/FeedMessages.h"
#include "core/watch/WatchPorts.h"

namespace corvane::feed {

// The listings' status while the service cannot be reached
// (ERROR_PIPE_NOT_CONNECTED).
inline constexpr std::uint32_t kStatusNoService = 233;

class FeedMirror final : public IServerApi {
public:
    // `send` hands a command to the connection (any thread; false when
    // there is none).
    explicit FeedMirror(std::function<bool(const Command&)> send) : send_(std::move(send)) {}

    // The feed's side (one thread): each message as it arrives.
    void Apply(const Message& message);
    // The connection ended: the listings fail until a snapshot is whole
    // again; `refused` when the service would not let this caller look.
    void Lost(bool refused);

    bool Live() const;
    Hello Greeting() const;
    Health LastHealth() const;
    WatchSettings LastSettings() const;

    // IServerApi, for the tray's watch.
    std::uint32_t EnumSessions(std::vector<SessionRecord>& records) override;
    std::uint32_t EnumFiles(std::vector<FileRecord>& records) override;
    // The commands go to the service, which carries them out or refuses them.
    void SessionDel(const std::string& uncClientName, const std::string& userName) override;
    void MessageBufferSend(const std::string& computerName, const std::string& message) override;
    bool CanCloseFiles() const override;
    // The service ends sessions over their limits; the tray's watch never does.
    bool EndSession(const TSessionInfo&) override { return false; }
    // Sends a command; false when there is no connection to take it.
    bool Send(const Command& command) { return send_ && send_(command); }

private:
    std::uint32_t ListingStatus(std::uint32_t status) const;
    void Refuse();

    std::function<bool(const Command&)> send_;
    mutable std::mutex lock_;
    bool live_ = false;
    bool inSnapshot_ = false;
    bool refused_ = false;  // not let look: empty listings until a greeting lets it
    Hello hello_;
    Health health_;
    WatchSettings settings_;
    std::map<std::uint64_t, SessionRow> sessions_, nextSessions_;
    std::map<std::uint64_t, FileRow> files_, nextFiles_;
};

}  // namespace corvane::feed
