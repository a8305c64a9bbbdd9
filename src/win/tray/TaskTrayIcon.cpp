#include "win/tray/TaskTrayIcon.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <utility>

#include "../../../res/resource.h"
#include "core/text/Text.h"
#include "win/ui/UniqueResource.h"
#include "win/ui/Window.h"

namespace corvane::win {
namespace {

constexpr size_t kTipBytesNew = 127, kTipBytesOld = 63;
constexpr size_t kBalloonTitleBytes = 63, kBalloonTextBytes = 255;

IShellNotify& RealShell() {
    static ShellNotifyWin shell;
    return shell;
}

ISleeper& RealSleep() {
    struct RealSleeper final : ISleeper {
        void Sleep(unsigned ms) override { ::Sleep(ms); }
    };
    static RealSleeper sleeper;
    return sleeper;
}

// Copies `text` cut to `maxBytes` bytes of code page 932 into a fixed field.
template <size_t N>
void Store(WCHAR (&field)[N], const std::string& text, size_t maxBytes) {
    const std::wstring wide = Wide(text::CutToCp932Bytes(text, maxBytes));
    const size_t n = std::min(wide.size(), N - 1);
    std::memcpy(field, wide.data(), n * sizeof(WCHAR));
    field[n] = L'\0';
}

template <size_t N>
std::string Read(const WCHAR (&field)[N]) {
    return Narrow(std::wstring_view(field, wcsnlen(field, N)));
}

struct Registry {
    std::mutex mutex;
    std::vector<TTaskTrayIcon*> icons;
    UINT taskbarCreated = 0;
};
std::mutex registryMutex;
std::unique_ptr<Registry> registry;  // while at least one icon lives

}  // namespace

// ---------------------------------------------------------------------------
// Registry and the shared window procedure

void TTrayIconWinProcList::Enter(TTaskTrayIcon* icon) {
    std::lock_guard lock(registryMutex);
    if (!registry) {
        registry = std::make_unique<Registry>();
        registry->taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
        WNDCLASSW wc{};
        wc.lpfnWndProc = &TTrayIconWinProcList::WindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hIcon = LoadIconW(wc.hInstance, MAKEINTRESOURCEW(IDI_MAINICON));
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = kClassName;
        RegisterClassW(&wc);
    }
    registry->icons.push_back(icon);
}

void TTrayIconWinProcList::Leave(TTaskTrayIcon* icon) {
    std::lock_guard lock(registryMutex);
    if (!registry) return;
    auto& icons = registry->icons;
    icons.erase(std::remove(icons.begin(), icons.end(), icon), icons.end());
    if (icons.empty()) {
        registry.reset();
        UnregisterClassW(kClassName, GetModuleHandleW(nullptr));
    }
}

UINT TTrayIconWinProcList::TaskbarCreatedMessage() {
    std::lock_guard lock(registryMutex);
    return registry ? registry->taskbarCreated : 0;
}

LRESULT CALLBACK TTrayIconWinProcList::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    TTaskTrayIcon* target = nullptr;
    {
        std::lock_guard lock(registryMutex);
        if (registry) {
            for (TTaskTrayIcon* icon : registry->icons)
                if (icon->window_ == hwnd) target = icon;
        }
    }
    if (!target) return DefWindowProcW(hwnd, msg, wp, lp);
    TMessage message{msg, wp, lp, 0};
    try {
        target->HandleMessage(message);
    } catch (const std::exception& e) {
        // Nothing may cross back into the system: show it, like any handler's error.
        ShowErrorBox(nullptr, e.what());
    } catch (...) {
        ShowErrorBox(nullptr, "Unexpected error");
    }
    return message.Result;
}

// ---------------------------------------------------------------------------
// TTaskTrayIcon

TTaskTrayIcon::TTaskTrayIcon(TrayServices services)
    : shell_(services.Shell ? *services.Shell : RealShell()),
      sleeper_(services.Sleeper ? *services.Sleeper : RealSleep()) {
    TTrayIconWinProcList::Enter(this);
    toolTipStyle_ = std::make_unique<TToolTipStyle>();
    shellVersion_ = services.ShellVersion ? *services.ShellVersion : FindShellVersion();
}

TTaskTrayIcon::~TTaskTrayIcon() {
    handler_ = nullptr;  // the owner is going away
    toolTipStyle_.reset();
    DeleteIcon();
    // Messages of the dying window are no longer routed here.
    if (HWND window = std::exchange(window_, nullptr)) DestroyWindow(window);
    TTrayIconWinProcList::Leave(this);
}

