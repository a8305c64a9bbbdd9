// corvane-watch: the watch of the Windows program over a Samba file server,
// without windows: events go to the event log, announcements to standard
// output, problems to standard error.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <sstream>
#include <thread>

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/events/EventLog.h"
#include "core/host/HeadlessWatch.h"
#include "core/settings/IniFile.h"
#include "core/text/Collation.h"
#include "core/views/TimeStr.h"
#include "linux/ChangeSignals.h"
#include "linux/JsonEvents.h"
#include "linux/LinuxAdapters.h"
#include "linux/Process.h"
#include "linux/SambaServer.h"
#include "linux/WatchOptions.h"

namespace corvane::samba {
namespace {

constexpr const char* kProgram = "corvane-watch";

void Problem(const std::string& text) { std::cerr << kProgram << ": " << text << std::endl; }

// The event log as the watch's output: a log that cannot be written holds its
// lines, and the problem is told on standard error once when it starts and
// once when it ends.
class ReportingLog final : public IEventSink {
public:
    explicit ReportingLog(EventLog& log) : log_(log) {}
    void Publish(const std::vector<WatchEvent>& events) noexcept override {
        log_.Publish(events);
        try {  // the state's text is a copy: out of memory is caught too
            const EventLogState state = log_.State();
            if (state.Code != 0 && !failing_)
                Problem("cannot write the event log: " + state.Error + "; holding its lines until it can");
            else if (state.Code == 0 && failing_)
                Problem("the event log can be written again; the lines held were written");
            failing_ = state.Code != 0;
        } catch (...) {
        }
    }

private:
    EventLog& log_;
    bool failing_ = false;
};

// SIGINT, SIGTERM and SIGHUP are taken by one thread that asks the watch to stop.
class StopSignals {
public:
    explicit StopSignals(HeadlessWatch& watch) {
        sigemptyset(&set_);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set_, s);
        pthread_sigmask(SIG_BLOCK, &set_, nullptr);
        thread_ = std::thread([this, &watch] {
            int received = 0;
            sigwait(&set_, &received);
            if (!closing_) watch.Stop();
        });
    }
    ~StopSignals() {
        closing_ = true;
        pthread_kill(thread_.native_handle(), SIGTERM);  // no effect on a thread that has returned
        thread_.join();
    }

private:
    sigset_t set_{};
    std::atomic<bool> closing_{false};
    std::thread thread_;
};

// Empty when the log file can be written (or created in its folder).
std::string LogWriteProblem(const std::string& path) {
    if (::access(path.c_str(), F_OK) == 0) return ::access(path.c_str(), W_OK) == 0 ? "" : std::strerror(errno);
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    return ::access(folder.c_str(), W_OK) == 0 ? "" : folder + ": " + std::strerror(errno);
}

void PrintSnapshot(const HeadlessWatch& watch, const SambaServer& server, bool withFiles) {
    for (const auto& s : watch.Sessions()) {
        std::cout << "session\t" << s.ComputerName << '\t' << s.IpAddress << '\t' << s.UserName << '\t' << s.OpenCount
                  << '\t' << views::CardinalToTimeStr(s.ConnectedSeconds) << '\n';
    }
    // Sessions that a time limit could not end: Samba ends whole processes.
    for (const auto& s : watch.Sessions()) {
        if (const std::string shared = server.SharedProcess(s); !shared.empty())
            std::cout << "unendable\t" << s.ComputerName << '\t' << s.IpAddress << '\t' << s.UserName << '\t' << shared
                      << '\n';
    }
    if (withFiles) {
        for (const auto& f : watch.Resources()) {
            // Every open of the file by the user: its ids, comma-separated.
            std::cout << "file\t" << f.UserName << '\t' << f.PathName << '\t';
            for (std::size_t i = 0; i < f.FileIds.size(); ++i) std::cout << (i ? "," : "") << f.FileIds[i];
            std::cout << '\t' << f.LockCount << '\n';
        }
    }
    std::cout.flush();
}

int Main(const std::vector<std::string>& args) {
    std::signal(SIGPIPE, SIG_IGN);
    const ParsedOptions parsed = ParseCommandLine(args);
    if (!parsed.Error.empty()) {
        Problem(parsed.Error);
        std::cerr << "Try '" << kProgram << " --help'." << std::endl;
        return 2;
    }
    const WatchOptions& options = parsed.Options;
    if (options.Help) {
        std::cout << HelpText();
        return 0;
    }

    std::unique_ptr<IProfileStore> ini;
    if (!options.ConfigPath.empty()) {
        struct stat st {};
        if (::stat(options.ConfigPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            ::access(options.ConfigPath.c_str(), R_OK) != 0) {
            Problem("cannot read the settings file " + options.ConfigPath);
            return 2;
        }
        ini = std::make_unique<IniFile>(options.ConfigPath);
    }
    ReadOnlyProfileStore store(std::move(ini));
    Settings settings;
    if (const std::string refused = ResolveSettings(options, store, settings); !refused.empty()) {
        Problem(refused);
        return 2;
    }

    // A snapshot reads only: it ends nothing, and writes no file.
    if (options.Once) settings.DisconnectConnTime = 0;
    std::unique_ptr<LogLock> logLock;
    if (!options.Once) {
        // A log that cannot be written would lose events silently until someone looks.
        if (const std::string problem = LogWriteProblem(options.LogPath); !problem.empty()) {
            Problem("cannot write the event log " + options.LogPath + ": " + problem);
            return 2;
        }
        std::string locked;
        logLock = LogLock::Acquire(options.LogPath, locked);
        if (!logLock) {
            Problem(locked);
            return 2;
        }
    }

    PosixProcessRunner runner;
    std::string notifySend = options.NotifySend;
    if (!notifySend.empty() && !ProgramExists(notifySend)) {
        Problem(notifySend + " was not found; desktop notifications are off");
        notifySend.clear();
    }

    PosixLogFileSystem files;
    SystemClock clock;
    EventLog eventLog(files, clock, options.LogPath, [&settings] { return settings.MaxLogSize.load(); }, options.Encoding);
    ReportingLog reportingLog(eventLog);
    DiscardingSink discard;
    // Collectors read every event as a JSON line; the announcements then stay off standard output.
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    JsonLinesSink json(std::cout, host);
    EventFanOut logAndJson({&reportingLog, &json});
    IEventSink& log = options.Once ? static_cast<IEventSink&>(discard)
                      : options.JsonEvents ? static_cast<IEventSink&>(logAndJson)
                                           : reportingLog;
    // A snapshot (--once) prints only its listing, for scripts to read.
    std::ostream unheard(nullptr);  // takes every line and keeps none
    ConsoleNotifier notifier(options.Once || options.JsonEvents ? static_cast<std::ostream&>(unheard) : std::cout, runner,
                             options.Once ? std::string() : notifySend);
    SambaServer server(runner, SambaTools{options.Smbstatus, options.Smbcontrol, options.Timeout},
                       text::PlatformCollation(), [] { return static_cast<std::int64_t>(std::time(nullptr)); });
    SystemResolver resolver;
    HeadlessWatch watch(WatchParts{settings, server, resolver, log, clock, notifier});

    // The listing problem last told (numbers left out, so a changing pid or
    // time in smbstatus' message does not make a new line every pass).
    std::string reported;
    const auto afterPass = [&] {
        std::string error = server.ListingError();
        std::erase_if(error, [](char c) { return c >= '0' && c <= '9'; });
        if (error != reported) {
            if (!error.empty()) Problem(server.ListingError() + "; pass skipped");
            else if (!reported.empty()) Problem("smbstatus answers again; watching");
            reported = error;
        }
        std::vector<WatchEvent> failed;
        for (const DisconnectFailure& failure : server.TakeDisconnectFailures()) {
            Problem("could not end a connection: " + failure.ComputerName + "," + failure.UserName + "," +
                    failure.Reason);
            WatchEvent event;
            event.Kind = EventKind::DisconnectFailed;
            event.Time = clock.Now();
            event.ComputerName = failure.ComputerName;
            event.IpAddress = failure.Address;
            event.UserName = failure.UserName;
            event.Detail = failure.Reason;
            failed.push_back(std::move(event));
        }
        if (!failed.empty()) log.Publish(failed);
    };
    // Lines the log could not take go to a file beside it at the end.
    const auto finish = [&] {
        const EventLogExit exit = eventLog.Finish();
        if (exit.Unsaved == 0) return;
        if (!exit.SavedTo.empty())
            Problem(std::to_string(exit.Unsaved) + " lines the event log could not take were saved to " +
                    exit.SavedTo);
        else
            Problem(std::to_string(exit.Unsaved) + " events could not be logged: " + exit.Error);
    };

    if (options.Once) {
        watch.Pass();
        afterPass();
        if (!server.ListingError().empty()) return 1;
        PrintSnapshot(watch, server, !settings.IgnoreSharedResource);
        return 0;
    }

    const auto ms = options.Interval.count();
    const std::string every = ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
    StopSignals stopSignals(watch);
    if (options.Poll) {
        Problem("watching Samba through " + options.Smbstatus + " every " + every + "; event log: " + options.LogPath);
        watch.Run(options.Interval, nullptr, afterPass);
        finish();
        Problem("stopped");
        return 0;
    }

    // A full listing only when Samba's own signals say its state may have changed.
    SambaSignals signals(options.LockDirectory.empty() ? SambaLockDirectory(runner) : options.LockDirectory);
    ListingSchedule schedule(!settings.IgnoreSharedResource, options.Interval);
    SignalReading reading;
    ListingSchedule::Clock::time_point readAt;
    std::optional<bool> polling;
    const auto due = [&] {
        readAt = ListingSchedule::Clock::now();
        reading = signals.Read();
        const bool now = schedule.Polling(reading);
        if (now != polling) {
            if (now) Problem("cannot read Samba's change signals (" + signals.Problem() + "); asking " +
                             options.Smbstatus + " every " + every);
            else if (polling) Problem("reading Samba's change signals again");
            polling = now;
        }
        return schedule.Due(readAt, reading);
    };
    const auto listed = [&] {
        afterPass();
        // The next tracked session to pass the connected-time limit is listed in time.
        std::optional<std::chrono::seconds> untilLimit;
        if (settings.DisconnectConnTime > 0) {
            const auto limit = static_cast<std::uint32_t>(settings.DisconnectConnTime);
            for (const auto& s : watch.Sessions()) {
                if (s.ConnectedSeconds > limit) continue;  // kept by Samba: the regular listing asks again
                const std::chrono::seconds left(limit + 1 - s.ConnectedSeconds);
                if (!untilLimit || left < *untilLimit) untilLimit = left;
            }
        }
        schedule.Listed(readAt, reading, untilLimit);
    };
    Problem("watching Samba through " + options.Smbstatus + " when its state changes (at least every " +
            std::to_string(kFullListingEvery.count()) + " s); event log: " + options.LogPath);
    watch.Run(std::min<std::chrono::milliseconds>(kSignalTick, options.Interval), due, listed);
    finish();
    Problem("stopped");
    return 0;
}

}  // namespace
}  // namespace corvane::samba

int main(int argc, char** argv) {
    try {
        return corvane::samba::Main(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        std::cerr << "corvane-watch: " << e.what() << std::endl;
        return 1;
    }
}
