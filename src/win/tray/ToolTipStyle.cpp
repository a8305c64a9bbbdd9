#include "win/tray/ToolTipStyle.h"

#include <commctrl.h>

#include <cstdlib>

namespace corvane::win {
namespace {

constexpr int kHoverBoxLimit = 32;
constexpr unsigned kHoverPollMs = 100;

std::uint8_t Bit(int button) { return static_cast<std::uint8_t>(1u << button); }

// The shell's tooltip: the first tooltip window of the taskbar's process that
// shows prefixes.
HWND FindShellToolTip() {
    HWND taskbar = FindWindowExW(nullptr, nullptr, L"Shell_TrayWnd", nullptr);
    if (!taskbar) return nullptr;
    DWORD shellProcess = 0;
    GetWindowThreadProcessId(taskbar, &shellProcess);
    for (HWND tip = FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr); tip;
         tip = FindWindowExW(nullptr, tip, TOOLTIPS_CLASSW, nullptr)) {
        DWORD process = 0;
        GetWindowThreadProcessId(tip, &process);
        if (process == shellProcess && (GetWindowLongW(tip, GWL_STYLE) & TTS_NOPREFIX) == 0) return tip;
    }
    return nullptr;
}

bool IsEmpty(const RECT& r) { return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0; }

}  // namespace

TToolTipStyle::TToolTipStyle() : TextColor(GetSysColor(COLOR_WINDOWTEXT)), tipWindow_(FindShellToolTip()) {}

TToolTipStyle::~TToolTipStyle() {
    // The poll never waits for this thread, so joining it here cannot hang.
    poll_.reset();
    RestoreToolTip();
}

void TToolTipStyle::Message(UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_TIMER) {
        Timer();
        return;
    }
    if (msg == kHoverCheckMessage) {
        checkPosted_ = false;
        ExitCheck();
        return;
    }
    if (msg != kTrayCallbackMessage) return;
    switch (lp) {
        case WM_MOUSEMOVE: MouseMove(); break;
        case WM_LBUTTONDOWN: Press(kButtonLeft, wp); break;
        case WM_RBUTTONDOWN: Press(kButtonRight, wp); break;
        case WM_MBUTTONDOWN: Press(kButtonMiddle, wp); break;
        case WM_LBUTTONUP: Release(kButtonLeft); break;
        case WM_RBUTTONUP: Release(kButtonRight); break;
        case WM_MBUTTONUP: Release(kButtonMiddle); break;
        case WM_LBUTTONDBLCLK: DoubleClick(kButtonLeft); break;
        case WM_RBUTTONDBLCLK: DoubleClick(kButtonRight); break;
        case WM_MBUTTONDBLCLK: DoubleClick(kButtonMiddle); break;
        default: break;
    }
}

void TToolTipStyle::Press(int button, WPARAM wp) {
    // A press re-posted after a double click (wParam -1) is not a new click.
    if (static_cast<INT_PTR>(wp) >= 0) buttonsDown_ |= Bit(button);
}

void TToolTipStyle::Release(int button) {
    if (!CheckSingleDoubleClick) {
        FireClick(button);
        return;
    }
    if (!clickPending_ && window_ && SetTimer(window_, kClickTimerId, GetDoubleClickTime(), nullptr))
        clickPending_ = true;
}

void TToolTipStyle::DoubleClick(int button) {
    static constexpr LPARAM kPress[] = {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN};
    clickPending_ = false;
    buttonsDown_ &= static_cast<std::uint8_t>(~Bit(button));
    if (window_) PostMessageW(window_, kTrayCallbackMessage, static_cast<WPARAM>(-1), kPress[button]);
}

void TToolTipStyle::Timer() {
    if (window_) KillTimer(window_, kClickTimerId);
    if (!clickPending_) return;
    int button = kButtonMiddle;
    if (buttonsDown_ & Bit(kButtonLeft))
        button = kButtonLeft;
    else if (buttonsDown_ & Bit(kButtonRight))
        button = kButtonRight;
    FireClick(button);
}

void TToolTipStyle::FireClick(int button) {
    if ((buttonsDown_ & Bit(button)) && window_)
        SendMessageW(window_, kTrayCallbackMessage, static_cast<WPARAM>(button), kTrayMouseClick);
    clickPending_ = false;
    buttonsDown_ &= static_cast<std::uint8_t>(~Bit(button));
}

void TToolTipStyle::MouseMove() {
    POINT pt{};
    GetCursorPos(&pt);
    if (IsEmpty(hoverBox_)) {
        hoverBox_ = {pt.x, pt.y, pt.x, pt.y};
    } else {
        if (pt.x < hoverBox_.left)
            hoverBox_.left = pt.x;
        else if (pt.x > hoverBox_.right)
            hoverBox_.right = pt.x;
        if (pt.y < hoverBox_.top)
            hoverBox_.top = pt.y;
        else if (pt.y > hoverBox_.bottom)
            hoverBox_.bottom = pt.y;
    }
    // Positions spread wider than an icon (the taskbar moved): start again here.
    if (std::abs(hoverBox_.right - hoverBox_.left) > kHoverBoxLimit ||
        std::abs(hoverBox_.bottom - hoverBox_.top) > kHoverBoxLimit)
        hoverBox_ = {pt.x, pt.y, pt.x, pt.y};
    if (!mouseInside_) MouseEnter();
}

void TToolTipStyle::MouseEnter() {
    mouseInside_ = true;
    if (!UseDefault && tipWindow_) {
        SendMessageW(tipWindow_, TTM_SETTIPBKCOLOR, BackGroundColor, 0);
        SendMessageW(tipWindow_, TTM_SETTIPTEXTCOLOR, TextColor, 0);
    }
    if (!poll_) {
        // TMouseEventMaker: while the cursor is taken to be inside, hand an
        // exit check to the window thread every 100 ms.
        poll_ = std::make_unique<TickThread>(
            [this] {
                if (!mouseInside_) return false;
                if (!checkPosted_.exchange(true) && !PostMessageW(window_, kHoverCheckMessage, 0, 0))
                    checkPosted_ = false;
                return true;
            },
            [] { return kHoverPollMs; });
    }
    poll_->Wake();
    if (window_) SendMessageW(window_, kTrayCallbackMessage, 0, kTrayMouseEnter);
}

void TToolTipStyle::ExitCheck() {
    if (!mouseInside_) return;
    POINT pt{};
    GetCursorPos(&pt);
    const bool inside = pt.x >= hoverBox_.left && pt.x <= hoverBox_.right && pt.y >= hoverBox_.top &&
                        pt.y <= hoverBox_.bottom;
    if (!inside) MouseExit();
}

void TToolTipStyle::MouseExit() {
    mouseInside_ = false;
    if (!UseDefault) RestoreToolTip();
    if (window_) SendMessageW(window_, kTrayCallbackMessage, 0, kTrayMouseExit);
}

void TToolTipStyle::RestoreToolTip() {
    if (!tipWindow_) return;
    SendMessageW(tipWindow_, TTM_POP, 0, 0);
    SendMessageW(tipWindow_, TTM_SETTIPBKCOLOR, GetSysColor(COLOR_INFOBK), 0);
    SendMessageW(tipWindow_, TTM_SETTIPTEXTCOLOR, GetSysColor(COLOR_INFOTEXT), 0);
}

}  // namespace corvane::win
