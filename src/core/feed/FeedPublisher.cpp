#include "core/feed/FeedPublisher.h"

#include <algorithm>

namespace corvane::feed {
namespace {

template <class Row, class Index>
void Sweep(Index& index, std::map<std::uint64_t, Row>& rows, std::uint64_t pass, bool file,
           std::vector<Message>& out) {
    for (auto it = index.begin(); it != index.end();) {
        if (it->second.Pass == pass) {
            ++it;
            continue;
        }
        out.push_back(RowGone{file, it->second.Id});
        rows.erase(it->second.Id);
        it = index.erase(it);
    }
}

}  // namespace

std::uint64_t FeedPublisher::RowIdFor(std::unordered_map<std::string, Tracked>& index, const std::string& key,
                                      bool& added) {
    auto [entry, inserted] = index.try_emplace(key);
    added = inserted;
    if (inserted) entry->second.Id = nextId_++;
    entry->second.Pass = pass_;
    return entry->second.Id;
}

std::vector<Message> FeedPublisher::Update(const std::vector<TSessionInfo>& sessions,
                                           const std::vector<TFileInfo>& files, const Health& health) {
    std::vector<Message> out;
    ++pass_;
    if (!healthSent_ || !(health == health_)) {
        health_ = health;
        healthSent_ = true;
        out.push_back(health);
    }
    std::vector<Message> changed;
    for (const TSessionInfo& s : sessions) {
        // The watch's own identity of a session.
        std::string key = text::PairKey(collation_, s.ComputerName, s.UserName);
        if (!s.ClientAddress.empty()) key += '\x01' + s.ClientAddress;
        bool added = false;
        const std::uint64_t id = RowIdFor(sessionIndex_, key, added);
        SessionRow row{id, s.ComputerName, s.IpAddress, s.UserName, s.OpenCount, s.ConnectedSeconds, s.IdleSeconds};
        SessionRow& kept = sessions_[id];
        if (added || !(kept == row)) {
            kept = row;
            changed.push_back(std::move(row));
        }
    }
    for (const TFileInfo& f : files) {
        const std::string key = f.Key.empty() ? text::PairKey(collation_, f.PathName, f.UserName) : f.Key;
        bool added = false;
        const std::uint64_t id = RowIdFor(fileIndex_, key, added);
        FileRow& kept = files_[id];
        // A row keeps at most kMaxFileIds ids: compared as it is kept, or it would be sent again every pass.
        const std::size_t idCount = std::min(f.FileIds.size(), kMaxFileIds);
        const bool sameIds = kept.FileIds.size() == idCount &&
                             std::equal(kept.FileIds.begin(), kept.FileIds.end(), f.FileIds.begin());
        if (added || kept.Permissions != f.Permissions || kept.LockCount != f.LockCount || !sameIds) {
            kept = FileRow{id, f.PathName, f.UserName, f.Permissions, f.LockCount, f.FileIds};
            if (kept.FileIds.size() > kMaxFileIds) kept.FileIds.resize(kMaxFileIds);
            changed.push_back(kept);
        }
    }
    Sweep(sessionIndex_, sessions_, pass_, false, out);
    Sweep(fileIndex_, files_, pass_, true, out);
    out.insert(out.end(), std::make_move_iterator(changed.begin()), std::make_move_iterator(changed.end()));
    return out;
}

std::vector<Message> FeedPublisher::Snapshot(const WatchSettings& settings) const {
    std::vector<Message> out;
    out.reserve(sessions_.size() + files_.size() + 4);
    out.push_back(SnapshotBegin{});
    out.push_back(settings);
    out.push_back(health_);
    for (const auto& [id, row] : sessions_) out.push_back(row);
    for (const auto& [id, row] : files_) out.push_back(row);
    out.push_back(SnapshotEnd{});
    return out;
}

}  // namespace corvane::feed
