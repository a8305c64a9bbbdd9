#include "win/app/CorvaneForm.h"

#include <commctrl.h>
#include <mmsystem.h>
#include <windowsx.h>

#include "../../../res/resource.h"
#include "core/watch/HostAddress.h"
#include "win/about/AboutForm.h"
#include "win/app/CenteredMessageDlg.h"
#include "win/app/InputSendMessageForm.h"
#include "win/settings/SetEnvironmentForm.h"
#include "win/settings/LogFileSystemWin.h"
#include "win/settings/ProfileStoreWin.h"
#include "win/watch/SystemMessage.h"

namespace corvane::win {
namespace {

constexpr wchar_t kClassName[] = L"TCorvaneForm";
constexpr wchar_t kCaption[] = L"Corvane";
constexpr int kDesignedLeft = 386, kDesignedTop = 368, kDesignedWidth = 518, kDesignedHeight = 280;
constexpr int kStatusBarHeight = 19;
constexpr UINT kWatchFaultBalloonMs = 10000;
constexpr int kImageSize = 16;
constexpr UINT kTabControlId = 10, kSessionsId = 11, kResourceId = 12, kStatusBarId = 13;
// Posted to the window after the lists' tables gained rows: the list views
// learn their new row counts once per batch of changes, not once per row.
constexpr UINT kSyncListsMessage = WM_APP + 20;

std::string ProgramDirectory() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    path.erase(path.find_last_of(L"\\/") + 1);
    return Narrow(path);
}

}  // namespace

bool CheckPlatform(bool& nt) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)
#endif
    if (!GetVersionExA(&info)) return false;
    switch (info.dwPlatformId) {
        case VER_PLATFORM_WIN32_WINDOWS:
            nt = false;
            return true;
        case VER_PLATFORM_WIN32_NT:
            nt = true;
            return true;
        default:
            return false;
    }
}

TCorvaneForm::TCorvaneForm() = default;

TCorvaneForm::~TCorvaneForm() {
    if (Handle()) DestroyWindow(Handle());
}

bool TCorvaneForm::Create() {
    RegisterWindowClass(kClassName,
                        static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAINICON),
                                                      IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED)),
                        static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAINICON),
                                                      IMAGE_ICON, 16, 16, LR_SHARED)));
    HDC screen = GetDC(nullptr);
    dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    CreateWindowObject(0, kClassName, kCaption, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, Scale(kDesignedLeft),
                       Scale(kDesignedTop), Scale(kDesignedWidth), Scale(kDesignedHeight), nullptr, nullptr);
    if (!Handle() || !FormCreate()) return false;
    trayIcon_->Loaded();  // also when creation stopped early with nothing watched
    return true;
}

void TCorvaneForm::Show(int showCommand) {
    ShowWindow(Handle(), app::FirstShowCommand(restoredShow_, showCommand));
    UpdateWindow(Handle());
}

int TCorvaneForm::Scale(int pixels) const { return MulDiv(pixels, dpi_, 96); }

bool TCorvaneForm::FormCreate() {
    // The form's designed parts, which exist whatever happens below.
    CreateImageLists();
    CreateControls();
    CreateActions();
    CreateMenus();
    CreateTrayIcon();
    runner_ = std::make_unique<MainThreadRunner>();

    // 1-5: locks (members), sockets, own address, initial values, paths.
    StartWinsock();
    localAddress_ = LookupLocalAddress(resolver_);
    settings_ = Settings{};
    programDirectory_ = ProgramDirectory();
    settingsPath_ = programDirectory_ + kSettingsFileName;
    logPath_ = programDirectory_ + kLogFileName;

    profile_ = std::make_unique<ProfileStoreWin>(settingsPath_);
    settingsStore_ = std::make_unique<SettingsStore>(*profile_, *this, settings_);
    logFiles_ = std::make_unique<LogFileSystemWin>();
    clock_ = std::make_unique<LocalClockWin>();
    shell_ = std::make_unique<ShellOpenerWin>();
    eventLog_ = std::make_unique<EventLog>(*logFiles_, *clock_, logPath_, [this] { return settings_.MaxLogSize; });
    eventReporter_ = std::make_unique<EventLogReporter>(ProgramPath());
    eventReports_ = std::make_unique<EventReportSink>(
        *eventReporter_, [this] { return settings_.WriteEventLog.load(); }, SystemMessageText,
        [this] { return eventLog_->State(); });

    // 6-7: the platform and the server functions. Without them the window
    // stays up with nothing watched and no settings loaded.
    bool nt = false;
    if (!CheckPlatform(nt)) return false;
    if (nt) {
        netApi_ = NetApi::Bind();
        if (!netApi_) {
            // Nothing to watch: the designed layout with the empty session list.
            TabControlChange();
            return true;
        }
    }

    // 8-12.
    appIdleInstalled_ = true;
    try {
        settingsStore_->LoadSettings();
    } catch (const SettingsWriteError& e) {
        // A folder that refuses writes: watch all the same, with what was
        // read. The settings are then never written back (nothing to lose).
        ShowErrorBox(Handle(), e.what());
    }
    LoadListIcons(imageListSessions_.get());
    TabControlChange();
    // The icon is in the notification area before the first scan wants to announce anything.
    trayIcon_->Loaded();
    if (netApi_) {
        watchHealth_ = std::make_unique<WatchHealth>(*this, SystemMessageText);
        watchThread_ = std::make_unique<TWatchThread>(WatchContext{*this, *netApi_, resolver_, *rows_, *this, *clock_,
                                                                   *this, *runner_, passWait_,
                                                                   text::PlatformCollation()});
        watchThread_->Start();
    }
    return true;
}

