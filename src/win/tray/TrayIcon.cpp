#include "win/tray/TrayIcon.h"

#include "win/ui/Window.h"

#include "../../../res/resource.h"
#include "win/ui/Dpi.h"

namespace corvane::win {
namespace {

constexpr unsigned kMinimumInterval = 50;

// The side of the notification area's icons: the small-icon size at the
// system's DPI (the taskbar's scale), not a 32-pixel icon shrunk by the shell.
int TrayIconSide() { return SmallIconSide(SystemDpi()); }

}  // namespace

TTrayIcon::TTrayIcon(HWND owner, TrayServices services) : owner_(owner), tray_(services) {
    tray_.SetMessageHandler([this](TMessage& message) { TrayMessage(message); });
    tray_.SetTipText("TipHelp");
}

TTrayIcon::~TTrayIcon() {
    try {
        HideIcon();
    } catch (...) {
        // A delete never raises; nothing else may leave a destructor.
    }
    animation_.reset();  // never waits for this thread, so it cannot hang
    tray_.SetMessageHandler(nullptr);
}

void TTrayIcon::Loaded() {
    if (!loading_) return;
    loading_ = false;
    if (ShouldShow()) ShowIcon();
}

void TTrayIcon::SetIcon(HICON icon) {
    UniqueIcon previous(icon_.release());
    if (icon) icon_.reset(CopyIcon(icon));
    if (!loading_) RefreshIcon();
}

void TTrayIcon::SetTipHelp(const std::string& tip) {
    tray_.SetTipText(tip);
    if (!loading_) RefreshIcon();
}

void TTrayIcon::SetMinimized(bool value) {
    minimized_ = value;
    if (loading_) return;
    if (ShouldShow())
        RefreshIcon();
    else
        HideIcon();
}

void TTrayIcon::SetVisible(bool value) {
    visible_ = value;
    if (loading_) return;
    if (ShouldShow())
        ShowIcon();
    else
        HideIcon();
}

int TTrayIcon::ResourceIconID() {
    if (resourceIconId_ >= static_cast<int>(resourceIconList_.size())) resourceIconId_ = 0;
    return resourceIconId_;
}

void TTrayIcon::SetResourceIconID(int value) {
    if (value == resourceIconId_ && value != 0) return;
    icon_.reset();
    if (!loading_) {
        const int count = static_cast<int>(resourceIconList_.size());
        if (value >= count) value = count - 1;
        if (value < 0) value = -1;
    }
    resourceIconId_ = value;
    if (!loading_ && ShouldShow()) RefreshIcon();
}

void TTrayIcon::SetResourceIconList(const std::vector<std::string>& names) {
    if (resourceIconList_.empty()) {
        resourceIconList_ = names;
        if (!loading_ && ShouldShow()) RefreshIcon();
        return;
    }
    if (resourceIconId_ < 0) return;  // keeps the list it has
    const int id = ResourceIconID();
    const std::string selected = resourceIconList_[static_cast<size_t>(id)];
    resourceIconList_ = names;
    SetResourceIconID(ResourceIconID());
    const int now = ResourceIconID();
    const bool changed = now < 0 || now >= static_cast<int>(resourceIconList_.size()) ||
                         resourceIconList_[static_cast<size_t>(now)] != selected;
    if (!loading_ && ShouldShow() && changed) RefreshIcon();
}

void TTrayIcon::SetInterval(unsigned ms) {
    if (ms == interval_) return;
    interval_ = (ms != 0 && ms < kMinimumInterval) ? kMinimumInterval : ms;
    UpdateAnimation();
}

void TTrayIcon::MenuRemoved(HMENU menu) {
    if (!menu) return;
    if (LButtonPopupMenu == menu) LButtonPopupMenu = nullptr;
    if (RButtonPopupMenu == menu) RButtonPopupMenu = nullptr;
}

bool TTrayIcon::ShowBalloonHelp(const std::string& title, const std::string& text, UINT timeoutMs,
                                TBalloonIconType icon) {
    return tray_.ShowBalloon(title, text, timeoutMs, static_cast<int>(icon));
}

bool TTrayIcon::ShouldShow() const { return visible_ && (!minimized_ || (owner_ && IsIconic(owner_))); }

HICON TTrayIcon::CurrentIconHandle() {
    if (icon_) return icon_.get();
    const int id = ResourceIconID();
    if (!resourceIconList_.empty() && id >= 0) {
        resourceIcon_.reset(LoadProgramIcon(Wide(resourceIconList_[static_cast<size_t>(id)]).c_str(), TrayIconSide()));
        if (resourceIcon_) return resourceIcon_.get();
    }
    // The program's own icon; the system's application icon when the module has none.
    if (!applicationIcon_) applicationIcon_.reset(LoadProgramIcon(MAKEINTRESOURCEW(IDI_MAINICON), TrayIconSide()));
    return applicationIcon_ ? applicationIcon_.get() : LoadIconW(nullptr, IDI_APPLICATION);
}

void TTrayIcon::ShowIcon() {
    tray_.SetIconHandle(CurrentIconHandle());
    if (tray_.AddIcon()) {
        UpdateAnimation();
        visible_ = true;
    }
}

void TTrayIcon::HideIcon() {
    PauseAnimation();
    tray_.DeleteIcon();
}

void TTrayIcon::RefreshIcon() {
    tray_.SetIconHandle(CurrentIconHandle());
    if (ShouldShow()) tray_.ModifyIcon();
}

void TTrayIcon::UpdateAnimation() {
    if (visible_ && interval_ != 0) {
        if (!animation_) {
            // TIconAnimation: paces the steps; the steps themselves run on
            // the window thread, which owns the icon and its images.
            HWND window = tray_.Handle();
            animation_ = std::make_unique<TickThread>(
                [this, window] {
                    if (interval_ == 0 || !visible_) return false;
                    if (!stepPosted_.exchange(true) &&
                        !PostMessageW(window, kAnimationStepMessage, 0, 0))
                        stepPosted_ = false;
                    return true;
                },
                [this] { return interval_.load(); });
        }
        animation_->Wake();
    } else {
        PauseAnimation();
    }
}

void TTrayIcon::PauseAnimation() {
    if (animation_) animation_->Pause();
}

void TTrayIcon::AnimationStep() {
    try {
        if (OnIconAnimation) {
            OnIconAnimation();
            RefreshIcon();
            return;
        }
        const int count = static_cast<int>(resourceIconList_.size());
        int next = ResourceIconID() + 1;
        if (next >= count) next = 0;
        SetResourceIconID(next);
    } catch (const ENotifyIconError& e) {
        // The shell refuses the icon (Explorer restarting, say): every later
        // step would fail the same way, so the blinking ends here and the
        // failure is told once instead of at every step.
        interval_ = 0;
        PauseAnimation();
        if (OnAnimationFault) OnAnimationFault(e.what());
    }
}

void TTrayIcon::WindowSized(WPARAM sizeType) {
    if (sizeType == SIZE_MINIMIZED) {
        if (!ownerMinimized_) {
            ownerMinimized_ = true;
            ApplicationMinimize();
        }
    } else if (sizeType == SIZE_RESTORED || sizeType == SIZE_MAXIMIZED) {
        if (ownerMinimized_) {
            ownerMinimized_ = false;
            ApplicationRestore();
        }
    }
}

void TTrayIcon::ApplicationMinimize() {
    if (visible_ && minimized_) ShowIcon();
    // The taskbar button goes with the window; the icon stays.
    if (visible_ && HideOnTaskBar && owner_) ShowWindow(owner_, SW_HIDE);
}

void TTrayIcon::ApplicationRestore() {
    if (minimized_) {
        HideIcon();
        if (owner_) SetForegroundWindow(owner_);
    }
}

void TTrayIcon::PopupMenu(HMENU menu) {
    HWND window = tray_.Handle();
    if (OnMenuPopup) OnMenuPopup(menu);
    POINT pt{};
    GetCursorPos(&pt);
    // The menu closes when the user clicks elsewhere only if its window is in front.
    SetForegroundWindow(window);
    UINT command = 0;
    {
        NestedLoopScope nested;  // a close request waits until the menu is gone
        command = static_cast<UINT>(
            TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, pt.x, pt.y, 0, window, nullptr));
    }
    PostMessageW(window, WM_NULL, 0, 0);
    if (command != 0 && OnMenuCommand) OnMenuCommand(command);
}

