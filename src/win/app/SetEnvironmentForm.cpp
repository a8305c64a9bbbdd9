#include "win/app/SetEnvironmentForm.h"

#include <commdlg.h>

#include <algorithm>
#include <string>

#include "core/text/Text.h"
#include "win/app/CenteredMessageDlg.h"
#include "win/ui/UniqueResource.h"

namespace corvane::win {
namespace {

constexpr int kCheckHeight = 17;
constexpr int kEditHeight = 20;
constexpr int kCheckBoxRoom = 20;  // the box and the gap before the text
constexpr int kGroupPadding = 8;   // between a group box's frame and what it holds
constexpr DWORD kCheck = WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD kEdit = WS_TABSTOP | ES_AUTOHSCROLL;

}  // namespace

TSetEnvironmentForm::OpenFileFn TSetEnvironmentForm::openWaveFile = &OpenDialogWaveFile;

bool OpenDialogWaveFile(HWND owner, std::wstring& file) {
    std::wstring buffer = file;
    buffer.resize(std::max<std::size_t>(buffer.size() + 1, 32768), L'\0');
    static const wchar_t kFilter[] = L"WAVEファイル\0*.wav\0";
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = kFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.lpstrDefExt = L"wav";
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&ofn)) return false;
    file.assign(buffer.c_str());
    return true;
}

void TSetEnvironmentForm::AddLabelLeftOf(int id, const wchar_t* text, int left, int editLeft, int editTop) {
    // The label ends 3 pixels left of its field; the layout gave it the room
    // its text needs in the dialog's font.
    AddControl(L"STATIC", text, SS_RIGHT | SS_NOPREFIX, left, editTop + 2, editLeft - 3 - left, 16, id);
}