void TCorvaneForm::CreateImageLists() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    imageList_.reset(ImageList_Create(kImageSize, kImageSize, ILC_COLOR32 | ILC_MASK, 7, 0));
    if (HBITMAP strip = static_cast<HBITMAP>(
            LoadImageW(instance, MAKEINTRESOURCEW(IDB_COMMANDS), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION))) {
        ImageList_Add(imageList_.get(), strip, nullptr);
        DeleteObject(strip);
    }
    imageListSessions_.reset(ImageList_Create(kImageSize, kImageSize, ILC_COLOR32 | ILC_MASK, 3, 0));
    if (HBITMAP designed = static_cast<HBITMAP>(LoadImageW(instance, MAKEINTRESOURCEW(IDB_SESSIONS_DESIGNED),
                                                           IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION))) {
        ImageList_Add(imageListSessions_.get(), designed, nullptr);
        DeleteObject(designed);
    }
    imageListIcon_.reset(ImageList_Create(kImageSize, kImageSize, ILC_COLOR32 | ILC_MASK, 2, 0));
    for (const wchar_t* name : {L"ICON1", L"ICON2"}) {
        UniqueIcon frame(static_cast<HICON>(LoadImageW(instance, name, IMAGE_ICON, kImageSize, kImageSize, 0)));
        if (frame) ImageList_AddIcon(imageListIcon_.get(), frame.get());
    }
}

void TCorvaneForm::CreateControls() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    font_.reset(CreateFontW(-Scale(12), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"MS UI Gothic"));

    statusBar_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0,
                                 Handle(), reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kStatusBarId)), instance,
                                 nullptr);
    SendMessageW(statusBar_, SB_SETMINHEIGHT, Scale(kStatusBarHeight), 0);
    SendMessageW(statusBar_, SB_SIMPLE, TRUE, 0);

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

    const RECT none{0, 0, 0, 0};
    lvSessions_ = CreateSessionListView(Handle(), kSessionsId, none, imageListSessions_.get());
    lvResource_ = CreateResourceListView(Handle(), kResourceId, none, imageListSessions_.get());
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

void TCorvaneForm::LayoutControls() {
    if (!statusBar_ || !tabControl_) return;
    SendMessageW(statusBar_, WM_SIZE, 0, 0);
    RECT client{}, status{};
    GetClientRect(Handle(), &client);
    GetWindowRect(statusBar_, &status);
    const int statusHeight = status.bottom - status.top;
    RECT tab{0, 0, client.right, client.bottom - statusHeight};
    MoveWindow(tabControl_, tab.left, tab.top, tab.right - tab.left, tab.bottom - tab.top, TRUE);
    RECT page = tab;
    TabCtrl_AdjustRect(tabControl_, FALSE, &page);
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
    accel_ = actions_.CreateAccelerators();
}