void TTrayIcon::TrayMessage(TMessage& message) {
    if (message.Msg == WM_QUERYENDSESSION) {
        message.Result = 1;
        return;
    }
    if (message.Msg == kAnimationStepMessage) {
        stepPosted_ = false;
        // A stop that came after the tick was posted wins.
        if (interval_ != 0 && visible_) AnimationStep();
        return;
    }
    if (message.Msg != kTrayCallbackMessage) return;
    POINT pt{};
    GetCursorPos(&pt);
    auto mouse = [&](const TMouseEvent& event, TMouseButton button, TShiftState shift) {
        if (event) event(button, shift, pt.x, pt.y);
    };
    auto notify = [](const TNotifyEvent& event) {
        if (event) event();
    };
    switch (message.LParam) {
        case WM_MOUSEMOVE:
            if (OnMouseMove) OnMouseMove(0, pt.x, pt.y);
            break;
        case WM_LBUTTONDOWN:
            if (LButtonPopupMenu && AutoPopup)
                PopupMenu(LButtonPopupMenu);
            else
                mouse(OnMouseDown, TMouseButton::mbLeft, ssLeft);
            break;
        case WM_LBUTTONUP: mouse(OnMouseUp, TMouseButton::mbLeft, ssLeft); break;
        case WM_LBUTTONDBLCLK: notify(OnDblClick); break;
        case WM_RBUTTONDOWN:
            if (RButtonPopupMenu && AutoPopup)
                PopupMenu(RButtonPopupMenu);
            else
                mouse(OnMouseDown, TMouseButton::mbRight, ssRight);
            break;
        case WM_RBUTTONUP: mouse(OnMouseUp, TMouseButton::mbRight, ssRight); break;
        case WM_RBUTTONDBLCLK: notify(OnRDblClick); break;
        case WM_MBUTTONDOWN: mouse(OnMouseDown, TMouseButton::mbMiddle, ssMiddle); break;
        case WM_MBUTTONUP: mouse(OnMouseUp, TMouseButton::mbMiddle, ssMiddle); break;
        case kTrayMouseEnter: notify(OnMouseEnter); break;
        case kTrayMouseExit: notify(OnMouseExit); break;
        case kTrayMouseClick: {
            static constexpr TMouseButton kButtons[] = {TMouseButton::mbLeft, TMouseButton::mbRight,
                                                        TMouseButton::mbMiddle};
            const WPARAM b = message.WParam;
            mouse(OnMouseClick, b < 3 ? kButtons[b] : TMouseButton::mbLeft, 0);
            break;
        }
        default: break;
    }
}

}  // namespace corvane::win
