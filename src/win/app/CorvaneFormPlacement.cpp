// The main window as the settings see it: its placement, the widths of the
// lists' columns and the tab shown, read when the settings are saved and put
// back when they are loaded.
#include "win/app/CorvaneForm.h"

#include <commctrl.h>

namespace corvane::win {

WindowPlacementRecord TCorvaneForm::GetPlacement() {
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    GetWindowPlacement(Handle(), &wp);
    WindowPlacementRecord r;
    r.length = wp.length;
    r.flags = wp.flags;
    r.showCmd = wp.showCmd;
    r.minX = wp.ptMinPosition.x;
    r.minY = wp.ptMinPosition.y;
    r.maxX = wp.ptMaxPosition.x;
    r.maxY = wp.ptMaxPosition.y;
    r.normalLeft = wp.rcNormalPosition.left;
    r.normalTop = wp.rcNormalPosition.top;
    r.normalRight = wp.rcNormalPosition.right;
    r.normalBottom = wp.rcNormalPosition.bottom;
    return r;
}

void TCorvaneForm::SetPlacement(const WindowPlacementRecord& r) {
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    wp.flags = r.flags;
    wp.showCmd = r.showCmd;
    wp.ptMinPosition = {r.minX, r.minY};
    wp.ptMaxPosition = {r.maxX, r.maxY};
    wp.rcNormalPosition = {r.normalLeft, r.normalTop, r.normalRight, r.normalBottom};
    // The window is not shown yet: keep it hidden until the message loop shows it.
    const UINT show = wp.showCmd;
    wp.showCmd = SW_HIDE;
    placing_ = true;
    SetWindowPlacement(Handle(), &wp);
    placing_ = false;
    restoredShow_ = show;
    // Drawn at the scale of the monitor it was put back on before it is
    // first seen (Windows may have said so already).
    Rescale(monitorDpi_(wp.rcNormalPosition));
}

bool TCorvaneForm::IsProgramMinimized() { return IsIconic(Handle()) != FALSE; }

int TCorvaneForm::ColumnDpi() { return dpi_; }

int TCorvaneForm::ColumnCount(ListKind list) {
    return Header_GetItemCount(ListView_GetHeader(ListOf(list)));
}

int TCorvaneForm::GetColumnWidth(ListKind list, int column) { return ListView_GetColumnWidth(ListOf(list), column); }

void TCorvaneForm::SetColumnWidth(ListKind list, int column, int width) {
    ListView_SetColumnWidth(ListOf(list), column, width);
}

int TCorvaneForm::GetTabIndex() { return TabCtrl_GetCurSel(tabControl_); }

void TCorvaneForm::SetTabIndex(int index) {
    if (const auto tab = app::StoredTabToSelect(index, TabCtrl_GetItemCount(tabControl_)))
        TabCtrl_SetCurSel(tabControl_, *tab);
}

}  // namespace corvane::win
