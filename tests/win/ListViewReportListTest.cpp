#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <cwchar>
#include <vector>

#include "core/display/DpiScale.h"
#include "core/text/Collation.h"
#include "core/views/ListRows.h"
#include "win/app/ListViewReportList.h"
#include "win/ui/Dialog.h"
#include "win/ui/UniqueResource.h"
#include "support/WatchRecords.h"

namespace corvane::win {
namespace {

using Strings = std::vector<std::string>;
using corvane::testing::Resource;
using corvane::testing::Session;

constexpr RECT kBounds{0, 0, 600, 300};

// What the control itself holds, read without the adapter.
std::wstring RawText(HWND list, int row, int column) {
    wchar_t buffer[512] = {};
    ListView_GetItemText(list, row, column, buffer, 512);
    return buffer;
}

int RawImage(HWND list, int row) {
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return item.iImage;
}


// The lists' parent: passes their notifications to the views that show the
// tables, as the main window does.
LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NOTIFY) {
        auto* views = reinterpret_cast<std::vector<ListViewReportList*>*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        LRESULT result = 0;
        if (views)
            for (ListViewReportList* view : *views)
                if (view->OnNotify(*reinterpret_cast<const NMHDR*>(lp), result)) return result;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

class ListViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX init{sizeof(init), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&init);
        WNDCLASSW host{};
        host.lpfnWndProc = HostProc;
        host.hInstance = GetModuleHandleW(nullptr);
        host.lpszClassName = L"ListViewTestHost";
        RegisterClassW(&host);
    }

    void SetUp() override {
        window.reset(CreateWindowExW(0, L"ListViewTestHost", L"ListViewTest", WS_OVERLAPPEDWINDOW, 0, 0, 700, 400,
                                     nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
        ASSERT_TRUE(window);
        SetWindowLongPtrW(window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&views));
        images.reset(ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 3, 1));
        ASSERT_TRUE(images);
        sessionsHwnd = CreateSessionListView(window.get(), 101, kBounds, images.get(), 96);
        resourcesHwnd = CreateResourceListView(window.get(), 102, kBounds, images.get(), 96);
        ASSERT_NE(sessionsHwnd, nullptr);
        ASSERT_NE(resourcesHwnd, nullptr);
        rows = std::make_unique<views::ListRows>(lock, text::PlatformCollation());
        sessions = std::make_unique<ListViewReportList>(sessionsHwnd, rows->Sessions(), [this] { ++syncRequests; });
        resources = std::make_unique<ListViewReportList>(resourcesHwnd, rows->Resources(), [this] { ++syncRequests; });
        views = {sessions.get(), resources.get()};
    }

    void TearDown() override {
        views.clear();
        window.reset();
    }

    // What the main window does when its posted request arrives.
    void Sync() {
        sessions->Sync();
        resources->Sync();
    }

    std::recursive_mutex lock;
    std::unique_ptr<views::ListRows> rows;
    std::unique_ptr<ListViewReportList> sessions;
    std::unique_ptr<ListViewReportList> resources;
    std::vector<ListViewReportList*> views;
    int syncRequests = 0;
    UniqueWindow window;  // destroys the lists with it, before the views go
    UniqueImageList images;
    HWND sessionsHwnd = nullptr;
    HWND resourcesHwnd = nullptr;
};

void ExpectColumns(HWND list, const std::vector<std::pair<std::wstring, int>>& expected) {
    ASSERT_EQ(Header_GetItemCount(ListView_GetHeader(list)), static_cast<int>(expected.size()));
    for (int i = 0; i < static_cast<int>(expected.size()); ++i) {
        wchar_t caption[64] = {};
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = caption;
        column.cchTextMax = 64;
        ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column)));
        EXPECT_EQ(std::wstring(caption), expected[i].first) << i;
        EXPECT_EQ(column.cx, expected[i].second) << i;
    }
}

TEST_F(ListViewTest, ListsHaveTheirStylesColumnsAndImages) {
    for (HWND list : {sessionsHwnd, resourcesHwnd}) {
        const auto style = static_cast<DWORD>(GetWindowLongPtrW(list, GWL_STYLE));
        EXPECT_EQ(style & LVS_TYPEMASK, static_cast<DWORD>(LVS_REPORT));
        EXPECT_TRUE(style & LVS_SHOWSELALWAYS);
        EXPECT_TRUE(style & LVS_SHAREIMAGELISTS);
        EXPECT_TRUE(style & LVS_OWNERDATA);
        EXPECT_FALSE(style & (LVS_EDITLABELS | LVS_SINGLESEL | LVS_SORTASCENDING | LVS_SORTDESCENDING));
        EXPECT_TRUE(ListView_GetExtendedListViewStyle(list) & LVS_EX_FULLROWSELECT);
        EXPECT_EQ(ListView_GetImageList(list, LVSIL_SMALL), images.get());
    }
    ExpectColumns(sessionsHwnd, {{L"コンピュータ名", 100},
                                 {L"IPアドレス", 80},
                                 {L"ユーザ名", 80},
                                 {L"オープン数", 80},
                                 {L"接続時間", 80},
                                 {L"アイドル時間", 92}});
    ExpectColumns(resourcesHwnd, {{L"ユーザ名", 100}, {L"共有リソース名", 300}});
}

