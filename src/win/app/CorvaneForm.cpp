#include "win/app/CorvaneForm.h"

#include <commctrl.h>
#include <windowsx.h>

#include "../../../res/resource.h"
#include "core/app/Geometry.h"
#include "win/ui/Dpi.h"
#include "win/app/CenteredMessageDlg.h"
#include "win/events/LogFileSystemWin.h"
#include "win/settings/ProfileStoreWin.h"
#include "win/watch/SystemMessage.h"

namespace corvane::win {
namespace {

constexpr wchar_t kClassName[] = L"TCorvaneForm";
constexpr wchar_t kCaption[] = L"Corvane";
constexpr int kDesignedLeft = 386, kDesignedTop = 368, kDesignedWidth = 518, kDesignedHeight = 280;
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

TCorvaneForm::TCorvaneForm(int (*monitorDpi)(const RECT&)) : monitorDpi_(monitorDpi ? monitorDpi : MonitorDpi) {}

TCorvaneForm::~TCorvaneForm() {
    if (Handle()) DestroyWindow(Handle());
}

bool TCorvaneForm::Create() {
    RegisterWindowClass(kClassName,
                        static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAINICON),
                                                      IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED)),
                        static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAINICON),
                                                      IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                      GetSystemMetrics(SM_CYSMICON), LR_SHARED)));
    // The designed place, scaled, but kept on the work area: at 150 % and
    // more it would otherwise hang off a 1280-pixel-wide screen. Made at the
    // scale of the monitor it appears on, which after the display's scale
    // was changed without signing out is not the system's; a monitor of
    // another scale later sends WM_DPICHANGED.
    RECT work{0, 0, 0, 0};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    int width = 0, height = 0;
    app::Point at{0, 0};
    const auto place = [&] {
        width = Scale(kDesignedWidth);
        height = Scale(kDesignedHeight);
        at = {Scale(kDesignedLeft), Scale(kDesignedTop)};
        if (work.right > work.left)
            at = app::KeptInside(at, width, height, work.left, work.top, work.right, work.bottom);
    };
    dpi_ = SystemDpi();
    place();
    if (const int dpi = monitorDpi_(RECT{at.x, at.y, at.x + width, at.y + height}); dpi > 0 && dpi != dpi_) {
        dpi_ = dpi;
        place();
    }
    CreateWindowObject(0, kClassName, kCaption, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, at.x, at.y, width, height,
                       nullptr, nullptr);
    if (!Handle() || !FormCreate()) return false;
    tray_->Icon()->Loaded();  // also when creation stopped early with nothing watched
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

    // Everything below needs the sockets (the watch thread reads this
    // computer's addresses, to tell local sessions) and the files beside the
    // program.
    StartWinsock();
    settings_ = Settings{};
    programDirectory_ = ProgramDirectory();
    logPath_ = programDirectory_ + kLogFileName;  // the service's, as the face
    clock_ = std::make_unique<LocalClockWin>();
    shell_ = std::make_unique<ShellOpenerWin>();
    if (face_) return StartFace();

    settingsPath_ = programDirectory_ + kSettingsFileName;
    profile_ = std::make_unique<ProfileStoreWin>(settingsPath_);
    settingsStore_ = std::make_unique<SettingsStore>(*profile_, *this, settings_);
    logFiles_ = std::make_unique<LogFileSystemWin>();
    eventLog_ = std::make_unique<EventLog>(*logFiles_, *clock_, logPath_, [this] { return settings_.MaxLogSize.load(); });
    eventReporter_ = std::make_unique<EventLogReporter>(ProgramPath());
    eventReports_ = std::make_unique<EventReportSink>(
        *eventReporter_, [this] { return settings_.WriteEventLog.load(); }, SystemMessageText,
        [this] { return eventLog_->State(); });

    // Without the server functions the window stays up with nothing watched
    // and no settings loaded: the person sees the program, not a silent exit.
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

    // Settings first, so that the first pass already follows them.
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
    tray_->Icon()->Loaded();
    if (netApi_) {
        watchHealth_ = std::make_unique<WatchHealth>(*this, SystemMessageText);
        watchThread_ = std::make_unique<TWatchThread>(WatchContext{*this, *netApi_, resolver_, *rows_, *this, *clock_,
                                                                   *tray_, *runner_, passWait_,
                                                                   text::PlatformCollation()});
        watchThread_->Start();
    }
    return true;
}

