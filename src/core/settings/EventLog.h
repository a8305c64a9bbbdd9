#pragma once
// The event log CorvaneLog.txt: one time-stamped line per event, in code page
// 932 with CR LF, bounded by MaxLogSize with one backup generation.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "core/watch/WatchPorts.h"

namespace corvane {

inline constexpr const char* kLogFileName = "CorvaneLog.txt";
inline constexpr const char* kBackupSuffix = ".bak";

// An open file. The operations return the operating system's error code, 0 on
// success. Destroying a file that was not closed closes it.
class ILogFile {
public:
    virtual ~ILogFile() = default;
    virtual std::uint32_t Size(std::uint64_t& size) = 0;
    virtual std::uint32_t Write(const void* data, std::size_t size) = 0;
    virtual std::uint32_t Flush() = 0;
    virtual std::uint32_t Close() = 0;
};

// The file operations of the log, paths in UTF-8. Error codes as ILogFile.
class ILogFileSystem {
public:
    virtual ~ILogFileSystem() = default;
    virtual bool Exists(const std::string& path) = 0;
    virtual std::uint32_t OpenForRead(const std::string& path, std::unique_ptr<ILogFile>& file) = 0;
    // Creates the file, or empties it when it exists.
    virtual std::uint32_t Create(const std::string& path, std::unique_ptr<ILogFile>& file) = 0;
    // Opens the file (creating it when missing) with writes going to its end.
    virtual std::uint32_t OpenForAppend(const std::string& path, std::unique_ptr<ILogFile>& file) = 0;
    virtual std::uint32_t Delete(const std::string& path) = 0;
    // Fails when `to` exists.
    virtual std::uint32_t Move(const std::string& from, const std::string& to) = 0;
};

struct LocalTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class IClock {
public:
    virtual ~IClock() = default;
    virtual LocalTime Now() = 0;
};

// "yyyy/mm/dd hh:nn:ss"
std::string FormatTimeStamp(const LocalTime& time);

// A file step of the log failed. Code() is the operating system's error code.
class LogIoError : public std::runtime_error {
public:
    LogIoError(const std::string& operation, const std::string& path, std::uint32_t code);
    int Code() const noexcept { return code_; }
private:
    int code_;
};

// The byte form of the log's lines. Windows keeps code page 932; the Linux
// watcher may keep the log in UTF-8. The size limit counts the file's own bytes.
enum class LogEncoding { Cp932, Utf8 };

class EventLog : public IEventLog {
public:
    // `maxLogSize` is asked on every write, so a changed limit applies to the next line.
    EventLog(ILogFileSystem& files, IClock& clock, std::string logPath,
             std::function<std::int32_t()> maxLogSize, LogEncoding encoding = LogEncoding::Cp932);

    // Appends "stamp,text" CR LF, rotating first when the line would pass the
    // limit. Throws LogIoError; the lock is released and the file closed then.
    void WriteLogFile(const std::string& text) override;

    const std::string& LogPath() const noexcept { return logPath_; }
    std::string BackupPath() const { return logPath_ + kBackupSuffix; }
    // The log lock (re-entrant); WriteLogFile holds it for the whole call.
    std::recursive_mutex& Lock() noexcept { return lock_; }

private:
    ILogFileSystem& files_;
    IClock& clock_;
    std::string logPath_;
    std::function<std::int32_t()> maxLogSize_;
    LogEncoding encoding_;
    std::recursive_mutex lock_;
};

// The shell's "open" verb; returns the shell's result (success above 32).
class IShellOpener {
public:
    virtual ~IShellOpener() = default;
    virtual int Open(const std::string& path) = 0;
};

// The open-log command: opens the log with the program associated with it, or
// reports the shell's failure in an error balloon.
void OpenLogFile(IShellOpener& shell, INotifier& notifier, const std::string& logPath);

}  // namespace corvane
