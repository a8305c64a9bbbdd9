#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/text/Collation.h"
#include "core/views/ListRows.h"
#include "win/app/ListViewReportList.h"
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


class ListViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX init{sizeof(init), ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&init);
    }

    void SetUp() override {
        window.reset(CreateWindowExW(0, L"STATIC", L"ListViewTest", WS_OVERLAPPEDWINDOW, 0, 0, 700, 400,
                                     nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
        ASSERT_TRUE(window);
        images.reset(ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 3, 1));
        ASSERT_TRUE(images);
        sessionsHwnd = CreateSessionListView(window.get(), 101, kBounds, images.get());
        resourcesHwnd = CreateResourceListView(window.get(), 102, kBounds, images.get());
        ASSERT_NE(sessionsHwnd, nullptr);
        ASSERT_NE(resourcesHwnd, nullptr);
    }

    UniqueWindow window;  // destroys the lists with it
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
        EXPECT_FALSE(style & (LVS_EDITLABELS | LVS_SINGLESEL | LVS_SORTASCENDING | LVS_SORTDESCENDING));
        EXPECT_TRUE(ListView_GetExtendedListViewStyle(list) & LVS_EX_FULLROWSELECT);
        EXPECT_EQ(ListView_GetImageList(list, LVSIL_SMALL), images.get());
    }
    ExpectColumns(sessionsHwnd, {{L"コンピュータ名", 80},
                                 {L"IPアドレス", 80},
                                 {L"ユーザ名", 80},
                                 {L"オープン数", 80},
                                 {L"接続時間", 80},
                                 {L"アイドル時間", 80}});
    ExpectColumns(resourcesHwnd, {{L"ユーザ名", 100}, {L"共有リソース名", 300}});
}

TEST_F(ListViewTest, FindCaptionMatchesWholeCaptionAnyCaseForwardWithoutWrap) {
    ListViewReportList list(sessionsHwnd);
    for (const char* caption : {"alpha", "Beta", "ALPHA", "alphabet", "x", "ｐｃ", "端末"}) {
        list.AppendRow(0, caption, {});
    }
    EXPECT_EQ(list.FindCaption("Alpha", 0), 0);
    EXPECT_EQ(list.FindCaption("Alpha", 1), 2);  // the start row itself counts
    EXPECT_EQ(list.FindCaption("Alpha", 2), 2);
    EXPECT_EQ(list.FindCaption("Alpha", 3), -1);  // no wrap, "alphabet" is no match
    EXPECT_EQ(list.FindCaption("alph", 0), -1);
    EXPECT_EQ(list.FindCaption("BETA", 0), 1);
    EXPECT_EQ(list.FindCaption("x", 4), 4);
    EXPECT_EQ(list.FindCaption("x", 5), -1);
    EXPECT_EQ(list.FindCaption("x", 7), -1);
    EXPECT_EQ(list.FindCaption("ＰＣ", 0), 5);  // full-width letters fold too
    EXPECT_EQ(list.FindCaption("端末", 0), 6);
}

TEST_F(ListViewTest, CellsRoundTripThroughUtf16) {
    ListViewReportList list(resourcesHwnd);
    const std::string longPath = "C:\\共有\\" + std::string(700, 'a') + "\\ファイル.txt";
    ASSERT_EQ(list.AppendRow(1, "ユーザ", {longPath}), 0);
    ASSERT_EQ(list.AppendRow(1, "second", {"p"}), 1);
    EXPECT_EQ(list.CellText(0, 0), "ユーザ");
    EXPECT_EQ(list.CellText(0, 1), longPath);
    EXPECT_EQ(RawText(resourcesHwnd, 1, 1), L"p");
    list.SetCellText(1, 1, "新しい");
    EXPECT_EQ(RawText(resourcesHwnd, 1, 1), L"新しい");
    EXPECT_EQ(list.CellText(5, 0), "");
    list.DeleteRow(0);
    EXPECT_EQ(list.CellText(0, 0), "second");
    list.DeleteAllRows();
    EXPECT_EQ(list.RowCount(), 0);
}

