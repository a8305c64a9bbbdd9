#include "win/service/ServiceFeed.h"

#include "core/app/MainWindowRules.h"
#include "core/text/Collation.h"
#include "win/watch/SystemMessage.h"

namespace corvane::win {
namespace {

feed::CommandOutcome OutcomeOf(app::FileCloseOutcome outcome) {
    switch (outcome) {
        case app::FileCloseOutcome::Closed: return feed::CommandOutcome::Done;
        case app::FileCloseOutcome::AlreadyClosed: return feed::CommandOutcome::AlreadyClosed;
        case app::FileCloseOutcome::Changed: return feed::CommandOutcome::Changed;
        case app::FileCloseOutcome::Failed: break;
    }
    return feed::CommandOutcome::Failed;
}

}  // namespace

ServiceFeed::ServiceFeed(ServiceFeedParts parts)
    : parts_(std::move(parts)), publisher_(text::PlatformCollation()) {
    FeedServerHooks hooks;
    hooks.Show = parts_.Show;
    hooks.CanCloseFiles = [this] { return parts_.Server.CanCloseFiles(); };
    hooks.Snapshot = [this] { return publisher_.Snapshot(parts_.Settings()); };
    hooks.Command = [this](const feed::Command& command, const PipeCaller& caller) { return Carry(command, caller); };
    server_ = std::make_unique<FeedServer>(parts_.PipeName, std::move(hooks));
}

ServiceFeed::~ServiceFeed() { Stop(); }

void ServiceFeed::AfterPass() {
    const feed::Health health = parts_.Health();
    const HeadlessWatch& watch = parts_.Watch;
    server_->Broadcast([&] { return publisher_.Update(watch.Sessions(), watch.Resources(), health); });
    if (started_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextTry_) return;
    const DWORD code = server_->Start();
    started_ = code == 0;
    if (started_) return;
    nextTry_ = now + kPipeRetry;
    if (!reported_ && parts_.Unavailable) parts_.Unavailable(code);
    reported_ = true;
}

void ServiceFeed::SettingsChanged() {
    server_->Broadcast([&] { return std::vector<feed::Message>{parts_.Settings()}; });
}

void ServiceFeed::Stop() noexcept { server_->Stop(); }

// On the pipe's thread, for a caller the server found may act.
feed::CommandResult ServiceFeed::Carry(const feed::Command& command, const PipeCaller& caller) {
    feed::CommandResult result;
    std::string what;
    switch (command.Kind) {
        case feed::CommandKind::DisconnectSession:
            parts_.Server.SessionDel("\\\\" + command.ComputerName, command.UserName);
            what = "強制切断 " + OneLineName(command.ComputerName) + " (" + OneLineName(command.UserName) + ")";
            break;
        case feed::CommandKind::SendMessage:
            parts_.Server.MessageBufferSend(command.ComputerName, command.Text);
            what = "メッセージ送信 " + OneLineName(command.ComputerName);
            break;
        case feed::CommandKind::CloseFile: {
            if (!parts_.Server.CanCloseFiles()) {
                result.Outcome = feed::CommandOutcome::Failed;
                result.Status = IServerApi::kStatusNotSupported;
                return result;
            }
            // Each id is checked against the path and user before it is
            // closed, so ids a tray sends can close nothing else.
            const app::OpenFileRow row{command.UserName, command.PathName};
            const app::FileCloseReport report =
                app::CloseOpenFile(parts_.Server, text::PlatformCollation(), row, command.FileIds);
            const std::string systemText =
                report.Outcome == app::FileCloseOutcome::Failed ? SystemMessageText(report.Status) : std::string();
            if (std::optional<WatchEvent> event = app::FileCloseEvent(row, report, systemText)) {
                event->Time = parts_.Clock.Now();
                parts_.Watch.PostEvent(std::move(*event));  // logged with the next pass
            }
            result.Outcome = OutcomeOf(report.Outcome);
            result.Status = report.Status;
            result.Count = static_cast<std::uint32_t>(report.Closed);
            result.Text = systemText;
            if (report.Closed == 0) return result;
            what = "ファイルを閉じる " + OneLineName(command.PathName) + " (" + OneLineName(command.UserName) + ")";
            break;
        }
        case feed::CommandKind::ChangeSettings:
            if (const std::uint32_t code = parts_.WriteSettings ? parts_.WriteSettings(command.Settings) : 0) {
                result.Outcome = feed::CommandOutcome::Failed;
                result.Status = code;
                result.Text = SystemMessageText(code);
                return result;
            }
            what = "設定の変更";
            break;
    }
    if (parts_.Carried) parts_.Carried(caller, what);
    return result;
}

}  // namespace corvane::win
