#include "win/app/ListViewReportList.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "win/ui/UniqueResource.h"

namespace corvane::win {

namespace {

// Cell number (0 = caption) to the list view's sub item number (0 = caption).
// The list view numbers its columns the same way.
LVITEMW TextItem(int cell, wchar_t* text, int capacity) {
    LVITEMW item{};
    item.iSubItem = cell;
    item.pszText = text;
    item.cchTextMax = capacity;
    return item;
}

// Items carry their place in the new order in their lParam while the list
// sorts itself; the comparison never looks at the cells.
int CALLBACK CompareRanks(LPARAM rankA, LPARAM rankB, LPARAM) {
    return rankA < rankB ? -1 : (rankB < rankA ? 1 : 0);
}

struct ColumnSpec {
    const wchar_t* Caption;
    int Width;
};

HWND CreateReportListView(HWND parent, int controlId, const RECT& bounds, HIMAGELIST smallImages,
                          const ColumnSpec* columns, int columnCount) {
    const DWORD style = WS_CHILD | WS_TABSTOP | WS_CLIPSIBLINGS | LVS_REPORT | LVS_SHOWSELALWAYS |
                        LVS_SHAREIMAGELISTS;
    HWND list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", style, bounds.left, bounds.top,
                                bounds.right - bounds.left, bounds.bottom - bounds.top, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)),
                                reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)),
                                nullptr);
    if (list == nullptr) return nullptr;
    ListView_SetExtendedListViewStyleEx(list, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    ListView_SetImageList(list, smallImages, LVSIL_SMALL);
    for (int i = 0; i < columnCount; ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM | LVCF_FMT;
        column.fmt = LVCFMT_LEFT;
        column.cx = columns[i].Width;
        column.pszText = const_cast<wchar_t*>(columns[i].Caption);
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

int ListViewReportList::RowCount() const {
    return static_cast<int>(SendMessageW(hwnd_, LVM_GETITEMCOUNT, 0, 0));
}

int ListViewReportList::FindCaption(const std::string& caption, int fromRow) const {
    if (fromRow < 0) fromRow = 0;
    if (fromRow >= RowCount()) return -1;
    const std::wstring wide = Wide(caption);
    LVFINDINFOW find{};
    find.flags = LVFI_STRING;  // whole caption, any case, no wrap
    find.psz = wide.c_str();
    // The search starts after the row it is given; -1 starts at the top.
    return static_cast<int>(SendMessageW(hwnd_, LVM_FINDITEMW, static_cast<WPARAM>(fromRow - 1),
                                         reinterpret_cast<LPARAM>(&find)));
}

std::string ListViewReportList::CellText(int row, int cell) const {
    if (row < 0 || row >= RowCount() || cell < 0) return {};
    std::vector<wchar_t> buffer(256);
    for (;;) {
        LVITEMW item = TextItem(cell, buffer.data(), static_cast<int>(buffer.size()));
        const auto length = static_cast<std::size_t>(
            SendMessageW(hwnd_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
        // A text that fills the buffer may have been cut: try a larger one.
        if (length + 1 < buffer.size()) return Narrow(std::wstring_view(buffer.data(), length));
        buffer.resize(buffer.size() * 2);
    }
}

void ListViewReportList::SetCellText(int row, int cell, const std::string& text) {
    std::wstring wide = Wide(text);
    LVITEMW item = TextItem(cell, wide.data(), 0);
    SendMessageW(hwnd_, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

int ListViewReportList::AppendRow(int imageIndex, const std::string& caption,
                                  const std::vector<std::string>& subItems) {
    std::wstring wide = Wide(caption);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = RowCount();
    item.iImage = imageIndex;
    item.pszText = wide.data();
    const int row = static_cast<int>(SendMessageW(hwnd_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0) return -1;
    for (std::size_t i = 0; i < subItems.size(); ++i) SetCellText(row, static_cast<int>(i) + 1, subItems[i]);
    return row;
}

void ListViewReportList::DeleteRow(int row) {
    SendMessageW(hwnd_, LVM_DELETEITEM, static_cast<WPARAM>(row), 0);
}

void ListViewReportList::DeleteAllRows() { SendMessageW(hwnd_, LVM_DELETEALLITEMS, 0, 0); }

void ListViewReportList::Sort(const RowComparison& compare) {
    // Work out the order while the list stands still, then let the list
    // reorder its items by their rank. (Row numbers handed to a comparison
    // during LVM_SORTITEMSEX do not address the current rows under Wine.)
    const int count = RowCount();
    std::vector<int> order(static_cast<std::size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&compare](int a, int b) { return compare(a, b) < 0; });
    for (int rank = 0; rank < count; ++rank) {
        LVITEMW item{};
        item.mask = LVIF_PARAM;
        item.iItem = order[static_cast<std::size_t>(rank)];
        item.lParam = rank;
        SendMessageW(hwnd_, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    SendMessageW(hwnd_, LVM_SORTITEMS, 0, reinterpret_cast<LPARAM>(&CompareRanks));
}

HWND CreateSessionListView(HWND parent, int controlId, const RECT& bounds, HIMAGELIST smallImages) {
    static const ColumnSpec kColumns[] = {
        {L"コンピュータ名", 80}, {L"IPアドレス", 80}, {L"ユーザ名", 80},
        {L"オープン数", 80},     {L"接続時間", 80},   {L"アイドル時間", 80},
    };
    return CreateReportListView(parent, controlId, bounds, smallImages, kColumns,
                                static_cast<int>(std::size(kColumns)));
}

HWND CreateResourceListView(HWND parent, int controlId, const RECT& bounds, HIMAGELIST smallImages) {
    static const ColumnSpec kColumns[] = {{L"ユーザ名", 100}, {L"共有リソース名", 300}};
    return CreateReportListView(parent, controlId, bounds, smallImages, kColumns,
                                static_cast<int>(std::size(kColumns)));
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