class ListViewRowsTest : public ListViewTest {
protected:
    void SetUp() override {
        ListViewTest::SetUp();
        sessions = std::make_unique<ListViewReportList>(sessionsHwnd);
        resources = std::make_unique<ListViewReportList>(resourcesHwnd);
        rows = std::make_unique<views::ListRows>(
            *sessions, *resources, lock,
            [this](const std::string&) { return "10.0.0." + std::to_string(++lookups); },
            text::PlatformCollation());
    }

    Strings Column(HWND list, int column) {
        Strings texts;
        ListViewReportList view(list);
        for (int row = 0; row < view.RowCount(); ++row) texts.push_back(view.CellText(row, column));
        return texts;
    }

    std::unique_ptr<ListViewReportList> sessions;
    std::unique_ptr<ListViewReportList> resources;
    std::recursive_mutex lock;
    int lookups = 0;
    std::unique_ptr<views::ListRows> rows;
};

TEST_F(ListViewRowsTest, RowOperationsFillTheLists) {
    rows->AddSessionRow(Session("PC1", "alice", 2, 90061, 59));
    rows->AddSessionRow(Session("PC1", "bob", 1, 10, 10));
    rows->AddSessionRow(Session("pc1", "ALICE"));  // already there
    rows->UpdateSessionRow(Session("Pc1", "Bob", 3, 11, 0));
    TFileInfo file;
    file.UserName = "alice";
    file.PathName = "D:\\共有\\報告.xlsx";
    rows->AddResourceRow(file);

    ASSERT_EQ(ListView_GetItemCount(sessionsHwnd), 2);
    const wchar_t* alice[] = {L"PC1", L"10.0.0.1", L"alice", L"2", L"1 d. 01:01:01", L"00:00:59"};
    const wchar_t* bob[] = {L"PC1", L"10.0.0.2", L"Bob", L"3", L"00:00:11", L"00:00:00"};
    for (int column = 0; column < 6; ++column) {
        EXPECT_EQ(RawText(sessionsHwnd, 0, column), alice[column]) << column;
        EXPECT_EQ(RawText(sessionsHwnd, 1, column), bob[column]) << column;
    }
    EXPECT_EQ(RawImage(sessionsHwnd, 0), 0);
    ASSERT_EQ(ListView_GetItemCount(resourcesHwnd), 1);
    EXPECT_EQ(RawText(resourcesHwnd, 0, 0), L"alice");
    EXPECT_EQ(RawText(resourcesHwnd, 0, 1), L"D:\\共有\\報告.xlsx");
    EXPECT_EQ(RawImage(resourcesHwnd, 0), 1);

    const auto alice1 = Session("PC1", "Alice");
    rows->RemoveSessionRow(&alice1);
    EXPECT_EQ(Column(sessionsHwnd, 2), Strings{"Bob"});
    TFileInfo other = file;
    other.PathName = "d:\\共有\\報告.XLSX";
    rows->RemoveResourceRow(&other);
    EXPECT_EQ(ListView_GetItemCount(resourcesHwnd), 0);
    rows->RemoveSessionRow(nullptr);
    EXPECT_EQ(ListView_GetItemCount(sessionsHwnd), 0);
}

