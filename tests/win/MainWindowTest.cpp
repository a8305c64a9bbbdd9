// The main window driven in-process, watching the simulated server.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "core/display/DpiScale.h"
#include "DialogDriver.h"
#include "WinTestSupport.h"
#include "core/text/Text.h"
#include "support/SimServerControl.h"
#include "support/TestFiles.h"
#include "win/app/CorvaneForm.h"
#include "win/ui/Dpi.h"

namespace corvane::test {
namespace {

std::wstring WindowText(HWND hwnd) {
    wchar_t text[256] = {};
    GetWindowTextW(hwnd, text, 256);
    return text;
}

std::wstring ColumnCaption(HWND list, int column) {
    wchar_t text[128] = {};
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT;
    col.pszText = text;
    col.cchTextMax = 128;
    ListView_GetColumn(list, column, &col);
    return text;
}

std::wstring MenuText(HMENU menu, int position) {
    wchar_t text[128] = {};
    GetMenuStringW(menu, static_cast<UINT>(position), text, 128, MF_BYPOSITION);
    return text;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        control.Reset();
        for (const char* name : {"Corvane.ini", "CorvaneLog.txt", "CorvaneLog.txt.bak"})
            fs::remove(ProgramFolder() / name);
    }
    void TearDown() override {
        if (form && form->Handle()) DestroyWindow(form->Handle());
        form.reset();
        MSG msg;
        while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
    void Start() {
        form = std::make_unique<win::TCorvaneForm>();
        ASSERT_TRUE(form->Create());
        form->Show(SW_SHOWNORMAL);
    }
    int SessionEnums() const { return static_cast<int>(control.Counters().SessionEnums()); }

    SimServerControl control{ProgramFolder()};
    std::unique_ptr<win::TCorvaneForm> form;
};

TEST_F(MainWindowTest, ShowsItsDesignedLayout) {
    Start();
    EXPECT_EQ(WindowText(form->Handle()), L"Corvane");
    ASSERT_EQ(TabCtrl_GetItemCount(form->TabControl()), 2);
    const wchar_t* sessionColumns[] = {L"コンピュータ名", L"IPアドレス", L"ユーザ名", L"オープン数", L"接続時間",
                                       L"アイドル時間"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(ColumnCaption(form->SessionList(), i), sessionColumns[i]);
        EXPECT_EQ(ListView_GetColumnWidth(form->SessionList(), i), app::kSessionColumnWidths[i]);
    }
    EXPECT_EQ(ColumnCaption(form->ResourceList(), 0), L"ユーザ名");
    EXPECT_EQ(ColumnCaption(form->ResourceList(), 1), L"共有リソース名");
    EXPECT_EQ(ListView_GetColumnWidth(form->ResourceList(), 1), 100);  // stored default, not the designed 300
    EXPECT_TRUE(IsWindowVisible(form->SessionList()));
    EXPECT_FALSE(IsWindowVisible(form->ResourceList()));

    HMENU menu = GetMenu(form->Handle());
    ASSERT_EQ(GetMenuItemCount(menu), 5);
    const wchar_t* menus[] = {L"ファイル(&F)", L"セッション(&S)", L"ツール(&T)", L"表示(&H)", L"ヘルプ(&H)"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(MenuText(menu, i), menus[i]);
    HMENU file = GetSubMenu(menu, 0);
    ASSERT_EQ(GetMenuItemCount(file), 5);
    EXPECT_EQ(MenuText(file, 0), L"一覧を保存...\tCtrl+S");
    EXPECT_EQ(GetMenuItemID(file, 1), 0u);  // separator
    EXPECT_EQ(MenuText(file, 2), L"ログファイルを開く(&L)");
    EXPECT_EQ(GetMenuItemID(file, 3), 0u);
    EXPECT_EQ(MenuText(file, 4), L"終了(&X)");
    EXPECT_EQ(MenuText(GetSubMenu(menu, 1), 0), L"強制切断(&D)\tDel");
    EXPECT_EQ(MenuText(GetSubMenu(menu, 1), 1), L"メッセージ送信(&M)...");
    EXPECT_EQ(MenuText(GetSubMenu(menu, 2), 0), L"環境設定(&E)");
    EXPECT_EQ(MenuText(GetSubMenu(menu, 3), 0), L"最新の情報に更新(&R)\tF5");
    HMENU help = GetSubMenu(menu, 4);
    ASSERT_EQ(GetMenuItemCount(help), 3);
    EXPECT_EQ(MenuText(help, 0), L"利用ガイド");
    EXPECT_EQ(GetMenuItemID(help, 1), 0u);  // separator
    EXPECT_EQ(MenuText(help, 2), L"バージョン情報");
}

TEST_F(MainWindowTest, MovingToAMonitorOfAnotherScaleRescalesColumnsPicturesFontAndSize) {
    Start();
    HWND list = form->SessionList();
    ListView_SetColumnWidth(list, 2, 81);  // a width the user dragged to
    const auto moveTo = [&](int dpi, RECT suggested) {
        SendMessageW(form->Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        RECT now{};
        GetWindowRect(form->Handle(), &now);
        EXPECT_TRUE(EqualRect(&now, &suggested)) << dpi;
        int side = 0, height = 0;
        ImageList_GetIconSize(ListView_GetImageList(list, LVSIL_SMALL), &side, &height);
        EXPECT_EQ(side, dpi == 144 ? 24 : 16);
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_EQ(font.lfHeight, -MulDiv(12, dpi, 96));
    };
    moveTo(144, {10, 20, 10 + 777, 20 + 420});
    EXPECT_EQ(ListView_GetColumnWidth(list, 0), 150);
    EXPECT_EQ(ListView_GetColumnWidth(list, 2), 122);
    EXPECT_EQ(ListView_GetColumnWidth(form->ResourceList(), 1), 150);
    moveTo(96, {10, 20, 10 + 518, 20 + 280});
    EXPECT_EQ(ListView_GetColumnWidth(list, 0), 100);
    EXPECT_EQ(ListView_GetColumnWidth(list, 2), 81);
    EXPECT_EQ(ListView_GetColumnWidth(form->ResourceList(), 1), 100);
}

TEST_F(MainWindowTest, MadeOnAMonitorOfAnotherScaleTakesTheMonitorsScale) {
    // The display's scale was changed without signing out: the monitor's
    // DPI is no longer the system's.
    constexpr auto kMonitorDpi = [](const RECT&) { return win::SystemDpi() * 3 / 2; };
    const int dpi = kMonitorDpi(RECT{});
    form = std::make_unique<win::TCorvaneForm>(+kMonitorDpi);
    ASSERT_TRUE(form->Create());
    form->Show(SW_SHOWNORMAL);
    RECT frame{};
    GetWindowRect(form->Handle(), &frame);
    EXPECT_EQ(frame.right - frame.left, MulDiv(518, dpi, 96));
    EXPECT_EQ(frame.bottom - frame.top, MulDiv(280, dpi, 96));
    HWND list = form->SessionList();
    int side = 0, height = 0;
    ImageList_GetIconSize(ListView_GetImageList(list, LVSIL_SMALL), &side, &height);
    EXPECT_EQ(side, app::SmallImageSize(dpi));
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(font.lfHeight, -MulDiv(12, dpi, 96));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(ListView_GetColumnWidth(list, i), app::ScaleToDpi(app::kSessionColumnWidths[i], dpi)) << i;
}

TEST_F(MainWindowTest, WatchesTheServerAndLogsNewSessions) {
    control.SetSessions({{std::string("PC01"), std::string("太郎"), 1, 10, 0}});
    Start();
    EXPECT_TRUE(form->ServerApiBound());
    EXPECT_TRUE(form->WatchThreadRunning());
    const fs::path log = ProgramFolder() / "CorvaneLog.txt";
    ASSERT_TRUE(PumpUntil([&] { return ReadBytes(log).find(',') != std::string::npos; }));
    const std::string line = ReadBytes(log);
    // Stamp, comma, event text in code page 932, CR LF.
    EXPECT_EQ(line.substr(19), text::Utf8ToCp932(",接続検出,PC01,(N/A),太郎") + "\r\n");
    const int before = SessionEnums();
    ASSERT_TRUE(PumpUntil([&] { return SessionEnums() > before + 3; }));
}

TEST_F(MainWindowTest, ListsStayEmptyUntilRefreshInTheDefaultMode) {
    control.SetSessions({{std::string("PC01"), std::string("Taro"), 2, 3661, 59}});
    control.SetFiles({{1, 1, 0, std::string("C:\\share\\a.txt"), std::string("Taro")}});
    Start();
    ASSERT_TRUE(PumpUntil([&] { return SessionEnums() > 3; }));
    EXPECT_EQ(ListView_GetItemCount(form->SessionList()), 0);
    form->ActionRefreshExecute();
    ASSERT_TRUE(PumpUntil([&] { return ListView_GetItemCount(form->SessionList()) == 1; }));
    ASSERT_TRUE(PumpUntil([&] { return !form->RefreshRequested(); }));
    wchar_t cell[64] = {};
    ListView_GetItemText(form->SessionList(), 0, 4, cell, 64);
    EXPECT_STREQ(cell, L"01:01:01");
    EXPECT_EQ(ListView_GetItemCount(form->ResourceList()), 1);
}

TEST_F(MainWindowTest, HeaderClickSortsAscendingAndRemembersTheColumn) {
    // Each column orders the rows differently, so every click has to move them.
    control.SetSessions({{std::string("PC02"), std::string("A"), 10, 1, 1},
                         {std::string("PC01"), std::string("B"), 9, 1, 1}});
    Start();
    form->ActionRefreshExecute();
    ASSERT_TRUE(PumpUntil([&] { return ListView_GetItemCount(form->SessionList()) == 2; }));
    ASSERT_TRUE(PumpUntil([&] { return !form->RefreshRequested(); }));
    auto click = [&](int column) {
        NMLISTVIEW info{};
        info.hdr.hwndFrom = form->SessionList();
        info.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(form->SessionList()));
        info.hdr.code = LVN_COLUMNCLICK;
        info.iItem = -1;
        info.iSubItem = column;
        SendMessageW(form->Handle(), WM_NOTIFY, info.hdr.idFrom, reinterpret_cast<LPARAM>(&info));
    };
    auto caption = [&](int row) {
        wchar_t text[32] = {};
        ListView_GetItemText(form->SessionList(), row, 0, text, 32);
        return std::wstring(text);
    };
    click(3);  // open count: 9 before 10
    EXPECT_EQ(caption(0), L"PC01");
    EXPECT_EQ(caption(1), L"PC02");
    EXPECT_EQ(form->SettingsRecord().Sort, 3);
    click(2);  // user name: A before B
    click(2);  // again: the same ascending order
    EXPECT_EQ(caption(0), L"PC02");
    EXPECT_EQ(caption(1), L"PC01");
    EXPECT_EQ(form->SettingsRecord().Sort, 2);
}

TEST_F(MainWindowTest, TabSwitchShowsTheOtherListAndClearsSelections) {
    control.SetSessions({{std::string("PC01"), std::string("Taro"), 1, 1, 1}});
    Start();
    form->ActionRefreshExecute();
    ASSERT_TRUE(PumpUntil([&] { return ListView_GetItemCount(form->SessionList()) == 1; }));
    ListView_SetItemState(form->SessionList(), 0, LVIS_SELECTED, LVIS_SELECTED);
    TabCtrl_SetCurSel(form->TabControl(), 1);
    form->TabControlChange();
    EXPECT_FALSE(IsWindowVisible(form->SessionList()));
    EXPECT_TRUE(IsWindowVisible(form->ResourceList()));
    EXPECT_EQ(ListView_GetSelectedCount(form->SessionList()), 0u);
}

TEST_F(MainWindowTest, CloseBoxMinimisesWhenAskedAndExitCommandEnds) {
    WritePrivateProfileStringW(L"Environment", L"CloseIsMinimize", L"1",
                               (ProgramFolder() / "Corvane.ini").wstring().c_str());
    WritePrivateProfileStringW(L"Environment", L"IsSecond", L"1", (ProgramFolder() / "Corvane.ini").wstring().c_str());
    Start();
    SendMessageW(form->Handle(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(IsWindow(form->Handle()));
    EXPECT_TRUE(IsIconic(form->Handle()));
    // Every close request saved every key.
    EXPECT_NE(ReadBytes(ProgramFolder() / "Corvane.ini").find("MaxLogSize=1048576"), std::string::npos);

    HWND hwnd = form->Handle();
    form->ActionExitExecute();
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(hwnd); }));
    EXPECT_FALSE(form->WatchThreadRunning());
}

TEST_F(MainWindowTest, StoredTabThatNamesNoTabKeepsTheSessionList) {
    for (const wchar_t* stored : {L"-1", L"2"}) {
        WritePrivateProfileStringW(L"Environment", L"TabIndex", stored,
                                   (ProgramFolder() / "Corvane.ini").wstring().c_str());
        Start();
        EXPECT_EQ(TabCtrl_GetCurSel(form->TabControl()), 0);
        EXPECT_TRUE(IsWindowVisible(form->SessionList()));
        DestroyWindow(form->Handle());
        form.reset();
    }
}

TEST_F(MainWindowTest, EndOfSessionLetsTheCloseThrough) {
    WritePrivateProfileStringW(L"Environment", L"CloseIsMinimize", L"1",
                               (ProgramFolder() / "Corvane.ini").wstring().c_str());
    Start();
    EXPECT_EQ(SendMessageW(form->Handle(), WM_QUERYENDSESSION, 0, 0), TRUE);
    HWND hwnd = form->Handle();
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(hwnd));
}

// Thread timers take no context: the step the next one runs.
std::function<void()> timerStep;

void AfterMs(UINT ms, std::function<void()> step) {
    timerStep = std::move(step);
    SetTimer(nullptr, 0, ms, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        if (auto step = std::exchange(timerStep, nullptr)) step();
    });
}

