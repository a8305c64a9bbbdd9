#include "core/watch/WatchThread.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <system_error>

#include "core/settings/Settings.h"
#include "core/watch/HostAddress.h"

namespace corvane {
namespace {

constexpr const char* kSessionBalloonTitle = "共有リソースへの接続を検出しました。";
constexpr const char* kResourceBalloonTitle = "共有リソースへのアクセスを検出しました。";
constexpr const char* kTipPrefix = "Corvane\r\n";

void AppendLine(std::string& lines, const std::string& line) {
    if (!lines.empty()) lines += "\r\n";
    lines += line;
}

// Runs `onExit` when the scope ends, also when an exception leaves it.
template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ~ScopeExit() { f_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F f_;
};

// Goes through `items` from the last to the first; each one that `gone`
// picks is handed to `act` and then removed, with its key and its entry in
// `index` (key -> position). `hide` gets every item acted on, last first, in
// one call, so that their rows go in one sweep. The removals are carried out
// together at the end, and also when `act` throws for a later item: what was
// acted on is gone (and hidden), what was not stays. The index is mended in
// place (only the entries that moved change), not built anew: a pass in which
// thousands vanish costs the window's thread no more than it must.
template <class Item, class Gone, class Act, class Hide>
void RemoveFromLast(std::vector<Item>& items, std::vector<std::string>& keys,
                    std::unordered_map<std::string, std::size_t>& index, Gone gone, Act act, Hide hide) {
    std::vector<bool> removed(items.size(), false);
    bool any = false;
    ScopeExit compact([&]() noexcept {
        if (!any) return;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (removed[i]) {
                index.erase(keys[i]);
                continue;
            }
            if (kept != i) {
                items[kept] = std::move(items[i]);
                keys[kept] = std::move(keys[i]);
                if (auto entry = index.find(keys[kept]); entry != index.end()) entry->second = kept;
            }
            ++kept;
        }
        items.resize(kept);
        keys.resize(kept);
    });
    std::vector<const Item*> acted;
    acted.reserve(items.size());
    try {
        for (std::size_t i = items.size(); i-- > 0;) {
            if (!gone(items[i])) continue;
            act(items[i]);
            removed[i] = true;
            any = true;
            acted.push_back(&items[i]);
        }
    } catch (...) {
        if (!acted.empty()) hide(acted);
        throw;
    }
    if (!acted.empty()) hide(acted);
}

// An announcement that fails (a notification area that refuses the icon, a
// sound device that is gone) must not keep the pass from its other work.
template <class F>
void Announce(F announce) noexcept {
    try {
        announce();
    } catch (...) {
    }
}

}  // namespace

TWatchThread::TWatchThread(const WatchContext& context) : ctx_(context) {}

TWatchThread::~TWatchThread() {
    Terminate();
    if (thread_.joinable()) thread_.join();
}

void TWatchThread::Start() {
    if (thread_.joinable()) return;
    terminated_ = false;
    finished_ = false;
    thread_ = std::thread([this] { Execute(); });
}

void TWatchThread::Terminate() noexcept {
    terminated_ = true;
    ctx_.Wait.Wake();
}

void TWatchThread::Wake() noexcept { ctx_.Wait.Wake(); }

bool TWatchThread::Finished() const noexcept { return finished_; }

void TWatchThread::WaitFor() {
    if (thread_.joinable()) thread_.join();
}

void TWatchThread::Execute() {
    refreshView_ = false;
    while (!terminated_) {
        Pass();
        if (terminated_) break;
        ctx_.Wait.Wait(kPassInterval);
    }
    // A file closed just before the end still gets its log line.
    PublishPosted();
    finished_ = true;
}

void TWatchThread::PublishPosted() {
    std::vector<WatchEvent> posted;
    {
        std::lock_guard<std::mutex> guard(postedLock_);
        posted.swap(posted_);
    }
    if (!posted.empty()) ctx_.Events.Publish(posted);
}

