#pragma once
// The report lists of the main window: IReportList over a list-view control,
// creation of lvSessions and lvResource, and their shared image list.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "core/views/ReportList.h"

namespace corvane::win {

// A borrowed list-view window in report mode. Main thread only.
class ListViewReportList final : public views::IReportList {
public:
    explicit ListViewReportList(HWND listView) noexcept : hwnd_(listView) {}

    HWND Handle() const noexcept { return hwnd_; }

    int RowCount() const override;
    int FindCaption(const std::string& caption, int fromRow) const override;
    std::string CellText(int row, int cell) const override;
    void SetCellText(int row, int cell, const std::string& text) override;
    int AppendRow(int imageIndex, const std::string& caption,
                  const std::vector<std::string>& subItems) override;
    void DeleteRow(int row) override;
    void DeleteAllRows() override;
    void Sort(const RowComparison& compare) override;

private:
    HWND hwnd_;
};

// Report view, no label editing, whole-row selection, several rows
// selectable, selection shown without focus, small images from `smallImages`
// (shared, not destroyed with the list), no automatic sorting. Created hidden
// at the given place; the caller shows the one of the current tab.
// Session list columns: "コンピュータ名", "IPアドレス", "ユーザ名", "オープン数",
// "接続時間", "アイドル時間", 80 pixels each.
HWND CreateSessionListView(HWND parent, int controlId, const RECT& bounds, HIMAGELIST smallImages);
// Resource list columns: "ユーザ名" 100 and "共有リソース名" 300 pixels.
HWND CreateResourceListView(HWND parent, int controlId, const RECT& bounds, HIMAGELIST smallImages);

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
