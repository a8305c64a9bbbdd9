#include "core/app/MainWindowRules.h"

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

void CloseRules::FormDestroy(ICloseHost& host) {
    destroying_ = true;
    try {
        host.SaveSettings();
    } catch (const SettingsWriteError& e) {
        if (!saveErrorShown_ && !sessionEnding_) host.ShowSaveError(e.what());
    }
}

}  // namespace corvane::app
