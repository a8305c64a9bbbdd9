// The main window's tray icon in the real notification area: its menu, the
// blinking a click stops, and minimising to the tray and back.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "WinTestSupport.h"
#include "support/SimServerControl.h"
#include "win/app/CorvaneForm.h"

namespace corvane::test {
namespace {

class MainWindowTrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        control.Reset();
        for (const char* name : {"Corvane.ini", "CorvaneLog.txt"})
            std::filesystem::remove(ProgramFolder() / name);
        form = std::make_unique<win::TCorvaneForm>();
        ASSERT_TRUE(form->Create());
        form->Show(SW_SHOWNORMAL);
        tray = form->TrayIcon();
    }
    void TearDown() override {
        if (form->Handle()) DestroyWindow(form->Handle());
        form.reset();
        MSG msg;
        while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
    void Mouse(LPARAM message) {
        SendMessageW(tray->TaskTrayIcon().Handle(), win::kTrayCallbackMessage, 1, message);
    }

    SimServerControl control{ProgramFolder()};
    std::unique_ptr<win::TCorvaneForm> form;
    win::TTrayIcon* tray = nullptr;
};

TEST_F(MainWindowTrayTest, IconIsConfiguredAndShown) {
    EXPECT_TRUE(tray->TaskTrayIcon().Registered());
    EXPECT_EQ(tray->TipHelp(), "Corvane");
    EXPECT_TRUE(tray->HideOnTaskBar);
    EXPECT_EQ(tray->Interval(), 0u);
    ASSERT_EQ(tray->RButtonPopupMenu, form->TrayMenu());
    const wchar_t* items[] = {L"ログファイルを開く(&L)", L"環境設定(&E)", L"バージョン情報", L"終了(&X)"};
    ASSERT_EQ(GetMenuItemCount(form->TrayMenu()), 4);
    for (int i = 0; i < 4; ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(form->TrayMenu(), static_cast<UINT>(i), text, 64, MF_BYPOSITION);
        EXPECT_STREQ(text, items[i]);
    }
}

TEST_F(MainWindowTrayTest, ClickStopsTheBlinking) {
    form->Notifier().StartIconAnimation(500);
    EXPECT_EQ(tray->Interval(), 500u);
    EXPECT_TRUE(tray->AnimationRunning());
    Mouse(WM_LBUTTONDOWN);
    Mouse(WM_LBUTTONUP);
    ASSERT_TRUE(PumpUntil([&] { return tray->Interval() == 0; }));
    EXPECT_FALSE(tray->OnIconAnimation);
    EXPECT_EQ(tray->Icon(), nullptr);  // the program's own icon again
    EXPECT_FALSE(tray->AnimationRunning());
}

TEST_F(MainWindowTrayTest, MinimisedProgramHasOnlyItsIconAndADoubleClickBringsItBack) {
    ShowWindow(form->Handle(), SW_MINIMIZE);
    EXPECT_FALSE(IsWindowVisible(form->Handle()));
    EXPECT_TRUE(tray->TaskTrayIcon().Registered());

    form->Notifier().StartIconAnimation(500);
    Mouse(WM_LBUTTONDOWN);
    Mouse(WM_LBUTTONUP);
    Mouse(WM_LBUTTONDBLCLK);
    Mouse(WM_LBUTTONUP);
    ASSERT_TRUE(PumpUntil([&] { return IsWindowVisible(form->Handle()) && !IsIconic(form->Handle()); }));
    EXPECT_EQ(tray->Interval(), 0u);
}

TEST_F(MainWindowTrayTest, LogThatCannotBeOpenedGivesAnErrorBalloon) {
    ASSERT_FALSE(std::filesystem::exists(ProgramFolder() / "CorvaneLog.txt"));
    form->ActionOpenLogFileExecute();
    EXPECT_EQ(tray->BalloonHelpTitle(), "LogFile Error Message");
    EXPECT_EQ(tray->BalloonHelpIcon(), TBalloonIconType::bitError);
    EXPECT_NE(tray->BalloonHelpText().find("CorvaneLog.txt"), std::string::npos);
}

std::string StatusText(HWND bar) {
    wchar_t text[512] = {};
    GetWindowTextW(bar, text, 512);
    return win::Narrow(text);
}

// A server that refuses its lists is named in the status bar and, once per
// time of failing, in a warning balloon; a pass that works clears it.
TEST_F(MainWindowTrayTest, FailingEnumerationsAreShownOnceAndClearedWhenWatchingWorks) {
    const auto passesLater = [&](int passes) {
        const auto start = control.Counters().SessionEnums();
        return PumpUntil([&] { return control.Counters().SessionEnums() >= start + passes; }, 10000);
    };
    const auto balloonTitle = std::string("共有リソースを監視できません");
    struct Step {
        std::uint32_t sessionStatus, fileStatus;
        const char* shown;  // part of the status bar's text; empty: cleared
        bool balloon;       // a new warning balloon in this step
    };
    const Step steps[] = {
        {5, 0, "セッションの一覧を取得できません。", true},
        {5, 0, "(エラー 5) 管理者として実行してください。", false},  // lasting: no second balloon
        {0, 0, "", false},
        {2114, 0, "(エラー 2114)", true},
        {0, 0, "", false},
        {0, 5, "共有リソースの一覧を取得できません。", true},
    };
    for (const Step& step : steps) {
        tray->SetBalloonHelpTitle("");
        control.SetSessionStatus(step.sessionStatus);
        control.SetFileStatus(step.fileStatus);
        // The line changes within a few passes; then a few more show whether
        // the balloon comes again.
        PumpUntil([&] {
            const std::string now = StatusText(form->StatusBar());
            return *step.shown ? now.find(step.shown) != std::string::npos : now.empty();
        }, 10000);
        ASSERT_TRUE(passesLater(3));
        const std::string text = StatusText(form->StatusBar());
        if (*step.shown) {
            EXPECT_NE(text.find(step.shown), std::string::npos) << text;
            EXPECT_GT(text.size(), std::string(step.shown).size() + 20) << "the system's reason is missing: " << text;
        } else {
            EXPECT_EQ(text, "");
        }
        EXPECT_EQ(tray->BalloonHelpTitle(), step.balloon ? balloonTitle : "") << step.sessionStatus;
        if (step.balloon) {
            EXPECT_EQ(tray->BalloonHelpIcon(), TBalloonIconType::bitWarning);
        }
    }
}

// The shell's side of "open": what it was asked, and its answer.
struct RecordingShell : IShellOpener {
    std::vector<std::string>& asked;
    int answer;
    RecordingShell(std::vector<std::string>& log, int result) : asked(log), answer(result) {}
    int Open(const std::string& path) override {
        asked.push_back(path);
        return answer;
    }
};

TEST_F(MainWindowTrayTest, GuideInTheHelpMenuAsksTheShellForTheHtmlGuideBesideTheProgram) {
    HMENU help = GetSubMenu(GetMenu(form->Handle()), GetMenuItemCount(GetMenu(form->Handle())) - 1);
    const std::string guide = win::Narrow((ProgramFolder() / "README.ja.html").wstring());

    std::vector<std::string> asked;
    form->UseShell(std::make_unique<RecordingShell>(asked, 42));
    SendMessageW(form->Handle(), WM_COMMAND, MAKEWPARAM(GetMenuItemID(help, 0), 0), 0);
    EXPECT_EQ(asked, std::vector<std::string>{guide});
    EXPECT_EQ(tray->BalloonHelpTitle(), "");

    // No guide there (a program copied alone): the balloon names the path.
    form->UseShell(std::make_unique<RecordingShell>(asked, SE_ERR_FNF));
    SendMessageW(form->Handle(), WM_COMMAND, MAKEWPARAM(GetMenuItemID(help, 0), 0), 0);
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(tray->BalloonHelpTitle(), "利用ガイド");
    EXPECT_EQ(tray->BalloonHelpText(), "以下のパスオープンに失敗しました(2)\r\n\r\n" + guide);
}

}  // namespace
}  // namespace corvane::test
