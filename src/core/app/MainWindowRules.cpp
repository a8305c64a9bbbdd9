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

std::string FileCloseErrorText(const OpenFileRow& row, std::uint32_t status, const std::string& systemText) {
    std::string text = FileLine(row) + " を閉じられませんでした。\n";
    if (!systemText.empty()) text += systemText + " ";
    return text + "(エラー " + std::to_string(status) + ")";
}

}  // namespace corvane::app
