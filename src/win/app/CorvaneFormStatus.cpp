// The main window's part of the watch's outputs: the event log and the
// Windows event log on the watch thread, and the state of the watch and of
// the log in the status bar and the warning balloon.
#include "win/app/CorvaneForm.h"

#include <commctrl.h>

namespace corvane::win {
namespace {

constexpr UINT kWatchFaultBalloonMs = 10000;

}  // namespace

void TCorvaneForm::Publish(const std::vector<WatchEvent>& events) noexcept {
    // As the face of the service the window keeps no log: the service does.
    if (!eventLog_ || !eventReports_) return;
    eventLog_->Publish(events);
    eventReports_->Publish(events);  // after the log, whose state it reports
    // The states carry texts: copying them may run out of memory, which is
    // caught here like everything else of the hand-over.
    try {
        const EventLogState state = eventLog_->State();
        const EventReportState reports = eventReports_->State();
        if (state == shownLogState_ && reports.RegisterCode == shownReportState_.RegisterCode &&
            reports.ReportCode == shownReportState_.ReportCode)
            return;
        shownLogState_ = state;
        shownReportState_ = reports;
        runner_->RunOnMainThread([this, state, reports] {
            if (!watchHealth_) return;
            watchHealth_->LogResult(state.Code, state.Held, state.Dropped);
            watchHealth_->EventReportResult(reports.RegisterCode, reports.ReportCode, reports.Failed);
        });
    } catch (...) {
        // Out of memory, or the window is going away: nothing left to show it in.
    }
}

void TCorvaneForm::EnumerationResult(std::uint32_t sessionStatus, std::uint32_t fileStatus) {
    // Listings that fail because the service is away (or lets this caller
    // see nothing) are the face's own state, which the status bar already says.
    if (mirror_ && !mirror_->Live()) return;
    if (watchHealth_) watchHealth_->PassResult(sessionStatus, fileStatus);
    if (eventReports_) eventReports_->EnumerationResult(sessionStatus, fileStatus);
}

// The status bar's first part shows the line (the second counts the rows);
// its window text holds the same line for whoever reads the bar from outside
// (assistive tools, tests).
void TCorvaneForm::SetStatusText(const std::wstring& line) {
    SendMessageW(statusBar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(line.c_str()));
    SetWindowTextW(statusBar_, line.c_str());
}

void TCorvaneForm::ShowWatchFault(const std::string& line, const char* balloonTitle) {
    SetStatusText(Wide(line));
    if (balloonTitle && tray_) tray_->ShowWarning(balloonTitle, line, kWatchFaultBalloonMs);
}

// Without a fault the face still says what stands in the caller's way.
void TCorvaneForm::ClearWatchFault() {
    if (face_) ShowFaceState();
    else SetStatusText(L"");
}

}  // namespace corvane::win