HWND TTaskTrayIcon::Handle() {
    if (!window_) {
        // The registry routes nothing to this object until window_ is set.
        window_ = CreateWindowExW(WS_EX_TOOLWINDOW, TTrayIconWinProcList::kClassName, L"", WS_POPUP, 0, 0, 0, 0,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        toolTipStyle_->SetWindow(window_);
    }
    return window_;
}

bool TTaskTrayIcon::Call(DWORD message) { return shell_.Notify(message, data_, lastError_); }

void TTaskTrayIcon::Registering() {
    registered_ = true;
    toolTipStyle_->ClearHoverBox();
}

bool TTaskTrayIcon::AddIcon() {
    if (registered_) return true;
    if (adding_) {
        // Called while the shell handles our add (a call handed to this
        // thread is served inside it): the add sends the record once more
        // when it is through.
        refreshAfterAdd_ = true;
        return false;
    }
    adding_ = true;
    try {
        TryAdd();
    } catch (...) {
        adding_ = refreshAfterAdd_ = false;
        throw;
    }
    adding_ = false;
    if (std::exchange(refreshAfterAdd_, false) && registered_) Call(NIM_MODIFY);
    return registered_;
}

void TTaskTrayIcon::TryAdd() {
    if (NewShell()) {
        data_.cbSize = NOTIFYICONDATAW_V2_SIZE;
        data_.dwState = NIS_SHAREDICON;
        data_.dwStateMask = 0;
        data_.dwInfoFlags = NIIF_NONE;
    } else {
        data_.cbSize = NOTIFYICONDATAW_V1_SIZE;
    }
    data_.uID = kIconId;
    data_.hWnd = Handle();
    data_.uCallbackMessage = kTrayCallbackMessage;
    data_.uFlags = kIconFlags;
    if (!data_.hIcon) return;

    if (DoForegroundWindow) SetForegroundWindow(window_);
    if (Call(NIM_ADD)) {
        Registering();
        return;
    }
    // The shell may be too busy to answer: retry while every failure is a
    // time-out; the add may also have gone through, which the modify finds.
    for (int left = kAddRetries - 1; !registered_ && left >= 0; --left) {
        if (lastError_ != ERROR_TIMEOUT) throw ENotifyIconError(kCannotRegisterIcon);
        sleeper_.Sleep(kRetryPauseMs);
        if (Call(NIM_MODIFY)) {
            Registering();
            return;
        }
        if (DoForegroundWindow) SetForegroundWindow(window_);
        if (Call(NIM_ADD)) {
            Registering();
            return;
        }
        if (left == 0) throw ENotifyIconError(kCannotChangeIcon);
    }
}

bool TTaskTrayIcon::ModifyIcon() {
    if (!registered_) return AddIcon();
    if (!data_.hIcon) return false;
    if (DoForegroundWindow) SetForegroundWindow(window_);
    if (Call(NIM_MODIFY) || lastError_ == ERROR_TIMEOUT) return registered_;
    registered_ = false;
    try {
        AddIcon();
    } catch (const ENotifyIconError&) {
        // A refresh does not fail loudly: the icon is simply not there.
    }
    return registered_;
}

bool TTaskTrayIcon::DeleteIcon() {
    if (!registered_) return true;
    const bool ok = Call(NIM_DELETE);
    registered_ = false;
    return ok;
}

void TTaskTrayIcon::SetTipText(const std::string& text) {
    if (NewShell()) {
        Store(data_.szTip, text, kTipBytesNew);
        return;
    }
    // The earliest shells show one line of 63 bytes.
    std::string line = text;
    for (size_t at = line.find("\r\n"); at != std::string::npos; at = line.find("\r\n", at + 1))
        line.replace(at, 2, " ");
    Store(data_.szTip, line, kTipBytesOld);
}

std::string TTaskTrayIcon::TipText() const { return Read(data_.szTip); }

std::string TTaskTrayIcon::BalloonTitle() const { return Read(data_.szInfoTitle); }
void TTaskTrayIcon::SetBalloonTitle(const std::string& title) {
    Store(data_.szInfoTitle, title, kBalloonTitleBytes);
}
std::string TTaskTrayIcon::BalloonText() const { return Read(data_.szInfo); }
void TTaskTrayIcon::SetBalloonText(const std::string& text) { Store(data_.szInfo, text, kBalloonTextBytes); }

void TTaskTrayIcon::SetBalloonIcon(int kind) noexcept {
    data_.dwInfoFlags = (kind >= NIIF_INFO && kind <= NIIF_ERROR) ? static_cast<DWORD>(kind) : NIIF_NONE;
}

bool TTaskTrayIcon::ClearBalloon() {
    if (!registered_) return false;
    decltype(data_.szInfo) text;
    std::memcpy(text, data_.szInfo, sizeof text);
    data_.uFlags = NIF_INFO;
    data_.szInfo[0] = L'\0';
    const bool ok = ModifyIcon();
    std::memcpy(data_.szInfo, text, sizeof text);
    data_.uFlags = kIconFlags;
    return ok;
}

bool TTaskTrayIcon::ShowBalloon(const std::string& title, const std::string& text, UINT timeoutMs, int iconKind) {
    if (!NewShell()) return false;
    SetBalloonTitle(title);
    SetBalloonText(text);
    SetBalloonTimeOut(timeoutMs);
    SetBalloonIcon(iconKind);
    ClearBalloon();  // a balloon still showing goes first
    if (!registered_) return false;
    data_.uFlags = NIF_INFO;
    const bool ok = ModifyIcon();
    data_.uFlags = kIconFlags;
    return ok;
}

void TTaskTrayIcon::HandleMessage(TMessage& message) {
    const UINT taskbarCreated = TTrayIconWinProcList::TaskbarCreatedMessage();
    if (taskbarCreated != 0 && message.Msg == taskbarCreated && registered_) {
        // The shell restarted and forgot the icon: the record still holds it.
        registered_ = false;
        AddIcon();
    }
    if (toolTipStyle_) toolTipStyle_->Message(message.Msg, message.WParam, message.LParam);
    if (handler_)
        handler_(message);
    else
        message.Result = DefWindowProcW(window_, message.Msg, message.WParam, message.LParam);
}

}  // namespace corvane::win