// A close request that comes while the thread is inside something nested in
// the main loop's message (the tray menu, a scan handed over by the watch
// thread) waits for its end: the window is still there afterwards, and the
// main loop then closes it.
TEST_F(MainWindowTest, CloseInsideTheTrayMenuOrAScanIsCarriedOutAfterIt) {
    using During = std::function<void(HWND)>;  // asks for the close from inside
    const std::vector<std::pair<const char*, std::function<void(const During&)>>> rows = {
        {"posted while the tray menu is open",
         [this](const During& close) {
             win::TTrayIcon* tray = form->TrayIcon();
             tray->OnMenuPopup = [&](HMENU) {
                 AfterMs(100, [&] {
                     close(form->Handle());
                     AfterMs(200, [] { EndMenu(); });
                 });
             };
             SendMessageW(tray->TaskTrayIcon().Handle(), win::kTrayCallbackMessage, 1, WM_RBUTTONDOWN);
         }},
        {"sent while a scan runs on the window's thread",
         [this](const During& close) {
             bool done = false;
             std::thread watch([&] {
                 form->Runner().RunOnMainThread([&] { close(form->Handle()); });
                 done = true;
             });
             PumpUntil([&] { return done; });
             watch.join();
         }},
    };
    for (const auto& [name, inside] : rows) {
        SCOPED_TRACE(name);
        Start();
        const HWND hwnd = form->Handle();
        bool thereAfterRequest = false;
        inside([&](HWND window) {
            SendMessageW(window, WM_CLOSE, 0, 0);
            thereAfterRequest = IsWindow(window) && form->ClosePending();
        });
        EXPECT_TRUE(thereAfterRequest);
        ASSERT_TRUE(IsWindow(hwnd));
        form->Idle();  // the main loop has the thread back
        EXPECT_TRUE(PumpUntil([&] { return !IsWindow(hwnd); }));
        form.reset();
        MSG msg;
        while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
}

// An error that stops the start is shown until the person answers it, even
// though the window destroyed on the way out has already asked to quit.
TEST(StartupErrorTest, BoxWaitsForThePersonAfterTheWindowAskedToQuit) {
    PostQuitMessage(0);
    std::wstring seen;
    DialogDriver driver({[&] {
        const HWND box = FindThreadDialog(L"Corvane");
        if (!box) return false;
        seen = ChildTexts(box);
        PostCommand(box, IDOK);
        return true;
    }});
    EXPECT_EQ(win::ShowStartupError("起動できません"), 1);
    EXPECT_TRUE(driver.Finished() && !driver.TimedOut());
    EXPECT_NE(seen.find(L"起動できません"), std::wstring::npos);
}

}  // namespace
}  // namespace corvane::test
