#pragma once
// The small interfaces through which the watch logic meets the world.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/watch/WatchTypes.h"

namespace corvane {

struct Settings;

// The local server's management functions. Every call addresses the local
// computer. An enumeration fills `records` only when it returns 0.
class IServerApi {
public:
    virtual ~IServerApi() = default;
    virtual std::uint32_t EnumSessions(std::vector<SessionRecord>& records) = 0;
    virtual std::uint32_t EnumFiles(std::vector<FileRecord>& records) = 0;
    // `uncClientName` is "\\" + computer name. The status is not reported.
    virtual void SessionDel(const std::string& uncClientName, const std::string& userName) = 0;
    // Ends a tracked session that is over a time limit. False when the server
    // did not end it (it may say why through its own channel); the session is
    // then still connected and stays tracked. By default SessionDel by name,
    // whose status Windows does not report.
    virtual bool EndSession(const TSessionInfo& session) {
        SessionDel("\\\\" + session.ComputerName, session.UserName);
        return true;
    }
    virtual void MessageBufferSend(const std::string& computerName, const std::string& message) = 0;
    // Whether the server can tell what an open file's id names now
    // (FileGetInfo) and close it (FileClose). A server whose library lacks
    // either function still lists and ends sessions; it closes no file, since
    // an id that cannot be checked may name another open by now.
    virtual bool CanCloseFiles() const { return false; }
    // What the open file with that id is now (its listing record, level 3);
    // 0 or the server's status (NERR_FileIdNotFound when it is not open).
    virtual std::uint32_t FileGetInfo(std::uint32_t fileId, FileRecord& record) {
        (void)fileId;
        (void)record;
        return kStatusNotSupported;
    }
    // Closes one open file by the id of its listing; 0 or the server's status
    // (NERR_FileIdNotFound when it is not open).
    virtual std::uint32_t FileClose(std::uint32_t fileId) {
        (void)fileId;
        return kStatusNotSupported;
    }
    static constexpr std::uint32_t kStatusNotSupported = 50;  // ERROR_NOT_SUPPORTED
};

// Host names and this computer's addresses.
class IResolver {
public:
    virtual ~IResolver() = default;
    // Every address of the name, in the resolver's order; empty when it does
    // not resolve.
    virtual std::vector<IpAddress> Resolve(const std::string& name) = 0;
    // The computer's own host name, or nullopt when it cannot be had.
    virtual std::optional<std::string> LocalHostName() = 0;
    // Every unicast address of the computer's network adapters, IPv4 and IPv6.
    virtual std::vector<IpAddress> InterfaceAddresses() = 0;
    // True once after the computer's addresses changed, where the system
    // tells; they are also read again every few minutes.
    virtual bool InterfaceAddressesChanged() { return false; }
};

// The list-view row operations of the main window.
class IWatchViews {
public:
    virtual ~IWatchViews() = default;
    virtual void AddSessionRow(const TSessionInfo& info) = 0;
    virtual void UpdateSessionRow(const TSessionInfo& info) = 0;
    virtual void RemoveSessionRow(const TSessionInfo* info) = 0;  // null: clear the list
    virtual void AddResourceRow(const TFileInfo& info) = 0;
    virtual void RemoveResourceRow(const TFileInfo* info) = 0;    // null: clear the list
    // The rows of many sessions or files at once, as one pass finds them:
    // a list that keeps its rows itself changes them in one sweep. By default
    // one call per row, in the given order.
    virtual void RemoveSessionRows(const std::vector<const TSessionInfo*>& infos) {
        for (const TSessionInfo* info : infos) RemoveSessionRow(info);
    }
    virtual void AddResourceRows(const std::vector<const TFileInfo*>& infos) {
        for (const TFileInfo* info : infos) AddResourceRow(*info);
    }
    virtual void RemoveResourceRows(const std::vector<const TFileInfo*>& infos) {
        for (const TFileInfo* info : infos) RemoveResourceRow(info);
    }
};

// Announcements through the tray icon and the sound device.
class INotifier {
public:
    virtual ~INotifier() = default;
    virtual void SetTipHelp(const std::string& tip) = 0;
    virtual void ShowBalloonHelp(const std::string& title, const std::string& text,
                                 int timeoutMs, TBalloonIconType icon) = 0;
    virtual void PlayWave(const std::string& fileName) = 0;
    // Hooks the main window's animation handler and sets the blink interval.
    virtual void StartIconAnimation(int intervalMs) = 0;
};

// The main window as the watch thread sees it.
class IWatchOwner {
public:
    virtual ~IWatchOwner() = default;
    // Read from the watch thread; implementations are thread-safe.
    virtual bool IgnoreAutoRefresh() const = 0;
    virtual bool IgnoreSharedResource() const = 0;
    virtual bool RefreshRequested() const = 0;
    virtual void ClearRefreshRequested() = 0;
    // Main thread only (inside the scans).
    virtual const Settings& CurrentSettings() const = 0;
    // Main thread: the statuses of a pass's two enumerations (0: success; a
    // pass that left the file enumeration out reports 0 for it). Told after
    // every pass in which one failed and after the first pass that worked
    // again.
    virtual void EnumerationResult(std::uint32_t sessionStatus, std::uint32_t fileStatus) = 0;
};

// Runs a call on the main thread and blocks until it has run; an exception
// thrown by the call is rethrown in the caller.
class IMainThreadRunner {
public:
    virtual ~IMainThreadRunner() = default;
    virtual void RunOnMainThread(const std::function<void()>& call) = 0;
};

class ISleeper {
public:
    virtual ~ISleeper() = default;
    virtual void Sleep(unsigned milliseconds) = 0;
};

// The pause between two passes of the watch: it ends when its time is up or
// at once when woken (a refresh request, the end of the program). A wake that
// comes while no one waits ends the next wait at once.
class IPassWait {
public:
    virtual ~IPassWait() = default;
    virtual void Wait(std::chrono::milliseconds timeout) = 0;
    virtual void Wake() = 0;
};

}  // namespace corvane
