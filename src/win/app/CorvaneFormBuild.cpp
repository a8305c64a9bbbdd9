// The main window's designed parts: image lists, controls and their layout,
// the actions with their menus and shortcut keys, and the tray icon. Built
// once when the window is created; what they do lives in CorvaneForm.cpp.
#include "win/app/CorvaneForm.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "../../../res/resource.h"
#include "core/display/DpiScale.h"
#include "win/ui/Dialog.h"
#include "win/ui/Dpi.h"

namespace corvane::win {
namespace {

constexpr int kStatusBarHeight = 19;
// The filter box's row above the lists, its caption's width, and the status
// bar's part for the row count (pixels at 96 DPI).
constexpr int kFilterRowHeight = 22, kFilterLabelWidth = 110, kFilterGap = 4, kRowCountWidth = 190;
constexpr UINT kTabControlId = 10, kSessionsId = 11, kResourceId = 12, kStatusBarId = 13, kFilterLabelId = 14,
               kFilterBoxId = 15;

}  // namespace

void TCorvaneForm::CreateImageLists() {
    CreateScaledImageLists();
    // The tray's blink frames are drawn at the notification area's small-icon
    // size, which follows the system's scale, not the window's monitor.
    const int side = SmallIconSide(SystemDpi());
    imageListIcon_.reset(ImageList_Create(side, side, ILC_COLOR32 | ILC_MASK, 2, 0));
    for (const wchar_t* name : {L"ICON1", L"ICON2"}) {
        UniqueIcon frame(LoadProgramIcon(name, side));
        if (frame) ImageList_AddIcon(imageListIcon_.get(), frame.get());
    }
}

void TCorvaneForm::CreateScaledImageLists() {
    // Each picture is drawn for 16, 20, 24 and 32 pixels; the size for the
    // window's scale is taken as it is, never stretched.
    HINSTANCE instance = GetModuleHandleW(nullptr);
    const int side = app::SmallImageSize(dpi_);
    imageList_.reset(ImageList_Create(side, side, ILC_COLOR32 | ILC_MASK, 7, 0));
    if (HBITMAP strip = static_cast<HBITMAP>(LoadImageW(instance, MAKEINTRESOURCEW(CommandsBitmapId(side)),
                                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION))) {
        ImageList_Add(imageList_.get(), strip, nullptr);
        DeleteObject(strip);
    }
    imageListSessions_.reset(ImageList_Create(side, side, ILC_COLOR32 | ILC_MASK, 3, 0));
    if (HBITMAP designed = static_cast<HBITMAP>(LoadImageW(instance, MAKEINTRESOURCEW(SessionsBitmapId(side)),
                                                           IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION))) {
        ImageList_Add(imageListSessions_.get(), designed, nullptr);
        DeleteObject(designed);
    }
}

void TCorvaneForm::CreateControls() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    font_ = CreateUiFont(dpi_);

