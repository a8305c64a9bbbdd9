// The main window's end: the teardown, the session's end with a menu or box
// still open, and what the close rules carry out (save, minimise, ask).
#include "win/app/CorvaneForm.h"

#include "win/app/CenteredMessageDlg.h"

namespace corvane::win {

void TCorvaneForm::SaveSettings() {
    if (settingsStore_) settingsStore_->SaveSettings();
}

void TCorvaneForm::MinimizeProgram() { ShowWindow(Handle(), SW_MINIMIZE); }

bool TCorvaneForm::ConfirmExit() {
    return CenteredMessageDlg(Handle(), "Corvaneを終了してもいいですか?", "Corvane", TMsgDlgType::mtConfirmation,
                              TMsgDlgButtons::mbYesNo) == IDYES;
}

void TCorvaneForm::ShowSaveError(const std::string& message) { ShowErrorBox(Handle(), message); }

void TCorvaneForm::FormDestroy() {
    // The icon goes first: its menu could otherwise still open the settings
    // or the About box of a window that is going away.
    if (tray_) tray_->Remove();
    // From here on a close request still in the queue (the error box and the
    // wait below serve messages) is ignored. A refused save does not stop the
    // tear-down, so that the watch thread still stops.
    try {
        closeRules_.FormDestroy(*this);
    } catch (const std::exception& e) {
        ShowErrorBox(Handle(), e.what());
    }
    appIdleInstalled_ = false;
    if (feed_) feed_->Stop();
    StopWatch(true);
    netApi_.reset();
    feed_.reset();
    mirror_.reset();
    FinishLog();
}

void TCorvaneForm::StopWatch(bool wait) {
    if (!watchThread_) return;
    watchThread_->Terminate();
    if (!wait) return;
    MainThreadRunner::WaitServing([this] { return watchThread_->Finished(); });
    watchThread_->WaitFor();
    watchThread_.reset();
}

void TCorvaneForm::FinishLog() {
    // Lines the log still holds go to a file beside it; only when that fails
    // too are they lost, and then the person is told how many and why. While
    // the session ends no box can be shown: the event log tells instead.
    if (!eventLog_) return;
    const EventLogExit exit = eventLog_->Finish();
    if (closeRules_.SessionEnding()) {
        if (const auto report = ReportOf(exit); report && eventReports_) eventReports_->Tell(*report);
        return;
    }
    if (exit.Unsaved != 0 && exit.SavedTo.empty())
        ShowErrorBox(Handle(), "ログファイルに書き込めなかったため、" + std::to_string(exit.Unsaved) +
                                   " 件のイベントを記録できませんでした。\r\n\r\n" + exit.Error);
}

void TCorvaneForm::EndSession() {
    closeRules_.SessionEndQuery();  // also when the end was forced without asking
    if (!NestedLoopScope::Active()) {
        DestroyWindow(Handle());  // the tear-down of a normal exit, with no box
        return;
    }
    // A menu, a box or a scan is running on this thread: the window stays
    // until it ends, but the exit's work cannot wait for that. The watch is
    // asked to stop (waiting for it could wait on the scan we are inside of),
    // the settings are saved and what the log holds is written or saved.
    StopWatch(false);
    try {
        SaveSettings();
    } catch (const std::exception&) {
        // No box while the session ends.
    }
    FinishLog();
    closeRules_.CloseRequested(true);  // the window goes once the nested loop ends
}

}  // namespace corvane::win