TEST_F(ListViewTest, At150PercentEveryHeaderTextFitsItsColumn) {
    // The list as the main window makes it at 144 DPI: columns and font scaled.
    constexpr int kDpi = 144;
    UniqueFont font = CreateUiFont(kDpi);
    HWND list = CreateSessionListView(window.get(), 103, kBounds, images.get(), kDpi);
    ASSERT_NE(list, nullptr);
    SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    HWND header = ListView_GetHeader(list);
    const int count = Header_GetItemCount(header);
    ASSERT_EQ(count, 6);
    HDC dc = GetDC(header);
    HGDIOBJ old = SelectObject(dc, font.get());
    for (int i = 0; i < count; ++i) {
        wchar_t text[64] = {};
        HDITEMW item{};
        item.mask = HDI_TEXT | HDI_WIDTH;
        item.pszText = text;
        item.cchTextMax = 64;
        ASSERT_TRUE(Header_GetItem(header, i, &item));
        SIZE extent{};
        GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &extent);
        // The header keeps a margin of about three edge widths on each side.
        const int margin = 2 * 3 * GetSystemMetrics(SM_CXEDGE) * kDpi / 96;
        EXPECT_EQ(item.cxy, app::kSessionColumnWidths[i] * 3 / 2) << i;
        EXPECT_LE(extent.cx + margin, item.cxy) << "column " << i << " width " << extent.cx;
    }
    SelectObject(dc, old);
    ReleaseDC(header, dc);
}

TEST_F(ListViewTest, ControlSearchFindsCaptionsRegardlessOfCase) {
    for (const char* caption : {"alpha", "Beta", "ALPHA", "alphabet", "ｐｃ", "端末"})
        rows->AddResourceRow(Resource(caption, "p"));
    Sync();
    auto find = [&](const wchar_t* text, UINT flags) {
        LVFINDINFOW info{};
        info.flags = flags;
        info.psz = text;
        return ListView_FindItem(resourcesHwnd, -1, &info);
    };
    EXPECT_EQ(find(L"BETA", LVFI_STRING), 1);
    EXPECT_EQ(find(L"alph", LVFI_STRING), -1);  // the whole caption
    EXPECT_EQ(find(L"ALPHAB", LVFI_PARTIAL), 3);  // or its start
    EXPECT_EQ(find(L"ＰＣ", LVFI_STRING), 4);  // full-width letters fold too
    EXPECT_EQ(find(L"端末", LVFI_STRING), 5);
    EXPECT_EQ(find(L"gamma", LVFI_STRING | LVFI_WRAP), -1);
}

TEST_F(ListViewTest, CellsReachTheControlWholeThroughUtf16) {
    const std::string longPath = "C:\\共有\\" + std::string(700, 'a') + "\\ファイル.txt";
    rows->AddResourceRow(Resource("ユーザ", longPath));
    rows->AddResourceRow(Resource("second", "p"));
    EXPECT_EQ(ListView_GetItemCount(resourcesHwnd), 0);  // until the requested sync
    EXPECT_EQ(syncRequests, 1);
    Sync();
    ASSERT_EQ(ListView_GetItemCount(resourcesHwnd), 2);
    EXPECT_EQ(RawText(resourcesHwnd, 0, 0), L"ユーザ");
    std::wstring buffer(1024, L'\0');
    LVITEMW item{};
    item.iSubItem = 1;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(buffer.size());
    buffer.resize(static_cast<std::size_t>(
        SendMessageW(resourcesHwnd, LVM_GETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&item))));
    EXPECT_EQ(Narrow(buffer), longPath);
    EXPECT_EQ(RawText(resourcesHwnd, 1, 1), L"p");
    EXPECT_EQ(RawText(resourcesHwnd, 5, 0), L"");
}

// The control against the table, cell by cell, read through the control.
void ExpectControlShows(HWND list, const views::RowTable& table) {
    ASSERT_EQ(ListView_GetItemCount(list), table.Count());
    for (int row = 0; row < table.Count(); ++row) {
        for (int column = 0; column < table.ColumnCount(); ++column)
            ASSERT_EQ(Narrow(RawText(list, row, column)), table.Cell(row, column)) << row << "/" << column;
        ASSERT_EQ(RawImage(list, row), table.Image()) << row;
    }
}