    statusBar_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0,
                                 Handle(), reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kStatusBarId)), instance,
                                 nullptr);
    SendMessageW(statusBar_, SB_SETMINHEIGHT, Scale(kStatusBarHeight), 0);

    tabControl_ = CreateWindowExW(0, WC_TABCONTROLW, L"",
                                  WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TCS_HOTTRACK | TCS_MULTILINE, 0, 0, 0, 0,
                                  Handle(), reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kTabControlId)), instance,
                                  nullptr);
    SendMessageW(tabControl_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    TabCtrl_SetImageList(tabControl_, imageListSessions_.get());
    const wchar_t* tabs[] = {L"セッション", L"共有リソース"};
    for (int i = 0; i < 2; ++i) {
        TCITEMW item{};
        item.mask = TCIF_TEXT | TCIF_IMAGE;
        item.pszText = const_cast<wchar_t*>(tabs[i]);
        item.iImage = i;
        SendMessageW(tabControl_, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }

    // The filter box: above the lists, on the tab control's page.
    filterLabel_ = CreateWindowExW(0, L"STATIC", L"絞り込み (Ctrl+F):", WS_CHILD | WS_VISIBLE | SS_CENTERIMAGE, 0, 0, 0,
                                   0, Handle(), reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kFilterLabelId)),
                                   instance, nullptr);
    filterBox_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
                                 0, 0, 0, 0, Handle(), reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kFilterBoxId)),
                                 instance, nullptr);
    for (HWND control : {filterLabel_, filterBox_}) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
        SetWindowPos(control, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }

    const RECT none{0, 0, 0, 0};
    lvSessions_ = CreateSessionListView(Handle(), kSessionsId, none, imageListSessions_.get(), dpi_);
    lvResource_ = CreateResourceListView(Handle(), kResourceId, none, imageListSessions_.get(), dpi_);
    for (HWND list : {lvSessions_, lvResource_}) {
        SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
        SetWindowPos(list, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
    ShowWindow(lvResource_, SW_HIDE);
    rows_ = std::make_unique<views::ListRows>(listLock_, text::PlatformCollation());
    sessionRows_ = std::make_unique<ListViewReportList>(lvSessions_, rows_->Sessions(), [this] { RequestListSync(); });
    resourceRows_ = std::make_unique<ListViewReportList>(lvResource_, rows_->Resources(), [this] { RequestListSync(); });
    LayoutControls();
}

void TCorvaneForm::DpiChanged(int dpi, const RECT& suggested) {
    Rescale(dpi);
    // The size the system proposes for the new monitor.
    SetWindowPos(Handle(), nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    LayoutControls();
}

void TCorvaneForm::Rescale(int dpi) {
    if (dpi > 0 && dpi != dpi_) {
        // The columns keep their designed widths (as stored) across the change.
        std::vector<std::pair<ListKind, std::vector<int>>> designed;
        for (ListKind list : {ListKind::Sessions, ListKind::Resources}) {
            std::vector<int> widths;
            for (int i = 0, n = ColumnCount(list); i < n; ++i)
                widths.push_back(app::UnscaleFromDpi(GetColumnWidth(list, i), dpi_));
            designed.emplace_back(list, std::move(widths));
        }
        dpi_ = dpi;

        // New pictures and font; the old ones go once nothing shows them.
        UniqueImageList oldCommands(imageList_.release()), oldSessions(imageListSessions_.release());
        UniqueFont oldFont(font_.release());
        CreateScaledImageLists();
        LoadListIcons(imageListSessions_.get());
        font_ = CreateUiFont(dpi_);
        TabCtrl_SetImageList(tabControl_, imageListSessions_.get());
        SendMessageW(tabControl_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
        for (HWND list : {lvSessions_, lvResource_}) {
            ListView_SetImageList(list, imageListSessions_.get(), LVSIL_SMALL);
            SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
        }
        for (HWND control : {filterLabel_, filterBox_})
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
        SendMessageW(statusBar_, SB_SETMINHEIGHT, Scale(kStatusBarHeight), 0);
        for (const auto& [list, widths] : designed) {
            for (int i = 0; i < static_cast<int>(widths.size()); ++i)
                SetColumnWidth(list, i, app::ScaleToDpi(widths[static_cast<std::size_t>(i)], dpi_));
        }
        LayoutControls();
    }
}

void TCorvaneForm::LayoutControls() {
    if (!statusBar_ || !tabControl_) return;
    SendMessageW(statusBar_, WM_SIZE, 0, 0);
    RECT client{}, status{};
    GetClientRect(Handle(), &client);
    GetWindowRect(statusBar_, &status);
    // Messages on the left, the row count in a part of its own on the right.
    const int parts[2] = {std::max(0, static_cast<int>(client.right) - Scale(kRowCountWidth)), -1};
    SendMessageW(statusBar_, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    const int statusHeight = status.bottom - status.top;
    RECT tab{0, 0, client.right, client.bottom - statusHeight};
    MoveWindow(tabControl_, tab.left, tab.top, tab.right - tab.left, tab.bottom - tab.top, TRUE);
    RECT page = tab;
    TabCtrl_AdjustRect(tabControl_, FALSE, &page);
    const int filterHeight = Scale(kFilterRowHeight), labelWidth = Scale(kFilterLabelWidth);
    MoveWindow(filterLabel_, page.left, page.top, labelWidth, filterHeight, TRUE);
    MoveWindow(filterBox_, page.left + labelWidth, page.top, std::max(0, static_cast<int>(page.right - page.left) - labelWidth),
               filterHeight, TRUE);
    page.top = std::min(page.bottom, page.top + filterHeight + Scale(kFilterGap));
    for (HWND list : {lvSessions_, lvResource_})
        MoveWindow(list, page.left, page.top, page.right - page.left, page.bottom - page.top, TRUE);
}

void TCorvaneForm::CreateActions() {
    actions_.Add({kActionAbout, L"バージョン情報", 0, 0, [this] { ActionAboutExecute(); },
                  [this](Action& a) { ActionDisplayDialogUpdate(a); }});
    actions_.Add({kActionExit, L"終了(&X)", 1, 0, [this] { ActionExitExecute(); }, nullptr});
    actions_.Add({kActionSessionDisconnect, L"強制切断(&D)", 3, VK_DELETE, [this] { ActionSessionDisconnectExecute(); },
                  [this](Action& a) { ActionSessionDisconnectUpdate(a); }});
    actions_.Add({kActionSetEnvironment, L"環境設定(&E)", 2, 0, [this] { ActionSetEnvironmentExecute(); },
                  [this](Action& a) { ActionDisplayDialogUpdate(a); }});
    actions_.Add({kActionOpenLogFile, L"ログファイルを開く(&L)", 4, 0, [this] { ActionOpenLogFileExecute(); }, nullptr});
    actions_.Add({kActionSendMessage, L"メッセージ送信(&M)...", 5, 0, [this] { ActionSendMessageExecute(); },
                  [this](Action& a) { ActionSendMessageUpdate(a); }});
    actions_.Add({kActionRefresh, L"最新の情報に更新(&R)", 6, VK_F5, [this] { ActionRefreshExecute(); }, nullptr});
    // Delete as well: the accelerator table takes the disconnection's, which
    // comes first; Dispatch hands Delete in the resource list to this one.
    actions_.Add({kActionFileClose, L"ファイルを閉じる(&C)", 3, VK_DELETE, [this] { ActionFileCloseExecute(); },
                  [this](Action& a) { ActionFileCloseUpdate(a); }});
    actions_.Add({kActionGuide, L"利用ガイド", -1, 0, [this] { ActionGuideExecute(); }, nullptr});
    actions_.Add({kActionSaveList, L"一覧を保存...", -1, kCtrlKey | 'S', [this] { ActionSaveListExecute(); },
                  [this](Action& a) { ActionDisplayDialogUpdate(a); }});
    // Ctrl+A and Ctrl+C in the filter box edit its text (Dispatch).
    actions_.Add({kActionCopy, L"コピー", -1, kCtrlKey | 'C', [this] { ActionCopyExecute(); },
                  [this](Action& a) { ActionCopyUpdate(a); }});
    actions_.Add({kActionSelectAll, L"すべて選択(&A)", -1, kCtrlKey | 'A', [this] { ActionSelectAllExecute(); },
                  [this](Action& a) { ActionSelectAllUpdate(a); }});
    actions_.Add({kActionFilter, L"絞り込み(&I)", -1, kCtrlKey | 'F', [this] { ActionFilterExecute(); }, nullptr});
    accel_ = actions_.CreateAccelerators();
}

void TCorvaneForm::CreateMenus() {
    // Menu pictures come from the command image list.
    auto picture = [this](int index) -> HBITMAP {
        UniqueIcon icon(ImageList_GetIcon(imageList_.get(), index, ILD_NORMAL));
        if (!icon) return nullptr;
        int side = 16, height = 16;
        ImageList_GetIconSize(imageList_.get(), &side, &height);
        BITMAPINFO bi = TopDownDib32(side, side);
        void* bits = nullptr;
        HDC dc = CreateCompatibleDC(nullptr);
        HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap) {
            HGDIOBJ old = SelectObject(dc, bitmap);
            DrawIconEx(dc, 0, 0, icon.get(), side, side, 0, nullptr, DI_NORMAL);
            SelectObject(dc, old);
            menuBitmaps_.emplace_back(bitmap);
        }
        DeleteDC(dc);
        return bitmap;
    };
    auto add = [&](HMENU menu, UINT id) {
        const Action* action = actions_.Find(id);
        const std::wstring text = actions_.MenuText(*action);
        MENUITEMINFOW item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_ID | MIIM_STRING | MIIM_BITMAP;
        item.wID = id;
        item.dwTypeData = const_cast<wchar_t*>(text.c_str());
        item.hbmpItem = picture(action->ImageIndex);
        InsertMenuItemW(menu, GetMenuItemCount(menu), TRUE, &item);
    };
    mainMenu_ = CreateMenu();
    auto submenu = [&](const wchar_t* caption, std::initializer_list<UINT> ids) {
        HMENU popup = CreatePopupMenu();
        for (UINT id : ids) {
            if (id == 0)
                AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
            else
                add(popup, id);
        }
        AppendMenuW(mainMenu_, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), caption);
    };
    submenu(L"ファイル(&F)", {kActionSaveList, 0, kActionOpenLogFile, 0, kActionExit});
    submenu(L"セッション(&S)", {kActionSessionDisconnect, kActionSendMessage, 0, kActionFileClose});
    submenu(L"ツール(&T)", {kActionSetEnvironment});
    submenu(L"表示(&H)", {kActionRefresh, 0, kActionFilter, kActionSelectAll, kActionCopy});
    submenu(L"ヘルプ(&H)", {kActionGuide, 0, kActionAbout});
    SetMenu(Handle(), mainMenu_);

    trayMenu_.reset(CreatePopupMenu());
    for (UINT id : {kActionOpenLogFile, kActionSetEnvironment, kActionAbout, kActionExit}) add(trayMenu_.get(), id);
    sessionMenu_.reset(CreatePopupMenu());
    for (UINT id : {kActionSessionDisconnect, kActionSendMessage}) add(sessionMenu_.get(), id);
    resourceMenu_.reset(CreatePopupMenu());
    add(resourceMenu_.get(), kActionFileClose);
    for (HMENU menu : {sessionMenu_.get(), resourceMenu_.get()}) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        add(menu, kActionCopy);
        add(menu, kActionSelectAll);
    }
}

void TCorvaneForm::CreateTrayIcon() {
    TrayAnnouncerEvents events;
    events.DoubleClick = [this] {
        if (!dialogs_.TrayDoubleClickRestores()) return;
        SetForegroundWindow(Handle());
        if (IsIconic(Handle()) || !IsWindowVisible(Handle())) ShowWindow(Handle(), SW_RESTORE);
        SetForegroundWindow(Handle());
    };
    // The menu's items are the window's actions: brought up to date before
    // it opens, and the chosen one runs as the window's own command.
    events.MenuPopup = [this] { UpdateActions(); };
    events.MenuCommand = [this](UINT id) { PostMessageW(Handle(), WM_COMMAND, MAKEWPARAM(id, 0), 0); };
    events.Fault = [this](const std::string& line) { SetStatusText(Wide(line)); };
    tray_ = std::make_unique<TrayAnnouncer>(Handle(), trayMenu_.get(), std::move(imageListIcon_), std::move(events));
}

}  // namespace corvane::win
