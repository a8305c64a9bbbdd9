#pragma once
// What corvane-service.exe runs: the tray's watch without its window. The
// server functions, this computer's names, the event log file beside the
// program, the Windows event log and Corvane.ini beside the program (its
// watch keys, read again whenever the file changes) around one headless
// watch. Every pass's events go to each output of one list, in order: the log
// file, the Windows event log, then any output added before Run.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "core/events/EventLog.h"
#include "core/events/EventReport.h"
#include "core/feed/FeedAccess.h"
#include "core/feed/FeedMessages.h"
#include "core/host/HeadlessWatch.h"
#include "core/settings/Settings.h"
#include "win/events/EventLogReporter.h"
#include "win/service/ServiceFeed.h"
#include "win/service/SettingsWatcher.h"
#include "win/events/LogFileSystemWin.h"
#include "win/settings/ProfileStoreWin.h"
#include "win/watch/NetApi.h"
#include "win/watch/WinsockResolver.h"

namespace corvane::win {

class WatchService {
public:
    // `folder`: the program's folder, with its final backslash.
    explicit WatchService(const std::string& folder);
    ~WatchService();
    WatchService(const WatchService&) = delete;
    WatchService& operator=(const WatchService&) = delete;

    // Reports the start, binds the server functions and reads the settings
    // (a malformed value is reported and its default used). False when the
    // server functions are missing: that is reported, and nothing can be watched.
    bool Prepare();
    // Another output of every event (the tray's feed, say). Before Run.
    void AddSink(IEventSink& sink) { outputs_.Add(sink); }
    // The watch, for a snapshot of what it tracks. After Prepare.
    HeadlessWatch& Watch() { return *watch_; }

    // Watches until Stop.
    void Run();
    // Ends Run after the pass in progress. Any thread; does not wait.
    void Stop();
    // After Run: what the log still holds goes to it or to a file beside it,
    // the event log tells where (or that it was lost), then that the service stopped.
    void Finish();

private:
    void ReadSettings(bool reread);
    void Tell(std::uint32_t id, ReportLevel level, std::vector<std::string> strings);

    std::string settingsPath_;
    std::string logPath_;
    std::wstring folder_;
    Settings settings_;
    ProfileStoreWin profile_;
    LogFileSystemWin files_;
    LocalClockWin clock_;
    EventLog eventLog_;
    EventLogReporter reporter_;
    EventReportSink reports_;
    EventFanOut outputs_;
    WinsockResolver resolver_;
    std::unique_ptr<INotifier> notifier_;
    std::unique_ptr<NetApi> netApi_;
    std::mutex watchLock_;  // Stop may come while Prepare makes the watch
    std::unique_ptr<HeadlessWatch> watch_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> settingsChanged_{false};
    std::unique_ptr<SettingsWatcher> settingsWatcher_;

    // The trays' feed, and what it tells them from other threads.
    feed::Health FeedHealth() const;
    std::unique_ptr<ServiceFeed> feed_;
    std::atomic<std::uint32_t> sessionStatus_{0}, fileStatus_{0};
    std::atomic<feed::ShowToUsers> show_{feed::ShowToUsers::AdministratorsOnly};
    mutable std::mutex feedSettingsLock_;
    feed::WatchSettings feedSettings_;
};

}  // namespace corvane::win
