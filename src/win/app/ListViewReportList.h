#pragma once
// The report lists of the main window: a row table shown by a list-view control,
// creation of lvSessions and lvResource, and their shared image list.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "core/views/RowTable.h"
#include "core/views/ShownRows.h"

namespace corvane::win {

// Shows a RowTable in a borrowed list view created in owner-data mode, the
// rows its filter lets through (ShownRows, all of them while the filter is
// empty): the control keeps only the row count, the selection and the focus,
// and asks for
// the texts of the rows it draws (LVN_GETDISPINFO, which also answers
// LVM_GETITEMTEXT from anyone, inside or outside the process). Main thread
// only.
//
// Rows appended by the table are told to the control in one go by Sync(),
// which `requestSync` is asked to arrange once after the first such change
// (the main window posts itself a message); removals, clearing and sorting
// reach the control at once, so that the selection stays on its rows and the
// control never addresses a row the table no longer has. The rows a pass
// removes reach it together: one new row count, whatever their number. A new
// filter text reaches it the same way, the selection kept on the rows that
// stay shown. The control's row numbers are those of Rows().
class ListViewReportList final : public views::IRowsView {
public:
    ListViewReportList(HWND listView, views::RowTable& table, std::function<void()> requestSync);
    ~ListViewReportList() override;
    ListViewReportList(const ListViewReportList&) = delete;
    ListViewReportList& operator=(const ListViewReportList&) = delete;

    HWND Handle() const noexcept { return hwnd_; }
    // The rows shown, and their filter. Read them on the main thread.
    views::ShownRows& Rows() noexcept { return rows_; }
    const views::ShownRows& Rows() const noexcept { return rows_; }

    // A notification the list sent its parent: true when it was this list's
    // and has been answered (`result` is what the parent returns).
    bool OnNotify(const NMHDR& header, LRESULT& result);

    // Brings the control's row count up to the table's and repaints the rows
    // whose texts changed since the last call.
    void Sync();

    // views::IRowsView
    void RowsAppended(int count) override;
    void RowChanged(int row) override;
    void RowsRemoved(const std::vector<int>& rows) override;
    void RowsCleared() override;
    void RowsReordered(const std::vector<int>& oldRowAt) override;

private:
    void RequestSync();
    void GetDispInfo(NMLVDISPINFOW& info) const;
    int FindItem(const NMLVFINDITEMW& find) const;

    HWND hwnd_;
    views::ShownRows rows_;
    std::function<void()> requestSync_;
    int shown_ = 0;        // the row count the control knows
    bool repaint_ = false;  // texts of shown rows changed since the last Sync
    bool syncRequested_ = false;
};

// Report view, no label editing, whole-row selection, several rows
// selectable, selection shown without focus, small images from `smallImages`
// (shared, not destroyed with the list), no automatic sorting, rows given by
// their owner (LVS_OWNERDATA: see ListViewReportList). Created hidden
// at the given place; the caller shows the one of the current tab.
// The column widths are designed at 96 DPI (app::kSessionColumnWidths,
// app::kResourceColumnWidths) and made at `dpi`.
// Session list columns: views::kSessionColumnCaptions.
HWND CreateSessionListView(HWND parent, int controlId, const RECT& bounds, HIMAGELIST smallImages, int dpi);
// Resource list columns: views::kResourceColumnCaptions.
HWND CreateResourceListView(HWND parent, int controlId, const RECT& bounds, HIMAGELIST smallImages, int dpi);

// Unselects every row.
void ClearListSelection(HWND listView);

// Extracts the small version of icon `iconNumber` of `fileName` and inserts it
// into `images` at `position`; the images from there on move one place back.
// False when the file has no such icon or the list refuses it.
bool InsertShellIcon(HIMAGELIST images, const std::wstring& fileName, int iconNumber, int position);

// Puts icons 15 and 42 of the system's shell32.dll at positions 0 and 1, in
// front of the images already there. An icon that cannot be had is replaced
// by a stock icon so that rows and tabs keep two distinct pictures.
void LoadListIcons(HIMAGELIST images);

}  // namespace corvane::win
