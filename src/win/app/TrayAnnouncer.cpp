#include "win/app/TrayAnnouncer.h"

#include <commctrl.h>
#include <mmsystem.h>

#include "../../../res/resource.h"
#include "win/security/SystemLibrary.h"
#include "win/ui/Window.h"

namespace corvane::win {

TrayAnnouncer::TrayAnnouncer(HWND owner, HMENU menu, UniqueImageList frames, TrayAnnouncerEvents events)
    : icon_(std::make_unique<TTrayIcon>(owner)), frames_(std::move(frames)), events_(std::move(events)) {
    TTrayIcon& tray = *icon_;
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
    tray.RButtonPopupMenu = menu;
    // A click on the icon is the person's answer to the blinking.
    tray.OnDblClick = [this] {
        if (events_.DoubleClick) events_.DoubleClick();
        StopBlinking();
    };
    tray.OnMouseClick = [this](TMouseButton, TShiftState, int, int) { StopBlinking(); };
    tray.OnMenuPopup = [this](HMENU) {
        if (events_.MenuPopup) events_.MenuPopup();
    };
    tray.OnMenuCommand = [this](UINT id) {
        if (events_.MenuCommand) events_.MenuCommand(id);
    };
    tray.OnAnimationFault = [this](const std::string& why) {
        if (events_.Fault) events_.Fault("トレイアイコンを点滅できません: " + why);
    };
}

TrayAnnouncer::~TrayAnnouncer() = default;

void TrayAnnouncer::SetTipHelp(const std::string& tip) {
    if (!icon_) return;
    try {
        icon_->SetTipHelp(tip);
    } catch (const ENotifyIconError&) {
    }
}

void TrayAnnouncer::ShowBalloonHelp(const std::string& title, const std::string& text, int timeoutMs,
                                    TBalloonIconType icon) {
    if (!icon_) return;
    try {
        icon_->ShowBalloonHelp(title, text, static_cast<UINT>(timeoutMs), icon);
    } catch (const ENotifyIconError&) {
    }
}

void TrayAnnouncer::ShowWarning(const std::string& title, const std::string& text, UINT timeoutMs) {
    ShowBalloonHelp(title, text, static_cast<int>(timeoutMs), TBalloonIconType::bitWarning);
}

void TrayAnnouncer::PlayWave(const std::string& fileName) {
    // Returns at once; a missing file gets the system's default sound. winmm
    // comes from the system folder at the first sound, not as an import.
    using PlayFn = BOOL(WINAPI*)(LPCWSTR, UINT);
    static const PlayFn play = SystemFunction<PlayFn>(L"winmm.dll", "sndPlaySoundW");
    if (play) play(Wide(fileName).c_str(), SND_ASYNC);
}

void TrayAnnouncer::StartIconAnimation(int intervalMs) {
    if (!icon_) return;
    try {
        icon_->OnIconAnimation = [this] { NextFrame(); };
        icon_->SetInterval(static_cast<unsigned>(intervalMs));
    } catch (const ENotifyIconError&) {
    }
}

void TrayAnnouncer::StopBlinking() {
    if (!icon_) return;
    icon_->OnIconAnimation = nullptr;
    icon_->SetInterval(0);
    try {
        icon_->SetIcon(nullptr);  // back to the program's own icon
    } catch (const ENotifyIconError&) {
    }
}

void TrayAnnouncer::NextFrame() {
    const int count = ImageList_GetImageCount(frames_.get());
    if (count <= 0 || !icon_) return;
    if (frame_ >= count) frame_ = 0;
    UniqueIcon frame(ImageList_GetIcon(frames_.get(), frame_, ILD_NORMAL));
    icon_->SetIcon(frame.get());
    if (++frame_ >= count) frame_ = 0;
}

void TrayAnnouncer::Remove() { icon_.reset(); }

}  // namespace corvane::win
