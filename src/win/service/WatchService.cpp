#include "win/service/WatchService.h"

#include "core/feed/FeedSettings.h"
#include "core/settings/SettingsStore.h"
#include "core/settings/WatchSettings.h"
#include "win/ui/UniqueResource.h"
#include "win/watch/SystemMessage.h"

namespace corvane::win {
namespace {

// No one is at the service's desktop: announcements go nowhere.
class NoNotifier final : public INotifier {
public:
    void SetTipHelp(const std::string&) override {}
    void ShowBalloonHelp(const std::string&, const std::string&, int, TBalloonIconType) override {}
    void PlayWave(const std::string&) override {}
    void StartIconAnimation(int) override {}
};

}  // namespace

WatchService::WatchService(const std::string& folder)
    : settingsPath_(folder + kSettingsFileName),
      logPath_(folder + kLogFileName),
      folder_(Wide(folder)),
      profile_(settingsPath_),
      eventLog_(files_, clock_, logPath_, [this] { return settings_.MaxLogSize.load(); }),
      reporter_(ProgramPath()),
      reports_(reporter_, [this] { return settings_.WriteEventLog.load(); }, SystemMessageText,
               [this] { return eventLog_.State(); }),
      outputs_({&eventLog_, &reports_}),  // the reports tell the log's state: after it
      notifier_(std::make_unique<NoNotifier>()) {
    // No lists to keep up to date: the scans' row work is left out, as in
    // the tray's manual refresh.
    settings_.IgnoreAutoRefresh = true;
}

WatchService::~WatchService() {
    settingsWatcher_.reset();  // its thread may still ask for a reread
}

bool WatchService::Prepare() {
    Tell(report::kServiceStarted, ReportLevel::Information, {logPath_, settingsPath_});
    StartWinsock();  // this computer's addresses, for the local-connection filter
    ReadSettings(false);
    netApi_ = NetApi::Bind();
    if (!netApi_) {
        Tell(report::kServerUnbound, ReportLevel::Error, {});
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(watchLock_);
        watch_ = std::make_unique<HeadlessWatch>(WatchParts{
            settings_, *netApi_, resolver_, outputs_, clock_, *notifier_,
            [this](std::uint32_t sessions, std::uint32_t files) {
                sessionStatus_ = sessions;
                fileStatus_ = files;
                reports_.EnumerationResult(sessions, files);
            }});
        if (stopRequested_) watch_->Stop();
    }
    feed_ = std::make_unique<ServiceFeed>(ServiceFeedParts{
        *watch_, *netApi_, clock_, kFeedPipeName, [this] { return FeedHealth(); },
        [this] {
            std::lock_guard guard(feedSettingsLock_);
            return feedSettings_;
        },
        [this] { return show_.load(); },
        [this](const feed::WatchSettings& values) { return feed::WriteWatchSettings(profile_, values); },
        [this](const PipeCaller& caller, const std::string& what) {
            Tell(report::kCommandCarriedOut, ReportLevel::Information,
                 {caller.Account.empty() ? "?" : caller.Account, std::to_string(caller.ProcessId), what});
        },
        [this](DWORD code) { Tell(report::kFeedUnavailable, ReportLevel::Error, {std::to_string(code)}); }});
    outputs_.Add(feed_->Events());
    // The folder's change notices; without them the settings stay as read.
    settingsWatcher_ = std::make_unique<SettingsWatcher>(folder_, Wide(kSettingsFileName), [this] {
        settingsChanged_ = true;
        if (watch_) watch_->Wake();
    });
    settingsWatcher_->Start();
    return true;
}

void WatchService::Run() {
    if (stopRequested_ || !watch_) return;
    // The settings change between passes, on the thread that runs the scans.
    watch_->Run(
        kPassInterval,
        [this] {
            if (settingsChanged_.exchange(false)) ReadSettings(true);
            return true;
        },
        [this] { feed_->AfterPass(); });
}

void WatchService::Stop() {
    stopRequested_ = true;
    std::lock_guard<std::mutex> guard(watchLock_);
    if (watch_) watch_->Stop();
}

void WatchService::Finish() {
    if (feed_) feed_->Stop();  // the trays see the service go
    settingsWatcher_.reset();
    // A file a tray closed after the last pass still gets its log line.
    if (watch_) watch_->PublishPosted();
    const EventLogExit exit = eventLog_.Finish();
    if (const auto report = ReportOf(exit)) reports_.Tell(*report);
    Tell(report::kServiceStopped, ReportLevel::Information, {});
}

void WatchService::ReadSettings(bool reread) {
    Settings read = settings_;
    const std::vector<SettingProblem> problems = LoadWatchSettings(profile_, read);
    settings_.IgnoreSharedResource = read.IgnoreSharedResource.load();
    settings_.IgnoreLocalConnection = read.IgnoreLocalConnection;
    settings_.DisconnectConnTime = read.DisconnectConnTime;
    settings_.DisconnectIdleTime = read.DisconnectIdleTime;
    settings_.MaxLogSize = read.MaxLogSize.load();
    settings_.WriteEventLog = read.WriteEventLog.load();
    // Who may look at the trays' feed; 0 (administrators only) unless it says 1.
    const std::string show = profile_.ReadString("Environment", feed::kShowToUsersKey);
    const std::optional<feed::ShowToUsers> parsedShow = feed::ParseShowToUsers(show);
    show_ = parsedShow.value_or(feed::ShowToUsers::AdministratorsOnly);
    {
        std::lock_guard guard(feedSettingsLock_);
        feedSettings_ = feed::WatchSettingsOf(settings_, show_);
    }
    if (reread && feed_) feed_->SettingsChanged();
    if (reread) Tell(report::kSettingsReread, ReportLevel::Information, {settingsPath_});
    if (!show.empty() && !parsedShow)
        Tell(report::kSettingRefused, ReportLevel::Warning, {feed::kShowToUsersKey, OneLineName(show), settingsPath_, "0"});
    for (const SettingProblem& problem : problems)
        Tell(report::kSettingRefused, ReportLevel::Warning, {problem.Key, OneLineName(problem.Value), settingsPath_, problem.Default});
}

// The service's own reports go to the event log whatever WriteEventLog says:
// they are how an administrator sees a service without a window.
void WatchService::Tell(std::uint32_t id, ReportLevel level, std::vector<std::string> strings) {
    reports_.Tell(EventReport{id, level, report::kCategoryWatch, std::move(strings)});
}

feed::Health WatchService::FeedHealth() const {
    feed::Health health;
    health.SessionStatus = sessionStatus_;
    health.FileStatus = fileStatus_;
    health.FilesWatched = !settings_.IgnoreSharedResource;
    health.Log = eventLog_.State();
    return health;
}

}  // namespace corvane::win