void TWatchThread::PostEvent(WatchEvent event) {
    {
        std::lock_guard<std::mutex> guard(postedLock_);
        posted_.push_back(std::move(event));
    }
    Wake();
}

std::vector<std::uint32_t> TWatchThread::FileIdsOf(const std::string& userName,
                                                   const std::string& pathName) const {
    const auto found = resourceIndex_.find(text::PairKey(ctx_.Collation, pathName, userName));
    if (found == resourceIndex_.end()) return {};
    return resources_[found->second].FileIds;
}

TWatchThread::Listing<SessionRecord> TWatchThread::ListSessions() {
    Listing<SessionRecord> listing;
    listing.Status = ctx_.Server.EnumSessions(listing.Records);
    if (listing.Status != 0) {
        listing.Records.clear();
        return listing;
    }
    // The walk stops at the first record without a user name: neither it nor
    // any record after it counts in this pass.
    auto end = std::find_if(listing.Records.begin(), listing.Records.end(),
                            [](const SessionRecord& r) { return r.UserName.empty(); });
    listing.Records.erase(end, listing.Records.end());
    listing.Keys.reserve(listing.Records.size());
    for (const SessionRecord& r : listing.Records) {
        // A recorded address is part of the identity: one computer name seen
        // from two addresses is two clients.
        std::string key = text::PairKey(ctx_.Collation, r.ComputerName, r.UserName);
        if (!r.ClientAddress.empty()) key += '\x01' + r.ClientAddress;
        listing.Keys.push_back(std::move(key));
    }
    return listing;
}

TWatchThread::Listing<FileRecord> TWatchThread::ListFiles() {
    Listing<FileRecord> listing;
    listing.Status = ctx_.Server.EnumFiles(listing.Records);
    if (listing.Status != 0) {
        listing.Records.clear();
        return listing;
    }
    listing.Keys.reserve(listing.Records.size());
    for (const FileRecord& r : listing.Records)
        listing.Keys.push_back(text::PairKey(ctx_.Collation, r.PathName, r.UserName));
    return listing;
}

// The name lookups of the sessions that are not tracked yet, done here on the
// watch thread so that a slow resolver never holds up the window. A name that
// does not answer can take seconds (NetBIOS on Windows), so the lookups of one
// pass run side by side, a few at a time: a pass with many new clients waits
// about as long as its slowest lookups, not their sum. The index is only
// changed by the scans, which run while this thread waits for them.
std::optional<std::unordered_map<std::string, std::string>> TWatchThread::AddressesOfNewSessions(
    const Listing<SessionRecord>& listing) {
    std::vector<std::string> names;
    std::unordered_map<std::string, std::string> addresses;
    for (std::size_t i = 0; i < listing.Records.size(); ++i) {
        if (sessionIndex_.count(listing.Keys[i]) || !listing.Records[i].ClientAddress.empty()) continue;
        const std::string& name = listing.Records[i].ComputerName;
        if (addresses.emplace(name, kNoAddress).second) names.push_back(name);
    }
    std::vector<std::string> found(names.size(), kNoAddress);
    std::atomic<std::size_t> next{0}, done{0};
    const auto lookUp = [&]() noexcept {
        // The end of the program does not wait for the rest of them.
        while (!terminated_) {
            const std::size_t i = next++;
            if (i >= names.size()) return;
            try {
                found[i] = LookupHostAddress(ctx_.Resolver, names[i]);
            } catch (...) {
                // Out of memory: the address stays "(N/A)".
            }
            ++done;
        }
    };
    std::vector<std::thread> helpers;
    for (std::size_t k = 1; k < std::min(names.size(), kParallelLookups); ++k) {
        try {
            helpers.emplace_back(lookUp);
        } catch (const std::system_error&) {
            break;  // no more threads: fewer lookups at a time
        }
    }
    lookUp();
    for (std::thread& helper : helpers) helper.join();
    if (done < names.size()) return std::nullopt;  // nor does a scan run without them
    for (std::size_t i = 0; i < names.size(); ++i) addresses[names[i]] = std::move(found[i]);
    return addresses;
}

