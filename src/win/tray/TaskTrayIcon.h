#pragma once
// The icon in the shell's notification area: its record, its hidden window
// for the mouse messages, and the add, modify and delete calls with their
// retries while the shell is busy.
#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "win/tray/ToolTipStyle.h"
#include "win/tray/TrayShell.h"

namespace corvane::win {

// The icon cannot be put into the notification area.
class ENotifyIconError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr char kCannotRegisterIcon[] = "タスクトレイにアイコンを登録できません。";
inline constexpr char kCannotChangeIcon[] = "タスクトレイのアイコンを変更できません。";

class TTrayIconWinProcList;

// One message of the hidden window, with the result its handler leaves.
struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

class TTaskTrayIcon {
public:
    using MessageHandler = std::function<void(TMessage&)>;

    static constexpr UINT kIconId = 1;
    static constexpr UINT kIconFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;  // 7
    static constexpr int kAddRetries = 6;
    static constexpr unsigned kRetryPauseMs = 2000;

    explicit TTaskTrayIcon(TrayServices services = {});
    ~TTaskTrayIcon();
    TTaskTrayIcon(const TTaskTrayIcon&) = delete;
    TTaskTrayIcon& operator=(const TTaskTrayIcon&) = delete;

    DWORD ShellVersion() const noexcept { return shellVersion_; }
    bool NewShell() const noexcept { return shellVersion_ >= kNewShellVersion; }
    bool Registered() const noexcept { return registered_; }

    // Adds the icon (nothing when already there). False when there is no
    // icon image. Raises ENotifyIconError when the shell refuses.
    bool AddIcon();
    // Changes the icon, adding it when it is not there; never raises for a
    // registered icon.
    bool ModifyIcon();
    bool DeleteIcon();

    void SetTipText(const std::string& text);
    std::string TipText() const;
    bool ShowBalloon(const std::string& title, const std::string& text, UINT timeoutMs, int iconKind);
    bool ClearBalloon();

    HICON IconHandle() const noexcept { return data_.hIcon; }
    void SetIconHandle(HICON icon) noexcept { data_.hIcon = icon; }
    std::string BalloonTitle() const;
    void SetBalloonTitle(const std::string& title);
    std::string BalloonText() const;
    void SetBalloonText(const std::string& text);
    UINT BalloonTimeOut() const noexcept { return data_.uTimeout; }
    void SetBalloonTimeOut(UINT ms) noexcept { data_.uTimeout = ms; }
    int BalloonIcon() const noexcept { return static_cast<int>(data_.dwInfoFlags); }
    void SetBalloonIcon(int kind) noexcept;
    bool DoForegroundWindow = false;

    TToolTipStyle& ToolTipStyle() noexcept { return *toolTipStyle_; }
    const TToolTipStyle& ToolTipStyle() const noexcept { return *toolTipStyle_; }
    const NOTIFYICONDATAW& Record() const noexcept { return data_; }
    // The hidden window, created on first need.
    HWND Handle();
    void SetMessageHandler(MessageHandler handler) { handler_ = std::move(handler); }

    // Every message of the hidden window, in this order: the shell's restart,
    // the click and hover tracking, then the owner's handler.
    void HandleMessage(TMessage& message);

private:
    friend class TTrayIconWinProcList;
    bool Call(DWORD message);
    void TryAdd();
    void Registering();

    IShellNotify& shell_;
    ISleeper& sleeper_;
    DWORD shellVersion_ = 0;
    DWORD lastError_ = 0;
    bool registered_ = false;
    bool adding_ = false;
    bool refreshAfterAdd_ = false;
    NOTIFYICONDATAW data_{};
    HWND window_ = nullptr;
    std::unique_ptr<TToolTipStyle> toolTipStyle_;
    MessageHandler handler_;
};

// Every live tray icon of the process, the hidden windows' class and the
// shell's "TaskbarCreated" message.
class TTrayIconWinProcList {
public:
    static void Enter(TTaskTrayIcon* icon);
    static void Leave(TTaskTrayIcon* icon);
    static UINT TaskbarCreatedMessage();
    static constexpr wchar_t kClassName[] = L"TaskTrayHandle";

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
};

}  // namespace corvane::win
