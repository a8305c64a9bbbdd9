#pragma once
// The program's icon in the notification area as the rest of the program
// sees it: tip, balloons, menus, mouse events, blinking, and hiding the
// taskbar button while the program is minimised.
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/watch/WatchTypes.h"
#include "win/tray/TaskTrayIcon.h"
#include "win/tray/TickThread.h"
#include "win/ui/UniqueResource.h"

namespace corvane::win {

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
// Shift state: only the button flags are used.
using TShiftState = unsigned;
constexpr TShiftState ssLeft = 1, ssRight = 2, ssMiddle = 4;

using TNotifyEvent = std::function<void()>;
using TMouseEvent = std::function<void(TMouseButton, TShiftState, int x, int y)>;
using TMouseMoveEvent = std::function<void(TShiftState, int x, int y)>;

class TTrayIcon {
public:
    // `owner` is the program's main window: it is hidden from the taskbar
    // while minimised and brought forward on restore.
    explicit TTrayIcon(HWND owner, TrayServices services = {});
    ~TTrayIcon();
    TTrayIcon(const TTrayIcon&) = delete;
    TTrayIcon& operator=(const TTrayIcon&) = delete;

    // The configuration is done: show the icon if it is wanted. Once only.
    void Loaded();

    bool AutoPopup = true;
    bool HideOnTaskBar = false;

    HICON Icon() const noexcept { return icon_.get(); }
    void SetIcon(HICON icon);  // keeps a copy; null empties
    std::string TipHelp() const { return tray_.TipText(); }
    void SetTipHelp(const std::string& tip);
    bool Minimized() const noexcept { return minimized_; }
    void SetMinimized(bool value);
    bool Visible() const noexcept { return visible_; }
    void SetVisible(bool value);
    int ResourceIconID();
    void SetResourceIconID(int value);
    const std::vector<std::string>& ResourceIconList() const noexcept { return resourceIconList_; }
    void SetResourceIconList(const std::vector<std::string>& names);
    unsigned Interval() const noexcept { return interval_; }
    void SetInterval(unsigned ms);
    bool DoForegroundWindow() const noexcept { return tray_.DoForegroundWindow; }
    void SetDoForegroundWindow(bool value) noexcept { tray_.DoForegroundWindow = value; }
    bool CheckSingleDoubleClick() const noexcept { return tray_.ToolTipStyle().CheckSingleDoubleClick; }
    void SetCheckSingleDoubleClick(bool value) noexcept { tray_.ToolTipStyle().CheckSingleDoubleClick = value; }
    std::string BalloonHelpTitle() const { return tray_.BalloonTitle(); }
    void SetBalloonHelpTitle(const std::string& title) { tray_.SetBalloonTitle(title); }
    std::string BalloonHelpText() const { return tray_.BalloonText(); }
    void SetBalloonHelpText(const std::string& text) { tray_.SetBalloonText(text); }
    UINT BalloonHelpTimeOut() const noexcept { return tray_.BalloonTimeOut(); }
    void SetBalloonHelpTimeOut(UINT ms) noexcept { tray_.SetBalloonTimeOut(ms); }
    TBalloonIconType BalloonHelpIcon() const noexcept { return static_cast<TBalloonIconType>(tray_.BalloonIcon()); }
    void SetBalloonHelpIcon(TBalloonIconType kind) noexcept { tray_.SetBalloonIcon(static_cast<int>(kind)); }
    TToolTipStyle& ToolTipStyle() noexcept { return tray_.ToolTipStyle(); }

    // Pop-up menus, not owned. A menu that goes away must be reported through MenuRemoved.
    HMENU LButtonPopupMenu = nullptr;
    HMENU RButtonPopupMenu = nullptr;
    void MenuRemoved(HMENU menu);

    // Events.
    TNotifyEvent OnDblClick, OnRDblClick, OnMouseEnter, OnMouseExit;
    TMouseEvent OnMouseDown, OnMouseUp, OnMouseClick;
    TMouseMoveEvent OnMouseMove;
    TNotifyEvent OnIconAnimation;
    // A blinking step the shell refused; the blinking has stopped.
    std::function<void(const std::string&)> OnAnimationFault;
    // Before a pop-up menu opens (to update its items), and the command chosen in it.
    std::function<void(HMENU)> OnMenuPopup;
    std::function<void(UINT)> OnMenuCommand;

    bool ShowBalloonHelp(const std::string& title, const std::string& text, UINT timeoutMs, TBalloonIconType icon);

    // The owner window's size changes: the program's minimise and restore.
    void WindowSized(WPARAM sizeType);

    bool ShouldShow() const;
    HICON CurrentIconHandle();
    void ShowIcon();
    void HideIcon();
    void RefreshIcon();
    void UpdateAnimation();
    void AnimationStep();
    bool AnimationRunning() const { return animation_ && animation_->Running(); }

    TTaskTrayIcon& TaskTrayIcon() noexcept { return tray_; }

private:
    void TrayMessage(TMessage& message);
    void PopupMenu(HMENU menu);
    void ApplicationMinimize();
    void ApplicationRestore();
    void PauseAnimation();

    HWND owner_;
    TTaskTrayIcon tray_;
    bool loading_ = true;
    bool minimized_ = false;
    std::atomic<bool> visible_{true};
    std::atomic<unsigned> interval_{0};
    std::atomic<bool> stepPosted_{false};
    bool ownerMinimized_ = false;
    int resourceIconId_ = -1;
    std::vector<std::string> resourceIconList_;
    UniqueIcon icon_;
    // Drawn at the small-icon size; kept while the shell may show them.
    UniqueIcon resourceIcon_;
    UniqueIcon applicationIcon_;
    std::unique_ptr<TickThread> animation_;  // TIconAnimation
};

}  // namespace corvane::win
