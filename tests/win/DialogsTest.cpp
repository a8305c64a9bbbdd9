// The settings dialog, the centred message box and the About box's link,
// driven in-process.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/app/Geometry.h"
#include "win/ui/Dpi.h"
#include "win/about/AboutForm.h"
#include "win/app/CenteredMessageDlg.h"
#include "win/app/SetEnvironmentForm.h"
#include "win/DialogDriver.h"

namespace corvane::test {
namespace {

using win::TSetEnvironmentForm;

RECT ClientRectOf(HWND dialog, int id) {
    RECT r{};
    GetWindowRect(GetDlgItem(dialog, id), &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

int Px(int designed) { return MulDiv(designed, win::SystemDpi(), 96); }

Settings SampleSettings() {
    Settings s;
    s.PopupNotifyWindow = true;
    s.NotifyResourceAccess = false;
    s.PopupNotifyWindowByTray = false;
    s.NotifyResourceAccessByTray = true;
    s.NotifyConnectSessionBySound = true;
    s.NotifyResourceAccessBySound = false;
    s.SoundFileName = "C:\\音\\access.wav";
    s.SoundFileNameConnectSession = "C:\\音\\connect.wav";
    s.IgnoreSharedResource = true;
    s.IgnoreLocalConnection = false;
    s.IgnoreAutoRefresh = true;
    s.DisconnectConnTime = 3600;
    s.DisconnectIdleTime = -1;
    s.ExitMessage = false;
    s.DisconnectMessage = true;
    s.IgnoreFileCloseMessage = true;
    s.CloseIsMinimize = true;
    s.MaxLogSize = 2048;
    s.WriteEventLog = true;
    return s;
}

TEST(SetEnvironmentFormTest, ShowsTheRecordKeepsBadNumbersAndStoresGoodOnes) {
    const Settings record = SampleSettings();
    TSetEnvironmentForm form(record);
    using F = TSetEnvironmentForm;
    HWND dialog = nullptr;
    std::vector<std::wstring> shown;
    std::vector<std::wstring> kept;   // the entry still in the field after each warning
    std::vector<RECT> places;
    struct Label {
        RECT label, field;
        int textWidth;
    };
    std::vector<Label> labels;  // connection time, idle time, log size, access sound
    RECT group{};
    std::vector<int> tabOrder;
    SIZE client{};

    std::vector<DialogDriver::Step> steps = {[&] {
        dialog = FindThreadDialog(L"環境設定");
        if (!dialog) return false;
        RECT c{};
        GetClientRect(dialog, &c);
        client = {c.right, c.bottom};
        for (int id : std::initializer_list<int>{F::kCheckBoxNotifyConnectSession, F::kButtonOpenWaveFile,
                       F::kCheckBoxWriteEventLog, IDOK, IDCANCEL})
            places.push_back(ClientRectOf(dialog, id));
        group = ClientRectOf(dialog, F::kGroupBox1);
        for (auto [label, edit] : {std::pair{F::kLabelDisconnectConnTime, F::kEditDisconnectConnTime},
                                   std::pair{F::kLabelDisconnectIdleTime, F::kEditDisconnectIdleTime},
                                   std::pair{F::kLabelMaxLogSize, F::kEditMaxLogSize},
                                   std::pair{F::kCheckBoxNotifyResourceAccessBySound, F::kEditWaveFileName}}) {
            HWND control = GetDlgItem(dialog, label);
            const std::wstring text = ControlText(dialog, label);
            HDC dc = GetDC(control);
            HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
            SIZE extent{};
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
            SelectObject(dc, old);
            ReleaseDC(control, dc);
            labels.push_back({ClientRectOf(dialog, label), ClientRectOf(dialog, edit), extent.cx});
        }
        for (HWND at = GetNextDlgTabItem(dialog, nullptr, FALSE), first = at; at;) {
            tabOrder.push_back(GetDlgCtrlID(at));
            at = GetNextDlgTabItem(dialog, at, FALSE);
            if (at == first) break;
        }
        for (int id = F::kCheckBoxNotifyConnectSession; id <= F::kCheckBoxWriteEventLog; ++id) {
            wchar_t cls[16] = {};
            GetClassNameW(GetDlgItem(dialog, id), cls, 16);
            shown.push_back(std::wstring(cls) == L"Edit" ? ControlText(dialog, id)
                                                          : std::to_wstring(IsDlgButtonChecked(dialog, id)));
        }
        return true;
    }};
    // Each bad entry: OK warns, the dialog stays with the entry.
    for (const wchar_t* bad : {L"abc", L"", L"99999999999", L"60 "}) {
        steps.push_back([&, bad] {
            SetDlgItemTextW(dialog, F::kEditDisconnectIdleTime, bad);
            PostCommand(dialog, IDOK);
            return true;
        });
        steps.push_back([&] {
            HWND warning = FindThreadDialog(L"Corvane");
            if (!warning) return false;
            EXPECT_EQ(ControlText(warning, win::kMessageDlgTextId), L"設定が間違っています。");
            PostCommand(warning, IDOK);
            return true;
        });
        steps.push_back([&] {
            if (FindThreadDialog(L"Corvane")) return false;
            EXPECT_TRUE(IsWindowVisible(dialog));
            kept.push_back(ControlText(dialog, F::kEditDisconnectIdleTime));
            return true;
        });
    }
    steps.push_back([&] {
        SetDlgItemTextW(dialog, F::kEditDisconnectConnTime, L"-5");
        SetDlgItemTextW(dialog, F::kEditDisconnectIdleTime, L"$3C");
        SetDlgItemTextW(dialog, F::kEditMaxLogSize, L" 0x3C");
        CheckDlgButton(dialog, F::kCheckBoxExitMessage, BST_CHECKED);
        CheckDlgButton(dialog, F::kCheckBoxWriteEventLog, BST_UNCHECKED);
        SetDlgItemTextW(dialog, F::kEditWaveFileName, L"");
        PostCommand(dialog, IDOK);
        return true;
    });
    DialogDriver driver(std::move(steps));
    EXPECT_EQ(form.ShowModal(nullptr), IDOK);
    ASSERT_TRUE(driver.Finished());
    ASSERT_FALSE(driver.TimedOut()) << "step " << driver.StepsDone();

    EXPECT_EQ(client.cx, Px(455));
    EXPECT_EQ(client.cy, Px(507));
    const std::vector<std::wstring> expectedShown = {
        L"1", L"0", L"0", L"1", L"1", L"C:\\音\\connect.wav", L"0", L"0", L"C:\\音\\access.wav", L"0", L"1", L"0",
        L"0", L"3600", L"-1", L"0", L"1", L"1", L"1", L"1", L"2048", L"1"};
    EXPECT_EQ(shown, expectedShown);
    const std::vector<RECT> expectedPlaces = {
        {Px(8), Px(8), Px(8 + 440), Px(8 + 17)},        {Px(400), Px(126), Px(449), Px(147)},
        {Px(8), Px(442), Px(8 + 440), Px(442 + 17)},
        {Px(135), Px(472), Px(216), Px(497)},           {Px(239), Px(472), Px(320), Px(497)}};
    ASSERT_EQ(places.size(), expectedPlaces.size());
    for (std::size_t i = 0; i < places.size(); ++i) EXPECT_TRUE(EqualRect(&places[i], &expectedPlaces[i])) << i;
    // Every label holds its whole text (a check box also its box) left of its
    // field, the fields stay in the dialog, and the two time labels and
    // fields lie inside their group box.
    ASSERT_EQ(labels.size(), 4u);
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const Label& l = labels[i];
        SCOPED_TRACE(i);
        EXPECT_GT(l.textWidth, 0);
        EXPECT_LE(l.textWidth + (i == 3 ? Px(16) : 0), l.label.right - l.label.left);
        EXPECT_LE(l.label.right, l.field.left);
        EXPECT_LE(l.field.right, client.cx);
        if (i < 2) {
            EXPECT_GT(l.label.left, group.left);
            EXPECT_LT(l.field.right, group.right);
        }
    }
    EXPECT_LE(group.right, client.cx);
    std::vector<int> expectedOrder;
    for (int id = F::kCheckBoxNotifyConnectSession; id <= F::kCheckBoxWriteEventLog; ++id)
        if (id != F::kGroupBox1) expectedOrder.push_back(id);
    expectedOrder.push_back(IDOK);
    expectedOrder.push_back(IDCANCEL);
    EXPECT_EQ(tabOrder, expectedOrder);
    EXPECT_EQ(kept, (std::vector<std::wstring>{L"abc", L"", L"99999999999", L"60 "}));

    Settings stored = record;
    stored.Sort = 4;
    form.ApplyTo(stored);
    EXPECT_EQ(stored.DisconnectConnTime, -5);
    EXPECT_EQ(stored.DisconnectIdleTime, 60);
    EXPECT_EQ(stored.MaxLogSize, 60);
    EXPECT_TRUE(stored.ExitMessage);
    EXPECT_FALSE(stored.WriteEventLog);
    EXPECT_EQ(stored.SoundFileName, "");
    EXPECT_EQ(stored.SoundFileNameConnectSession, "C:\\音\\connect.wav");
    EXPECT_TRUE(stored.DisconnectMessage);
    EXPECT_TRUE(stored.IgnoreFileCloseMessage);
    EXPECT_EQ(stored.Sort, 4);  // not the dialog's
}

TEST(SetEnvironmentFormTest, BothBrowseButtonsShareTheFileDialog) {
    static std::vector<std::wstring> startedFrom;
    static std::vector<std::wstring> answers;
    startedFrom.clear();
    answers = {L"C:\\a\\first.wav", L""};  // the second browse is cancelled
    TSetEnvironmentForm::openWaveFile = [](HWND, std::wstring& file) {
        startedFrom.push_back(file);
        const std::wstring answer = answers[startedFrom.size() - 1];
        if (answer.empty()) return false;
        file = answer;
        return true;
    };
    TSetEnvironmentForm form(SampleSettings());
    using F = TSetEnvironmentForm;
    std::wstring connect, access;
    DialogDriver driver({[&] {
        HWND dialog = FindThreadDialog(L"環境設定");
        if (!dialog) return false;
        SendMessageW(dialog, WM_COMMAND, F::kButtonOpenWaveFileConnectSession, 0);
        SendMessageW(dialog, WM_COMMAND, F::kButtonOpenWaveFile, 0);
        connect = ControlText(dialog, F::kEditWaveFileNameConnectSession);
        access = ControlText(dialog, F::kEditWaveFileName);
        PostCommand(dialog, IDCANCEL);
        return true;
    }});
    EXPECT_EQ(form.ShowModal(nullptr), IDCANCEL);
    TSetEnvironmentForm::openWaveFile = &win::OpenDialogWaveFile;
    ASSERT_FALSE(driver.TimedOut());
    EXPECT_EQ(startedFrom, (std::vector<std::wstring>{L"", L"C:\\a\\first.wav"}));
    EXPECT_EQ(connect, L"C:\\a\\first.wav");
    EXPECT_EQ(access, L"C:\\音\\access.wav");  // cancelled: unchanged
}

// A plain top-level window to centre a box over.
class OwnerWindow {
public:
    OwnerWindow(int left, int top, int width, int height) {
        window_ = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, left, top, width, height,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~OwnerWindow() { DestroyWindow(window_); }
    HWND get() const { return window_; }

private:
    HWND window_;
};

struct BoxSeen {
    RECT rect{};
    std::wstring yes, no;
    LRESULT defaultId = 0;
};

// Shows a confirmation over `owner`, looks at it, then presses `key`.
int AskAndAnswer(HWND owner, const std::wstring& expectCaption, WPARAM key, BoxSeen& seen, bool& timedOut) {
    DialogDriver driver({[&] {
        HWND box = FindThreadDialog(expectCaption);
        if (!box) return false;
        GetWindowRect(box, &seen.rect);
        seen.yes = ControlText(box, IDYES);
        seen.no = ControlText(box, IDNO);
        seen.defaultId = LOWORD(SendMessageW(box, DM_GETDEFID, 0, 0));
        // A key press as the box's loop gets it.
        PostMessageW(GetFocus(), WM_KEYDOWN, key, 0);
        return true;
    }});
    const int answer = win::CenteredMessageDlg(owner, "Corvaneを終了してもいいですか?", "Corvane",
                                               win::TMsgDlgType::mtConfirmation, win::TMsgDlgButtons::mbYesNo);
    timedOut = driver.TimedOut();
    return answer;
}

TEST(CenteredMessageDlgTest, CentresOverTheWindowOrTheScreenAndOnlyYesConsents) {
    struct Case {
        int left, top, width, height;
        bool minimise;
        WPARAM key;
        int answer;
    };
    const Case cases[] = {
        {100, 120, 701, 501, false, VK_ESCAPE, IDNO},  // larger than the box
        {300, 300, 121, 61, false, VK_RETURN, IDYES},  // smaller: the box extends past it evenly
        {100, 100, 400, 300, true, VK_ESCAPE, IDNO},   // minimised: over the screen, "確認"
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        OwnerWindow owner(c.left, c.top, c.width, c.height);
        if (c.minimise) ShowWindow(owner.get(), SW_MINIMIZE);
        RECT over{};
        if (c.minimise)
            SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
        else
            GetWindowRect(owner.get(), &over);
        BoxSeen seen;
        bool timedOut = false;
        EXPECT_EQ(AskAndAnswer(owner.get(), c.minimise ? L"確認" : L"Corvane", c.key, seen, timedOut), c.answer);
        ASSERT_FALSE(timedOut);
        const auto at = app::CenteredOver(over.left, over.top, over.right, over.bottom, seen.rect.right - seen.rect.left,
                                          seen.rect.bottom - seen.rect.top);
        EXPECT_EQ(seen.rect.left, at.x);
        EXPECT_EQ(seen.rect.top, at.y);
        EXPECT_EQ(seen.yes, L"はい(&Y)");
        EXPECT_EQ(seen.no, L"いいえ(&N)");
        EXPECT_EQ(seen.defaultId, IDYES);
    }
}

TEST(UrlLabelTest, LooksFollowHoverAndPressAndAPressOpensTheText) {
    SetCursorPos(0, 0);  // away from where the box appears
    win::TAboutForm box;
    std::vector<std::wstring> opened;
    box.UrlLabel().OpenWithShell = [&](HWND, const std::wstring& text) { opened.push_back(text); };
    struct Look {
        COLORREF color;
        win::TFontStyles style;
    };
    std::vector<Look> looks;
    std::vector<std::wstring> texts;
    DialogDriver driver({[&] {
        HWND dialog = FindThreadDialog(L"バージョン情報");
        if (!dialog) return false;
        for (int id : std::initializer_list<int>{IDOK, win::TAboutForm::kLabel1, win::TAboutForm::kLabel2, win::TAboutForm::kUrlLabel})
            texts.push_back(ControlText(dialog, id));
        auto& label = box.UrlLabel();
        HWND hwnd = label.Handle();
        auto look = [&] { looks.push_back({label.FontColor(), label.FontStyle()}); };
        look();                                          // normal
        SendMessageW(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
        look();                                          // hot
        SendMessageW(hwnd, WM_RBUTTONDOWN, 0, MAKELPARAM(2, 2));
        look();                                          // pressed, with any button
        RECT r{};
        GetWindowRect(hwnd, &r);
        SetCursorPos(r.left + 3, r.top + 3);
        SendMessageW(hwnd, WM_RBUTTONUP, 0, MAKELPARAM(2, 2));
        look();                                          // released over it: hot
        SetCursorPos(r.right + 40, r.bottom + 40);
        SendMessageW(hwnd, WM_LBUTTONDOWN, 0, MAKELPARAM(2, 2));
        SendMessageW(hwnd, WM_LBUTTONUP, 0, 0);
        look();                                          // released elsewhere: normal
        label.HotTrack = false;
        SendMessageW(hwnd, WM_LBUTTONDOWN, 0, MAKELPARAM(2, 2));
        look();                                          // no tracking: unchanged, still opens
        SendMessageW(hwnd, WM_LBUTTONUP, 0, 0);
        PostCommand(dialog, IDOK);
        return true;
    }});
    EXPECT_EQ(box.ShowModal(nullptr), IDOK);
    ASSERT_FALSE(driver.TimedOut());
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"OK", L"Corvane ver1.19", win::kAboutSecondLine,
                                                win::kProgramPageAddress}));
    const COLORREF normal = GetSysColor(COLOR_WINDOWTEXT);
    const std::vector<std::pair<COLORREF, win::TFontStyles>> expected = {
        {normal, 0u},
        {RGB(0, 0, 255), win::fsUnderline},
        {RGB(255, 0, 0), win::fsUnderline},
        {RGB(0, 0, 255), win::fsUnderline},
        {normal, 0u},
        {normal, 0u},
    };
    ASSERT_EQ(looks.size(), expected.size());
    for (std::size_t i = 0; i < looks.size(); ++i) {
        EXPECT_EQ(looks[i].color, expected[i].first) << i;
        EXPECT_EQ(looks[i].style, expected[i].second) << i;
    }
    EXPECT_EQ(opened, (std::vector<std::wstring>(3, win::kProgramPageAddress)));
}

}  // namespace
}  // namespace corvane::test
