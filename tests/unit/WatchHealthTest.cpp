#include "core/watch/WatchHealth.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane {
namespace {

struct RecordingHealthView : IWatchHealthView {
    std::vector<std::string> calls;
    void ShowWatchFault(const std::string& line, const char* balloonTitle) override {
        calls.push_back((balloonTitle ? std::string("balloon ") + balloonTitle + ": " : "status ") + line);
    }
    void ClearWatchFault() override { calls.push_back("clear"); }
};

std::string Describe(std::uint32_t status) {
    return status == 5 ? "アクセスが拒否されました。\r\n" : status == 2114 ? "Server サービスは開始されていません。" : "";
}

TEST(WatchHealth, AnnouncesOnceWhenWatchingStartsFailingAndClearsWhenItWorksAgain) {
    RecordingHealthView view;
    WatchHealth health(view, Describe);
    const std::string denied =
        "監視できません: セッションの一覧を取得できません。 アクセスが拒否されました。 (エラー 5) 管理者として実行してください。";
    struct Step {
        std::uint32_t sessions, files;
        std::vector<std::string> calls;  // what this pass adds
    } steps[] = {
        {0, 0, {}},                                 // working from the start: nothing to say
        {5, 5, {"balloon 共有リソースを監視できません: " + denied}},              // starts failing: status line and one balloon
        {5, 5, {}},                                 // the same failure goes on: nothing again
        {5, 0, {}},
        {2114, 0, {"status 監視できません: セッションの一覧を取得できません。 Server サービスは開始されていません。 (エラー 2114)"}},
        {0, 0, {"clear"}},                          // works again
        {0, 0, {}},
        {0, 53, {"balloon 共有リソースを監視できません: 監視できません: 共有リソースの一覧を取得できません。 (エラー 53)"}},  // files alone
        {0, 0, {"clear"}},
    };
    std::vector<std::string> expected;
    for (const Step& step : steps) {
        health.PassResult(step.sessions, step.files);
        expected.insert(expected.end(), step.calls.begin(), step.calls.end());
        ASSERT_EQ(view.calls, expected) << "after sessions " << step.sessions << ", files " << step.files;
    }
    EXPECT_FALSE(health.Failing());
}

TEST(WatchHealth, ALogThatCannotBeWrittenIsNamedFirstUntilAWriteWorks) {
    RecordingHealthView view;
    WatchHealth health(view, Describe);
    const std::string log = "ログファイルに書き込めません: アクセスが拒否されました。 (エラー 5)";
    const std::string files = "監視できません: 共有リソースの一覧を取得できません。 (エラー 53)";
    health.LogResult(0);
    health.LogResult(5);
    health.LogResult(5);
    health.PassResult(0, 53);  // behind the log's line
    health.LogResult(0);       // the enumeration's line comes back, without a second balloon
    health.LogResult(112);
    health.PassResult(0, 0);
    health.LogResult(0);
    EXPECT_EQ(view.calls, (std::vector<std::string>{
                              "balloon ログファイルに書き込めません: " + log,
                              "status " + files,
                              "balloon ログファイルに書き込めません: ログファイルに書き込めません: (エラー 112)",
                              "clear",
                          }));
    EXPECT_FALSE(health.Failing());
}

TEST(WatchHealth, EventLogFaultsAreToldOnceInTheStatusBarBehindTheOthers) {
    RecordingHealthView view;
    WatchHealth health(view, Describe);
    const std::string refused = "イベント ログに記録できません: アクセスが拒否されました。 (エラー 5) 記録できなかったイベント 1 件";
    health.EventReportResult(1722, 0, 0);  // not registered
    health.EventReportResult(1722, 0, 0);
    health.EventReportResult(1722, 5, 1);  // a report refused: its line wins
    health.EventReportResult(1722, 5, 9);  // more of the same: not told again
    health.PassResult(5, 0);               // a failing list comes first, with its balloon
    health.PassResult(0, 0);               // and gives the line back
    health.EventReportResult(0, 0, 9);
    EXPECT_EQ(view.calls, (std::vector<std::string>{
                              "status イベント ログのソースを登録できません: (エラー 1722) イベントは説明文なしで記録されます。",
                              "status " + refused,
                              "balloon 共有リソースを監視できません: 監視できません: セッションの一覧を取得できません。 "
                              "アクセスが拒否されました。 (エラー 5) 管理者として実行してください。",
                              "status " + refused,
                              "clear",
                          }));
}

}  // namespace
}  // namespace corvane
