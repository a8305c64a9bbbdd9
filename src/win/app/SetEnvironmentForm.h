#pragma once
// The settings dialog: every option of the Settings record but the window
// state, filled from the record and copied back on OK.
#include <string>

#include "core/settings/Settings.h"
#include "win/ui/Dialog.h"

namespace corvane::win {

class TSetEnvironmentForm final : public Dialog {
public:
    // Control ids, in tab order.
    enum : int {
        kCheckBoxNotifyConnectSession = 201,
        kCheckBoxNotifyResourceAccess,
        kCheckBoxNotifyConnectSessionByTray,
        kCheckBoxNotifyResourceAccessByTray,
        kCheckBoxNotifyConnectSessionBySound,
        kEditWaveFileNameConnectSession,
        kButtonOpenWaveFileConnectSession,
        kCheckBoxNotifyResourceAccessBySound,
        kEditWaveFileName,
        kButtonOpenWaveFile,
        kCheckBoxIgnoreSharedResource,
        kCheckBoxIgnoreLocalConnection,
        kGroupBox1,
        kEditDisconnectConnTime,
        kEditDisconnectIdleTime,
        kCheckBoxExitMessage,
        kCheckBoxDisconnectMessage,
        kCheckBoxIgnoreFileCloseMessage,
        kCheckBoxCloseIsMinimize,
        kCheckBoxIgnoreAutoRefresh,
        kEditMaxLogSize,
        kCheckBoxWriteEventLog,
        kLabelDisconnectConnTime = 301,
        kLabelDisconnectIdleTime,
        kLabelMaxLogSize,
    };

    // The dialog shows `settings` as they are when it opens.
    explicit TSetEnvironmentForm(const Settings& settings) : entries_(settings) {}

    // After OK: copies the dialog's fields into `settings` (the other fields
    // of the record are left alone).
    void ApplyTo(Settings& settings) const;

    // Where the file dialog of the browse buttons asks for a file; replaced
    // by tests. Returns false when the user cancelled. `file` holds the
    // previous choice on entry.
    using OpenFileFn = bool (*)(HWND owner, std::wstring& file);
    static OpenFileFn openWaveFile;

protected:
    std::wstring Caption() const override { return L"環境設定"; }
    SIZE ClientSize() const override { return {455, 507}; }
    void OnInit() override;
    void OnCommand(WORD id, WORD code, HWND control) override;

private:
    void BtnOKClick();
    void BrowseInto(int editId);
    void AddLabelLeftOf(int id, const wchar_t* text, int left, int editLeft, int editTop);

    Settings entries_;
    std::wstring waveFile_;  // OpenDialogWaveFile's file name, shared by both buttons
};

// OpenDialogWaveFile: the standard file-open dialog for "WAVEファイル|*.wav".
bool OpenDialogWaveFile(HWND owner, std::wstring& file);

}  // namespace corvane::win
