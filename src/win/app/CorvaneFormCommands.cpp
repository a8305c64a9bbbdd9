// The main window's commands: what each menu item, shortcut and click does,
// and when it is enabled.
#include "win/app/CorvaneForm.h"

#include <commctrl.h>

#include "win/about/AboutForm.h"
#include "win/app/CenteredMessageDlg.h"
#include "win/app/InputSendMessageForm.h"
#include "win/app/SetEnvironmentForm.h"
#include "win/watch/SystemMessage.h"

namespace corvane::win {

void TCorvaneForm::UpdateActions() {
    actions_.UpdateAll({mainMenu_, trayMenu_.get(), sessionMenu_.get(), resourceMenu_.get()});
}

bool TCorvaneForm::ActionEnabled(UINT id) {
    UpdateActions();
    const Action* action = actions_.Find(id);
    return action && action->Enabled;
}

void TCorvaneForm::ActionDisplayDialogUpdate(Action& action) { action.Enabled = dialogs_.DisplayDialogEnabled(); }

// As the face of the service, the commands need a caller the service lets
// act; for anyone else the status bar says why they are off.
void TCorvaneForm::ActionSessionDisconnectUpdate(Action& action) {
    action.Enabled =
        FaceMayAct() && app::SessionCommandEnabled(static_cast<int>(ListView_GetSelectedCount(lvSessions_)));
}

void TCorvaneForm::ActionSendMessageUpdate(Action& action) { ActionSessionDisconnectUpdate(action); }

void TCorvaneForm::ActionFileCloseUpdate(Action& action) {
    const bool canClose = FaceMayAct() && Server() && Server()->CanCloseFiles() && watchThread_;
    // The setting itself counts too: the pass that leaves the scan out may
    // still be to come.
    const bool watched = canClose && !settings_.IgnoreSharedResource && watchThread_->FilesScanned();
    action.Enabled =
        app::FileCloseCommandEnabled(canClose, watched, static_cast<int>(ListView_GetSelectedCount(lvResource_)));
}

void TCorvaneForm::ActionExitExecute() {
    closeRules_.RequestExit();
    PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

std::vector<std::string> TCorvaneForm::SelectedSessionCells(int column) {
    std::lock_guard lock(listLock_);
    std::vector<std::string> cells;
    for (int row = ListView_GetNextItem(lvSessions_, -1, LVNI_SELECTED); row >= 0;
         row = ListView_GetNextItem(lvSessions_, row, LVNI_SELECTED)) {
        cells.push_back(sessionRows_->Rows().Cell(row, column));
    }
    return cells;
}

void TCorvaneForm::ActionSessionDisconnectExecute() {
    if (settings_.DisconnectMessage &&
        CenteredMessageDlg(Handle(), "選択したセッションを切断してもいいですか?", "Corvane",
                           TMsgDlgType::mtConfirmation, TMsgDlgButtons::mbYesNo) != IDYES) {
        return;
    }
    IServerApi* server = Server();
    if (!server || !FaceMayAct()) return;
    std::lock_guard lock(listLock_);
    // Each selected row: caption the computer, column 2 the user. The rows
    // stay until a scan finds the sessions gone.
    for (int row = ListView_GetNextItem(lvSessions_, -1, LVNI_SELECTED); row >= 0;
         row = ListView_GetNextItem(lvSessions_, row, LVNI_SELECTED)) {
        const views::ShownRows& sessions = sessionRows_->Rows();
        server->SessionDel("\\\\" + sessions.Cell(row, views::kSessionComputerName),
                            sessions.Cell(row, views::kSessionUserName));
        ListView_SetItemState(lvSessions_, row, 0, LVIS_SELECTED);
    }
}

// The rows are read before the question: while it is up, passes go on and
// may reorder or remove them. The ids are those of the last pass, asked for
// after it, so a file reopened meanwhile is closed under its new id; each is
// checked against the row right before it is closed.
void TCorvaneForm::ActionFileCloseExecute() {
    if (!FaceMayAct() || !Server() || !Server()->CanCloseFiles() || !watchThread_) return;
    if (settings_.IgnoreSharedResource || !watchThread_->FilesScanned()) return;
    std::vector<app::OpenFileRow> files;
    {
        std::lock_guard lock(listLock_);
        const views::ShownRows& resources = resourceRows_->Rows();
        for (int row = ListView_GetNextItem(lvResource_, -1, LVNI_SELECTED); row >= 0;
             row = ListView_GetNextItem(lvResource_, row, LVNI_SELECTED)) {
            files.push_back({resources.Cell(row, views::kResourceUserName),
                             resources.Cell(row, views::kResourcePathName)});
        }
    }
    if (files.empty()) return;
    if (!settings_.IgnoreFileCloseMessage &&
        CenteredMessageDlg(Handle(), app::FileCloseQuestion(files), "Corvane", TMsgDlgType::mtConfirmation,
                           TMsgDlgButtons::mbYesNo) != IDYES) {
        return;
    }
    if (face_) {
        FaceFileClose(files);
        return;
    }
    bool refresh = false, listChanged = false;
    for (const app::OpenFileRow& file : files) {
        // The program ended, or the scan was switched off, while a box was up.
        if (!watchThread_ || settings_.IgnoreSharedResource) break;
        const app::FileCloseReport report = app::CloseOpenFile(
            *netApi_, text::PlatformCollation(), file, watchThread_->FileIdsOf(file.UserName, file.PathName));
        const std::string systemText =
            report.Outcome == app::FileCloseOutcome::Failed ? SystemMessageText(report.Status) : std::string();
        if (std::optional<WatchEvent> event = app::FileCloseEvent(file, report, systemText)) {
            // Logged by the watch thread with its next pass, which this
            // wakes: the outputs keep one publisher and their order.
            event->Time = clock_->Now();
            watchThread_->PostEvent(std::move(*event));
        }
        refresh = refresh || report.Closed > 0 || report.Outcome != app::FileCloseOutcome::Failed;  // rows went or changed
        listChanged = listChanged || report.Outcome == app::FileCloseOutcome::Changed;
        if (report.Outcome == app::FileCloseOutcome::Failed) {
            CenteredMessageDlg(Handle(), app::FileCloseErrorText(file, report, systemText), "Corvane",
                               TMsgDlgType::mtError, TMsgDlgButtons::mbOK);
        }
    }
    // The closed files leave the list at once, as after F5.
    if (refresh) ActionRefreshExecute();
    if (listChanged) {
        CenteredMessageDlg(Handle(), app::kFileListChangedText, "Corvane", TMsgDlgType::mtWarning,
                           TMsgDlgButtons::mbOK);
    }
}

void TCorvaneForm::ActionSendMessageExecute() {
    app::DialogState::Guard dialog(dialogs_);
    TInputSendMessageForm form;
    if (form.ShowModal(Handle()) != IDOK || !Server() || !FaceMayAct()) return;
    // No input to the window while sending; enabled again whatever happens.
    EnableWindow(Handle(), FALSE);
    struct Reenable {
        HWND window;
        ~Reenable() { EnableWindow(window, TRUE); }
    } reenable{Handle()};
    const std::vector<std::string> computers = SelectedSessionCells(views::kSessionComputerName);
    for (const auto& computer : computers) Server()->MessageBufferSend(computer, form.Message());
}

void TCorvaneForm::ActionAboutExecute() {
    app::DialogState::Guard dialog(dialogs_);
    TAboutForm box;
    box.ShowModal(Handle());
}

void TCorvaneForm::ActionSetEnvironmentExecute() {
    app::DialogState::Guard dialog(dialogs_);
    TSetEnvironmentForm form(settings_);
    if (form.ShowModal(Handle()) != IDOK) return;
    form.ApplyTo(settings_);
    if (face_) SendWatchSettings();
    try {
        if (settingsStore_) settingsStore_->SaveSettings();
    } catch (const SettingsWriteError& e) {
        // The new values stay in effect; the file keeps the old ones.
        ShowErrorBox(Handle(), e.what());
    }
}

void TCorvaneForm::ActionRefreshExecute() {
    refreshRequested_ = true;
    if (watchThread_) watchThread_->Wake();  // served by the next pass, at once
}

void TCorvaneForm::ActionOpenLogFileExecute() { OpenLogFile(*shell_, *tray_, logPath_); }

// The guide opens in the user's browser, the shell's program for .html.
void TCorvaneForm::ActionGuideExecute() {
    const std::string path = programDirectory_ + kGuideFileName;
    const int result = shell_->Open(path);
    if (result > 32) return;
    tray_->ShowBalloonHelp("利用ガイド",
                           "以下のパスオープンに失敗しました(" + std::to_string(result) + ")\r\n\r\n" + path, 1000,
                           TBalloonIconType::bitError);
}

void TCorvaneForm::TabControlChange() {
    const int tab = TabCtrl_GetCurSel(tabControl_);
    ShowWindow(lvSessions_, tab == 0 ? SW_SHOW : SW_HIDE);
    ShowWindow(lvResource_, tab == 1 ? SW_SHOW : SW_HIDE);
    ClearListSelection(lvSessions_);
    ClearListSelection(lvResource_);
    ShowTabFilter();
    ShowRowCount();
}

void TCorvaneForm::lvSessionsColumnClick(int column) {
    settings_.Sort = column;
    rows_->SortSessionRows(column);
}

void TCorvaneForm::lvResourceColumnClick(int column) {
    settings_.SortResource = column;
    rows_->SortResourceRows(column);
}

}  // namespace corvane::win
