// The main window's decisions: close rules, dialog guard, enable rules,
// stored tab and first show command.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/app/MainWindowRules.h"
#include "core/settings/SettingsStore.h"
#include "support/FakeWatchPorts.h"

namespace corvane::test {
namespace {

using app::CloseOptions;
using app::CloseRules;

class FakeCloseHost : public app::ICloseHost {
public:
    bool refuseSave = false;      // SaveSettings throws SettingsWriteError
    bool failSaveOtherwise = false;
    bool answerYes = true;
    std::vector<std::string> calls;

    void SaveSettings() override {
        calls.push_back("save");
        if (refuseSave) throw SettingsWriteError("C:\\p\\Corvane.ini", 5);
        if (failSaveOtherwise) throw std::runtime_error("broken");
    }
    void MinimizeProgram() override { calls.push_back("minimise"); }
    bool ConfirmExit() override {
        calls.push_back("confirm");
        return answerYes;
    }
    void ShowSaveError(const std::string& message) override { calls.push_back("error:" + message); }
};

const std::string kError = "error:C:\\p\\Corvane.ini に書き込めません";

struct CloseRow {
    const char* name;
    bool closeIsMinimize, exitMessage, sessionEnding, exitRequested, refuseSave, answerYes;
    bool closes;
    std::vector<std::string> calls;
    bool exitRequestedAfter;
};

TEST(CloseRulesTest, EveryRowOfTheCloseRules) {
    const std::vector<CloseRow> rows = {
        {"plain close box ends", false, false, false, false, false, true, true, {"save"}, false},
        {"close box minimises", true, false, false, false, false, true, false, {"save", "minimise"}, false},
        {"close box minimises, even asking on exit", true, true, false, false, false, true, false,
         {"save", "minimise"}, false},
        {"exit command passes the minimise rule", true, false, false, true, false, true, true, {"save"}, true},
        {"exit command asks, Yes ends", true, true, false, true, false, true, true, {"save", "confirm"}, true},
        {"exit command asks, No keeps and drops the request", true, true, false, true, false, false, false,
         {"save", "confirm"}, false},
        {"close box asks, No keeps", false, true, false, false, false, false, false, {"save", "confirm"}, false},
        {"session end neither minimises nor asks", true, true, true, false, false, false, true, {"save"}, false},
        {"session end with a refused save: no box, ends", true, true, true, false, true, false, true, {"save"},
         false},
        {"refused save on exit: error, then ends", false, false, false, true, true, true, true, {"save", kError},
         true},
        {"refused save on exit, asking: error, then the question", false, true, false, true, true, true, true,
         {"save", kError, "confirm"}, true},
        {"refused save, close box that minimises: error, still minimises", true, false, false, false, true, true,
         false, {"save", kError, "minimise"}, false},
        {"refused save, close box that ends: error, ends", false, false, false, false, true, true, true,
         {"save", kError}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CloseRules rules;
        if (row.sessionEnding) rules.SessionEndQuery();
        if (row.exitRequested) rules.RequestExit();
        FakeCloseHost host;
        host.refuseSave = row.refuseSave;
        host.answerYes = row.answerYes;
        EXPECT_EQ(rules.FormCloseQuery(CloseOptions{row.closeIsMinimize, row.exitMessage}, host), row.closes);
        EXPECT_EQ(host.calls, row.calls);
        EXPECT_EQ(rules.ExitRequested(), row.exitRequestedAfter);
    }
}

TEST(CloseRulesTest, DeclinedExitLetsTheNextCloseBoxMinimiseAgain) {
    CloseRules rules;
    FakeCloseHost host;
    host.answerYes = false;
    rules.RequestExit();
    EXPECT_FALSE(rules.FormCloseQuery({true, true}, host));
    host.calls.clear();
    EXPECT_FALSE(rules.FormCloseQuery({true, true}, host));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"save", "minimise"}));
}

