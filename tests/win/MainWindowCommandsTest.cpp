// The main window's session commands and dialogs against the simulated server.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "WinTestSupport.h"
#include "support/SimServerControl.h"
#include "support/TestFiles.h"
#include "win/ui/Dpi.h"
#include "win/DialogDriver.h"
#include "win/app/CenteredMessageDlg.h"
#include "win/app/CorvaneForm.h"
#include "win/app/InputSendMessageForm.h"
#include "win/app/SetEnvironmentForm.h"

namespace corvane::test {
namespace {

class MainWindowCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        control.Reset();
        for (const char* name : {"Corvane.ini", "CorvaneLog.txt", "CorvaneLog.txt.bak"})
            fs::remove(ProgramFolder() / name);
    }
    void TearDown() override {
        if (form && form->Handle()) DestroyWindow(form->Handle());
        form.reset();
        MSG msg;
        while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
    void SetIni(const wchar_t* key, const wchar_t* value) {
        WritePrivateProfileStringW(L"Environment", key, value, ini.wstring().c_str());
    }
    // Starts with the sessions listed and every row selected.
    void StartWithSelectedSessions(std::vector<SimSession> sessions) {
        const auto count = static_cast<int>(sessions.size());
        control.SetSessions(std::move(sessions));
        control.SetDeleteRemovesSession(false);
        form = std::make_unique<win::TCorvaneForm>();
        ASSERT_TRUE(form->Create());
        form->Show(SW_SHOWNORMAL);
        form->ActionRefreshExecute();
        ASSERT_TRUE(PumpUntil([&] { return ListView_GetItemCount(form->SessionList()) == count; }));
        ASSERT_TRUE(PumpUntil([&] { return !form->RefreshRequested(); }));
        for (int i = 0; i < count; ++i) ListView_SetItemState(form->SessionList(), i, LVIS_SELECTED, LVIS_SELECTED);
    }
    // The dialog guard as the tray menu and the main menu see it.
    bool GuardHolds() {
        return form->DialogOpen() && !form->ActionEnabled(win::kActionAbout) &&
               !form->ActionEnabled(win::kActionSetEnvironment) && form->ActionEnabled(win::kActionExit);
    }

    SimServerControl control{ProgramFolder()};
    fs::path ini = ProgramFolder() / "Corvane.ini";
    std::unique_ptr<win::TCorvaneForm> form;
};

TEST_F(MainWindowCommandsTest, DisconnectEndsEverySelectedSessionAndDeselectsIt) {
    StartWithSelectedSessions({{std::string("PC01"), std::string("太郎"), 1, 1, 1},
                               {std::string("PC02"), std::string("Hanako"), 1, 1, 1}});
    EXPECT_TRUE(form->ActionEnabled(win::kActionSessionDisconnect));
    form->ActionSessionDisconnectExecute();
    const auto dels = control.Calls().sessionDels;
    ASSERT_EQ(dels.size(), 2u);
    EXPECT_EQ(dels[0].clientName, std::string("\\\\PC01"));
    EXPECT_EQ(dels[0].userName, std::string("太郎"));
    EXPECT_EQ(dels[0].server, std::nullopt);
    EXPECT_EQ(dels[1].clientName, std::string("\\\\PC02"));
    EXPECT_EQ(ListView_GetSelectedCount(form->SessionList()), 0u);
    EXPECT_EQ(ListView_GetItemCount(form->SessionList()), 2);  // until a scan removes them
    EXPECT_FALSE(form->ActionEnabled(win::kActionSessionDisconnect));
    EXPECT_FALSE(form->ActionEnabled(win::kActionSendMessage));
}

TEST_F(MainWindowCommandsTest, DisconnectAsksFirstWhenSetAndNoKeepsTheSessions) {
    SetIni(L"DisconnectMessage", L"1");
    StartWithSelectedSessions({{std::string("PC01"), std::string("Taro"), 1, 1, 1}});
    std::wstring question;
    DialogDriver driver({[&] {
        HWND box = FindThreadDialog(L"Corvane");
        if (!box) return false;
        question = ControlText(box, win::kMessageDlgTextId);
        PostCommand(box, IDCANCEL);  // Escape
        return true;
    }});
    form->ActionSessionDisconnectExecute();
    ASSERT_FALSE(driver.TimedOut());
    EXPECT_EQ(question, L"選択したセッションを切断してもいいですか?");
    EXPECT_TRUE(control.Calls().sessionDels.empty());
    EXPECT_EQ(ListView_GetSelectedCount(form->SessionList()), 1u);
}

TEST_F(MainWindowCommandsTest, SendMessageSendsTheTextsByteLengthToEverySelectedComputer) {
    StartWithSelectedSessions({{std::string("PC01"), std::string("Taro"), 1, 1, 1},
                               {std::string("PC02"), std::string("Jiro"), 1, 1, 1}});
    for (const wchar_t* text : {L"本日は早めに終了する", L""}) {
        bool guarded = false;
        SIZE client{};
        DialogDriver driver({[&] {
            HWND dialog = FindThreadDialog(L"送信メッセージ入力");
            if (!dialog) return false;
            guarded = GuardHolds();
            RECT c{};
            GetClientRect(dialog, &c);
            client = {c.right, c.bottom};
            SetDlgItemTextW(dialog, win::TInputSendMessageForm::kEditMessage, text);
            PostCommand(dialog, IDOK);
            return true;
        }});
        form->ActionSendMessageExecute();
        ASSERT_FALSE(driver.TimedOut());
        EXPECT_TRUE(guarded);
        EXPECT_EQ(client.cx, MulDiv(315, win::SystemDpi(), 96));
        EXPECT_EQ(client.cy, MulDiv(75, win::SystemDpi(), 96));
        EXPECT_FALSE(form->DialogOpen());
        EXPECT_TRUE(IsWindowEnabled(form->Handle()));
    }
    const auto sends = control.Calls().messageSends;
    ASSERT_EQ(sends.size(), 4u);
    EXPECT_EQ(sends[0].msgName, std::string("PC01"));
    EXPECT_EQ(sends[1].msgName, std::string("PC02"));
    EXPECT_EQ(sends[0].text, std::string("本日は早めに終了する"));
    EXPECT_EQ(sends[0].byteLength, 20u);  // ten characters, no terminator
    EXPECT_EQ(sends[0].fromName, std::nullopt);
    EXPECT_EQ(sends[2].byteLength, 0u);
    EXPECT_EQ(sends[2].text, std::nullopt);  // no buffer

    // Cancel sends nothing.
    DialogDriver cancel({[&] {
        HWND dialog = FindThreadDialog(L"送信メッセージ入力");
        if (!dialog) return false;
        SetDlgItemTextW(dialog, win::TInputSendMessageForm::kEditMessage, L"x");
        PostCommand(dialog, IDCANCEL);
        return true;
    }});
    form->ActionSendMessageExecute();
    EXPECT_EQ(control.Calls().messageSends.size(), 4u);
}

TEST_F(MainWindowCommandsTest, SettingsCancelWritesNothingAndOkSavesAtOnce) {
    SetIni(L"IsSecond", L"1");
    SetIni(L"DisconnectIdleTime", L"30");
    StartWithSelectedSessions({});
    const std::string before = ReadBytes(ini);
    bool guarded = false;
    std::wstring idleShown;
    DialogDriver cancel({[&] {
        HWND dialog = FindThreadDialog(L"環境設定");
        if (!dialog) return false;
        guarded = GuardHolds();
        idleShown = ControlText(dialog, win::TSetEnvironmentForm::kEditDisconnectIdleTime);
        CheckDlgButton(dialog, win::TSetEnvironmentForm::kCheckBoxExitMessage, BST_CHECKED);
        PostCommand(dialog, IDCANCEL);
        return true;
    }});
    form->ActionSetEnvironmentExecute();
    ASSERT_FALSE(cancel.TimedOut());
    EXPECT_TRUE(guarded);
    EXPECT_EQ(idleShown, L"30");
    EXPECT_FALSE(form->SettingsRecord().ExitMessage);
    EXPECT_EQ(ReadBytes(ini), before);
    EXPECT_FALSE(form->DialogOpen());
    EXPECT_TRUE(form->ActionEnabled(win::kActionAbout));

    DialogDriver ok({[&] {
        HWND dialog = FindThreadDialog(L"環境設定");
        if (!dialog) return false;
        SetDlgItemTextW(dialog, win::TSetEnvironmentForm::kEditDisconnectIdleTime, L"0x3C");
        PostCommand(dialog, IDOK);
        return true;
    }});
    form->ActionSetEnvironmentExecute();
    ASSERT_FALSE(ok.TimedOut());
    EXPECT_EQ(form->SettingsRecord().DisconnectIdleTime, 60);
    wchar_t stored[32] = {};
    GetPrivateProfileStringW(L"Environment", L"DisconnectIdleTime", L"", stored, 32, ini.wstring().c_str());
    EXPECT_STREQ(stored, L"60");
}

TEST_F(MainWindowCommandsTest, AboutHoldsTheDialogGuard) {
    StartWithSelectedSessions({});
    bool guarded = false;
    DialogDriver driver({[&] {
        HWND dialog = FindThreadDialog(L"バージョン情報");
        if (!dialog) return false;
        guarded = GuardHolds();
        PostCommand(dialog, IDOK);
        return true;
    }});
    SendMessageW(form->Handle(), WM_COMMAND, win::kActionAbout, 0);  // as the menu does
    ASSERT_FALSE(driver.TimedOut());
    EXPECT_TRUE(driver.Finished());
    EXPECT_TRUE(guarded);
    EXPECT_FALSE(form->DialogOpen());
}

TEST_F(MainWindowCommandsTest, CloseDuringTheExitQuestionAnsweredNoLeavesTheWindowOpenAndAsksNothingMore) {
    SetIni(L"IsSecond", L"1");
    SetIni(L"ExitMessage", L"1");
    StartWithSelectedSessions({});
    HWND hwnd = form->Handle();
    int questions = 0;
    auto answerNo = [&](bool closeAgain) {
        return [&, closeAgain] {
            HWND box = FindThreadDialog(L"Corvane");
            if (!box || ChildTexts(box).find(L"終了してもいいですか") == std::wstring::npos) return false;
            ++questions;
            if (closeAgain) SendMessageW(hwnd, WM_CLOSE, 0, 0);
            PostCommand(box, IDNO);
            return true;
        };
    };
    {
        DialogDriver driver({answerNo(true), answerNo(false)});
        SendMessageW(hwnd, WM_CLOSE, 0, 0);  // the close box
        form->Idle();                        // the main loop has the thread back
        PumpFor(1000);
    }
    EXPECT_EQ(questions, 1);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_FALSE(form->ClosePending());
}

TEST_F(MainWindowCommandsTest, CloseRequestsDuringTheExitQuestionAndTearDownAreIgnored) {
    // The settings file starts refusing writes while the exit question is up:
    // the tear-down then shows the refused save in a box whose loop serves a
    // second close request, which must not destroy the window again.
    SetIni(L"IsSecond", L"1");
    SetIni(L"ExitMessage", L"1");
    StartWithSelectedSessions({});
    HWND hwnd = form->Handle();
    std::wstring question, error;
    auto answer = [&](std::wstring& seenText, int button) {
        return [&, seen = &seenText, button] {
            HWND box = FindThreadDialog(L"Corvane");
            if (!box) return false;
            *seen = ChildTexts(box);
            // The question, then the error box (same title): told apart by their text.
            if (seen->find(button == IDYES ? L"終了してもいいですか" : L"書き込めません") == std::wstring::npos)
                return false;
            if (button == IDYES) {
                // From now on every write is refused: a folder in the
                // file's place (the tests may run with rights that ignore
                // a read-only attribute).
                fs::remove(ini);
                fs::create_directory(ini);
                form->SettingsRecord().MaxLogSize = 4096;
            }
            SendMessageW(hwnd, WM_CLOSE, 0, 0);
            PostCommand(box, button);
            return true;
        };
    };
    DialogDriver driver({answer(question, IDYES), answer(error, IDOK)});
    form->ActionExitExecute();
    PumpUntil([&] { return !IsWindow(hwnd); }, 8000);
    fs::remove(ini);
    ASSERT_TRUE(driver.Finished() && !driver.TimedOut()) << driver.StepsDone();
    EXPECT_NE(question.find(L"Corvaneを終了してもいいですか?"), std::wstring::npos);
    EXPECT_NE(error.find(ini.wstring() + L" に書き込めません"), std::wstring::npos) << error;
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(form->WatchThreadRunning());
}

}  // namespace
}  // namespace corvane::test
