#include "win/app/ListViewReportList.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <iterator>
#include <utility>
#include <string>
#include <vector>

#include "core/display/DpiScale.h"
#include "core/views/ListRows.h"
#include "win/ui/UniqueResource.h"

namespace corvane::win {

namespace {

HWND CreateReportListView(HWND parent, int controlId, const RECT& bounds, HIMAGELIST smallImages,
                          const char* const* captions, const int* widths, int columnCount, int dpi) {
    const DWORD style = WS_CHILD | WS_TABSTOP | WS_CLIPSIBLINGS | LVS_REPORT | LVS_SHOWSELALWAYS |
                        LVS_SHAREIMAGELISTS | LVS_OWNERDATA;
    HWND list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", style, bounds.left, bounds.top,
                                bounds.right - bounds.left, bounds.bottom - bounds.top, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)),
                                reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)),
                                nullptr);
    if (list == nullptr) return nullptr;
    ListView_SetExtendedListViewStyleEx(list, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    ListView_SetImageList(list, smallImages, LVSIL_SMALL);
    for (int i = 0; i < columnCount; ++i) {
        std::wstring caption = Wide(captions[i]);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM | LVCF_FMT;
        column.fmt = LVCFMT_LEFT;
        column.cx = app::ScaleToDpi(widths[i], dpi);
        column.pszText = caption.data();
        column.iSubItem = i;
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    }
    return list;
}

// Inserts the icon at `position`: the images from there on are taken out as
// icons and appended again behind it. (Swapping images in place with
// ImageList_Copy loses their pictures under Wine.)
bool InsertIconAt(HIMAGELIST images, HICON icon, int position) {
    const int count = ImageList_GetImageCount(images);
    if (icon == nullptr || position < 0) return false;
    if (position > count) position = count;
    std::vector<UniqueIcon> moved;
    for (int i = position; i < count; ++i) {
        moved.emplace_back(ImageList_GetIcon(images, i, ILD_NORMAL));
        if (!moved.back()) return false;
    }
    for (int i = count - 1; i >= position; --i) ImageList_Remove(images, i);
    const bool added = ImageList_ReplaceIcon(images, -1, icon) >= 0;
    for (const auto& image : moved) ImageList_ReplaceIcon(images, -1, image.get());
    return added;
}

}  // namespace

ListViewReportList::ListViewReportList(HWND listView, views::RowTable& table, std::function<void()> requestSync)
    : hwnd_(listView), rows_(table), requestSync_(std::move(requestSync)) {
    rows_.SetView(this);
    Sync();  // a table that holds rows already shows them at once
}

ListViewReportList::~ListViewReportList() { rows_.SetView(nullptr); }

bool ListViewReportList::OnNotify(const NMHDR& header, LRESULT& result) {
    if (header.hwndFrom != hwnd_) return false;
    switch (header.code) {
        case LVN_GETDISPINFOW:
            GetDispInfo(const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header)));
            result = 0;
            return true;
        case LVN_ODFINDITEMW:
            result = FindItem(reinterpret_cast<const NMLVFINDITEMW&>(header));
            return true;
        case LVN_DELETEALLITEMS:
            result = TRUE;  // no notification for each row
            return true;
        default:
            return false;
    }
}

void ListViewReportList::GetDispInfo(NMLVDISPINFOW& info) const {
    LVITEMW& item = info.item;
    const bool inTable = item.iItem >= 0 && item.iItem < rows_.Count();
    if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
        item.pszText[0] = L'\0';
        if (inTable) {
            try {
                const std::wstring text = Wide(rows_.Cell(item.iItem, item.iSubItem));
                const std::size_t length = std::min(text.size(), static_cast<std::size_t>(item.cchTextMax) - 1);
                std::copy_n(text.data(), length, item.pszText);
                item.pszText[length] = L'\0';
            } catch (const std::exception&) {
                // No memory for the conversion: the cell is drawn empty this time.
            }
        }
    }
    if (item.mask & LVIF_IMAGE) item.iImage = rows_.Image();
}

// The control's own search (typing the start of a caption, LVM_FINDITEM):
// captions regardless of case, the whole caption or its start.
int ListViewReportList::FindItem(const NMLVFINDITEMW& find) const {
    const UINT flags = find.lvfi.flags;
    if (!(flags & (LVFI_STRING | LVFI_PARTIAL)) || !find.lvfi.psz) return -1;
    const std::wstring target = find.lvfi.psz;
    const bool prefix = (flags & LVFI_PARTIAL) != 0;
    const int count = rows_.Count();
    const int start = find.iStart >= 0 && find.iStart < count ? find.iStart : 0;
    try {
        for (int k = 0; k < count; ++k) {
            int row = start + k;
            if (row >= count) {
                if (!(flags & LVFI_WRAP)) break;
                row -= count;
            }
            const std::wstring caption = Wide(rows_.Cell(row, 0));
            const int length = static_cast<int>(prefix ? std::min(caption.size(), target.size()) : caption.size());
            if (prefix && caption.size() < target.size()) continue;
            if (CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, caption.data(), length, target.data(),
                               static_cast<int>(target.size())) == CSTR_EQUAL)
                return row;
        }
    } catch (const std::exception&) {
    }
    return -1;
}