// This computer's addresses are read on the watch thread, where a slow name
// lookup holds up no window: at the first pass, when the system tells they
// changed, and every few minutes, for a system that does not tell.
void TWatchThread::ReadLocalAddressesWhenDue() {
    const auto now = std::chrono::steady_clock::now();
    const bool changed = ctx_.Resolver.InterfaceAddressesChanged();
    if (localAddressesRead_ && !changed && now - *localAddressesRead_ < kLocalAddressesInterval) return;
    localAddresses_ = LocalAddresses::Read(ctx_.Resolver);
    localAddressesRead_ = now;
}

void TWatchThread::Pass() {
    std::lock_guard<std::mutex> pass(passLock_);
    PassFlags flags;
    const bool requested = ctx_.Owner.RefreshRequested();
    const bool manual = ctx_.Owner.IgnoreAutoRefresh();
    flags.RefreshView = !manual || requested;
    flags.Rebuild = manual && requested;
    refreshView_ = flags.RefreshView;
    events_.clear();
    // A refresh that was asked for stays asked for until a listing it needs
    // has worked: a failing listing must not leave the lists empty.
    bool listed = false;
    try {
        ReadLocalAddressesWhenDue();
        const Listing<SessionRecord> sessions = ListSessions();
        const auto addresses = AddressesOfNewSessions(sessions);
        if (addresses) ctx_.Runner.RunOnMainThread([&] { SessionScan(flags, sessions, *addresses); });
        std::uint32_t fileStatus = 0;
        if (ctx_.Owner.IgnoreSharedResource()) filesScanned_ = false;
        if (!terminated_ && !ctx_.Owner.IgnoreSharedResource()) {
            const Listing<FileRecord> files = ListFiles();
            fileStatus = files.Status;
            // A long listing is handed over in slices, so that the window
            // answers between them even while thousands of rows arrive.
            std::string lines;
            const std::size_t count = files.Records.size();
            std::size_t from = 0;
            do {
                const std::size_t to = std::min(count, from + kScanSlice);
                ctx_.Runner.RunOnMainThread([&] { ResourceScan(flags, files, from, to, lines); });
                from = to;
            } while (from < count);
            filesScanned_ = true;
        }
        listed = sessions.Status == 0 && fileStatus == 0;
        if (sessions.Status != 0 || fileStatus != 0 || enumerationFailed_) {
            enumerationFailed_ = sessions.Status != 0 || fileStatus != 0;
            ctx_.Runner.RunOnMainThread([&] { ctx_.Owner.EnumerationResult(sessions.Status, fileStatus); });
        }
    } catch (...) {
        // A hand-over that failed ends this pass only; watching goes on with
        // the next one. What the scans found so far is still published.
    }
    {
        // What the main thread did comes before what this pass found of it.
        std::lock_guard<std::mutex> guard(postedLock_);
        events_.insert(events_.begin(), std::make_move_iterator(posted_.begin()),
                       std::make_move_iterator(posted_.end()));
        posted_.clear();
    }
    // Also with no events: an output holding what it could not write tries again.
    ctx_.Events.Publish(events_);
    events_.clear();
    if (flags.RefreshView && (listed || !flags.Rebuild)) ctx_.Owner.ClearRefreshRequested();
}

void TWatchThread::SessionEvent(EventKind kind, const TSessionInfo& info) {
    WatchEvent event;
    event.Kind = kind;
    event.Time = ctx_.Clock.Now();
    event.ComputerName = info.ComputerName;
    event.IpAddress = info.IpAddress;
    event.UserName = info.UserName;
    events_.push_back(std::move(event));
}