void TCorvaneForm::CreateMenus() {
    // Menu pictures come from the command image list.
    auto picture = [this](int index) -> HBITMAP {
        UniqueIcon icon(ImageList_GetIcon(imageList_.get(), index, ILD_NORMAL));
        if (!icon) return nullptr;
        BITMAPINFO bi = TopDownDib32(kImageSize, kImageSize);
        void* bits = nullptr;
        HDC dc = CreateCompatibleDC(nullptr);
        HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap) {
            HGDIOBJ old = SelectObject(dc, bitmap);
            DrawIconEx(dc, 0, 0, icon.get(), kImageSize, kImageSize, 0, nullptr, DI_NORMAL);
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
    submenu(L"ファイル(&F)", {kActionOpenLogFile, 0, kActionExit});
    submenu(L"セッション(&S)", {kActionSessionDisconnect, kActionSendMessage});
    submenu(L"ツール(&T)", {kActionSetEnvironment});
    submenu(L"表示(&H)", {kActionRefresh});
    submenu(L"ヘルプ(&H)", {kActionAbout});
    SetMenu(Handle(), mainMenu_);

    trayMenu_.reset(CreatePopupMenu());
    for (UINT id : {kActionOpenLogFile, kActionSetEnvironment, kActionAbout, kActionExit}) add(trayMenu_.get(), id);
    sessionMenu_.reset(CreatePopupMenu());
    for (UINT id : {kActionSessionDisconnect, kActionSendMessage}) add(sessionMenu_.get(), id);
}

void TCorvaneForm::UpdateActions() { actions_.UpdateAll({mainMenu_, trayMenu_.get(), sessionMenu_.get()}); }

bool TCorvaneForm::ActionEnabled(UINT id) {
    UpdateActions();
    const Action* action = actions_.Find(id);
    return action && action->Enabled;
}

void TCorvaneForm::ActionDisplayDialogUpdate(Action& action) { action.Enabled = dialogs_.DisplayDialogEnabled(); }

void TCorvaneForm::ActionSessionDisconnectUpdate(Action& action) {
    action.Enabled = app::SessionCommandEnabled(static_cast<int>(ListView_GetSelectedCount(lvSessions_)));
}

void TCorvaneForm::ActionSendMessageUpdate(Action& action) { ActionSessionDisconnectUpdate(action); }

void TCorvaneForm::Idle() {
    UpdateActions();
    if (appIdleInstalled_) AppIdle();
}

void TCorvaneForm::AppIdle() {
    Sleep(1);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        Dispatch(msg);
    }
}

void TCorvaneForm::Dispatch(MSG& msg) {
    if (Handle() && accel_ && TranslateAcceleratorW(Handle(), accel_.get(), &msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

bool TCorvaneForm::IsWatchedAddress(const std::string& address) const {
    return corvane::IsWatchedAddress(address, localAddress_, settings_.IgnoreLocalConnection);
}

// Settings window port.
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
    SetWindowPlacement(Handle(), &wp);
    restoredShow_ = show;
}

bool TCorvaneForm::IsProgramMinimized() { return IsIconic(Handle()) != FALSE; }

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

void TCorvaneForm::Publish(const std::vector<WatchEvent>& events) noexcept {
    eventLog_->Publish(events);
    eventReports_->Publish(events);  // after the log, whose state it reports
    const EventLogState state = eventLog_->State();
    const EventReportState reports = eventReports_->State();
    if (state == shownLogState_ && reports.RegisterCode == shownReportState_.RegisterCode &&
        reports.ReportCode == shownReportState_.ReportCode)
        return;
    shownLogState_ = state;
    shownReportState_ = reports;
    try {
        runner_->RunOnMainThread([this, state, reports] {
            if (!watchHealth_) return;
            watchHealth_->LogResult(state.Code, state.Held, state.Dropped);
            watchHealth_->EventReportResult(reports.RegisterCode, reports.ReportCode, reports.Failed);
        });
    } catch (...) {
        // The window is going away: nothing left to show it in.
    }
}

void TCorvaneForm::CreateTrayIcon() {
    trayIcon_ = std::make_unique<TTrayIcon>(Handle());
    TTrayIcon& tray = *trayIcon_;
    const int small = GetSystemMetrics(SM_CXSMICON);
    tray.SetIcon(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAINICON),
                                               IMAGE_ICON, small, small, LR_SHARED)));
    tray.SetTipHelp("Corvane");
    tray.HideOnTaskBar = true;
    tray.SetResourceIconID(-1);
    tray.SetResourceIconList({"ICON1", "ICON2"});
    tray.SetCheckSingleDoubleClick(true);
    tray.SetBalloonHelpTimeOut(0);
    tray.SetBalloonHelpIcon(TBalloonIconType::bitInfo);
    tray.ToolTipStyle().UseDefault = true;
    tray.ToolTipStyle().BackGroundColor = RGB(0, 0, 0);
    tray.ToolTipStyle().TextColor = GetSysColor(COLOR_WINDOWTEXT);
    tray.RButtonPopupMenu = trayMenu_.get();
    tray.OnDblClick = [this] { TrayIconDblClick(); };
    tray.OnMouseClick = [this](TMouseButton, TShiftState, int, int) { TrayIconMouseClick(); };
    tray.OnIconAnimation = [this] { TrayIconIconAnimation(); };
    // The menu's items are the window's actions: brought up to date before
    // it opens, and the chosen one runs as the window's own command.
    tray.OnMenuPopup = [this](HMENU) { UpdateActions(); };
    tray.OnMenuCommand = [this](UINT id) { PostMessageW(Handle(), WM_COMMAND, MAKEWPARAM(id, 0), 0); };
}