std::vector<std::wstring> SelectedCaptions(HWND list) {
    std::vector<std::wstring> captions;
    for (int row = ListView_GetNextItem(list, -1, LVNI_SELECTED); row >= 0;
         row = ListView_GetNextItem(list, row, LVNI_SELECTED))
        captions.push_back(RawText(list, row, 0));
    return captions;
}

TEST_F(ListViewTest, ControlShowsWhatTheModelHoldsThroughChurnSortAndRebuild) {
    auto session = [](int i, std::uint32_t open) {
        TSessionInfo info = Session("PC" + std::to_string(i), "user" + std::to_string(i % 13), open, 100u * i, i);
        info.IpAddress = "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250);
        return info;
    };
    auto file = [](int i) { return Resource("user" + std::to_string(i % 13), "D:\\共有\\" + std::to_string(i) + ".xlsx"); };
    for (int i = 0; i < 2000; ++i) rows->AddSessionRow(session(i, 1));
    for (int i = 0; i < 5000; ++i) rows->AddResourceRow(file(i));
    Sync();
    ExpectControlShows(sessionsHwnd, rows->Sessions());
    ExpectControlShows(resourcesHwnd, rows->Resources());

    // A selection, then rows go above and below it and others change: the
    // selection stays on its rows, the control on the table.
    for (int row : {10, 1500}) ListView_SetItemState(sessionsHwnd, row, LVIS_SELECTED, LVIS_SELECTED);
    for (int i = 0; i < 2000; i += 3) {
        const auto gone = session(i, 1);
        if (i != 10 && i != 1500) rows->RemoveSessionRow(&gone);
    }
    for (int i = 1; i < 2000; i += 7) rows->UpdateSessionRow(session(i, 5));
    // A pass in which many go at once, above, between and below the
    // selection: one sweep, the selection and the focus on their rows.
    const int focused = rows->FindSessionRow("PC1500", "user" + std::to_string(1500 % 13));
    ListView_SetItemState(sessionsHwnd, focused, LVIS_FOCUSED, LVIS_FOCUSED);
    std::vector<TSessionInfo> sessionsGone;
    std::vector<TFileInfo> filesGone;
    for (int i = 2; i < 2000; i += 3) sessionsGone.push_back(session(i, 1));
    for (int i = 0; i < 5000; i += 2) filesGone.push_back(file(i));
    std::vector<const TSessionInfo*> sessionPointers;
    std::vector<const TFileInfo*> filePointers;
    for (const auto& info : sessionsGone) sessionPointers.push_back(&info);
    for (const auto& info : filesGone) filePointers.push_back(&info);
    rows->RemoveSessionRows(sessionPointers);
    rows->RemoveResourceRows(filePointers);
    for (int i = 2000; i < 2100; ++i) rows->AddSessionRow(session(i, 2));
    Sync();
    ExpectControlShows(sessionsHwnd, rows->Sessions());
    ExpectControlShows(resourcesHwnd, rows->Resources());
    EXPECT_EQ(SelectedCaptions(sessionsHwnd), (std::vector<std::wstring>{L"PC10", L"PC1500"}));
    EXPECT_EQ(RawText(sessionsHwnd, ListView_GetNextItem(sessionsHwnd, -1, LVNI_FOCUSED), 0), L"PC1500");

    // A header click: still the same rows selected, wherever they went.
    rows->SortSessionRows(views::kSessionIdleTime);
    ExpectControlShows(sessionsHwnd, rows->Sessions());
    EXPECT_EQ(SelectedCaptions(sessionsHwnd), (std::vector<std::wstring>{L"PC10", L"PC1500"}));
    EXPECT_EQ(RawText(sessionsHwnd, 0, 0), L"PC1");

    // F5 in the manual mode: emptied and filled anew in one batch.
    rows->RemoveSessionRow(nullptr);
    rows->RemoveResourceRow(nullptr);
    EXPECT_EQ(ListView_GetItemCount(sessionsHwnd), 0);
    EXPECT_EQ(ListView_GetSelectedCount(sessionsHwnd), 0u);
    for (int i = 2999; i >= 0; --i) rows->AddSessionRow(session(i, 3));
    for (int i = 0; i < 5000; i += 2) rows->AddResourceRow(file(i));
    Sync();
    ExpectControlShows(sessionsHwnd, rows->Sessions());
    ExpectControlShows(resourcesHwnd, rows->Resources());
    EXPECT_EQ(rows->Sessions().Count(), 3000);
    EXPECT_EQ(rows->Resources().Count(), 2500);
}

Strings Column(HWND list, int column) {
    Strings texts;
    for (int row = 0; row < ListView_GetItemCount(list); ++row) texts.push_back(Narrow(RawText(list, row, column)));
    return texts;
}