TEST_F(ListViewRowsTest, HeaderSortOrdersTheRealList) {
    rows->AddSessionRow(Session("PCB", "u1", 10, 86400, 3));
    rows->AddSessionRow(Session("PCA", "u2", 9, 86399, 2));
    rows->AddSessionRow(Session("PCC", "u3", 100, 4294967295u, 1));
    rows->AddSessionRow(Session("PCD", "u4", 0, 0, 0));
    for (int i = 5; i <= 10; ++i) rows->AddSessionRow(Session("PC" + std::to_string(i), "u"));

    rows->SortSessionRows(views::kSessionOpenCount);
    EXPECT_EQ(Column(sessionsHwnd, 3), (Strings{"0", "1", "1", "1", "1", "1", "1", "9", "10", "100"}));
    rows->SortSessionRows(views::kSessionConnectedTime);
    const Strings times = Column(sessionsHwnd, 4);
    ASSERT_EQ(times.size(), 10u);
    EXPECT_EQ(Strings(times.end() - 3, times.end()),
              (Strings{"23:59:59", "1 d. 00:00:00", "49710 d. 06:28:15"}));
    rows->SortSessionRows(views::kSessionAddress);
    const Strings addresses = Column(sessionsHwnd, 1);
    ASSERT_EQ(addresses.size(), 10u);
    EXPECT_EQ(addresses.front(), "10.0.0.1");
    EXPECT_EQ(addresses[1], "10.0.0.10");
    EXPECT_EQ(addresses.back(), "10.0.0.9");
    // The rows move whole: 10.0.0.10 belongs to PC10.
    EXPECT_EQ(RawText(sessionsHwnd, 1, 0), L"PC10");

    // Again: the same ascending order; a later row goes to the bottom.
    rows->SortSessionRows(views::kSessionAddress);
    EXPECT_EQ(Column(sessionsHwnd, 1), addresses);
    rows->AddSessionRow(Session("PC0", "u"));
    EXPECT_EQ(RawText(sessionsHwnd, 10, 0), L"PC0");

    TFileInfo file;
    for (const char* path : {"C:\\b", "C:\\c", "C:\\a"}) {
        file.UserName = std::string("user-") + path[3];
        file.PathName = path;
        rows->AddResourceRow(file);
    }
    rows->SortResourceRows(views::kResourcePathName);
    EXPECT_EQ(Column(resourcesHwnd, 1), (Strings{"C:\\a", "C:\\b", "C:\\c"}));
    EXPECT_EQ(Column(resourcesHwnd, 0), (Strings{"user-a", "user-b", "user-c"}));
}

TEST_F(ListViewTest, SortMovesWholeRowsOfALongList) {
    ListViewReportList list(sessionsHwnd);
    std::vector<int> keys;
    unsigned seed = 12345;
    for (int i = 0; i < 300; ++i) {
        seed = seed * 1103515245u + 12345u;
        keys.push_back(static_cast<int>((seed >> 16) % 1000));
        list.AppendRow(0, "row" + std::to_string(i), {std::to_string(keys.back())});
    }
    list.Sort([&list](int a, int b) {
        return std::stoi(list.CellText(a, 1)) - std::stoi(list.CellText(b, 1));
    });
    ASSERT_EQ(list.RowCount(), 300);
    int previous = -1;
    for (int row = 0; row < 300; ++row) {
        const int key = std::stoi(list.CellText(row, 1));
        EXPECT_LE(previous, key) << row;
        previous = key;
        const int original = std::stoi(list.CellText(row, 0).substr(3));
        EXPECT_EQ(keys[original], key) << row;
    }
}

TEST_F(ListViewTest, ThrowingComparisonReachesTheCallerAndLeavesTheList) {
    ListViewReportList list(sessionsHwnd);
    for (const char* caption : {"b", "a", "c"}) list.AppendRow(0, caption, {});
    EXPECT_THROW(list.Sort([](int, int) -> int { throw std::runtime_error("compare"); }),
                 std::runtime_error);
    EXPECT_EQ(RawText(sessionsHwnd, 0, 0), L"b");
    EXPECT_EQ(RawText(sessionsHwnd, 2, 0), L"c");
}

TEST_F(ListViewTest, ClearListSelectionUnselectsEveryRow) {
    ListViewReportList list(sessionsHwnd);
    for (const char* caption : {"a", "b", "c"}) list.AppendRow(0, caption, {});
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
