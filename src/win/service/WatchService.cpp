#include "win/service/WatchService.h"

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
            [this](std::uint32_t sessions, std::uint32_t files) { reports_.EnumerationResult(sessions, files); }});
        if (stopRequested_) watch_->Stop();
    }
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
        nullptr);
}

void WatchService::Stop() {
    stopRequested_ = true;
    std::lock_guard<std::mutex> guard(watchLock_);
    if (watch_) watch_->Stop();
}

void WatchService::Finish() {
    settingsWatcher_.reset();
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
    if (reread) Tell(report::kSettingsReread, ReportLevel::Information, {settingsPath_});
    for (const SettingProblem& problem : problems)
        Tell(report::kSettingRefused, ReportLevel::Warning, {problem.Key, OneLineName(problem.Value), settingsPath_, problem.Default});
}

// The service's own reports go to the event log whatever WriteEventLog says:
// they are how an administrator sees a service without a window.
void WatchService::Tell(std::uint32_t id, ReportLevel level, std::vector<std::string> strings) {
    reports_.Tell(EventReport{id, level, report::kCategoryWatch, std::move(strings)});
}

}  // namespace corvane::win