void TWatchThread::SessionScan(const PassFlags& flags, const Listing<SessionRecord>& listing,
                               const std::unordered_map<std::string, std::string>& addresses) {
    const Settings& settings = ctx_.Owner.CurrentSettings();
    if (listing.Status != 0) return;
    if (flags.Rebuild) ctx_.Views.RemoveSessionRow(nullptr);

    for (auto& session : sessions_) session.Seen = false;

    std::string lines;
    for (std::size_t i = 0; i < listing.Records.size(); ++i) {
        const SessionRecord& record = listing.Records[i];
        const auto found = sessionIndex_.find(listing.Keys[i]);
        if (found != sessionIndex_.end()) {
            TSessionInfo& match = sessions_[found->second];
            match.Seen = true;
            match.OpenCount = record.OpenCount;
            match.ConnectedSeconds = record.ConnectedSeconds;
            match.IdleSeconds = record.IdleSeconds;
            if (flags.RefreshView) ctx_.Views.UpdateSessionRow(match);
            continue;
        }
        TSessionInfo info;
        info.Seen = true;
        info.ComputerName = record.ComputerName;
        info.ClientAddress = record.ClientAddress;
        if (!record.ClientAddress.empty()) {
            info.IpAddress = LoggedAddress(record.ClientAddress);
        } else {
            // Every new name was looked up on the watch thread; the window's
            // thread never waits for a lookup.
            const auto address = addresses.find(record.ComputerName);
            info.IpAddress = address != addresses.end() ? address->second : std::string(kNoAddress);
        }
        if (settings.IgnoreLocalConnection && localAddresses_.Contains(info.IpAddress, record.ClientAddress.empty()))
            continue;
        info.UserName = record.UserName;
        info.OpenCount = record.OpenCount;
        info.ConnectedSeconds = record.ConnectedSeconds;
        info.IdleSeconds = record.IdleSeconds;
        sessionIndex_.emplace(listing.Keys[i], sessions_.size());
        sessions_.push_back(info);
        sessionKeys_.push_back(listing.Keys[i]);
        SessionEvent(EventKind::Connected, info);
        if (flags.RefreshView) ctx_.Views.AddSessionRow(info);
        AppendLine(lines, OneLineName(info.ComputerName) + " (" + OneLineName(info.UserName) + ")");
    }

    if (!lines.empty()) Announce([&] { ctx_.Notifier.SetTipHelp(kTipPrefix + lines); });

    RemoveFromLast(
        sessions_, sessionKeys_, sessionIndex_, [](const TSessionInfo& s) { return !s.Seen; },
        [&](const TSessionInfo& s) { SessionEvent(EventKind::Disconnected, s); },
        [&](const std::vector<const TSessionInfo*>& gone) {
            if (flags.RefreshView) ctx_.Views.RemoveSessionRows(gone);
        });

    RemoveOverLimit(flags, settings.DisconnectConnTime, &TSessionInfo::ConnectedSeconds,
                    EventKind::ConnTimeDisconnect);
    RemoveOverLimit(flags, settings.DisconnectIdleTime, &TSessionInfo::IdleSeconds, EventKind::IdleTimeDisconnect);

    if (lines.empty()) return;
    if (settings.PopupNotifyWindow)
        Announce([&] {
            ctx_.Notifier.ShowBalloonHelp(kSessionBalloonTitle, lines, kBalloonTimeoutMs, TBalloonIconType::bitInfo);
        });
    if (settings.NotifyConnectSessionBySound)
        Announce([&] { ctx_.Notifier.PlayWave(settings.SoundFileNameConnectSession); });
    if (settings.PopupNotifyWindowByTray) Announce([&] { ctx_.Notifier.StartIconAnimation(kBlinkIntervalMs); });
}

void TWatchThread::RemoveOverLimit(const PassFlags& flags, std::int32_t limit,
                                   std::uint32_t TSessionInfo::*seconds, EventKind kind) {
    if (limit <= 0) return;
    // The session is ended before its event is made, and only one that the
    // server ended is picked: the log never tells of an end that has not
    // happened, and a session the server kept stays tracked (and is asked
    // for again by the next pass).
    RemoveFromLast(
        sessions_, sessionKeys_, sessionIndex_,
        [&](const TSessionInfo& s) {
            return s.*seconds > static_cast<std::uint32_t>(limit) && ctx_.Server.EndSession(s);
        },
        [&](const TSessionInfo& s) { SessionEvent(kind, s); },
        [&](const std::vector<const TSessionInfo*>& gone) {
            if (flags.RefreshView) ctx_.Views.RemoveSessionRows(gone);
        });
}