void TSetEnvironmentForm::OnInit() {
    AddControl(L"BUTTON", L"接続検出時にポップアップで通知する", kCheck | WS_GROUP, 8, 8, 440, kCheckHeight,
               kCheckBoxNotifyConnectSession);
    AddControl(L"BUTTON", L"アクセス検出時にポップアップで通知する", kCheck, 8, 32, 440, kCheckHeight,
               kCheckBoxNotifyResourceAccess);
    AddControl(L"BUTTON", L"接続検出時にトレイのアイコン点滅で通知する", kCheck, 8, 56, 440, kCheckHeight,
               kCheckBoxNotifyConnectSessionByTray);
    AddControl(L"BUTTON", L"アクセス検出時にトレイのアイコン点滅で通知する", kCheck, 8, 80, 440, kCheckHeight,
               kCheckBoxNotifyResourceAccessByTray);
    // The sound check boxes as wide as their texts need; the file fields
    // give up the width (the 参照 buttons stay where they are).
    static const wchar_t kConnectSound[] = L"接続検出時に効果音を鳴らす";
    static const wchar_t kAccessSound[] = L"アクセス検出時に効果音を鳴らす";
    const int soundWidth =
        std::max(182, kCheckBoxRoom + std::max(TextWidth(kConnectSound), TextWidth(kAccessSound)) + 2);
    const int fileLeft = 8 + soundWidth + 2, fileWidth = 393 - fileLeft;
    AddControl(L"BUTTON", kConnectSound, kCheck, 8, 104, soundWidth, kCheckHeight, kCheckBoxNotifyConnectSessionBySound);
    AddControl(L"EDIT", L"", kEdit, fileLeft, 102, fileWidth, kEditHeight, kEditWaveFileNameConnectSession,
               WS_EX_CLIENTEDGE);
    AddControl(L"BUTTON", L"参照", WS_TABSTOP | BS_PUSHBUTTON, 400, 102, 49, 21, kButtonOpenWaveFileConnectSession);
    AddControl(L"BUTTON", kAccessSound, kCheck, 8, 128, soundWidth, kCheckHeight, kCheckBoxNotifyResourceAccessBySound);
    AddControl(L"EDIT", L"", kEdit, fileLeft, 126, fileWidth, kEditHeight, kEditWaveFileName, WS_EX_CLIENTEDGE);
    AddControl(L"BUTTON", L"参照", WS_TABSTOP | BS_PUSHBUTTON, 400, 126, 49, 21, kButtonOpenWaveFile);
    AddControl(L"BUTTON", L"共有リソース情報を検出対象外にする", kCheck, 8, 152, 440, kCheckHeight,
               kCheckBoxIgnoreSharedResource);
    AddControl(L"BUTTON", L"自マシンからの接続検出は対象外とする", kCheck, 8, 176, 440, kCheckHeight,
               kCheckBoxIgnoreLocalConnection);
    // The fields move right (and the group box grows) as far as the longer
    // label needs: the face that stands in for the designed one, and the
    // font at other scales, can be wider than the design allowed for.
    static const wchar_t kGroupCaption[] = L"経過時間による自動切断（0は切断しない）";
    static const wchar_t kConnTimeLabel[] = L"接続時間による自動切断時間[秒]";
    static const wchar_t kIdleTimeLabel[] = L"アイドル時間による自動切断時間[秒]";
    const int labelLeft = 8 + kGroupPadding;
    const int timeLeft =
        std::max(8 + 200, labelLeft + std::max(TextWidth(kConnTimeLabel), TextWidth(kIdleTimeLabel)) + 3);
    const int groupWidth =
        std::max({265, timeLeft + 49 + kGroupPadding - 8, TextWidth(kGroupCaption) + 2 * kGroupPadding});
    AddControl(L"BUTTON", kGroupCaption, BS_GROUPBOX, 8, 200, groupWidth, 89, kGroupBox1);
    AddLabelLeftOf(kLabelDisconnectConnTime, kConnTimeLabel, labelLeft, timeLeft, 200 + 24);
    AddControl(L"EDIT", L"", kEdit, timeLeft, 200 + 24, 49, kEditHeight, kEditDisconnectConnTime, WS_EX_CLIENTEDGE);
    AddLabelLeftOf(kLabelDisconnectIdleTime, kIdleTimeLabel, labelLeft, timeLeft, 200 + 56);
    AddControl(L"EDIT", L"", kEdit, timeLeft, 200 + 56, 49, kEditHeight, kEditDisconnectIdleTime, WS_EX_CLIENTEDGE);
    AddControl(L"BUTTON", L"終了時に確認メッセージを表示する", kCheck, 8, 296, 440, kCheckHeight,
               kCheckBoxExitMessage);
    AddControl(L"BUTTON", L"手動強制切断時に確認メッセージを表示する", kCheck, 8, 320, 440, kCheckHeight,
               kCheckBoxDisconnectMessage);
    AddControl(L"BUTTON", L"ファイルを閉じる前に確認メッセージを表示しない", kCheck, 8, 344, 440, kCheckHeight,
               kCheckBoxIgnoreFileCloseMessage);
    AddControl(L"BUTTON", L"閉じる操作（×ボタンなど）で最小化する", kCheck, 8, 368, 440, kCheckHeight,
               kCheckBoxCloseIsMinimize);
    AddControl(L"BUTTON", L"画面の自動更新を行わない（高負荷時の場合）", kCheck, 8, 392, 440, kCheckHeight,
               kCheckBoxIgnoreAutoRefresh);
    static const wchar_t kMaxLogSizeLabel[] = L"ログファイルのファイルサイズ制限値（バイト）";
    const int logSizeLeft = std::max(216, 8 + TextWidth(kMaxLogSizeLabel) + 3);
    AddLabelLeftOf(kLabelMaxLogSize, kMaxLogSizeLabel, 8, logSizeLeft, 416);
    AddControl(L"EDIT", L"", kEdit, logSizeLeft, 416, 65, kEditHeight, kEditMaxLogSize, WS_EX_CLIENTEDGE);
    AddControl(L"BUTTON", L"イベントを Windows のイベント ログにも記録する", kCheck, 8, 442, 440, kCheckHeight,
               kCheckBoxWriteEventLog);
    SetGlyph(AddControl(L"BUTTON", L"OK", WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON, 135, 472, 81, 25, IDOK),
             Glyph::Ok);
    SetGlyph(AddControl(L"BUTTON", L"キャンセル", WS_TABSTOP | BS_PUSHBUTTON, 239, 472, 81, 25, IDCANCEL),
             Glyph::Cancel);

    // Every control from the record, whatever it showed before.
    const Settings& s = entries_;
    SetItemChecked(kCheckBoxNotifyConnectSession, s.PopupNotifyWindow);
    SetItemChecked(kCheckBoxNotifyResourceAccess, s.NotifyResourceAccess);
    SetItemChecked(kCheckBoxNotifyConnectSessionByTray, s.PopupNotifyWindowByTray);
    SetItemChecked(kCheckBoxNotifyResourceAccessByTray, s.NotifyResourceAccessByTray);
    SetItemChecked(kCheckBoxNotifyConnectSessionBySound, s.NotifyConnectSessionBySound);
    SetItemText(kEditWaveFileNameConnectSession, s.SoundFileNameConnectSession);
    SetItemChecked(kCheckBoxNotifyResourceAccessBySound, s.NotifyResourceAccessBySound);
    SetItemText(kEditWaveFileName, s.SoundFileName);
    SetItemChecked(kCheckBoxIgnoreSharedResource, s.IgnoreSharedResource);
    SetItemChecked(kCheckBoxIgnoreLocalConnection, s.IgnoreLocalConnection);
    SetItemText(kEditDisconnectConnTime, std::to_string(s.DisconnectConnTime));
    SetItemText(kEditDisconnectIdleTime, std::to_string(s.DisconnectIdleTime));
    SetItemChecked(kCheckBoxExitMessage, s.ExitMessage);
    SetItemChecked(kCheckBoxDisconnectMessage, s.DisconnectMessage);
    SetItemChecked(kCheckBoxIgnoreFileCloseMessage, s.IgnoreFileCloseMessage);
    SetItemChecked(kCheckBoxCloseIsMinimize, s.CloseIsMinimize);
    SetItemChecked(kCheckBoxIgnoreAutoRefresh, s.IgnoreAutoRefresh);
    SetItemText(kEditMaxLogSize, std::to_string(s.MaxLogSize));
    SetItemChecked(kCheckBoxWriteEventLog, s.WriteEventLog);
}

