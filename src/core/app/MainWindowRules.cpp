#include "core/app/MainWindowRules.h"

#include "core/events/WatchEvent.h"
#include "core/settings/SettingsStore.h"

namespace corvane::app {
namespace {

// Drops the exit request unless the close request was granted.
class ExitRequestScope {
public:
    explicit ExitRequestScope(bool& request) noexcept : request_(request) {}
    ~ExitRequestScope() {
        if (!granted_) request_ = false;
    }
    bool Grant() noexcept { return granted_ = true; }

private:
    bool& request_;
    bool granted_ = false;
};

}  // namespace

bool CloseRules::FormCloseQuery(const CloseOptions& options, ICloseHost& host) {
    if (destroying_ || deciding_) return false;
    deciding_ = true;
    struct Deciding {
        bool& flag;
        ~Deciding() { flag = false; }
    } deciding{deciding_};
    ExitRequestScope scope(exitRequested_);
    saveErrorShown_ = false;
    try {
        host.SaveSettings();
    } catch (const SettingsWriteError& e) {
        // The file refuses writes: say so, but never keep the program from
        // ending because of it. An ending session is not held up by a box.
        if (!sessionEnding_) {
            host.ShowSaveError(e.what());
            saveErrorShown_ = true;
        }
    }
    if (options.CloseIsMinimize && !sessionEnding_ && !exitRequested_) {
        host.MinimizeProgram();
        return false;
    }
    if (sessionEnding_) return scope.Grant();
    if (options.ExitMessage && !host.ConfirmExit()) return false;
    return scope.Grant();
}

bool CloseRules::CloseRequested(bool nestedLoop) noexcept {
    if (destroying_ || deciding_) return false;
    if (nestedLoop) {
        pending_ = true;
        return false;
    }
    pending_ = false;
    return true;
}

bool CloseRules::TakePendingClose(bool nestedLoop) noexcept {
    if (!pending_ || nestedLoop) return false;
    pending_ = false;
    return !destroying_;
}

void CloseRules::FormDestroy(ICloseHost& host) {
    destroying_ = true;
    try {
        host.SaveSettings();
    } catch (const SettingsWriteError& e) {
        if (!saveErrorShown_ && !sessionEnding_) host.ShowSaveError(e.what());
    }
}

namespace {
// More lines than this make a box taller than the screen.
constexpr std::size_t kQuestionFiles = 10;

std::string FileLine(const OpenFileRow& row) {
    return OneLineName(row.PathName) + " (" + OneLineName(row.UserName) + ")";
}
}  // namespace

std::string FileCloseQuestion(const std::vector<OpenFileRow>& rows) {
    std::string text = "次のファイルを閉じてもいいですか?\n開いている人のアプリでは、保存していない変更が保存できなくなることがあります。\n";
    for (std::size_t i = 0; i < rows.size() && i < kQuestionFiles; ++i) text += "\n" + FileLine(rows[i]);
    if (rows.size() > kQuestionFiles) text += "\nほか " + std::to_string(rows.size() - kQuestionFiles) + " 件";
    return text;
}

FileCloseReport CloseOpenFile(IServerApi& server, const text::ICollation& collation, const OpenFileRow& row,
                              const std::vector<std::uint32_t>& ids) {
    FileCloseReport report;
    report.Ids = ids.size();
    const std::string wanted = text::PairKey(collation, row.PathName, row.UserName);
    bool changed = false;
    const auto fail = [&](std::uint32_t status) {
        if (report.Status == 0) report.Status = status;
    };
    for (const std::uint32_t id : ids) {
        FileRecord now;
        std::uint32_t status = server.FileGetInfo(id, now);
        if (status == kFileIdNotFound) continue;  // closed already
        if (status != 0) {
            fail(status);
            continue;
        }
        if (text::PairKey(collation, now.PathName, now.UserName) != wanted) {
            changed = true;
            continue;
        }
        status = server.FileClose(id);
        if (status == 0) {
            ++report.Closed;
        } else if (status != kFileIdNotFound) {
            fail(status);
        }
    }
    if (report.Status != 0) {
        report.Outcome = FileCloseOutcome::Failed;
    } else if (changed) {
        report.Outcome = FileCloseOutcome::Changed;
    } else {
        report.Outcome = report.Closed > 0 ? FileCloseOutcome::Closed : FileCloseOutcome::AlreadyClosed;
    }
    return report;
}

namespace {
// "2 件中 1 件を閉じました。" when some but not all opens were closed.
std::string PartText(const FileCloseReport& report) {
    if (report.Closed == 0 || report.Closed == report.Ids) return "";
    return std::to_string(report.Ids) + " 件中 " + std::to_string(report.Closed) + " 件を閉じました。";
}

std::string StatusText(std::uint32_t status, const std::string& systemText) {
    std::string text;
    if (!systemText.empty()) text += systemText + " ";
    return text + "(エラー " + std::to_string(status) + ")";
}
}  // namespace

std::optional<WatchEvent> FileCloseEvent(const OpenFileRow& row, const FileCloseReport& report,
                                         const std::string& systemText) {
    WatchEvent event;
    event.UserName = row.UserName;
    event.PathName = row.PathName;
    switch (report.Outcome) {
        case FileCloseOutcome::Closed:
            event.Kind = EventKind::FileClosed;
            return event;
        case FileCloseOutcome::Failed:
            event.Kind = EventKind::FileCloseFailed;
            event.Detail = PartText(report) + StatusText(report.Status, systemText);
            return event;
        case FileCloseOutcome::Changed:
            if (report.Closed == 0) return std::nullopt;
            event.Kind = EventKind::FileCloseFailed;
            event.Detail = PartText(report) + "ほかは一覧が変わっていたため閉じていません。";
            return event;
        case FileCloseOutcome::AlreadyClosed:
            break;
    }
    return std::nullopt;
}

std::string FileCloseErrorText(const OpenFileRow& row, const FileCloseReport& report, const std::string& systemText) {
    std::string text = FileLine(row) + " を閉じられませんでした。\n";
    if (const std::string part = PartText(report); !part.empty()) text += part + "\n";
    return text + StatusText(report.Status, systemText);
}

}  // namespace corvane::app
