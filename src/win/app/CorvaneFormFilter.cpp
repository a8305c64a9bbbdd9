// The filter box over the lists: what it shows follows the tab, what is typed
// becomes the shown list's filter at once, and the status bar counts the rows
// shown and held.
#include "win/app/CorvaneForm.h"

#include <commctrl.h>

namespace corvane::win {
namespace {

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace

HWND TCorvaneForm::CurrentList() const {
    return tabControl_ && TabCtrl_GetCurSel(tabControl_) == 1 ? lvResource_ : lvSessions_;
}

ListViewReportList* TCorvaneForm::CurrentRows() const {
    return CurrentList() == lvResource_ ? resourceRows_.get() : sessionRows_.get();
}

// Esc empties the box; Enter and the down arrow go on to the list.
bool TCorvaneForm::FilterBoxKey(const MSG& msg) {
    if (msg.message != WM_KEYDOWN || !filterBox_ || msg.hwnd != filterBox_) return false;
    switch (msg.wParam) {
        case VK_ESCAPE:
            SetWindowTextW(filterBox_, L"");
            return true;
        case VK_RETURN:
        case VK_DOWN:
            SetFocus(CurrentList());
            return true;
        default:
            return false;
    }
}

// Keys that edit the filter box's text, which the window's shortcuts
// (Delete: disconnect; Ctrl+A, Ctrl+C: the lists' rows) must not take.
bool TCorvaneForm::EditingKey(const MSG& msg) const {
    if (msg.message != WM_KEYDOWN || !filterBox_ || msg.hwnd != filterBox_) return false;
    if (msg.wParam == VK_DELETE) return true;
    const bool control = GetKeyState(VK_CONTROL) < 0;
    return control && (msg.wParam == 'A' || msg.wParam == 'C' || msg.wParam == 'V' || msg.wParam == 'X' ||
                       msg.wParam == 'Z');
}

void TCorvaneForm::ActionFilterExecute() {
    SetFocus(filterBox_);
    SendMessageW(filterBox_, EM_SETSEL, 0, -1);
}

void TCorvaneForm::FilterChanged() {
    ListViewReportList* rows = CurrentRows();
    if (!rows) return;
    const std::string typed = Narrow(WindowText(filterBox_));
    {
        std::lock_guard lock(listLock_);
        if (typed == rows->Rows().FilterText()) return;  // the tab's own text, shown again
        rows->Rows().SetFilter(typed);
    }
    // The row with the focus stays in sight; without one, the first row.
    const HWND list = rows->Handle();
    const int focused = ListView_GetNextItem(list, -1, LVNI_FOCUSED);
    if (ListView_GetItemCount(list) > 0) ListView_EnsureVisible(list, focused >= 0 ? focused : 0, FALSE);
    ShowRowCount();
}

void TCorvaneForm::ShowTabFilter() {
    const ListViewReportList* rows = CurrentRows();
    if (!filterBox_ || !rows) return;
    const std::wstring text = Wide(rows->Rows().FilterText());
    if (WindowText(filterBox_) != text) SetWindowTextW(filterBox_, text.c_str());
}

void TCorvaneForm::ShowRowCount() {
    const ListViewReportList* rows = CurrentRows();
    if (!statusBar_ || !rows) return;
    const std::wstring text = L"表示 " + std::to_wstring(rows->Rows().Count()) + L" 件 / 全 " +
                              std::to_wstring(rows->Rows().TotalCount()) + L" 件";
    if (text == shownRowCount_) return;
    shownRowCount_ = text;
    SendMessageW(statusBar_, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(text.c_str()));
}

}  // namespace corvane::win
