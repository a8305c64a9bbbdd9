#pragma once
// The event log CorvaneLog.txt, the first output of the watch's events: one
// time-stamped line per event, in code page 932 with CR LF, bounded by
// MaxLogSize with one backup generation. A line that cannot be written is held
// in memory and written, before any newer one, as soon as a write works again.
// A line leaves the hold once it is in the file, and only then: a write that
// fails part-way is cut back off the file, so no line is ever written twice
// or run into the next. A log found not ending with CR LF (the rest of a line
// from a run that could neither finish nor take it back) is given one before
// the next line.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <deque>
#include <string>

#include "core/events/WatchEvent.h"

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
    // Reads up to `size` bytes at `offset`; `read` tells how many came.
    virtual std::uint32_t ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t& read) = 0;
    // Cuts the file back to `size` bytes: what a failed write left of itself
    // is taken back.
    virtual std::uint32_t Truncate(std::uint64_t size) = 0;
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
    // Creates the file; fails when something of that name exists.
    virtual std::uint32_t CreateNew(const std::string& path, std::unique_ptr<ILogFile>& file) = 0;
    // Opens the file (creating it when missing) with writes going to its end,
    // and reads allowed.
    virtual std::uint32_t OpenForAppend(const std::string& path, std::unique_ptr<ILogFile>& file) = 0;
    virtual std::uint32_t Delete(const std::string& path) = 0;
    // Fails when `to` exists.
    virtual std::uint32_t Move(const std::string& from, const std::string& to) = 0;
};

// A file step of the log failed. Code() is the operating system's error code.
class LogIoError : public std::runtime_error {
public:
    LogIoError(const std::string& operation, const std::string& path, std::uint32_t code);
    LogIoError(const std::string& description, std::uint32_t code);
    static std::string Describe(const std::string& operation, const std::string& path, std::uint32_t code);
    int Code() const noexcept { return code_; }
private:
    int code_;
};

// The byte form of the log's lines. Windows keeps code page 932; the Linux
// watcher may keep the log in UTF-8. The size limit counts the file's own bytes.
enum class LogEncoding { Cp932, Utf8 };

// What the log holds back while it cannot be written, and why.
struct EventLogState {
    std::uint32_t Code = 0;     // the last write's error code, 0 when it worked
    std::string Error;          // the last failure's description (empty when Code is 0)
    std::size_t Held = 0;       // lines waiting to be written
    std::uint64_t Dropped = 0;  // events not kept while the hold was full

    bool operator==(const EventLogState&) const = default;
};

// The end of the log at exit: what could not be written to it.
struct EventLogExit {
    std::size_t Unsaved = 0;  // lines (and lost events) that did not reach the log
    std::string SavedTo;      // the file they went to instead; empty when none could be written
    std::string Error;        // why they are lost, when SavedTo is empty
};

class EventLog : public IEventSink {
public:
    // While the log cannot be written it holds at most this many lines and
    // bytes; the oldest are kept and the rest counted in one "ログ欠落" line.
    static constexpr std::size_t kMaxHeldLines = 10000;
    static constexpr std::size_t kMaxHeldBytes = 4u << 20;

    // `maxLogSize` is asked on every write, so a changed limit applies to the next line.
    EventLog(ILogFileSystem& files, IClock& clock, std::string logPath,
             std::function<std::int32_t()> maxLogSize, LogEncoding encoding = LogEncoding::Cp932);

    // Holds the lines of the events and writes everything held.
    void Publish(const std::vector<WatchEvent>& events) noexcept override;

    // Holds "stamp,text" (stamped now) and writes everything held. Throws
    // LogIoError when the write failed; the line stays held then.
    void WriteLogFile(const std::string& text);

    // Writes what is held, oldest first, with one open and one write (more
    // only when the log rotates on the way); returns 0 or the failed step's
    // error code. The size rule is applied to every line as if it were
    // written alone: the log's size rounded up to a whole block plus the
    // line, against the limit. A write that fails is cut back off the log and
    // its lines stay held; when the cut fails too, the lines that reached the
    // log leave the hold and the rest of a line written in part is written
    // next, so that it ends up whole.
    std::uint32_t WriteHeld();

    // The program ends: tries the log once more, then puts what is still
    // held into "<log name>.unsaved-<yyyymmdd-hhnnss>.txt" beside it, or,
    // when that name is taken (a save earlier in the same second), the first
    // free "...-2.txt", "...-3.txt"; a file that already exists is never
    // written to. A save that fails takes its file away again.
    EventLogExit Finish();

    EventLogState State() const;

    const std::string& LogPath() const noexcept { return logPath_; }
    std::string BackupPath() const { return logPath_ + kBackupSuffix; }
    // The log lock (re-entrant); every call holds it throughout.
    std::recursive_mutex& Lock() noexcept { return lock_; }

private:
    void Hold(const LocalTime& time, const std::string& text);
    std::uint32_t WriteHeldLocked(std::string& error);
    std::uint32_t WriteLines(std::string& error);
    void TakeBack(ILogFile& file, std::uint64_t start, std::size_t lead, std::size_t& inRun);
    void Release(std::size_t lines);
    std::string LostLine(const LocalTime& time) const;
    void Failed(std::uint32_t code, std::string error);
    std::string Encode(const std::string& line) const;

    ILogFileSystem& files_;
    IClock& clock_;
    std::string logPath_;
    std::function<std::int32_t()> maxLogSize_;
    LogEncoding encoding_;
    mutable std::recursive_mutex lock_;
    std::deque<std::string> held_;  // encoded lines without their CR LF
    std::size_t heldBytes_ = 0;
    std::uint64_t dropped_ = 0;
    // Bytes of the first held line (with its CR LF) already in the log, left
    // by a write whose failure could not be cut back; the log's size after them.
    std::size_t frontWritten_ = 0;
    std::uint64_t frontEnd_ = 0;
    std::uint32_t code_ = 0;
    std::string error_;
};

}  // namespace corvane
