#pragma once
// The core's other ports on Linux: the log's files, the clock, the
// announcements (standard output and notify-send) and a settings file that is
// only read.
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>

#include "core/events/EventLog.h"
#include "core/settings/ProfileStore.h"
#include "core/settings/SettingsWindow.h"
#include "core/watch/WatchPorts.h"
#include "linux/Process.h"

namespace corvane::samba {

// Error codes are errno values.
class PosixLogFileSystem final : public ILogFileSystem {
public:
    bool Exists(const std::string& path) override;
    std::uint32_t OpenForRead(const std::string& path, std::unique_ptr<ILogFile>& file) override;
    std::uint32_t Create(const std::string& path, std::unique_ptr<ILogFile>& file) override;
    std::uint32_t CreateNew(const std::string& path, std::unique_ptr<ILogFile>& file) override;
    std::uint32_t OpenForAppend(const std::string& path, std::unique_ptr<ILogFile>& file) override;
    std::uint32_t Delete(const std::string& path) override;
    std::uint32_t Move(const std::string& from, const std::string& to) override;
};

class SystemClock final : public IClock {
public:
    LocalTime Now() override;
};

// Every announcement line on standard output ("<title> <line>"), and the
// whole announcement through notify-send when a program is given for it.
class ConsoleNotifier final : public INotifier {
public:
    ConsoleNotifier(std::ostream& out, IProcessRunner& runner, std::string notifySend);
    void SetTipHelp(const std::string&) override {}
    void ShowBalloonHelp(const std::string& title, const std::string& text, int timeoutMs,
                         TBalloonIconType icon) override;
    void PlayWave(const std::string&) override {}  // no sound on a server
    void StartIconAnimation(int) override {}

private:
    std::ostream& out_;
    IProcessRunner& runner_;
    std::string notifySend_;
};

// The settings file read through the portable INI codec, never written: the
// watcher keeps no window state, and a file it cannot write (owned by root,
// on a read-only mount) must not keep it from starting.
class ReadOnlyProfileStore final : public IProfileStore {
public:
    explicit ReadOnlyProfileStore(std::unique_ptr<IProfileStore> inner) : inner_(std::move(inner)) {}
    std::string Path() const override { return inner_ ? inner_->Path() : std::string(); }
    std::string ReadString(const std::string& section, const std::string& key) override {
        return inner_ ? inner_->ReadString(section, key) : std::string();
    }
    std::uint32_t WriteString(const std::string&, const std::string&, const std::string&) override { return 0; }
    bool ReadStruct(const std::string&, const std::string&, void*, std::size_t) override { return false; }
    std::uint32_t WriteStruct(const std::string&, const std::string&, const void*, std::size_t) override {
        return 0;
    }

private:
    std::unique_ptr<IProfileStore> inner_;  // none: every key takes its default
};

// A window that is not there: no placement, columns or tabs.
class NoSettingsWindow final : public ISettingsWindow {
public:
    WindowPlacementRecord GetPlacement() override { return {}; }
    void SetPlacement(const WindowPlacementRecord&) override {}
    bool IsProgramMinimized() override { return false; }
    int ColumnDpi() override { return 96; }
    int ColumnCount(ListKind) override { return 0; }
    int GetColumnWidth(ListKind, int) override { return 0; }
    void SetColumnWidth(ListKind, int, int) override {}
    int GetTabIndex() override { return 0; }
    void SetTabIndex(int) override {}
};

// The one watcher of an event log: an exclusive lock on the file "<log>.lock"
// beside it (which holds the pid of its owner), held while this object lives.
// Two watchers on one log would both rotate it, and one could delete the
// other's fresh backup.
class LogLock {
public:
    // Nothing, with `error` saying why (naming the watcher that holds it),
    // when the lock cannot be had.
    static std::unique_ptr<LogLock> Acquire(const std::string& logPath, std::string& error);
    ~LogLock();
    LogLock(const LogLock&) = delete;
    LogLock& operator=(const LogLock&) = delete;

private:
    explicit LogLock(int fd) : fd_(fd) {}
    int fd_;
};

// Events go nowhere: a snapshot (--once) reads only.
class DiscardingSink final : public IEventSink {
public:
    void Publish(const std::vector<WatchEvent>&) noexcept override {}
};

// This computer's own name and addresses, for the local-connection filter.
// Samba records every client's address: a client's name is never looked up,
// only this computer's own.
class SystemResolver final : public IResolver {
public:
    // getaddrinfo of this computer's own name; nothing for any other name.
    std::vector<IpAddress> Resolve(const std::string& name) override;
    std::optional<std::string> LocalHostName() override;                  // gethostname
    std::vector<IpAddress> InterfaceAddresses() override;                 // getifaddrs
};

}  // namespace corvane::samba