void ListViewReportList::RequestSync() {
    if (syncRequested_) return;
    syncRequested_ = true;
    if (requestSync_) requestSync_();
}

void ListViewReportList::Sync() {
    syncRequested_ = false;
    const int count = rows_.Count();
    if (count != shown_) {
        SendMessageW(hwnd_, LVM_SETITEMCOUNT, static_cast<WPARAM>(count), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
        shown_ = count;
    }
    if (repaint_) {
        repaint_ = false;
        InvalidateRect(hwnd_, nullptr, FALSE);
    }
}

void ListViewReportList::RowsAppended(int) { RequestSync(); }

void ListViewReportList::RowChanged(int row) {
    if (row >= shown_) return;  // drawn for the first time after the next Sync
    repaint_ = true;
    RequestSync();
}

void ListViewReportList::RowsRemoved(const std::vector<int>& rows) {
    // Only rows the control knows matter to it (`rows` is ascending).
    const auto known = static_cast<std::size_t>(std::lower_bound(rows.begin(), rows.end(), shown_) - rows.begin());
    if (known == 1) {
        // One row goes through the control, which moves the selection and
        // focus of the rows below up with them.
        SendMessageW(hwnd_, LVM_DELETEITEM, static_cast<WPARAM>(rows.front()), 0);
        --shown_;
    } else if (known > 1) {
        // Many rows: one new row count instead of a deletion (and a repaint)
        // per row; the selection and the focus are moved by hand.
        const auto after = [&](int old) {
            const auto below = std::lower_bound(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(known), old);
            if (below != rows.begin() + static_cast<std::ptrdiff_t>(known) && *below == old) return -1;
            return old - static_cast<int>(below - rows.begin());
        };
        std::vector<int> selected;
        const bool anySelected = ListView_GetSelectedCount(hwnd_) > 0;
        if (anySelected) {
            for (int row = ListView_GetNextItem(hwnd_, -1, LVNI_SELECTED); row >= 0;
                 row = ListView_GetNextItem(hwnd_, row, LVNI_SELECTED))
                if (const int moved = after(row); moved >= 0) selected.push_back(moved);
        }
        const int focused = ListView_GetNextItem(hwnd_, -1, LVNI_FOCUSED);
        if (anySelected || focused >= 0) ListView_SetItemState(hwnd_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        shown_ -= static_cast<int>(known);
        SendMessageW(hwnd_, LVM_SETITEMCOUNT, static_cast<WPARAM>(shown_), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
        for (int row : selected) ListView_SetItemState(hwnd_, row, LVIS_SELECTED, LVIS_SELECTED);
        if (const int moved = focused >= 0 ? after(focused) : -1; moved >= 0)
            ListView_SetItemState(hwnd_, moved, LVIS_FOCUSED, LVIS_FOCUSED);
        InvalidateRect(hwnd_, nullptr, FALSE);
    }
    RequestSync();
}

void ListViewReportList::RowsCleared() {
    SendMessageW(hwnd_, LVM_DELETEALLITEMS, 0, 0);
    shown_ = 0;
    RequestSync();
}

void ListViewReportList::RowsReordered(const std::vector<int>& oldRowAt) {
    // A sort, or a new filter: the selection and the focus stay with their
    // rows where those are still shown. Rows the control did not know yet
    // (-1, or numbers from its count on) were neither selected nor focused.
    std::vector<int> newRowOf(static_cast<std::size_t>(shown_), -1);
    for (std::size_t i = 0; i < oldRowAt.size(); ++i)
        if (oldRowAt[i] >= 0 && oldRowAt[i] < shown_)
            newRowOf[static_cast<std::size_t>(oldRowAt[i])] = static_cast<int>(i);
    auto moved = [&](int old) { return old >= 0 && old < shown_ ? newRowOf[static_cast<std::size_t>(old)] : -1; };
    std::vector<int> selected;
    const bool anySelected = ListView_GetSelectedCount(hwnd_) > 0;
    if (anySelected) {
        for (int row = ListView_GetNextItem(hwnd_, -1, LVNI_SELECTED); row >= 0;
             row = ListView_GetNextItem(hwnd_, row, LVNI_SELECTED))
            if (const int now = moved(row); now >= 0) selected.push_back(now);
    }
    const int wasFocused = ListView_GetNextItem(hwnd_, -1, LVNI_FOCUSED);
    const int focused = moved(wasFocused);
    // Cleared while the control still has its old row count, so that no
    // state is left on a row number beyond the new one. (All rows are asked
    // only to unselect them: the control passes over that when none is, and
    // goes through every row for anything else.)
    if (anySelected) ListView_SetItemState(hwnd_, -1, 0, LVIS_SELECTED);
    if (wasFocused >= 0) ListView_SetItemState(hwnd_, wasFocused, 0, LVIS_FOCUSED);
    Sync();
    if (!selected.empty() && static_cast<int>(selected.size()) == shown_) {
        ListView_SetItemState(hwnd_, -1, LVIS_SELECTED, LVIS_SELECTED);  // all of them, in one go
    } else {
        for (int row : selected) ListView_SetItemState(hwnd_, row, LVIS_SELECTED, LVIS_SELECTED);
    }
    if (focused >= 0) ListView_SetItemState(hwnd_, focused, LVIS_FOCUSED, LVIS_FOCUSED);
    InvalidateRect(hwnd_, nullptr, FALSE);
    // The owner hears of the new count with the next Sync it arranges.
    RequestSync();
}

HWND CreateSessionListView(HWND parent, int controlId, const RECT& bounds, HIMAGELIST smallImages, int dpi) {
    static_assert(std::size(views::kSessionColumnCaptions) == std::size(app::kSessionColumnWidths));
    return CreateReportListView(parent, controlId, bounds, smallImages, views::kSessionColumnCaptions,
                                app::kSessionColumnWidths, views::kSessionColumnCount, dpi);
}

HWND CreateResourceListView(HWND parent, int controlId, const RECT& bounds, HIMAGELIST smallImages, int dpi) {
    static_assert(std::size(views::kResourceColumnCaptions) == std::size(app::kResourceColumnWidths));
    return CreateReportListView(parent, controlId, bounds, smallImages, views::kResourceColumnCaptions,
                                app::kResourceColumnWidths, views::kResourceColumnCount, dpi);
}

void ClearListSelection(HWND listView) {
    ListView_SetItemState(listView, -1, 0, LVIS_SELECTED);
}

namespace {

// A 32-bit icon whose alpha channel is all zero means "use the mask"; some
// icon libraries are stored that way, and a 32-bit image list would then
// draw nothing. Returns a copy with the mask turned into alpha, or null when
// the icon needs no such help.
UniqueIcon AlphaFromMask(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return UniqueIcon();
    const UniqueBitmap color(info.hbmColor), mask(info.hbmMask);
    BITMAP bm{};
    if (!color || !GetObjectW(color.get(), sizeof bm, &bm) || bm.bmBitsPixel != 32) return UniqueIcon();
    const int width = bm.bmWidth, height = bm.bmHeight;
    BITMAPINFO bi = TopDownDib32(width, height);
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height), masks(pixels.size());
    HDC dc = GetDC(nullptr);
    const bool read = GetDIBits(dc, color.get(), 0, height, pixels.data(), &bi, DIB_RGB_COLORS) == height &&
                      GetDIBits(dc, mask.get(), 0, height, masks.data(), &bi, DIB_RGB_COLORS) == height;
    UniqueIcon result;
    bool hasAlpha = false;
    for (std::uint32_t p : pixels) hasAlpha = hasAlpha || (p >> 24) != 0;
    if (read && !hasAlpha) {
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = (pixels[i] & 0x00FFFFFFu) | ((masks[i] & 0x00FFFFFFu) ? 0u : 0xFF000000u);
        void* bits = nullptr;
        const UniqueBitmap withAlpha(CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (withAlpha && bits) {
            std::memcpy(bits, pixels.data(), pixels.size() * sizeof pixels[0]);
            ICONINFO made{TRUE, 0, 0, mask.get(), withAlpha.get()};
            result.reset(CreateIconIndirect(&made));
        }
    }
    ReleaseDC(nullptr, dc);
    return result;
}

}  // namespace

bool InsertShellIcon(HIMAGELIST images, const std::wstring& fileName, int iconNumber, int position) {
    HICON small = nullptr;
    if (ExtractIconExW(fileName.c_str(), iconNumber, nullptr, &small, 1) == 0 || small == nullptr) return false;
    const UniqueIcon icon(small);  // the image list keeps its own copy
    const UniqueIcon repaired = AlphaFromMask(icon.get());
    return InsertIconAt(images, repaired ? repaired.get() : icon.get(), position);
}

void LoadListIcons(HIMAGELIST images) {
    std::wstring path(MAX_PATH, L'\0');
    UINT length = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
    if (length >= path.size()) {
        path.resize(length);
        length = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
    }
    path.resize(length);
    path += L"\\shell32.dll";

    const struct {
        int Number;
        LPCWSTR StockIcon;
    } kIcons[] = {{15, IDI_APPLICATION}, {42, IDI_INFORMATION}};
    for (int position = 0; position < 2; ++position) {
        if (!InsertShellIcon(images, path, kIcons[position].Number, position)) {
            // A shared stock icon: never destroyed.
            InsertIconAt(images, LoadIconW(nullptr, kIcons[position].StockIcon), position);
        }
    }
}

}  // namespace corvane::win