// The scans' announcements. A notification area that refuses the icon does
// not stop the watching: the announcement is then simply not seen.
void TCorvaneForm::SetTipHelp(const std::string& tip) {
    if (!trayIcon_) return;
    try {
        trayIcon_->SetTipHelp(tip);
    } catch (const ENotifyIconError&) {
    }
}

void TCorvaneForm::ShowBalloonHelp(const std::string& title, const std::string& text, int timeoutMs,
                                   TBalloonIconType icon) {
    if (trayIcon_) trayIcon_->ShowBalloonHelp(title, text, static_cast<UINT>(timeoutMs), icon);
}

void TCorvaneForm::StartIconAnimation(int intervalMs) {
    if (!trayIcon_) return;
    try {
        trayIcon_->OnIconAnimation = [this] { TrayIconIconAnimation(); };
        trayIcon_->SetInterval(static_cast<unsigned>(intervalMs));
    } catch (const ENotifyIconError&) {
    }
}

void TCorvaneForm::EnumerationResult(std::uint32_t sessionStatus, std::uint32_t fileStatus) {
    if (watchHealth_) watchHealth_->PassResult(sessionStatus, fileStatus);
    eventReports_->EnumerationResult(sessionStatus, fileStatus);
}

// The simple status bar shows its simple text; its window text holds the same
// line for whoever reads the bar from outside (assistive tools, tests).
void TCorvaneForm::SetStatusText(const std::wstring& line) {
    SendMessageW(statusBar_, SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(line.c_str()));
    SetWindowTextW(statusBar_, line.c_str());
}

void TCorvaneForm::ShowWatchFault(const std::string& line, const char* balloonTitle) {
    SetStatusText(Wide(line));
    if (!balloonTitle || !trayIcon_) return;
    try {
        trayIcon_->ShowBalloonHelp(balloonTitle, line, kWatchFaultBalloonMs,
                                   TBalloonIconType::bitWarning);
    } catch (const ENotifyIconError&) {
    }
}

void TCorvaneForm::ClearWatchFault() { SetStatusText(L""); }

void TCorvaneForm::TrayIconDblClick() {
    if (dialogs_.TrayDoubleClickRestores()) {
        SetForegroundWindow(Handle());
        if (IsIconic(Handle()) || !IsWindowVisible(Handle())) ShowWindow(Handle(), SW_RESTORE);
        SetForegroundWindow(Handle());
    }
    StopTrayAnimation();
}

void TCorvaneForm::TrayIconMouseClick() { StopTrayAnimation(); }

void TCorvaneForm::StopTrayAnimation() {
    if (!trayIcon_) return;
    trayIcon_->OnIconAnimation = nullptr;
    trayIcon_->SetIcon(nullptr);  // back to the program's own icon
    trayIcon_->SetInterval(0);
}

void TCorvaneForm::TrayIconIconAnimation() {
    const int count = ImageList_GetImageCount(imageListIcon_.get());
    if (count <= 0 || !trayIcon_) return;
    if (animationFrame_ >= count) animationFrame_ = 0;
    UniqueIcon frame(ImageList_GetIcon(imageListIcon_.get(), animationFrame_, ILD_NORMAL));
    trayIcon_->SetIcon(frame.get());
    if (++animationFrame_ >= count) animationFrame_ = 0;
}