TEST(CloseRulesTest, ExitRequestDoesNotOutliveACloseThatFailed) {
    // A save that fails with an unexpected error aborts the close request; the
    // exit request it carried must not turn a later close box into an exit.
    CloseRules rules;
    FakeCloseHost host;
    host.failSaveOtherwise = true;
    rules.RequestExit();
    EXPECT_THROW(rules.FormCloseQuery({true, false}, host), std::runtime_error);
    EXPECT_FALSE(rules.ExitRequested());
    host.failSaveOtherwise = false;
    host.calls.clear();
    EXPECT_FALSE(rules.FormCloseQuery({true, false}, host));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"save", "minimise"}));
}

TEST(CloseRulesTest, CloseRequestsDuringTearDownOrADecisionAreIgnored) {
    CloseRules rules;
    // A second request arriving from the loop of the exit question.
    class Reentering final : public app::ICloseHost {
    public:
        CloseRules* rules = nullptr;
        bool nested = true;
        void SaveSettings() override {}
        void MinimizeProgram() override {}
        bool ConfirmExit() override {
            nested = rules->FormCloseQuery({false, true}, *this);
            return true;
        }
        void ShowSaveError(const std::string&) override {}
    } reentering;
    reentering.rules = &rules;
    EXPECT_TRUE(rules.FormCloseQuery({false, true}, reentering));
    EXPECT_FALSE(reentering.nested);

    FakeCloseHost host;
    rules.FormDestroy(host);
    host.calls.clear();
    EXPECT_FALSE(rules.FormCloseQuery({false, false}, host));
    EXPECT_TRUE(host.calls.empty());  // not even saved
}

