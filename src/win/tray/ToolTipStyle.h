#pragma once
// Sees every message of a tray icon's hidden window before its owner does:
// tells single clicks from double clicks, tracks the cursor over the icon
// (mouse enter and exit) and, when asked, colours the shell's tooltip.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "win/tray/TickThread.h"

namespace corvane::win {

// Messages of the hidden window.
constexpr UINT kTrayCallbackMessage = WM_USER + 200;  // 1224
constexpr LPARAM kTrayMouseEnter = 1234;
constexpr LPARAM kTrayMouseExit = 1235;
constexpr LPARAM kTrayMouseClick = 1236;
constexpr UINT_PTR kClickTimerId = 7;
constexpr UINT kHoverCheckMessage = WM_USER + 201;     // posted by the hover poll
constexpr UINT kAnimationStepMessage = WM_USER + 202;  // posted by the animation thread

// Buttons as the click notice's wParam gives them.
constexpr int kButtonLeft = 0, kButtonRight = 1, kButtonMiddle = 2;

class TToolTipStyle {
public:
    TToolTipStyle();
    ~TToolTipStyle();
    TToolTipStyle(const TToolTipStyle&) = delete;
    TToolTipStyle& operator=(const TToolTipStyle&) = delete;

    // Tooltip colours, used while the cursor is over the icon when UseDefault is off.
    bool UseDefault = true;
    COLORREF BackGroundColor = 0;
    COLORREF TextColor;
    // Hold a release back by the double-click time so a double click gives no click.
    bool CheckSingleDoubleClick = true;

    // The hidden window that receives the notices.
    void SetWindow(HWND window) { window_ = window; }
    // Sees one message of the hidden window.
    void Message(UINT msg, WPARAM wp, LPARAM lp);
    // A fresh hover box, after the icon has been (re)added.
    void ClearHoverBox() { hoverBox_ = RECT{}; }

    HWND TipWindow() const noexcept { return tipWindow_; }
    RECT HoverBox() const noexcept { return hoverBox_; }
    bool MouseInside() const noexcept { return mouseInside_; }
    bool ClickPending() const noexcept { return clickPending_; }
    std::uint8_t ButtonsDown() const noexcept { return buttonsDown_; }
    bool HoverPollRunning() const { return poll_ && poll_->Running(); }

private:
    void Press(int button, WPARAM wp);
    void Release(int button);
    void DoubleClick(int button);
    void Timer();
    void FireClick(int button);
    void MouseMove();
    void MouseEnter();
    void ExitCheck();
    void MouseExit();
    void RestoreToolTip();

    HWND window_ = nullptr;
    HWND tipWindow_ = nullptr;
    RECT hoverBox_{};
    std::atomic<bool> mouseInside_{false};
    std::atomic<bool> checkPosted_{false};
    std::uint8_t buttonsDown_ = 0;
    bool clickPending_ = false;
    std::unique_ptr<TickThread> poll_;  // TMouseEventMaker
};

}  // namespace corvane::win
