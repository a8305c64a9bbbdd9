#include "core/events/EventLog.h"

#include <cstdio>

#include "core/text/Text.h"

namespace corvane {
namespace {

constexpr std::int64_t kBlock = 128;
// Names tried for the unsaved lines of one second.
constexpr int kMaxUnsavedNames = 100;

// Closes the file now and reports the result; the unique_ptr is empty after.
std::uint32_t CloseFile(std::unique_ptr<ILogFile>& file) {
    const auto code = file->Close();
    file.reset();
    return code;
}

}  // namespace

std::string LogIoError::Describe(const std::string& operation, const std::string& path, std::uint32_t code) {
    return path + ": " + operation + " failed (error " + std::to_string(code) + ")";
}

LogIoError::LogIoError(const std::string& operation, const std::string& path, std::uint32_t code)
    : std::runtime_error(Describe(operation, path, code)), code_(static_cast<int>(code)) {}

LogIoError::LogIoError(const std::string& description, std::uint32_t code)
    : std::runtime_error(description), code_(static_cast<int>(code)) {}

EventLog::EventLog(ILogFileSystem& files, IClock& clock, std::string logPath,
                   std::function<std::int32_t()> maxLogSize, LogEncoding encoding)
    : files_(files), clock_(clock), logPath_(std::move(logPath)), maxLogSize_(std::move(maxLogSize)),
      encoding_(encoding) {}

std::string EventLog::Encode(const std::string& line) const {
    return encoding_ == LogEncoding::Cp932 ? text::Utf8ToCp932(line) : line;
}

void EventLog::Hold(const LocalTime& time, const std::string& text) {
    std::string line = Encode(FormatTimeStamp(time) + "," + text);
    const std::size_t bytes = line.size();
    held_.push_back(std::move(line));
    heldBytes_ += bytes;
}

void EventLog::Failed(std::uint32_t code, std::string error) {
    code_ = code;
    error_ = std::move(error);
    // Past the bound the oldest lines are kept: they are the ones a reader
    // misses most, and the lost-count line then follows them in time order.
    while (held_.size() > kMaxHeldLines || (heldBytes_ > kMaxHeldBytes && held_.size() > 1)) {
        heldBytes_ -= held_.back().size();
        held_.pop_back();
        ++dropped_;
    }
}

void EventLog::Publish(const std::vector<WatchEvent>& events) noexcept {
    try {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        // After a loss the kept lines and the count of the lost go first, so
        // that no newer line lands before them.
        if (dropped_ != 0 && !events.empty()) WriteHeld();
        for (const WatchEvent& event : events) {
            try {
                Hold(event.Time, LogText(event));
            } catch (const std::bad_alloc&) {
                ++dropped_;
            }
        }
        WriteHeld();
    } catch (...) {
        // Out of memory while writing: what is held stays held.
    }
}

void EventLog::WriteLogFile(const std::string& text) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    Hold(clock_.Now(), text);
    std::string error;
    if (const std::uint32_t code = WriteHeldLocked(error); code != 0) throw LogIoError(error, code);
}

std::uint32_t EventLog::WriteHeld() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    std::string error;
    return WriteHeldLocked(error);
}

std::string EventLog::LostLine(const LocalTime& time) const {
    WatchEvent lost;
    lost.Kind = EventKind::EventsLost;
    lost.Count = dropped_;
    return Encode(FormatTimeStamp(time) + "," + LogText(lost));
}

std::uint32_t EventLog::WriteHeldLocked(std::string& error) {
    // The lost events are told after the lines that were kept, which are all
    // older than any of them.
    const bool tellLost = dropped_ != 0;
    if (tellLost) {
        std::string line = LostLine(clock_.Now());
        const std::size_t bytes = line.size();
        held_.push_back(std::move(line));
        heldBytes_ += bytes;
    }
    const std::uint32_t code = WriteLines(error);
    // The count is told once: as soon as its line has reached the log (even
    // in part, to be finished by the next write), it is no longer owed.
    const bool lostTold = tellLost && (held_.empty() || (held_.size() == 1 && frontWritten_ != 0));
    if (lostTold || code == 0) dropped_ = 0;
    if (code == 0) {
        code_ = 0;
        error_.clear();
        return 0;
    }
    // Not started: it is made again, with the count as it will be then.
    if (tellLost && !lostTold) {
        heldBytes_ -= held_.back().size();
        held_.pop_back();
    }
    Failed(code, error);
    return code;
}

void EventLog::Release(std::size_t lines) {
    for (; lines > 0; --lines) {
        heldBytes_ -= held_.front().size();
        held_.pop_front();
        frontWritten_ = 0;
    }
}

// A write of `inRun` held lines, begun when the log had `start` bytes (and
// led by `lead` bytes of a line break the log lacked), failed.
// The log is cut back to that size; when it cannot be, what did reach it is
// released from the hold, line by line, and the rest of a line written in part
// is remembered.
void EventLog::TakeBack(ILogFile& file, std::uint64_t start, std::size_t lead, std::size_t& inRun) {
    if (file.Truncate(start) == 0) return;
    std::uint64_t now = 0;
    if (file.Size(now) != 0 || now <= start + lead) return;
    std::uint64_t written = now - start - lead;
    while (inRun > 0) {
        const std::uint64_t pending = held_.front().size() + 2 - frontWritten_;
        if (written < pending) {
            frontWritten_ += static_cast<std::size_t>(written);
            frontEnd_ = now;
            return;
        }
        written -= pending;
        Release(1);
        --inRun;
    }
}