void TCorvaneForm::PlayWave(const std::string& fileName) {
    // Returns at once; a missing file gets the system's default sound.
    sndPlaySoundW(Wide(fileName).c_str(), SND_ASYNC);
}

void TCorvaneForm::ActionExitExecute() {
    closeRules_.RequestExit();
    PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

void TCorvaneForm::RequestListSync() {
    if (listSyncPosted_) return;
    listSyncPosted_ = PostMessageW(Handle(), kSyncListsMessage, 0, 0) != FALSE;
}

// A cell of each selected session row, top to bottom. The rows' texts come
// from the table the list shows.
std::vector<std::string> TCorvaneForm::SelectedSessionCells(int column) {
    std::lock_guard lock(listLock_);
    std::vector<std::string> cells;
    for (int row = ListView_GetNextItem(lvSessions_, -1, LVNI_SELECTED); row >= 0;
         row = ListView_GetNextItem(lvSessions_, row, LVNI_SELECTED)) {
        cells.push_back(rows_->Sessions().Cell(row, column));
    }
    return cells;
}

void TCorvaneForm::ActionSessionDisconnectExecute() {
    if (settings_.DisconnectMessage &&
        CenteredMessageDlg(Handle(), "選択したセッションを切断してもいいですか?", "Corvane",
                           TMsgDlgType::mtConfirmation, TMsgDlgButtons::mbYesNo) != IDYES) {
        return;
    }
    if (!netApi_) return;
    std::lock_guard lock(listLock_);
    // Each selected row: caption the computer, column 2 the user. The rows
    // stay until a scan finds the sessions gone.
    for (int row = ListView_GetNextItem(lvSessions_, -1, LVNI_SELECTED); row >= 0;
         row = ListView_GetNextItem(lvSessions_, row, LVNI_SELECTED)) {
        const views::RowTable& sessions = rows_->Sessions();
        netApi_->SessionDel("\\\\" + sessions.Cell(row, views::kSessionComputerName),
                            sessions.Cell(row, views::kSessionUserName));
        ListView_SetItemState(lvSessions_, row, 0, LVIS_SELECTED);
    }
}

void TCorvaneForm::ActionSendMessageExecute() {
    app::DialogState::Guard dialog(dialogs_);
    TInputSendMessageForm form;
    if (form.ShowModal(Handle()) != IDOK || !netApi_) return;
    // No input to the window while sending; enabled again whatever happens.
    EnableWindow(Handle(), FALSE);
    struct Reenable {
        HWND window;
        ~Reenable() { EnableWindow(window, TRUE); }
    } reenable{Handle()};
    const std::vector<std::string> computers = SelectedSessionCells(views::kSessionComputerName);
    for (const auto& computer : computers) netApi_->MessageBufferSend(computer, form.Message());
}

void TCorvaneForm::ActionAboutExecute() {
    app::DialogState::Guard dialog(dialogs_);
    TAboutForm box;
    box.ShowModal(Handle());
}

void TCorvaneForm::ActionSetEnvironmentExecute() {
    app::DialogState::Guard dialog(dialogs_);
    TSetEnvironmentForm form(settings_);
    if (form.ShowModal(Handle()) != IDOK) return;
    form.ApplyTo(settings_);
    try {
        if (settingsStore_) settingsStore_->SaveSettings();
    } catch (const SettingsWriteError& e) {
        // The new values stay in effect; the file keeps the old ones.
        ShowErrorBox(Handle(), e.what());
    }
}

void TCorvaneForm::ActionRefreshExecute() {
    refreshRequested_ = true;
    if (watchThread_) watchThread_->Wake();  // served by the next pass, at once
}

void TCorvaneForm::ActionOpenLogFileExecute() { OpenLogFile(*shell_, *this, logPath_); }

void TCorvaneForm::TabControlChange() {
    const int tab = TabCtrl_GetCurSel(tabControl_);
    ShowWindow(lvSessions_, tab == 0 ? SW_SHOW : SW_HIDE);
    ShowWindow(lvResource_, tab == 1 ? SW_SHOW : SW_HIDE);
    ClearListSelection(lvSessions_);
    ClearListSelection(lvResource_);
}

void TCorvaneForm::lvSessionsColumnClick(int column) {
    settings_.Sort = column;
    rows_->SortSessionRows(column);
}

void TCorvaneForm::lvResourceColumnClick(int column) {
    settings_.SortResource = column;
    rows_->SortResourceRows(column);
}

void TCorvaneForm::SaveSettings() {
    if (settingsStore_) settingsStore_->SaveSettings();
}

void TCorvaneForm::MinimizeProgram() { ShowWindow(Handle(), SW_MINIMIZE); }

bool TCorvaneForm::ConfirmExit() {
    return CenteredMessageDlg(Handle(), "Corvaneを終了してもいいですか?", "Corvane", TMsgDlgType::mtConfirmation,
                              TMsgDlgButtons::mbYesNo) == IDYES;
}

void TCorvaneForm::ShowSaveError(const std::string& message) { ShowErrorBox(Handle(), message); }

void TCorvaneForm::FormDestroy() {
    // From here on a close request still in the queue (the error box and the
    // wait below serve messages) is ignored. A refused save does not stop the
    // tear-down, so that the watch thread still stops.
    try {
        closeRules_.FormDestroy(*this);
    } catch (const std::exception& e) {
        ShowErrorBox(Handle(), e.what());
    }
    appIdleInstalled_ = false;
    if (watchThread_) {
        watchThread_->Terminate();
        MainThreadRunner::WaitServing([this] { return watchThread_->Finished(); });
        watchThread_->WaitFor();
        watchThread_.reset();
    }
    netApi_.reset();
    // Lines the log still holds go to a file beside it; only when that fails
    // too are they lost, and then the person is told how many and why.
    if (eventLog_) {
        const EventLogExit exit = eventLog_->Finish();
        if (exit.Unsaved != 0 && exit.SavedTo.empty())
            ShowErrorBox(Handle(), "ログファイルに書き込めなかったため、" + std::to_string(exit.Unsaved) +
                                       " 件のイベントを記録できませんでした。\r\n\r\n" + exit.Error);
    }
}

LRESULT TCorvaneForm::OnNotify(const NMHDR& header) {
    LRESULT result = 0;
    for (ListViewReportList* list : {sessionRows_.get(), resourceRows_.get()})
        if (list && list->OnNotify(header, result)) return result;
    if (header.hwndFrom == tabControl_ && header.code == TCN_SELCHANGE) {
        TabControlChange();
    } else if (header.code == LVN_COLUMNCLICK) {
        const auto& info = reinterpret_cast<const NMLISTVIEW&>(header);
        if (header.hwndFrom == lvSessions_) lvSessionsColumnClick(info.iSubItem);
        if (header.hwndFrom == lvResource_) lvResourceColumnClick(info.iSubItem);
    }
    return 0;
}

LRESULT TCorvaneForm::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_SIZE:
            LayoutControls();
            if (trayIcon_) trayIcon_->WindowSized(wp);  // minimised: only the tray icon stays
            return 0;
        case WM_NOTIFY:
            return OnNotify(*reinterpret_cast<const NMHDR*>(lp));
        case kSyncListsMessage:
            listSyncPosted_ = false;
            if (sessionRows_) sessionRows_->Sync();
            if (resourceRows_) resourceRows_->Sync();
            return 0;
        case WM_COMMAND:
            if (actions_.Dispatch(LOWORD(wp))) return 0;
            break;
        case WM_INITMENUPOPUP:
            UpdateActions();
            return 0;
        case WM_CONTEXTMENU:
            if (reinterpret_cast<HWND>(wp) == lvSessions_) {
                UpdateActions();
                POINT pt{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
                if (pt.x == -1 && pt.y == -1) {
                    pt = {0, 0};
                    ClientToScreen(lvSessions_, &pt);
                }
                TrackPopupMenu(sessionMenu_.get(), TPM_RIGHTBUTTON, pt.x, pt.y, 0, Handle(), nullptr);
                return 0;
            }
            break;
        case WM_QUERYENDSESSION:
            closeRules_.SessionEndQuery();
            return TRUE;
        case WM_CLOSE:
            if (closeRules_.FormCloseQuery({settings_.CloseIsMinimize, settings_.ExitMessage}, *this))
                DestroyWindow(Handle());
            return 0;
        case WM_DESTROY:
            FormDestroy();
            trayIcon_.reset();  // leaves the notification area, stops its threads
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return Window::HandleMessage(msg, wp, lp);
}

}  // namespace corvane::win
