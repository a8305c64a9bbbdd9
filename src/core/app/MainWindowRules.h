#pragma once
// The main window's decisions, kept apart from the window so that they can be
// checked without one: what a close request does, when the commands are
// enabled, the guard of the modal dialogs, which stored tab is selected and
// which show command the window starts with. The window asks and carries out.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/events/WatchEvent.h"
#include "core/text/Collation.h"
#include "core/watch/WatchPorts.h"

namespace corvane::app {

// What the close rules need the window to do for them.
class ICloseHost {
public:
    virtual ~ICloseHost() = default;
    // Writes the settings file; throws SettingsWriteError when it refuses.
    virtual void SaveSettings() = 0;
    // Minimises the whole program to the tray.
    virtual void MinimizeProgram() = 0;
    // Asks "Corvaneを終了してもいいですか?"; true only for the answer Yes.
    virtual bool ConfirmExit() = 0;
    // Shows an error box with `message` (the refused save).
    virtual void ShowSaveError(const std::string& message) = 0;
};

struct CloseOptions {
    bool CloseIsMinimize = false;
    bool ExitMessage = false;
};

class CloseRules {
public:
    // The exit command: the next close request ends the program unless the
    // user declines.
    void RequestExit() noexcept { exitRequested_ = true; }
    // Windows asks whether the session may end: every later close is granted.
    void SessionEndQuery() noexcept { sessionEnding_ = true; }
    // Windows says the session goes on after all (WM_ENDSESSION with FALSE).
    void SessionEndCancelled() noexcept { sessionEnding_ = false; }

    // Decides one close request; true when the window is to be destroyed.
    // The settings are saved first. A refused save is shown (unless the
    // session is ending) and does not stop the program from ending. An exit
    // request counts for this close request only: whenever it does not end
    // in closing, also through an exception, the request is dropped.
    // Requests that arrive once tear-down has begun, or while one is being
    // decided (from the loop of its message box), are ignored.
    bool FormCloseQuery(const CloseOptions& options, ICloseHost& host);

    // A close request has arrived; `nestedLoop`: the thread is inside a menu,
    // a box or a scan. One that arrives while a close is being decided (from
    // the loop of its question or error box) or once tear-down has begun is
    // dropped: the answer already given stands. One inside any other nested
    // loop waits for the main loop; a later request while one waits changes
    // nothing. True when the request is to be decided now.
    bool CloseRequested(bool nestedLoop) noexcept;
    // Asked whenever the thread is back from a message: true (once) when a
    // waiting close request is to be sent again now that no nested loop
    // holds the thread.
    bool TakePendingClose(bool nestedLoop) noexcept;
    bool ClosePending() const noexcept { return pending_; }

    // Tear-down has begun: later close requests are ignored. Saves the
    // settings once more; a refused save is shown only if the close request
    // that led here did not already show it.
    void FormDestroy(ICloseHost& host);

    bool ExitRequested() const noexcept { return exitRequested_; }
    bool SessionEnding() const noexcept { return sessionEnding_; }
    bool Destroying() const noexcept { return destroying_; }

private:
    bool exitRequested_ = false;
    bool sessionEnding_ = false;
    bool destroying_ = false;
    bool deciding_ = false;
    bool pending_ = false;         // a close request waits for the main loop
    bool saveErrorShown_ = false;  // by the close request that was granted
};

// DialogOpen: set while the settings dialog, the About box or the
// send-message dialog is open.
class DialogState {
public:
    bool DialogOpen() const noexcept { return open_; }
    // The About and settings commands.
    bool DisplayDialogEnabled() const noexcept { return !open_; }
    // A tray double-click restores and raises the window only without a dialog.
    bool TrayDoubleClickRestores() const noexcept { return !open_; }

