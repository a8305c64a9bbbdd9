#pragma once
// The main window's voice in the notification area: the tray icon with its
// tip, balloons, sound and blinking, as the watch's announcements use them.
// An icon layer that fails (Explorer restarting, a notification area that
// refuses the icon) never stops the watch: an announcement is then not
// seen, and a blinking that fails stops and is told once.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "core/watch/WatchPorts.h"
#include "win/tray/TrayIcon.h"
#include "win/ui/UniqueResource.h"

namespace corvane::win {

struct TrayAnnouncerEvents {
    std::function<void()> DoubleClick;            // the person wants the window
    std::function<void()> MenuPopup;              // bring the menu's commands up to date
    std::function<void(UINT)> MenuCommand;        // a command chosen from the menu
    std::function<void(const std::string&)> Fault;  // the blinking failed and has stopped
};

class TrayAnnouncer final : public INotifier {
public:
    // Puts the program's icon in the notification area of `owner`, with
    // `menu` on the right button. `frames` holds the blinking's pictures.
    TrayAnnouncer(HWND owner, HMENU menu, UniqueImageList frames, TrayAnnouncerEvents events);
    ~TrayAnnouncer() override;

    // INotifier
    void SetTipHelp(const std::string& tip) override;
    void ShowBalloonHelp(const std::string& title, const std::string& text, int timeoutMs,
                         TBalloonIconType icon) override;
    void PlayWave(const std::string& fileName) override;
    void StartIconAnimation(int intervalMs) override;

    // A warning balloon (a watch that fails).
    void ShowWarning(const std::string& title, const std::string& text, UINT timeoutMs);
    void StopBlinking();
    // Takes the icon out of the notification area for good (the program
    // ends): its menu can no longer be opened, announcements go nowhere.
    void Remove();

    TTrayIcon* Icon() noexcept { return icon_.get(); }

private:
    void NextFrame();

    std::unique_ptr<TTrayIcon> icon_;
    UniqueImageList frames_;
    TrayAnnouncerEvents events_;
    int frame_ = 0;
};

}  // namespace corvane::win
