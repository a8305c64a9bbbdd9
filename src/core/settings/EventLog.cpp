#include "core/settings/EventLog.h"

#include <cstdio>

#include "core/text/Text.h"

namespace corvane {
namespace {

constexpr std::int64_t kBlock = 128;

void Check(std::uint32_t code, const char* operation, const std::string& path) {
    if (code != 0) throw LogIoError(operation, path, code);
}

// Closes the file now and reports the result; the unique_ptr is empty after.
std::uint32_t CloseFile(std::unique_ptr<ILogFile>& file) {
    const auto code = file->Close();
    file.reset();
    return code;
}

}  // namespace

std::string FormatTimeStamp(const LocalTime& t) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return buffer;
}

LogIoError::LogIoError(const std::string& operation, const std::string& path, std::uint32_t code)
    : std::runtime_error(path + ": " + operation + " failed (error " + std::to_string(code) + ")"),
      code_(static_cast<int>(code)) {}

EventLog::EventLog(ILogFileSystem& files, IClock& clock, std::string logPath,
                   std::function<std::int32_t()> maxLogSize, LogEncoding encoding)
    : files_(files), clock_(clock), logPath_(std::move(logPath)), maxLogSize_(std::move(maxLogSize)),
      encoding_(encoding) {}

void EventLog::WriteLogFile(const std::string& text) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    std::string line = FormatTimeStamp(clock_.Now()) + "," + text;
    if (encoding_ == LogEncoding::Cp932) line = text::Utf8ToCp932(line);

    std::unique_ptr<ILogFile> file;  // closed by its destructor when a step throws
    if (files_.Exists(logPath_)) {
        Check(files_.OpenForRead(logPath_, file), "open", logPath_);
    } else {
        Check(files_.Create(logPath_, file), "create", logPath_);
    }
    std::uint64_t size = 0;
    Check(file->Size(size), "size", logPath_);
    Check(CloseFile(file), "close", logPath_);

    // The current size rounded up to the next whole block, plus the new line.
    const std::int64_t expected =
        kBlock * (static_cast<std::int64_t>(size) / kBlock + 1) + static_cast<std::int64_t>(line.size());
    if (expected > static_cast<std::int64_t>(maxLogSize_())) {
        const std::string backup = BackupPath();
        files_.Delete(backup);  // a missing backup is normal
        // Only a log that really moved away is replaced by a fresh one; when
        // the backup or the log is held open elsewhere, the line goes to the
        // current log rather than destroying it.
        if (files_.Move(logPath_, backup) == 0) {
            Check(files_.Create(logPath_, file), "create", logPath_);
            Check(CloseFile(file), "close", logPath_);
        }
    }

    Check(files_.OpenForAppend(logPath_, file), "open", logPath_);
    const std::string bytes = line + "\r\n";
    Check(file->Write(bytes.data(), bytes.size()), "write", logPath_);
    Check(file->Flush(), "flush", logPath_);
    Check(CloseFile(file), "close", logPath_);
}

void OpenLogFile(IShellOpener& shell, INotifier& notifier, const std::string& logPath) {
    const int result = shell.Open(logPath);
    if (result > 32) return;
    const std::string message =
        "以下のパスオープンに失敗しました(" + std::to_string(result) + ")\r\n\r\n" + logPath;
    notifier.ShowBalloonHelp("LogFile Error Message", message, 1000, TBalloonIconType::bitError);
}

}  // namespace corvane