void TCorvaneForm::Idle() {
    CarryOutPendingClose();
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
    // Delete means "close the file" where the open files are listed.
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_DELETE && msg.hwnd == lvResource_ && lvResource_) {
        actions_.Dispatch(kActionFileClose);
        return;
    }
    if (FilterBoxKey(msg)) return;
    if (EditingKey(msg) || !(Handle() && accel_ && TranslateAcceleratorW(Handle(), accel_.get(), &msg))) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // A box entered from here (also from the idle step's own loop) may have
    // left a close request waiting: carried out as soon as the box is gone,
    // not when the next message happens to come.
    CarryOutPendingClose();
}

void TCorvaneForm::CarryOutPendingClose() {
    if (Handle() && closeRules_.TakePendingClose(NestedLoopScope::Active())) PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

void TCorvaneForm::RequestListSync() {
    if (listSyncPosted_) return;
    listSyncPosted_ = PostMessageW(Handle(), kSyncListsMessage, 0, 0) != FALSE;
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
            if (TrayIcon()) TrayIcon()->WindowSized(wp);  // minimised: only the tray icon stays
            return 0;
        case WM_DPICHANGED:
            // Putting back the stored placement: its rectangle, saved on that
            // monitor, is right as it is.
            if (placing_) {
                Rescale(HIWORD(wp));
                return 0;
            }
            DpiChanged(HIWORD(wp), *reinterpret_cast<const RECT*>(lp));
            return 0;
        case WM_NOTIFY:
            return OnNotify(*reinterpret_cast<const NMHDR*>(lp));
        case kFeedMessage:
            FeedArrived();
            return 0;
        case kSyncListsMessage:
            listSyncPosted_ = false;
            if (sessionRows_) sessionRows_->Sync();
            if (resourceRows_) resourceRows_->Sync();
            ShowRowCount();
            return 0;
        case WM_COMMAND:
            if (filterBox_ && reinterpret_cast<HWND>(lp) == filterBox_) {
                if (HIWORD(wp) == EN_CHANGE) FilterChanged();
                return 0;
            }
            if (actions_.Dispatch(LOWORD(wp))) return 0;
            break;
        case WM_INITMENUPOPUP:
            UpdateActions();
            return 0;
        case WM_CONTEXTMENU: {
            const HWND list = reinterpret_cast<HWND>(wp);
            if (list == lvSessions_ || list == lvResource_) {
                UpdateActions();
                POINT pt{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
                if (pt.x == -1 && pt.y == -1) {
                    pt = {0, 0};
                    ClientToScreen(list, &pt);
                }
                NestedLoopScope nested;
                TrackPopupMenu(list == lvSessions_ ? sessionMenu_.get() : resourceMenu_.get(), TPM_RIGHTBUTTON, pt.x,
                               pt.y, 0, Handle(), nullptr);
                return 0;
            }
            break;
        }
        case WM_QUERYENDSESSION:
            closeRules_.SessionEndQuery();
            return TRUE;
        case WM_ENDSESSION:
            if (wp) EndSession();
            else closeRules_.SessionEndCancelled();
            return 0;
        case WM_CLOSE:
            // Inside a menu, a box or a scan the teardown would pull the
            // window from under them (or wait for the scan it runs in): the
            // main loop carries the request out once it has the thread back.
            // One that comes while a close is being decided is dropped.
            if (!closeRules_.CloseRequested(NestedLoopScope::Active())) return 0;
            if (closeRules_.FormCloseQuery({settings_.CloseIsMinimize, settings_.ExitMessage}, *this))
                DestroyWindow(Handle());
            return 0;
        case WM_DESTROY:
            FormDestroy();
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return Window::HandleMessage(msg, wp, lp);
}

}  // namespace corvane::win