std::uint32_t EventLog::WriteLines(std::string& error) {
    if (held_.empty()) return 0;
    const auto fail = [&](std::uint32_t code, const char* operation) {
        error = LogIoError::Describe(operation, logPath_, code);
        return code;
    };
    std::unique_ptr<ILogFile> file;  // closed by its destructor when a step fails
    std::uint64_t size = 0;
    // The lines gathered since the log was opened go out in one write, begun
    // at `start`. They leave the hold as soon as the write worked: a flush or
    // close that fails after it is told, but writing them again would repeat
    // them.
    std::string run;
    std::size_t inRun = 0;
    std::uint64_t start = 0;
    std::size_t lead = 0;
    // Opens the log and begins the run. A log that does not end with CR LF
    // ends in the rest of a line nobody will finish (unless it is this log's
    // own, left as it was by a write whose failure could not be cut back):
    // the run then begins with the line break it lacks, so that the next
    // line starts a line of its own.
    const auto open = [&]() -> std::uint32_t {
        if (auto code = files_.OpenForAppend(logPath_, file)) return fail(code, "open");
        if (auto code = file->Size(size)) return fail(code, "size");
        start = size;
        run.clear();
        const bool ours = frontWritten_ != 0 && size == frontEnd_;
        if (!ours && size != 0) {
            char tail[2] = {};
            const std::size_t want = size < 2 ? 1 : 2;
            std::size_t got = 0;
            if (auto code = file->ReadAt(size - want, tail, want, got)) return fail(code, "read");
            if (got != 0 && tail[got - 1] == '\r') run = "\n";
            else if (got != 0 && !(got == 2 && tail[0] == '\r' && tail[1] == '\n')) run = "\r\n";
        }
        lead = run.size();
        size += lead;
        return 0;
    };
    const auto writeRun = [&]() -> std::uint32_t {
        if (!run.empty()) {
            if (auto code = file->Write(run.data(), run.size())) {
                TakeBack(*file, start, lead, inRun);
                return fail(code, "write");
            }
            Release(inRun);
            inRun = 0;
            run.clear();
            if (auto code = file->Flush()) return fail(code, "flush");
        }
        if (auto code = CloseFile(file)) return fail(code, "close");
        return 0;
    };

    // The rest of a line written in part goes first, unless the log has
    // changed since (then the line is written whole). A log given a line
    // break has changed, whatever its size now is.
    if (auto code = open()) return code;
    const bool finishing = lead == 0 && frontWritten_ != 0 && size == frontEnd_;
    if (frontWritten_ != 0 && !finishing) frontWritten_ = 0;
    for (std::size_t i = 0; i < held_.size(); ++i) {
        const std::int64_t expected = kBlock * (static_cast<std::int64_t>(size) / kBlock + 1) +
                                      static_cast<std::int64_t>(held_[i].size());
        if (!(i == 0 && finishing) && expected > static_cast<std::int64_t>(maxLogSize_())) {
            if (auto code = writeRun()) return code;
            i = 0;  // the run written was every line before this one
            const std::string backup = BackupPath();
            files_.Delete(backup);  // a missing backup is normal
            // Only a log that really moved away is replaced by a fresh one;
            // when the backup or the log is held open elsewhere, the line
            // goes to the current log rather than destroying it.
            if (files_.Move(logPath_, backup) == 0) {
                if (auto code = files_.Create(logPath_, file)) return fail(code, "create");
                if (auto code = CloseFile(file)) return fail(code, "close");
            }
            if (auto code = open()) return code;
        }
        const std::size_t from = i == 0 ? frontWritten_ : 0;
        if (from < held_[i].size()) run.append(held_[i], from);
        run.append(&"\r\n"[from > held_[i].size() ? from - held_[i].size() : 0]);
        ++inRun;
        size += held_[i].size() + 2 - from;
    }
    return writeRun();
}

EventLogExit EventLog::Finish() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    EventLogExit exit;
    if (WriteHeld() == 0) return exit;
    exit.Unsaved = held_.size() + (dropped_ != 0 ? 1 : 0);

    const LocalTime now = clock_.Now();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
    std::string stem = logPath_;
    if (stem.size() > 4 && stem.compare(stem.size() - 4, 4, ".txt") == 0) stem.resize(stem.size() - 4);

    std::string bytes;
    for (const std::string& line : held_) bytes += line + "\r\n";
    if (dropped_ != 0) bytes += LostLine(now) + "\r\n";
    // A name taken by an earlier save (two saves in one second) is passed
    // over: that file's lines were already told as saved there.
    std::string path;
    std::unique_ptr<ILogFile> file;
    std::uint32_t code = 0;
    for (int n = 1; n <= kMaxUnsavedNames; ++n) {
        path = stem + ".unsaved-" + stamp + (n == 1 ? std::string() : "-" + std::to_string(n)) + ".txt";
        code = files_.CreateNew(path, file);
        if (code == 0 || !files_.Exists(path)) break;
    }
    const bool created = code == 0;
    const char* operation = "create";
    if (code == 0 && (code = file->Write(bytes.data(), bytes.size())) != 0) operation = "write";
    if (code == 0 && (code = CloseFile(file)) != 0) operation = "close";
    if (code != 0 && created) {
        // What did not save whole is not left to look like a save.
        file.reset();
        files_.Delete(path);
    }
    if (code == 0) {
        exit.SavedTo = path;
        held_.clear();
        heldBytes_ = 0;
        dropped_ = 0;
        frontWritten_ = 0;
    } else {
        exit.Error = error_ + "; " + LogIoError::Describe(operation, path, code);
    }
    return exit;
}

EventLogState EventLog::State() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return EventLogState{code_, error_, held_.size(), dropped_};
}

}  // namespace corvane
