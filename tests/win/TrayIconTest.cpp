// The notification icon layer and the tray component, driven with real window
// messages and a scripted shell function in place of the notification area.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <utility>
#include <string>
#include <vector>

#include "WinTestSupport.h"
#include "core/text/Text.h"
#include "win/tray/TrayIcon.h"
#include "win/ui/MainThreadRunner.h"

namespace corvane::test {
namespace {

using win::TTaskTrayIcon;
using win::TTrayIcon;

struct ShellCall {
    DWORD message;
    NOTIFYICONDATAW data;
};

// The notification area: answers from a script, success once it runs out.
struct FakeShell : win::IShellNotify {
    struct Answer {
        bool ok;
        DWORD error;
    };
    std::deque<Answer> script;
    std::vector<ShellCall> calls;
    std::function<void()> during;  // runs once inside the next call, as a handed-over call would
    bool Notify(DWORD message, NOTIFYICONDATAW& data, DWORD& lastError) override {
        calls.push_back({message, data});
        if (auto hook = std::exchange(during, nullptr)) hook();
        Answer answer{true, 0};
        if (!script.empty()) {
            answer = script.front();
            script.pop_front();
        }
        lastError = answer.ok ? 0 : answer.error;
        return answer.ok;
    }
    int Count(DWORD message) const {
        int n = 0;
        for (const auto& c : calls) n += c.message == message;
        return n;
    }
};

struct RecordingSleeper : ISleeper {
    std::vector<unsigned> pauses;
    void Sleep(unsigned ms) override { pauses.push_back(ms); }
};

constexpr DWORD kNewShell = 6u << 16, kOldShell = 4u << 16;

std::string Cp932(const std::wstring& field) { return text::Utf8ToCp932(win::Narrow(field)); }

// A solid 16 x 16 icon of one colour, so frames can be told apart.
win::UniqueIcon SolidIcon(COLORREF colour) {
    std::vector<BYTE> andMask(16 * 16 / 8, 0);
    std::vector<DWORD> pixels(16 * 16, 0xFF000000u | (GetRValue(colour) << 16) | (GetGValue(colour) << 8) |
                                           GetBValue(colour));
    HBITMAP mask = CreateBitmap(16, 16, 1, 1, andMask.data());
    HBITMAP colourBits = CreateBitmap(16, 16, 1, 32, pixels.data());
    ICONINFO info{TRUE, 0, 0, mask, colourBits};
    win::UniqueIcon icon(CreateIconIndirect(&info));
    DeleteObject(mask);
    DeleteObject(colourBits);
    return icon;
}

// The colour in the middle of an icon.
COLORREF IconColour(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return CLR_INVALID;
    BITMAPINFO bi = win::TopDownDib32(16, 16);
    std::vector<DWORD> pixels(16 * 16);
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, info.hbmColor, 0, 16, pixels.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    const DWORD p = pixels[8 * 16 + 8];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

class TrayLayerTest : public ::testing::Test {
protected:
    // A fresh icon talking to a fresh shell.
    TTaskTrayIcon& Make(DWORD version) {
        tray.reset();
        shell = FakeShell{};
        sleeper = RecordingSleeper{};
        tray = std::make_unique<TTaskTrayIcon>(win::TrayServices{&shell, &sleeper, version});
        tray->SetIconHandle(appIcon);
        return *tray;
    }
    FakeShell shell;
    RecordingSleeper sleeper;
    HICON appIcon = LoadIconW(nullptr, IDI_APPLICATION);
    std::unique_ptr<TTaskTrayIcon> tray;
};

TEST_F(TrayLayerTest, AddRetriesOnlyWhileTheShellTimesOut) {
    struct Case {
        const char* name;
        std::vector<FakeShell::Answer> script;
        const char* error;  // nullptr: registered
        size_t pauses;
        int calls;
    };
    const FakeShell::Answer timeout{false, ERROR_TIMEOUT}, refused{false, ERROR_ACCESS_DENIED}, ok{true, 0};
    std::vector<FakeShell::Answer> always(13, timeout);
    const Case cases[] = {
        {"first add", {ok}, nullptr, 0, 1},
        {"every try times out", always, win::kCannotChangeIcon, 6, 13},
        // add, then (modify, add) twice, then the third retry's modify goes through
        {"third retry", {timeout, timeout, timeout, timeout, timeout, ok}, nullptr, 3, 6},
        {"third retry's add", {timeout, timeout, timeout, timeout, timeout, timeout, ok}, nullptr, 3, 7},
        {"refused", {refused}, win::kCannotRegisterIcon, 0, 1},
        {"time-out, then refused", {timeout, refused, refused}, win::kCannotRegisterIcon, 1, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto& icon = Make(kNewShell);
        shell.script.assign(c.script.begin(), c.script.end());
        if (c.error) {
            try {
                icon.AddIcon();
                ADD_FAILURE() << "no error";
            } catch (const win::ENotifyIconError& e) {
                EXPECT_STREQ(e.what(), c.error);
            }
            EXPECT_FALSE(icon.Registered());
        } else {
            EXPECT_TRUE(icon.AddIcon());
            EXPECT_TRUE(icon.Registered());
        }
        EXPECT_EQ(sleeper.pauses, std::vector<unsigned>(c.pauses, 2000u));
        EXPECT_EQ(static_cast<int>(shell.calls.size()), c.calls);
    }
}

TEST_F(TrayLayerTest, RecordHasTheShellsLayout) {
    for (DWORD version : {kNewShell, kOldShell}) {
        auto& icon = Make(version);
        ASSERT_TRUE(icon.AddIcon());
        const NOTIFYICONDATAW& d = shell.calls.at(0).data;
        EXPECT_EQ(shell.calls[0].message, static_cast<DWORD>(NIM_ADD));
        const DWORD size = version == kNewShell ? NOTIFYICONDATAW_V2_SIZE : NOTIFYICONDATAW_V1_SIZE;
        EXPECT_EQ(d.cbSize, size);
        EXPECT_EQ(d.uID, 1u);
        EXPECT_EQ(d.uCallbackMessage, 1224u);
        EXPECT_EQ(d.uFlags, 7u);
        EXPECT_EQ(d.hWnd, icon.Handle());
        EXPECT_EQ(d.dwState, version == kNewShell ? static_cast<DWORD>(NIS_SHAREDICON) : 0u);
    }
    // No image: nothing is added and nothing is asked of the shell.
    auto& empty = Make(kNewShell);
    empty.SetIconHandle(nullptr);
    EXPECT_FALSE(empty.AddIcon());
    EXPECT_TRUE(shell.calls.empty());
}

TEST_F(TrayLayerTest, ModifyTakesATimeOutAsDoneAndReAddsAfterOtherFailures) {
    auto& icon = Make(kNewShell);
    ASSERT_TRUE(icon.AddIcon());
    shell.script = {{false, ERROR_TIMEOUT}};
    EXPECT_TRUE(icon.ModifyIcon());
    EXPECT_EQ(shell.Count(NIM_ADD), 1);

    shell.script = {{false, ERROR_ACCESS_DENIED}};  // the re-add succeeds
    EXPECT_TRUE(icon.ModifyIcon());
    EXPECT_EQ(shell.Count(NIM_ADD), 2);

    shell.script = {{false, ERROR_ACCESS_DENIED}, {false, ERROR_ACCESS_DENIED}};  // and now it does not
    EXPECT_NO_THROW(EXPECT_FALSE(icon.ModifyIcon()));
    EXPECT_FALSE(icon.Registered());
}

TEST_F(TrayLayerTest, ChangeMadeWhileTheShellAddsIsSentAfterTheAdd) {
    auto& icon = Make(kNewShell);
    icon.SetTipText("Corvane");
    shell.during = [&] {
        icon.SetTipText("Corvane\r\nPC01");
        EXPECT_NO_THROW(icon.ModifyIcon());
    };
    ASSERT_TRUE(icon.AddIcon());
    ASSERT_EQ(shell.calls.size(), 2u);
    EXPECT_EQ(shell.calls[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(shell.calls[1].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(win::Narrow(shell.calls[1].data.szTip), "Corvane\r\nPC01");
}

TEST_F(TrayLayerTest, TipIsCutInCodePage932Bytes) {
    auto& fresh = Make(kNewShell);
    fresh.SetTipText(std::string(200, 'x'));
    EXPECT_EQ(Cp932(fresh.Record().szTip), std::string(127, 'x'));
    // 126 single bytes and a double-byte character that would end at byte 128.
    fresh.SetTipText(std::string(126, 'x') + "あい");
    EXPECT_EQ(Cp932(fresh.Record().szTip), std::string(126, 'x'));
    fresh.SetTipText("Corvane\r\nPC01 (太郎)");
    EXPECT_EQ(fresh.TipText(), "Corvane\r\nPC01 (太郎)");

    auto& old = Make(kOldShell);
    const std::string name = "PC01 (" + std::string(30, 'n') + ")\r\nPC02 (" + std::string(30, 'm') + ")";
    old.SetTipText("Corvane\r\n" + name);
    const std::string oneLine = "Corvane PC01 (" + std::string(30, 'n') + ") PC02 (" + std::string(30, 'm') + ")";
    EXPECT_EQ(old.TipText(), oneLine.substr(0, 63));
}

TEST_F(TrayLayerTest, BalloonNeedsANewShellAndARegisteredIcon) {
    auto& old = Make(kOldShell);
    ASSERT_TRUE(old.AddIcon());
    EXPECT_FALSE(old.ShowBalloon("title", "text", 1000, NIIF_INFO));
    EXPECT_EQ(shell.calls.size(), 1u);

    auto& icon = Make(kNewShell);
    EXPECT_FALSE(icon.ShowBalloon("title", "text", 1000, NIIF_INFO));
    EXPECT_TRUE(shell.calls.empty());

    ASSERT_TRUE(icon.AddIcon());
    EXPECT_TRUE(icon.ShowBalloon("接続", std::string(300, 'b'), 1000, NIIF_ERROR));
    ASSERT_EQ(shell.calls.size(), 3u);
    // A balloon still showing is cleared first, then the new one is shown.
    const NOTIFYICONDATAW& clear = shell.calls[1].data;
    const NOTIFYICONDATAW& show = shell.calls[2].data;
    EXPECT_EQ(clear.uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(clear.szInfo[0], L'\0');
    EXPECT_EQ(show.uFlags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(win::Narrow(show.szInfoTitle), "接続");
    EXPECT_EQ(win::Narrow(show.szInfo), std::string(255, 'b'));
    EXPECT_EQ(show.uTimeout, 1000u);
    EXPECT_EQ(show.dwInfoFlags, static_cast<DWORD>(NIIF_ERROR));
    EXPECT_EQ(icon.Record().uFlags, 7u);
    icon.SetBalloonIcon(9);
    EXPECT_EQ(icon.BalloonIcon(), 0);
}

TEST_F(TrayLayerTest, TaskbarRestartBringsBackOnlyARegisteredIcon) {
    auto& icon = Make(kNewShell);
    icon.SetTipText("Corvane\r\nPC01");
    ASSERT_TRUE(icon.AddIcon());
    const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    PostMessageW(icon.Handle(), taskbarCreated, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return shell.Count(NIM_ADD) == 2; }));
    EXPECT_EQ(win::Narrow(shell.calls.back().data.szTip), "Corvane\r\nPC01");
    EXPECT_TRUE(icon.Registered());

    EXPECT_TRUE(icon.DeleteIcon());
    PostMessageW(icon.Handle(), taskbarCreated, 0, 0);
    PostMessageW(icon.Handle(), WM_NULL, 0, 0);
    PumpFor(200);
    EXPECT_EQ(shell.Count(NIM_ADD), 2);
    EXPECT_FALSE(icon.Registered());
}

// ---------------------------------------------------------------------------
// The component, with the mouse messages the shell would send.

class TrayIconTest : public ::testing::Test {
protected:
    void SetUp() override {
        tray = std::make_unique<TTrayIcon>(nullptr, win::TrayServices{&shell, nullptr, kNewShell});
        tray->SetIcon(blue.get());
        tray->OnMouseDown = [&](win::TMouseButton b, win::TShiftState, int, int) { Log("down", b); };
        tray->OnMouseUp = [&](win::TMouseButton b, win::TShiftState, int, int) { Log("up", b); };
        tray->OnMouseClick = [&](win::TMouseButton b, win::TShiftState, int, int) { Log("click", b); };
        tray->OnDblClick = [&] { events.push_back("dbl"); };
        tray->OnMouseEnter = [&] { events.push_back("enter"); };
        tray->OnMouseExit = [&] { events.push_back("exit"); };
        tray->Loaded();
        ASSERT_TRUE(tray->TaskTrayIcon().Registered());
    }
    void Log(const char* what, win::TMouseButton b) {
        static const char* names[] = {"L", "R", "M"};
        events.push_back(std::string(what) + names[static_cast<int>(b)]);
    }
    void Mouse(LPARAM message, WPARAM id = 1) {
        SendMessageW(tray->TaskTrayIcon().Handle(), win::kTrayCallbackMessage, id, message);
    }
    int Count(const std::string& e) const { return static_cast<int>(std::count(events.begin(), events.end(), e)); }

    FakeShell shell;
    win::UniqueIcon blue = SolidIcon(RGB(0, 0, 255));
    win::UniqueIcon red = SolidIcon(RGB(255, 0, 0));
    std::unique_ptr<TTrayIcon> tray;
    std::vector<std::string> events;
};

TEST_F(TrayIconTest, SingleClickIsNoticedOneDoubleClickTimeAfterTheRelease) {
    Mouse(WM_LBUTTONDOWN);
    Mouse(WM_LBUTTONUP);
    const auto released = std::chrono::steady_clock::now();
    EXPECT_EQ(events, (std::vector<std::string>{"downL", "upL"}));
    ASSERT_TRUE(PumpUntil([&] { return Count("clickL") == 1; }));
    const auto waited = std::chrono::steady_clock::now() - released;
    EXPECT_GE(waited, std::chrono::milliseconds(GetDoubleClickTime()) - std::chrono::milliseconds(20));
    EXPECT_FALSE(tray->TaskTrayIcon().ToolTipStyle().ClickPending());
}

TEST_F(TrayIconTest, DoubleClickGivesNoClickButARepostedPress) {
    Mouse(WM_LBUTTONDOWN);
    Mouse(WM_LBUTTONUP);
    Mouse(WM_LBUTTONDBLCLK);
    ASSERT_TRUE(PumpUntil([&] { return Count("downL") == 2; }));  // the re-posted press
    Mouse(WM_LBUTTONUP);
    PumpFor(static_cast<int>(GetDoubleClickTime()) + 300);
    EXPECT_EQ(events, (std::vector<std::string>{"downL", "upL", "dbl", "downL", "upL"}));

    // A middle double click cancels the click still pending for its first release.
    events.clear();
    Mouse(WM_MBUTTONDOWN);
    Mouse(WM_MBUTTONUP);
    Mouse(WM_MBUTTONDBLCLK);
    PumpFor(static_cast<int>(GetDoubleClickTime()) + 300);
    EXPECT_EQ(events, (std::vector<std::string>{"downM", "upM", "downM"}));
}

TEST_F(TrayIconTest, RightPressOpensTheMenuInsteadOfAMouseDown) {
    win::UniqueMenu menu(CreatePopupMenu());
    AppendMenuW(menu.get(), MF_STRING, 100, L"item");
    int popups = 0;
    tray->OnMenuPopup = [&](HMENU m) {
        EXPECT_EQ(m, menu.get());
        ++popups;
        // Close the menu from inside its own loop.
        SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR id, DWORD) {
            KillTimer(nullptr, id);
            EndMenu();
        });
    };
    tray->RButtonPopupMenu = menu.get();
    Mouse(WM_RBUTTONDOWN);
    EXPECT_EQ(popups, 1);
    EXPECT_EQ(Count("downR"), 0);

    tray->AutoPopup = false;
    Mouse(WM_RBUTTONDOWN);
    EXPECT_EQ(popups, 1);
    EXPECT_EQ(Count("downR"), 1);

    tray->AutoPopup = true;
    tray->MenuRemoved(menu.get());
    EXPECT_EQ(tray->RButtonPopupMenu, nullptr);
}

TEST_F(TrayIconTest, BlinkingAlternatesTheFramesUntilStopped) {
    tray->SetInterval(10);
    EXPECT_EQ(tray->Interval(), 50u);
    tray->SetInterval(0);
    EXPECT_EQ(tray->Interval(), 0u);
    EXPECT_FALSE(tray->AnimationRunning());

    int frame = 0;
    HICON frames[] = {blue.get(), red.get()};
    std::vector<COLORREF> shown;  // what the shell was given, one per step
    tray->OnIconAnimation = [&] {
        tray->SetIcon(frames[frame]);
        shown.push_back(IconColour(shell.calls.back().data.hIcon));
        frame = (frame + 1) % 2;
    };
    const auto start = std::chrono::steady_clock::now();
    tray->SetInterval(500);
    ASSERT_TRUE(PumpUntil([&] { return shown.size() >= 3; }));
    EXPECT_EQ(shown[0], RGB(0, 0, 255));
    EXPECT_EQ(shown[1], RGB(255, 0, 0));
    EXPECT_EQ(shown[2], RGB(0, 0, 255));
    // The first step comes at once, the next two one interval apart each.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(950));

    // A click's handler: no event, no explicit icon, no interval.
    tray->OnIconAnimation = nullptr;
    tray->SetIcon(nullptr);
    tray->SetInterval(0);
    EXPECT_EQ(shell.calls.back().data.hIcon, LoadIconW(nullptr, IDI_APPLICATION));
    const size_t calls = shell.calls.size();
    PumpFor(700);
    EXPECT_EQ(shell.calls.size(), calls);
    EXPECT_FALSE(tray->AnimationRunning());
}

// A shell that refuses the icon (Explorer restarting) ends the blinking at
// the first step it fails, and the failure is told once, not at every step.
TEST_F(TrayIconTest, BlinkingTheShellRefusesStopsAndIsToldOnce) {
    std::vector<std::string> faults;
    tray->OnAnimationFault = [&](const std::string& why) { faults.push_back(why); };
    tray->OnIconAnimation = [&] { tray->SetIcon(red.get()); };
    shell.script.assign(20, {false, ERROR_ACCESS_DENIED});
    tray->SetInterval(50);
    PumpFor(600);
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_EQ(tray->Interval(), 0u);
    EXPECT_FALSE(tray->AnimationRunning());
}

TEST_F(TrayIconTest, HiddenIconPausesTheBlinkingAndShowingResumesIt) {
    tray->OnIconAnimation = [] {};
    tray->SetVisible(false);
    EXPECT_FALSE(tray->TaskTrayIcon().Registered());
    tray->SetInterval(500);
    EXPECT_FALSE(tray->AnimationRunning());
    EXPECT_FALSE(tray->ShowBalloonHelp("t", "x", 1000, TBalloonIconType::bitInfo));
    tray->SetVisible(true);
    EXPECT_TRUE(tray->TaskTrayIcon().Registered());
    EXPECT_TRUE(tray->AnimationRunning());
}

TEST_F(TrayIconTest, CursorEnteringAndLeavingTheIcon) {
    SetCursorPos(200, 200);
    Mouse(WM_MOUSEMOVE);
    Mouse(WM_MOUSEMOVE);
    EXPECT_EQ(events, (std::vector<std::string>{"enter"}));
    EXPECT_TRUE(tray->TaskTrayIcon().ToolTipStyle().MouseInside());
    POINT at{};
    GetCursorPos(&at);
    SetCursorPos(at.x + 100, at.y + 100);
    ASSERT_TRUE(PumpUntil([&] { return Count("exit") == 1; }));
    EXPECT_FALSE(tray->TaskTrayIcon().ToolTipStyle().MouseInside());
}

}  // namespace
}  // namespace corvane::test
