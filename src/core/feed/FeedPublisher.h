#pragma once
// The service's side of the feed: after every pass of its watch, what
// changed in the tracked sessions and open files, as row messages; and the
// whole state as a snapshot for a tray that connects. Rows keep the id they
// were given for as long as they are tracked, so a tray can follow them.
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/feed/FeedMessages.h"
#include "core/text/Collation.h"
#include "core/watch/WatchTypes.h"

namespace corvane::feed {

class FeedPublisher {
public:
    explicit FeedPublisher(const text::ICollation& collation) : collation_(collation) {}

    // The state after a pass: the messages that bring a tray that had the
    // state before it up to date (health first when it changed, rows gone,
    // rows new or changed).
    std::vector<Message> Update(const std::vector<TSessionInfo>& sessions, const std::vector<TFileInfo>& files,
                                const Health& health);

    // Everything after the last Update, from SnapshotBegin to SnapshotEnd.
    std::vector<Message> Snapshot(const WatchSettings& settings) const;

private:
    struct Tracked {
        std::uint64_t Id = 0;
        std::uint64_t Pass = 0;
    };
    std::uint64_t RowIdFor(std::unordered_map<std::string, Tracked>& index, const std::string& key, bool& added);

    const text::ICollation& collation_;
    std::uint64_t nextId_ = 1;
    std::uint64_t pass_ = 0;
    std::unordered_map<std::string, Tracked> sessionIndex_, fileIndex_;
    std::map<std::uint64_t, SessionRow> sessions_;  // by id: the order they came in
    std::map<std::uint64_t, FileRow> files_;
    Health health_;
    bool healthSent_ = false;
};

}  // namespace corvane::feed