TEST(CloseRulesTest, WhenACloseRequestIsDecidedWaitsOrIsDropped) {
    enum State { Idle, Deciding, Destroying };
    const struct {
        const char* name;
        State state;
        bool nested, decideNow, pending;
    } rows[] = {
        {"from the main loop", Idle, false, true, false},
        {"inside a menu, box or scan", Idle, true, false, true},
        {"from the loop of the exit question", Deciding, true, false, false},
        {"during tear-down", Destroying, true, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CloseRules rules;
        FakeCloseHost host;
        host.answerYes = false;
        if (row.state == Destroying) rules.FormDestroy(host);
        bool decideNow = false;
        if (row.state == Deciding) {
            struct Asking : FakeCloseHost {
                std::function<void()> during;
                bool ConfirmExit() override { return during(), false; }
            } asking;
            asking.during = [&] { decideNow = rules.CloseRequested(row.nested); };
            EXPECT_FALSE(rules.FormCloseQuery({false, true}, asking));
        } else {
            decideNow = rules.CloseRequested(row.nested);
        }
        EXPECT_EQ(decideNow, row.decideNow);
        EXPECT_EQ(rules.ClosePending(), row.pending);
        EXPECT_FALSE(rules.TakePendingClose(true));  // still inside the loop
        EXPECT_EQ(rules.TakePendingClose(false), row.pending);
        EXPECT_FALSE(rules.TakePendingClose(false));  // once
    }
}

TEST(CloseRulesTest, TearDownShowsARefusedSaveOnlyOnce) {
    {
        CloseRules rules;
        FakeCloseHost host;
        host.refuseSave = true;
        rules.RequestExit();
        ASSERT_TRUE(rules.FormCloseQuery({false, false}, host));
        rules.FormDestroy(host);
        EXPECT_EQ(host.calls, (std::vector<std::string>{"save", kError, "save"}));
    }
    {
        // The close request saved; the save of the tear-down was refused.
        CloseRules rules;
        FakeCloseHost host;
        ASSERT_TRUE(rules.FormCloseQuery({false, false}, host));
        host.refuseSave = true;
        rules.FormDestroy(host);
        EXPECT_EQ(host.calls, (std::vector<std::string>{"save", "save", kError}));
    }
}

TEST(DialogStateTest, GuardHoldsDialogOpenAndClearsItWhateverHappens) {
    app::DialogState state;
    EXPECT_TRUE(state.DisplayDialogEnabled());
    EXPECT_TRUE(state.TrayDoubleClickRestores());
    try {
        app::DialogState::Guard guard(state);
        EXPECT_TRUE(state.DialogOpen());
        EXPECT_FALSE(state.DisplayDialogEnabled());
        EXPECT_FALSE(state.TrayDoubleClickRestores());
        throw std::runtime_error("dialog failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(state.DialogOpen());
    EXPECT_TRUE(state.DisplayDialogEnabled());
}

TEST(MainWindowRulesTest, EnableRulesStoredTabAndFirstShowCommand) {
    EXPECT_FALSE(app::SessionCommandEnabled(0));
    EXPECT_TRUE(app::SessionCommandEnabled(1));
    EXPECT_TRUE(app::SessionCommandEnabled(2));

    EXPECT_EQ(app::StoredTabToSelect(0, 2), 0);
    EXPECT_EQ(app::StoredTabToSelect(1, 2), 1);
    EXPECT_EQ(app::StoredTabToSelect(2, 2), std::nullopt);
    EXPECT_EQ(app::StoredTabToSelect(-1, 2), std::nullopt);

    constexpr int kStartNormal = 1, kStartNoActivate = 4;
    EXPECT_EQ(app::FirstShowCommand(std::nullopt, kStartNoActivate), kStartNoActivate);
    EXPECT_EQ(app::FirstShowCommand(app::kShowCmdNormal, kStartNoActivate), kStartNoActivate);
    EXPECT_EQ(app::FirstShowCommand(app::kShowCmdMinimized, kStartNormal), 2);
    EXPECT_EQ(app::FirstShowCommand(app::kShowCmdMaximized, kStartNormal), 3);
}

// "ファイルを閉じる": when it is offered, what the box asks, what each status
// comes to and what a failure tells.
TEST(MainWindowRulesTest, FileCloseCommand) {
    struct EnableRow {
        bool canClose;
        bool watched;
        int selected;
        bool enabled;
    };
    for (const EnableRow& row : {EnableRow{true, true, 0, false}, EnableRow{true, true, 1, true},
                                 EnableRow{true, true, 3, true}, EnableRow{false, true, 1, false},
                                 EnableRow{true, false, 1, false}, EnableRow{false, false, 0, false}}) {
        EXPECT_EQ(app::FileCloseCommandEnabled(row.canClose, row.watched, row.selected), row.enabled)
            << row.canClose << "/" << row.watched << "/" << row.selected;
    }

    // Names from the server stay on their own line each.
    const app::OpenFileRow sheet{"taro", "D:\\共有\\売上\r\n.xlsx"};
    EXPECT_EQ(app::FileCloseQuestion({sheet}),
              "次のファイルを閉じてもいいですか?\n開いている人のアプリでは、保存していない変更が保存できなくなることがあります。\n\n"
              "D:\\共有\\売上  .xlsx (taro)");
    const std::vector<app::OpenFileRow> many(12, app::OpenFileRow{"hanako", "E:\\a.doc"});
    const std::string question = app::FileCloseQuestion(many);
    EXPECT_EQ(question.substr(question.rfind('\n') + 1), "ほか 2 件");
    EXPECT_EQ(std::count(question.begin(), question.end(), '\n'), 2 + 10 + 1);

    using app::FileCloseOutcome;
    const auto failed = [](std::size_t ids, std::size_t closed, std::uint32_t status) {
        return app::FileCloseReport{FileCloseOutcome::Failed, ids, closed, status};
    };
    EXPECT_EQ(app::FileCloseErrorText(sheet, failed(1, 0, 5), "アクセスが拒否されました。"),
              "D:\\共有\\売上  .xlsx (taro) を閉じられませんでした。\nアクセスが拒否されました。 (エラー 5)");
    EXPECT_EQ(app::FileCloseErrorText(sheet, failed(1, 0, 2147), ""),
              "D:\\共有\\売上  .xlsx (taro) を閉じられませんでした。\n(エラー 2147)");
    EXPECT_EQ(app::FileCloseErrorText(sheet, failed(2, 1, 5), "アクセスが拒否されました。"),
              "D:\\共有\\売上  .xlsx (taro) を閉じられませんでした。\n2 件中 1 件を閉じました。\n"
              "アクセスが拒否されました。 (エラー 5)");
}

// Every id of a row is checked right before it is closed; the row is logged
// as closed only when all of its opens are gone and one was closed here.
TEST(MainWindowRulesTest, CloseOpenFileChecksAndClosesEveryId) {
    using app::FileCloseOutcome;
    const app::OpenFileRow row{"taro", "D:\\a.xlsx"};
    const FileRecord mine7{7, 1, 0, "D:\\a.xlsx", "taro"}, mine8{8, 1, 0, "D:\\a.xlsx", "taro"};
    struct Case {
        const char* what;
        std::vector<std::uint32_t> ids;
        std::vector<FileRecord> server;
        std::map<std::uint32_t, std::uint32_t> infoStatus, closeStatus;
        FileCloseOutcome outcome;
        std::vector<std::uint32_t> closeCalls;
        std::string logText;  // empty: nothing logged
    };
    const std::string partial = "ファイル強制クローズ失敗,taro,D:\\a.xlsx,2 件中 1 件を閉じました。";
    const std::vector<Case> cases = {
        {"both opens", {7, 8}, {mine7, mine8}, {}, {}, FileCloseOutcome::Closed, {7, 8},
         "ファイル強制クローズ,taro,D:\\a.xlsx"},
        {"one closed meanwhile", {7, 8}, {mine8}, {}, {}, FileCloseOutcome::Closed, {8},
         "ファイル強制クローズ,taro,D:\\a.xlsx"},
        {"names compared as the watch does", {7}, {{7, 1, 0, "d:\\A.XLSX", "TARO"}}, {}, {},
         FileCloseOutcome::Closed, {7}, "ファイル強制クローズ,taro,D:\\a.xlsx"},
        {"all gone", {7, 8}, {}, {}, {}, FileCloseOutcome::AlreadyClosed, {}, ""},
        {"no ids", {}, {mine7}, {}, {}, FileCloseOutcome::AlreadyClosed, {}, ""},
        {"id given to another path", {7, 8}, {{7, 1, 0, "D:\\b.txt", "taro"}, mine8}, {}, {},
         FileCloseOutcome::Changed, {8}, partial + "ほかは一覧が変わっていたため閉じていません。"},
        {"id given to another user", {7}, {{7, 1, 0, "D:\\a.xlsx", "hanako"}}, {}, {}, FileCloseOutcome::Changed,
         {}, ""},
        {"close refused for one", {7, 8}, {mine7, mine8}, {}, {{8, 5}}, FileCloseOutcome::Failed, {7, 8},
         partial + "拒否 (エラー 5)"},
        {"unchecked id never closed", {7}, {mine7}, {{7, 50}}, {}, FileCloseOutcome::Failed, {},
         "ファイル強制クローズ失敗,taro,D:\\a.xlsx,拒否 (エラー 50)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeServer server;
        server.files = c.server;
        server.infoStatus = c.infoStatus;
        server.closeStatus = c.closeStatus;
        const app::FileCloseReport report = app::CloseOpenFile(server, text::PlatformCollation(), row, c.ids);
        EXPECT_EQ(report.Outcome, c.outcome);
        EXPECT_EQ(server.closed, c.closeCalls);
        const std::optional<WatchEvent> event = app::FileCloseEvent(row, report, "拒否");
        EXPECT_EQ(event ? LogText(*event) : "", c.logText);
    }
}

}  // namespace
}  // namespace corvane::test