    // Holds DialogOpen for its own lifetime, so that it is cleared whatever
    // happens while the dialog is shown.
    class Guard {
    public:
        explicit Guard(DialogState& state) noexcept : state_(state) { state_.open_ = true; }
        ~Guard() { state_.open_ = false; }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        DialogState& state_;
    };

private:
    bool open_ = false;
};

// The session commands (disconnect, send message) need a selected row.
constexpr bool SessionCommandEnabled(int selectedSessions) noexcept { return selectedSessions > 0; }

// "ファイルを閉じる": rows of the resource list selected, on a server that can
// check and close single files, while the resource scan runs (with
// IgnoreSharedResource on, the rows and their ids are not watched; an id is
// still checked before it is closed, as a listing may fail or be old).
constexpr bool FileCloseCommandEnabled(bool serverCanCloseFiles, bool filesWatched, int selectedResources) noexcept {
    return serverCanCloseFiles && filesWatched && selectedResources > 0;
}

// A selected row of the resource list.
struct OpenFileRow {
    std::string UserName;
    std::string PathName;
};

// The confirmation: names every file to be closed and its user. Asked before
// every close unless IgnoreFileCloseMessage is on (DisconnectMessage is for
// sessions only).
std::string FileCloseQuestion(const std::vector<OpenFileRow>& rows);

// What closing one row came to. A row stands for every open of its path and
// user; Closed only when each of them was closed here or was closed already,
// and at least one here.
enum class FileCloseOutcome {
    Closed,
    AlreadyClosed,  // none was open any more (closed by its user or the server): what was wanted
    Changed,        // an id names another open now and was left alone; no other failed
    Failed,         // the server refused to tell of or to close an id
};
inline constexpr std::uint32_t kFileIdNotFound = 2314;  // NERR_FileIdNotFound

struct FileCloseReport {
    FileCloseOutcome Outcome = FileCloseOutcome::AlreadyClosed;
    std::size_t Ids = 0;       // the opens the last scan found for the row
    std::size_t Closed = 0;    // how many of them this close ended
    std::uint32_t Status = 0;  // Failed: the first refusal's status
};

// Closes every open of `row` by `ids` (the last scan's). Each id is first
// asked for what it names now and closed only when that is still the row's
// path and user, compared as the watch compares names: a server may have
// given the id to another open since. An id the server cannot tell of is not
// closed.
FileCloseReport CloseOpenFile(IServerApi& server, const text::ICollation& collation, const OpenFileRow& row,
                              const std::vector<std::uint32_t>& ids);

// The event of a close for the log and the event log, if any: "ファイル強制
// クローズ" when the row was Closed; "ファイル強制クローズ失敗" with the reason
// when it Failed, or when it Changed after some opens were closed (a partial
// close is never logged as a close). Nothing when nothing happened. The
// caller sets the time.
std::optional<WatchEvent> FileCloseEvent(const OpenFileRow& row, const FileCloseReport& report,
                                         const std::string& systemText);

// The error box of a close that failed: the file, how many of its opens were
// closed when not all, the system's text and code.
std::string FileCloseErrorText(const OpenFileRow& row, const FileCloseReport& report, const std::string& systemText);

// Told once after the rows are done when an id had changed.
inline constexpr char kFileListChangedText[] =
    "ファイルの一覧が変わっていたため、閉じなかったファイルがあります。一覧を確かめてから、もう一度操作してください。";

// The tab to select for a stored index; nothing (keep the first tab) when it
// names no tab, since a tab control without a selection shows no list.
constexpr std::optional<int> StoredTabToSelect(std::int32_t stored, int tabCount) noexcept {
    if (stored >= 0 && stored < tabCount) return static_cast<int>(stored);
    return std::nullopt;
}

// Show commands as the window-placement record holds them.
inline constexpr unsigned kShowCmdNormal = 1;
inline constexpr unsigned kShowCmdMinimized = 2;
inline constexpr unsigned kShowCmdMaximized = 3;

// The first show command: a restored minimised or maximised placement wins
// over what the program was started with; otherwise the start's own.
constexpr int FirstShowCommand(std::optional<unsigned> restored, int startCommand) noexcept {
    if (restored && (*restored == kShowCmdMinimized || *restored == kShowCmdMaximized))
        return static_cast<int>(*restored);
    return startCommand;
}

}  // namespace corvane::app
