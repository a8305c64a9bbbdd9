// The shown rows handed on: the selected ones to the clipboard as
// tab-separated text, every shown row of the current tab to a CSV file.
#include "win/app/CorvaneForm.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "core/views/ListExport.h"
#include "win/watch/SystemMessage.h"

namespace corvane::win {
namespace {

std::vector<std::string> HeaderOf(bool sessions) {
    if (sessions) return {std::begin(views::kSessionColumnCaptions), std::end(views::kSessionColumnCaptions)};
    return {std::begin(views::kResourceColumnCaptions), std::end(views::kResourceColumnCaptions)};
}

std::string ReasonText(DWORD error) {
    const std::string text = SystemMessageText(error);
    return (text.empty() ? std::string() : text + " ") + "(エラー " + std::to_string(error) + ")";
}

// The file the person names in the save box, or empty when they cancel.
std::wstring AskSavePath(HWND owner, const std::wstring& suggested) {
    std::wstring buffer(32768, L'\0');  // room for a long path
    buffer.replace(0, suggested.size(), suggested);
    OPENFILENAMEW box{};
    box.lStructSize = sizeof box;
    box.hwndOwner = owner;
    box.lpstrFilter = L"CSV ファイル (*.csv)\0*.csv\0すべてのファイル (*.*)\0*.*\0";
    box.lpstrFile = buffer.data();
    box.nMaxFile = static_cast<DWORD>(buffer.size());
    box.lpstrTitle = L"一覧を保存";
    box.lpstrDefExt = L"csv";
    box.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&box)) return {};
    buffer.resize(std::char_traits<wchar_t>::length(buffer.c_str()));
    return buffer;
}

DWORD WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) return GetLastError();
        if (written == 0) return ERROR_WRITE_FAULT;
        bytes.remove_prefix(written);
    }
    return ERROR_SUCCESS;
}

// Puts `bytes` under `path` whole or not at all: written to a new file beside
// it, then moved in its place. A write that fails leaves the file of that name
// as it was and removes its own. The system's error code, or 0.
DWORD ReplaceFileWith(const std::wstring& path, std::string_view bytes) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::wstring temporary =
            path + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt) + L".tmp";
        UniqueFile file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
        if (!file) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return error;
        }
        DWORD error = WriteAll(file.get(), bytes);
        if (error == ERROR_SUCCESS && !FlushFileBuffers(file.get())) error = GetLastError();
        file.reset();
        if (error == ERROR_SUCCESS &&
            !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            error = GetLastError();
        if (error != ERROR_SUCCESS) DeleteFileW(temporary.c_str());
        return error;
    }
    return ERROR_FILE_EXISTS;
}

bool PutOnClipboard(HWND owner, const std::wstring& text, DWORD& error) {
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory) {
        error = GetLastError();
        return false;
    }
    void* target = GlobalLock(memory);
    if (!target) {  // never handed over with whatever the block held
        error = GetLastError();
        GlobalFree(memory);
        return false;
    }
    std::memcpy(target, text.c_str(), bytes);
    GlobalUnlock(memory);
    bool done = false;
    if (OpenClipboard(owner)) {
        EmptyClipboard();
        done = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;  // the clipboard owns it from here
        if (!done) error = GetLastError();
        CloseClipboard();
    } else {
        error = GetLastError();
    }
    if (!done) GlobalFree(memory);
    return done;
}

}  // namespace

std::vector<views::RowTable::Cells> TCorvaneForm::SelectedRows(HWND list) {
    const ListViewReportList* view = list == lvResource_ ? resourceRows_.get() : sessionRows_.get();
    std::vector<views::RowTable::Cells> rows;
    if (!view) return rows;
    std::lock_guard lock(listLock_);
    for (int row = ListView_GetNextItem(list, -1, LVNI_SELECTED); row >= 0;
         row = ListView_GetNextItem(list, row, LVNI_SELECTED))
        rows.push_back(view->Rows().RowCells(row));
    return rows;
}

void TCorvaneForm::ActionCopyUpdate(Action& action) { action.Enabled = ListView_GetSelectedCount(CurrentList()) > 0; }

void TCorvaneForm::ActionSelectAllUpdate(Action& action) { action.Enabled = ListView_GetItemCount(CurrentList()) > 0; }

void TCorvaneForm::ActionSelectAllExecute() {
    const HWND list = CurrentList();
    ListView_SetItemState(list, -1, LVIS_SELECTED, LVIS_SELECTED);
    SetFocus(list);
}

void TCorvaneForm::ActionCopyExecute() {
    const HWND list = CurrentList();
    const std::vector<views::RowTable::Cells> rows = SelectedRows(list);
    if (rows.empty()) return;
    std::string text;
    views::AppendExportLine(text, HeaderOf(list == lvSessions_), views::kTextSeparator);
    for (const auto& row : rows) views::AppendExportLine(text, row, views::kTextSeparator);
    if (DWORD error = 0; !PutOnClipboard(Handle(), Wide(text), error))
        ShowErrorBox(Handle(), "クリップボードにコピーできませんでした。\r\n\r\n" + ReasonText(error));
}

// The rows are read once the file is named: what the list shows then is
// what is saved.
void TCorvaneForm::ActionSaveListExecute() {
    const HWND list = CurrentList();
    const bool sessions = list == lvSessions_;
    std::wstring path;
    {
        app::DialogState::Guard dialog(dialogs_);
        NestedLoopScope nested;
        path = AskSavePath(Handle(), sessions ? L"セッション.csv" : L"共有リソース.csv");
    }
    if (path.empty()) return;
    std::string text(views::kUtf8ByteOrderMark);
    {
        std::lock_guard lock(listLock_);
        const views::ShownRows& rows = (sessions ? sessionRows_ : resourceRows_)->Rows();
        views::AppendExportLine(text, HeaderOf(sessions), views::kCsvSeparator);
        for (int row = 0; row < rows.Count(); ++row)
            views::AppendExportLine(text, rows.RowCells(row), views::kCsvSeparator);
    }
    if (const DWORD error = ReplaceFileWith(path, text); error != ERROR_SUCCESS)
        ShowErrorBox(Handle(), "一覧を保存できませんでした。\r\n\r\n" + Narrow(path) + "\r\n" + ReasonText(error));
}

}  // namespace corvane::win
