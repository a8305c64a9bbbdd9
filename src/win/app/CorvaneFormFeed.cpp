// The main window as the face of the service: when the service watches this
// computer, the window reads its feed instead of the server. The tray's own
// watch runs over the feed's mirror, so lists, tip, balloons, sound and
// blinking come as they do over the server, and a session seen before a
// reconnection is not announced again. No log is kept here; commands go to
// the service, which carries them out for an elevated administrator only.
// The person's own choices (placement, columns, announcements) are kept in
// their profile.
#include "win/app/CorvaneForm.h"

#include <shlobj.h>

#include "core/feed/FeedSettings.h"
#include "win/app/CenteredMessageDlg.h"
#include "win/settings/ProfileStoreWin.h"
#include "win/watch/SystemMessage.h"

namespace corvane::win {
namespace {

constexpr char kTipTitle[] = "Corvane";

// %APPDATA%\Corvane\Corvane.ini, its folder made when missing.
std::string UserSettingsPath() {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return {};
    std::wstring path = std::wstring(folder) + L"\\Corvane";
    CreateDirectoryW(path.c_str(), nullptr);
    return Narrow(path) + "\\" + kSettingsFileName;
}

}  // namespace

void TCorvaneForm::UseService(std::function<DWORD()> serviceProcessId, std::wstring pipeName) {
    face_ = true;
    serviceProcessId_ = std::move(serviceProcessId);
    pipeName_ = std::move(pipeName);
}

IServerApi* TCorvaneForm::Server() const noexcept {
    if (mirror_) return mirror_.get();
    return netApi_.get();
}

bool TCorvaneForm::StartFace() {
    settingsPath_ = UserSettingsPath();
    profile_ = std::make_unique<ProfileStoreWin>(settingsPath_);
    settingsStore_ = std::make_unique<SettingsStore>(*profile_, *this, settings_);
    appIdleInstalled_ = true;
    try {
        settingsStore_->LoadSettings();
    } catch (const SettingsWriteError& e) {
        ShowErrorBox(Handle(), e.what());
    }
    FaceSettingsChanged();
    LoadListIcons(imageListSessions_.get());
    TabControlChange();
    tray_->Icon()->Loaded();

    mirror_ = std::make_unique<feed::FeedMirror>([this](const feed::Command& c) { return feed_ && feed_->Send(c); });
    watchHealth_ = std::make_unique<WatchHealth>(*this, SystemMessageText);
    watchThread_ = std::make_unique<TWatchThread>(WatchContext{*this, *mirror_, resolver_, *rows_, *this, *clock_, *tray_,
                                                               *runner_, passWait_, text::PlatformCollation()});
    const HWND window = Handle();
    const auto post = [this, window] {
        // Called with feedLock_ held: one note at a time waits in the queue.
        if (!feedNotePosted_) feedNotePosted_ = PostMessageW(window, kFeedMessage, 0, 0) != FALSE;
    };
    FeedClientHooks hooks;
    hooks.ServerProcessId = serviceProcessId_;
    hooks.Message = [this, post](const feed::Message& message) {
        mirror_->Apply(message);
        if (std::holds_alternative<feed::SessionRow>(message) || std::holds_alternative<feed::FileRow>(message) ||
            std::holds_alternative<feed::RowGone>(message) || std::holds_alternative<feed::SnapshotEnd>(message)) {
            // What the service found is shown and announced by the next pass, now.
            passWait_.Wake();
            return;
        }
        if (std::holds_alternative<feed::Hello>(message) || std::holds_alternative<feed::WatchSettings>(message) ||
            std::holds_alternative<feed::Health>(message) || std::holds_alternative<feed::CommandResult>(message)) {
            std::lock_guard guard(feedLock_);
            feedNotes_.push_back(message);
            post();
        }
    };
    hooks.State = [this, post](bool connected, const std::string& why) {
        if (!connected) mirror_->Lost(why == feed::kNoLookReason);
        std::lock_guard guard(feedLock_);
        feedState_ = std::make_pair(connected, why);
        post();
    };
    feed_ = std::make_unique<FeedClient>(pipeName_, std::move(hooks));
    watchThread_->Start();
    feed_->Start();
    return true;
}

void TCorvaneForm::FeedArrived() {
    std::deque<feed::Message> notes;
    std::optional<std::pair<bool, std::string>> state;
    {
        std::lock_guard guard(feedLock_);
        feedNotePosted_ = false;
        notes.swap(feedNotes_);
        state.swap(feedState_);
    }
    for (const feed::Message& note : notes) {
        if (const auto* hello = std::get_if<feed::Hello>(&note)) {
            access_ = hello->Granted;
            accessReason_ = hello->Reason;
        } else if (const auto* values = std::get_if<feed::WatchSettings>(&note)) {
            serviceSettings_ = *values;
            feed::ApplyWatchSettings(serviceSettings_, settings_, &show_);
            FaceSettingsChanged();
        } else if (const auto* health = std::get_if<feed::Health>(&note)) {
            if (watchHealth_) watchHealth_->LogResult(health->Log.Code, health->Log.Held, health->Log.Dropped);
        } else if (const auto* result = std::get_if<feed::CommandResult>(&note)) {
            FaceCommandDone(*result);
        }
    }
    if (state) {
        const bool wasConnected = feedConnected_;
        feedConnected_ = state->first;
        feedWhy_ = state->second;
        if (!feedConnected_) access_ = feed::Access::None;
        if (tray_ && feedConnected_ != wasConnected)
            tray_->SetTipHelp(feedConnected_ ? kTipTitle : std::string(kTipTitle) + "\r\n" + feedWhy_);
        else if (tray_ && !feedConnected_)
            tray_->SetTipHelp(std::string(kTipTitle) + "\r\n" + feedWhy_);
    }
    ShowFaceState();
    UpdateActions();
}

// The status bar: why nothing comes (no service, or not let in), else why the
// commands are off; a fault of the watch itself goes before the latter.
void TCorvaneForm::ShowFaceState() {
    if (!feedConnected_) {
        SetStatusText(Wide(feedWhy_));
        return;
    }
    if (watchHealth_ && watchHealth_->Failing()) return;
    SetStatusText(Wide(access_ == feed::Access::Act ? std::string() : accessReason_));
}

// The tray's own watch takes the service's settings but neither filters
// sessions nor ends them: the service has done both before they came.
void TCorvaneForm::FaceSettingsChanged() {
    faceWatchSettings_ = settings_;
    faceWatchSettings_.IgnoreLocalConnection = false;
    faceWatchSettings_.DisconnectConnTime = 0;
    faceWatchSettings_.DisconnectIdleTime = 0;
}

void TCorvaneForm::SendWatchSettings() {
    const feed::WatchSettings wanted = feed::WatchSettingsOf(settings_, show_);
    if (serviceSettings_.Values.empty() || wanted == serviceSettings_) {
        FaceSettingsChanged();
        return;
    }
    feed::Command command;
    command.Id = nextCommand_++;
    command.Kind = feed::CommandKind::ChangeSettings;
    command.Settings = wanted;
    if (access_ != feed::Access::Act || !mirror_->Send(command)) {
        // The service's settings stay; the dialog showed what may not be changed.
        feed::ApplyWatchSettings(serviceSettings_, settings_, &show_);
        SetStatusText(Wide(feedConnected_ ? accessReason_ : feedWhy_));
    }
    FaceSettingsChanged();
}

void TCorvaneForm::FaceFileClose(const std::vector<app::OpenFileRow>& files) {
    for (const app::OpenFileRow& file : files) {
        feed::Command command;
        command.Id = nextCommand_++;
        command.Kind = feed::CommandKind::CloseFile;
        command.PathName = file.PathName;
        command.UserName = file.UserName;
        command.FileIds = watchThread_->FileIdsOf(file.UserName, file.PathName);
        if (command.FileIds.size() > feed::kMaxFileIds) command.FileIds.resize(feed::kMaxFileIds);
        if (!mirror_->Send(command)) {
            SetStatusText(Wide(feedWhy_));
            return;
        }
        pendingCloses_[command.Id] = file;
    }
}

// What the service did with a command: a refusal in the status bar, a close
// as the window tells of its own closes.
void TCorvaneForm::FaceCommandDone(const feed::CommandResult& result) {
    if (result.Outcome == feed::CommandOutcome::Refused) SetStatusText(Wide(result.Text));
    const auto pending = pendingCloses_.find(result.Id);
    if (pending == pendingCloses_.end()) return;
    const app::OpenFileRow file = pending->second;
    pendingCloses_.erase(pending);
    switch (result.Outcome) {
        case feed::CommandOutcome::Done:
        case feed::CommandOutcome::AlreadyClosed:
            ActionRefreshExecute();
            break;
        case feed::CommandOutcome::Changed:
            if (result.Count > 0) ActionRefreshExecute();
            CenteredMessageDlg(Handle(), app::kFileListChangedText, "Corvane", TMsgDlgType::mtWarning,
                               TMsgDlgButtons::mbOK);
            break;
        case feed::CommandOutcome::Failed: {
            app::FileCloseReport report;
            report.Outcome = app::FileCloseOutcome::Failed;
            report.Ids = watchThread_ ? watchThread_->FileIdsOf(file.UserName, file.PathName).size() : 0;
            report.Closed = result.Count;
            report.Status = result.Status;
            CenteredMessageDlg(Handle(), app::FileCloseErrorText(file, report, SystemMessageText(result.Status)),
                               "Corvane", TMsgDlgType::mtError, TMsgDlgButtons::mbOK);
            break;
        }
        case feed::CommandOutcome::Refused:
            break;
    }
}

}  // namespace corvane::win
