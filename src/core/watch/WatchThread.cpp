#include "core/watch/WatchThread.h"

#include "core/settings/Settings.h"
#include "core/watch/HostAddress.h"

namespace corvane {
namespace {

constexpr const char* kConnectDetected = "接続検出,";
constexpr const char* kDisconnectDetected = "切断検出,";
constexpr const char* kConnTimeDisconnect = "接続時間による自動切断,";
constexpr const char* kIdleTimeDisconnect = "アイドル時間による自動切断,";
constexpr const char* kAccessDetected = "アクセス検出,";
constexpr const char* kSessionBalloonTitle = "共有リソースへの接続を検出しました。";
constexpr const char* kResourceBalloonTitle = "共有リソースへのアクセスを検出しました。";
constexpr const char* kTipPrefix = "Corvane\r\n";

void AppendLine(std::string& lines, const std::string& line) {
    if (!lines.empty()) lines += "\r\n";
    lines += line;
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

void TWatchThread::Terminate() noexcept { terminated_ = true; }

bool TWatchThread::Finished() const noexcept { return finished_; }

void TWatchThread::WaitFor() {
    if (thread_.joinable()) thread_.join();
}

void TWatchThread::Execute() {
    refreshView_ = false;
    while (!terminated_) {
        Pass();
        ctx_.Sleeper.Sleep(1);
    }
    finished_ = true;
}

void TWatchThread::Pass() {
    std::lock_guard<std::mutex> pass(passLock_);
    refreshView_ = !ctx_.Owner.IgnoreAutoRefresh() || ctx_.Owner.RefreshRequested();
    try {
        ctx_.Runner.RunOnMainThread([this] { SessionScan(); });
        ctx_.Sleeper.Sleep(1);
        if (!ctx_.Owner.IgnoreSharedResource()) {
            ctx_.Runner.RunOnMainThread([this] { ResourceScan(); });
            ctx_.Sleeper.Sleep(1);
        }
    } catch (...) {
        // A scan that failed (for instance an event log that cannot be
        // written) ends this pass only; watching goes on with the next one.
    }
    if (refreshView_) ctx_.Owner.ClearRefreshRequested();
}

std::string TWatchThread::EventText(const char* word, const TSessionInfo& info) const {
    return std::string(word) + info.ComputerName + "," + info.IpAddress + "," + info.UserName;
}

void TWatchThread::DisconnectSession(const std::string& computerName, const std::string& userName) {
    ctx_.Server.SessionDel("\\\\" + computerName, userName);
}

void TWatchThread::SessionScan() {
    const Settings& settings = ctx_.Owner.CurrentSettings();
    if (settings.IgnoreAutoRefresh && ctx_.Owner.RefreshRequested()) ctx_.Views.RemoveSessionRow(nullptr);

    std::vector<SessionRecord> records;
    if (ctx_.Server.EnumSessions(records) != 0) return;

    for (auto& session : sessions_) {
        session.Seen = false;
        ctx_.Sleeper.Sleep(1);
    }

    std::string lines;
    for (const SessionRecord& record : records) {
        if (record.UserName.empty()) break;
        TSessionInfo* match = nullptr;
        for (auto& session : sessions_) {
            if (ctx_.Collation.EqualIgnoreCase(session.ComputerName, record.ComputerName) &&
                ctx_.Collation.EqualIgnoreCase(session.UserName, record.UserName)) {
                match = &session;
                break;
            }
            ctx_.Sleeper.Sleep(1);
        }
        if (match) {
            match->Seen = true;
            match->OpenCount = record.OpenCount;
            match->ConnectedSeconds = record.ConnectedSeconds;
            match->IdleSeconds = record.IdleSeconds;
            if (refreshView_) ctx_.Views.UpdateSessionRow(*match);
        } else {
            TSessionInfo info;
            info.Seen = true;
            info.ComputerName = record.ComputerName;
            info.IpAddress = LookupHostAddress(ctx_.Resolver, record.ComputerName);
            if (!ctx_.Owner.IsWatchedAddress(info.IpAddress)) continue;
            info.UserName = record.UserName;
            info.OpenCount = record.OpenCount;
            info.ConnectedSeconds = record.ConnectedSeconds;
            info.IdleSeconds = record.IdleSeconds;
            sessions_.push_back(info);
            if (refreshView_) ctx_.Views.AddSessionRow(info);
            ctx_.Log.WriteLogFile(EventText(kConnectDetected, info));
            AppendLine(lines, info.ComputerName + " (" + info.UserName + ")");
        }
        ctx_.Sleeper.Sleep(1);
    }

    if (!lines.empty()) ctx_.Notifier.SetTipHelp(kTipPrefix + lines);

    for (std::size_t i = sessions_.size(); i-- > 0;) {
        if (!sessions_[i].Seen) {
            if (refreshView_) ctx_.Views.RemoveSessionRow(&sessions_[i]);
            ctx_.Log.WriteLogFile(EventText(kDisconnectDetected, sessions_[i]));
            sessions_.erase(sessions_.begin() + static_cast<std::ptrdiff_t>(i));
        }
        ctx_.Sleeper.Sleep(1);
    }

    RemoveOverLimit(settings.DisconnectConnTime, &TSessionInfo::ConnectedSeconds, kConnTimeDisconnect);
    RemoveOverLimit(settings.DisconnectIdleTime, &TSessionInfo::IdleSeconds, kIdleTimeDisconnect);

    if (lines.empty()) return;
    if (settings.PopupNotifyWindow)
        ctx_.Notifier.ShowBalloonHelp(kSessionBalloonTitle, lines, kBalloonTimeoutMs, TBalloonIconType::bitInfo);
    if (settings.NotifyConnectSessionBySound) ctx_.Notifier.PlayWave(settings.SoundFileNameConnectSession);
    if (settings.PopupNotifyWindowByTray) ctx_.Notifier.StartIconAnimation(kBlinkIntervalMs);
}

void TWatchThread::RemoveOverLimit(std::int32_t limit, std::uint32_t TSessionInfo::*seconds,
                                   const char* eventWord) {
    if (limit <= 0) return;
    for (std::size_t i = sessions_.size(); i-- > 0;) {
        const TSessionInfo& session = sessions_[i];
        if (session.*seconds > static_cast<std::uint32_t>(limit)) {
            DisconnectSession(session.ComputerName, session.UserName);
            if (refreshView_) ctx_.Views.RemoveSessionRow(&session);
            ctx_.Log.WriteLogFile(EventText(eventWord, session));
            sessions_.erase(sessions_.begin() + static_cast<std::ptrdiff_t>(i));
        }
        ctx_.Sleeper.Sleep(1);
    }
}

void TWatchThread::ResourceScan() {
    const Settings& settings = ctx_.Owner.CurrentSettings();
    if (settings.IgnoreAutoRefresh && ctx_.Owner.RefreshRequested()) {
        ctx_.Views.RemoveResourceRow(nullptr);
        for (auto& resource : resources_) resource.Shown = false;
    }

    std::vector<FileRecord> records;
    if (ctx_.Server.EnumFiles(records) != 0) return;

    for (auto& resource : resources_) {
        resource.Seen = false;
        ctx_.Sleeper.Sleep(1);
    }

    std::string lines;
    for (const FileRecord& record : records) {
        TFileInfo* match = nullptr;
        for (auto& resource : resources_) {
            if (ctx_.Collation.EqualIgnoreCase(resource.PathName, record.PathName) &&
                ctx_.Collation.EqualIgnoreCase(resource.UserName, record.UserName)) {
                match = &resource;
                break;
            }
            ctx_.Sleeper.Sleep(1);
        }
        if (match) {
            match->Seen = true;
            match->FileId = record.FileId;
            match->Permissions = record.Permissions;
            match->LockCount = record.LockCount;
            if (refreshView_ && !match->Shown) {
                match->Shown = true;
                ctx_.Views.AddResourceRow(*match);
            }
        } else {
            TFileInfo info;
            info.Seen = true;
            info.FileId = record.FileId;
            info.Permissions = record.Permissions;
            info.LockCount = record.LockCount;
            info.PathName = record.PathName;
            info.UserName = record.UserName;
            info.Shown = refreshView_;
            resources_.push_back(info);
            if (refreshView_) ctx_.Views.AddResourceRow(info);
            ctx_.Log.WriteLogFile(kAccessDetected + info.UserName + "," + info.PathName);
            AppendLine(lines, info.UserName + " (" + info.PathName + ")");
        }
        ctx_.Sleeper.Sleep(1);
    }

    for (std::size_t i = resources_.size(); i-- > 0;) {
        if (!resources_[i].Seen) {
            if (refreshView_) ctx_.Views.RemoveResourceRow(&resources_[i]);
            resources_.erase(resources_.begin() + static_cast<std::ptrdiff_t>(i));
        }
        ctx_.Sleeper.Sleep(1);
    }

    if (lines.empty()) return;
    if (settings.NotifyResourceAccess)
        ctx_.Notifier.ShowBalloonHelp(kResourceBalloonTitle, lines, kBalloonTimeoutMs, TBalloonIconType::bitInfo);
    if (settings.NotifyResourceAccessBySound) ctx_.Notifier.PlayWave(settings.SoundFileName);
    if (settings.NotifyResourceAccessByTray) ctx_.Notifier.StartIconAnimation(kBlinkIntervalMs);
}

}  // namespace corvane
