#include "core/feed/FeedMirror.h"

#include <type_traits>

namespace corvane::feed {

void FeedMirror::Apply(const Message& message) {
    std::lock_guard guard(lock_);
    // Rows and health before a snapshot's end go into the next state; after
    // it, straight into the one the watch reads.
    auto& sessions = inSnapshot_ ? nextSessions_ : sessions_;
    auto& files = inSnapshot_ ? nextFiles_ : files_;
    std::visit(
        [&](const auto& m) {
            using T = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<T, Hello>) {
                hello_ = m;
                live_ = false;
                if (m.Granted == Access::None) Refuse();
                else refused_ = false;
            } else if constexpr (std::is_same_v<T, SnapshotBegin>) {
                inSnapshot_ = true;
                nextSessions_.clear();
                nextFiles_.clear();
            } else if constexpr (std::is_same_v<T, SnapshotEnd>) {
                if (!inSnapshot_) return;
                inSnapshot_ = false;
                sessions_.swap(nextSessions_);
                files_.swap(nextFiles_);
                nextSessions_.clear();
                nextFiles_.clear();
                live_ = hello_.Granted != Access::None;
            } else if constexpr (std::is_same_v<T, SessionRow>) {
                sessions[m.Id] = m;
            } else if constexpr (std::is_same_v<T, FileRow>) {
                files[m.Id] = m;
            } else if constexpr (std::is_same_v<T, RowGone>) {
                if (m.File) files.erase(m.Id);
                else sessions.erase(m.Id);
            } else if constexpr (std::is_same_v<T, Health>) {
                health_ = m;
            } else if constexpr (std::is_same_v<T, WatchSettings>) {
                settings_ = m;
            }
        },
        message);
}

void FeedMirror::Lost(bool refused) {
    std::lock_guard guard(lock_);
    live_ = false;
    inSnapshot_ = false;
    hello_ = Hello{};
    if (refused) Refuse();
}

// What the caller saw while it could look is not kept to be shown.
void FeedMirror::Refuse() {
    refused_ = true;
    sessions_.clear();
    files_.clear();
}

bool FeedMirror::Live() const {
    std::lock_guard guard(lock_);
    return live_;
}

Hello FeedMirror::Greeting() const {
    std::lock_guard guard(lock_);
    return hello_;
}

Health FeedMirror::LastHealth() const {
    std::lock_guard guard(lock_);
    return health_;
}

WatchSettings FeedMirror::LastSettings() const {
    std::lock_guard guard(lock_);
    return settings_;
}

std::uint32_t FeedMirror::ListingStatus(std::uint32_t status) const {
    if (live_) return status;
    return refused_ ? 0 : kStatusNoService;  // refused: the rows are gone, the listings empty
}

std::uint32_t FeedMirror::EnumSessions(std::vector<SessionRecord>& records) {
    std::lock_guard guard(lock_);
    records.clear();
    if (const std::uint32_t status = ListingStatus(health_.SessionStatus); status != 0) return status;
    records.reserve(sessions_.size());
    for (const auto& [id, row] : sessions_) {
        // The address the service found goes with the record, so the tray
        // looks no name up and tells the same session apart as the service.
        records.push_back(SessionRecord{row.ComputerName, row.UserName, row.OpenCount, row.ConnectedSeconds,
                                        row.IdleSeconds, row.IpAddress});
    }
    return 0;
}

std::uint32_t FeedMirror::EnumFiles(std::vector<FileRecord>& records) {
    std::lock_guard guard(lock_);
    records.clear();
    if (const std::uint32_t status = ListingStatus(health_.FileStatus); status != 0) return status;
    for (const auto& [id, row] : files_) {
        // One record per open: the watch gathers a path and user's opens again.
        for (std::uint32_t fileId : row.FileIds)
            records.push_back(FileRecord{fileId, row.Permissions, row.LockCount, row.PathName, row.UserName});
        if (row.FileIds.empty())
            records.push_back(FileRecord{0, row.Permissions, row.LockCount, row.PathName, row.UserName});
    }
    return 0;
}

void FeedMirror::SessionDel(const std::string& uncClientName, const std::string& userName) {
    Command command;
    command.Kind = CommandKind::DisconnectSession;
    command.ComputerName = uncClientName.rfind("\\\\", 0) == 0 ? uncClientName.substr(2) : uncClientName;
    command.UserName = userName;
    Send(command);
}

void FeedMirror::MessageBufferSend(const std::string& computerName, const std::string& message) {
    Command command;
    command.Kind = CommandKind::SendMessage;
    command.ComputerName = computerName;
    command.Text = message;
    Send(command);
}

bool FeedMirror::CanCloseFiles() const {
    std::lock_guard guard(lock_);
    return live_ && hello_.CanCloseFiles;
}

}  // namespace corvane::feed