void TSetEnvironmentForm::OnCommand(WORD id, WORD, HWND) {
    switch (id) {
        case IDOK:
            BtnOKClick();
            break;
        case IDCANCEL:
            End(IDCANCEL);
            break;
        case kButtonOpenWaveFileConnectSession:
            BrowseInto(kEditWaveFileNameConnectSession);
            break;
        case kButtonOpenWaveFile:
            BrowseInto(kEditWaveFileName);
            break;
        default:
            break;
    }
}

void TSetEnvironmentForm::BrowseInto(int editId) {
    if (openWaveFile(Handle(), waveFile_)) SetItemText(editId, Narrow(waveFile_));
}

void TSetEnvironmentForm::BtnOKClick() {
    const auto connTime = text::ParseInt32(ItemText(kEditDisconnectConnTime));
    const auto idleTime = text::ParseInt32(ItemText(kEditDisconnectIdleTime));
    const auto maxLogSize = text::ParseInt32(ItemText(kEditMaxLogSize));
    if (!connTime || !idleTime || !maxLogSize) {
        // The dialog stays open with the user's entries.
        CenteredMessageDlg(Handle(), "設定が間違っています。", "Corvane", TMsgDlgType::mtWarning,
                           TMsgDlgButtons::mbOK);
        return;
    }
    Settings& s = entries_;
    s.PopupNotifyWindow = ItemChecked(kCheckBoxNotifyConnectSession);
    s.NotifyResourceAccess = ItemChecked(kCheckBoxNotifyResourceAccess);
    s.PopupNotifyWindowByTray = ItemChecked(kCheckBoxNotifyConnectSessionByTray);
    s.NotifyResourceAccessByTray = ItemChecked(kCheckBoxNotifyResourceAccessByTray);
    s.NotifyConnectSessionBySound = ItemChecked(kCheckBoxNotifyConnectSessionBySound);
    s.SoundFileNameConnectSession = ItemText(kEditWaveFileNameConnectSession);
    s.NotifyResourceAccessBySound = ItemChecked(kCheckBoxNotifyResourceAccessBySound);
    s.SoundFileName = ItemText(kEditWaveFileName);
    s.IgnoreSharedResource = ItemChecked(kCheckBoxIgnoreSharedResource);
    s.IgnoreLocalConnection = ItemChecked(kCheckBoxIgnoreLocalConnection);
    s.DisconnectConnTime = *connTime;
    s.DisconnectIdleTime = *idleTime;
    s.ExitMessage = ItemChecked(kCheckBoxExitMessage);
    s.DisconnectMessage = ItemChecked(kCheckBoxDisconnectMessage);
    s.IgnoreFileCloseMessage = ItemChecked(kCheckBoxIgnoreFileCloseMessage);
    s.CloseIsMinimize = ItemChecked(kCheckBoxCloseIsMinimize);
    s.IgnoreAutoRefresh = ItemChecked(kCheckBoxIgnoreAutoRefresh);
    s.MaxLogSize = *maxLogSize;
    s.WriteEventLog = ItemChecked(kCheckBoxWriteEventLog);
    End(IDOK);
}

void TSetEnvironmentForm::ApplyTo(Settings& settings) const {
    const Settings& s = entries_;
    settings.PopupNotifyWindow = s.PopupNotifyWindow;
    settings.NotifyResourceAccess = s.NotifyResourceAccess;
    settings.PopupNotifyWindowByTray = s.PopupNotifyWindowByTray;
    settings.NotifyResourceAccessByTray = s.NotifyResourceAccessByTray;
    settings.NotifyConnectSessionBySound = s.NotifyConnectSessionBySound;
    settings.SoundFileNameConnectSession = s.SoundFileNameConnectSession;
    settings.NotifyResourceAccessBySound = s.NotifyResourceAccessBySound;
    settings.SoundFileName = s.SoundFileName;
    settings.IgnoreSharedResource = s.IgnoreSharedResource.load();
    settings.IgnoreLocalConnection = s.IgnoreLocalConnection;
    settings.DisconnectConnTime = s.DisconnectConnTime;
    settings.DisconnectIdleTime = s.DisconnectIdleTime;
    settings.ExitMessage = s.ExitMessage;
    settings.DisconnectMessage = s.DisconnectMessage;
    settings.IgnoreFileCloseMessage = s.IgnoreFileCloseMessage;
    settings.CloseIsMinimize = s.CloseIsMinimize;
    settings.IgnoreAutoRefresh = s.IgnoreAutoRefresh.load();
    settings.MaxLogSize = s.MaxLogSize;
    settings.WriteEventLog = s.WriteEventLog.load();
}

}  // namespace corvane::win