// Records [from, to) of the listing; the first slice starts the scan, the
// last one notices what went away and announces what came.
void TWatchThread::ResourceScan(const PassFlags& flags, const Listing<FileRecord>& listing, std::size_t from,
                                std::size_t to, std::string& lines) {
    const Settings& settings = ctx_.Owner.CurrentSettings();
    if (listing.Status != 0) return;
    if (from == 0) {
        if (flags.Rebuild) {
            ctx_.Views.RemoveResourceRow(nullptr);
            for (auto& resource : resources_) resource.Shown = false;
        }
        for (auto& resource : resources_) resource.Seen = false;
        scanIds_.assign(resources_.size(), {});
    }
    const auto addId = [this](std::size_t index, std::uint32_t id) {
        std::vector<std::uint32_t>& ids = scanIds_[index];
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    };

    // The rows this slice shows, handed to the list together at its end.
    std::vector<std::size_t> shown;
    for (std::size_t i = from; i < to; ++i) {
        const FileRecord& record = listing.Records[i];
        const auto found = resourceIndex_.find(listing.Keys[i]);
        if (found != resourceIndex_.end()) {
            TFileInfo& match = resources_[found->second];
            match.Seen = true;
            addId(found->second, record.FileId);
            match.Permissions = record.Permissions;
            match.LockCount = record.LockCount;
            if (flags.RefreshView && !match.Shown) {
                match.Shown = true;
                shown.push_back(found->second);
            }
            continue;
        }
        TFileInfo info;
        info.Seen = true;
        info.FileIds = {record.FileId};
        info.Permissions = record.Permissions;
        info.LockCount = record.LockCount;
        info.PathName = record.PathName;
        info.UserName = record.UserName;
        info.Key = listing.Keys[i];
        info.Shown = flags.RefreshView;
        resourceIndex_.emplace(listing.Keys[i], resources_.size());
        resources_.push_back(info);
        resourceKeys_.push_back(listing.Keys[i]);
        scanIds_.push_back(info.FileIds);
        WatchEvent event;
        event.Kind = EventKind::Accessed;
        event.Time = ctx_.Clock.Now();
        event.UserName = info.UserName;
        event.PathName = info.PathName;
        events_.push_back(std::move(event));
        if (flags.RefreshView) shown.push_back(resources_.size() - 1);
        AppendLine(lines, OneLineName(info.UserName) + " (" + OneLineName(info.PathName) + ")");
    }
    if (!shown.empty()) {
        std::vector<const TFileInfo*> rows;
        rows.reserve(shown.size());
        for (std::size_t k : shown) rows.push_back(&resources_[k]);
        ctx_.Views.AddResourceRows(rows);
    }

    if (to < listing.Records.size()) return;
    for (std::size_t i = 0; i < resources_.size(); ++i) resources_[i].FileIds = std::move(scanIds_[i]);
    scanIds_.clear();
    RemoveFromLast(
        resources_, resourceKeys_, resourceIndex_, [](const TFileInfo& r) { return !r.Seen; }, [](const TFileInfo&) {},
        [&](const std::vector<const TFileInfo*>& gone) {
            if (flags.RefreshView) ctx_.Views.RemoveResourceRows(gone);
        });

    if (lines.empty()) return;
    if (settings.NotifyResourceAccess)
        Announce([&] {
            ctx_.Notifier.ShowBalloonHelp(kResourceBalloonTitle, lines, kBalloonTimeoutMs, TBalloonIconType::bitInfo);
        });
    if (settings.NotifyResourceAccessBySound) Announce([&] { ctx_.Notifier.PlayWave(settings.SoundFileName); });
    if (settings.NotifyResourceAccessByTray) Announce([&] { ctx_.Notifier.StartIconAnimation(kBlinkIntervalMs); });
}

}  // namespace corvane