TEST_F(ListViewTest, HeaderSortOrdersTheRealListByThePlatformsComparison) {
    rows->AddSessionRow(Session("PCB", "u1", 10, 86400, 3));
    rows->AddSessionRow(Session("PCA", "u2", 9, 86399, 2));
    rows->AddSessionRow(Session("PCC", "u3", 100, 4294967295u, 1));
    rows->AddSessionRow(Session("PCD", "u4", 0, 0, 0));
    for (int i = 5; i <= 10; ++i) {
        TSessionInfo info = Session("PC" + std::to_string(i), "u");
        info.IpAddress = "10.0.0." + std::to_string(i);
        rows->AddSessionRow(info);
    }
    Sync();

    rows->SortSessionRows(views::kSessionOpenCount);
    EXPECT_EQ(Column(sessionsHwnd, 3), (Strings{"0", "1", "1", "1", "1", "1", "1", "9", "10", "100"}));
    rows->SortSessionRows(views::kSessionConnectedTime);
    const Strings times = Column(sessionsHwnd, 4);
    ASSERT_EQ(times.size(), 10u);
    EXPECT_EQ(Strings(times.end() - 3, times.end()), (Strings{"23:59:59", "1 d. 00:00:00", "49710 d. 06:28:15"}));
    rows->SortSessionRows(views::kSessionAddress);
    const Strings addresses = Column(sessionsHwnd, 1);
    ASSERT_EQ(addresses.size(), 10u);
    EXPECT_EQ(addresses[4], "10.0.0.10");  // after the four without an address
    EXPECT_EQ(addresses.back(), "10.0.0.9");
    EXPECT_EQ(RawText(sessionsHwnd, 4, 0), L"PC10");  // the rows move whole

    // Again: the same ascending order; a later row goes to the bottom.
    rows->SortSessionRows(views::kSessionAddress);
    EXPECT_EQ(Column(sessionsHwnd, 1), addresses);
    rows->AddSessionRow(Session("PC0", "u"));
    Sync();
    EXPECT_EQ(RawText(sessionsHwnd, 10, 0), L"PC0");

    for (const char* path : {"C:\\b", "C:\\c", "C:\\a"})
        rows->AddResourceRow(Resource(std::string("user-") + path[3], path));
    Sync();
    rows->SortResourceRows(views::kResourcePathName);
    EXPECT_EQ(Column(resourcesHwnd, 1), (Strings{"C:\\a", "C:\\b", "C:\\c"}));
    EXPECT_EQ(Column(resourcesHwnd, 0), (Strings{"user-a", "user-b", "user-c"}));
}

TEST_F(ListViewTest, ClearListSelectionUnselectsEveryRow) {
    for (const char* caption : {"a", "b", "c"}) rows->AddSessionRow(Session(caption, "u"));
    Sync();
    ListView_SetItemState(sessionsHwnd, -1, LVIS_SELECTED, LVIS_SELECTED);
    ASSERT_EQ(ListView_GetSelectedCount(sessionsHwnd), 3u);
    ClearListSelection(sessionsHwnd);
    EXPECT_EQ(ListView_GetSelectedCount(sessionsHwnd), 0u);
}

// The colour at the middle of an image of the list.
COLORREF ImageColour(HIMAGELIST images, int index) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, 16, 16};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ImageList_Draw(images, index, dc, 0, 0, ILD_NORMAL);
    const COLORREF colour = GetPixel(dc, 8, 8);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return colour;
}

TEST_F(ListViewTest, ShellIconsGoInFrontOfTheDesignedImage) {
    // The designed image: plain red.
    HDC screen = GetDC(nullptr);
    HBITMAP red = CreateCompatibleBitmap(screen, 16, 16);
    HDC dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, red);
    RECT all{0, 0, 16, 16};
    HBRUSH brush = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    SelectObject(dc, old);
    DeleteDC(dc);
    ASSERT_EQ(ImageList_Add(images.get(), red, nullptr), 0);
    DeleteObject(red);

    LoadListIcons(images.get());

    ASSERT_EQ(ImageList_GetImageCount(images.get()), 3);
    EXPECT_EQ(ImageColour(images.get(), 2), RGB(255, 0, 0));
    EXPECT_NE(ImageColour(images.get(), 0), RGB(255, 0, 0));
    EXPECT_NE(ImageColour(images.get(), 1), RGB(255, 0, 0));

    // The two icons come from the system's icon library.
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring shell32 = std::wstring(system) + L"\\shell32.dll";
    EXPECT_TRUE(InsertShellIcon(images.get(), shell32, 15, 1));
    EXPECT_EQ(ImageList_GetImageCount(images.get()), 4);
    EXPECT_EQ(ImageColour(images.get(), 3), RGB(255, 0, 0));
    EXPECT_FALSE(InsertShellIcon(images.get(), shell32, 100000, 0));
    EXPECT_EQ(ImageList_GetImageCount(images.get()), 4);
}

}  // namespace
}  // namespace corvane::win
