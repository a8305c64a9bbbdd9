#include "core/watch/WatchHealth.h"

#include <utility>

namespace corvane {
namespace {

constexpr std::uint32_t kAccessDenied = 5;

}  // namespace

WatchHealth::WatchHealth(IWatchHealthView& view, std::function<std::string(std::uint32_t)> describe)
    : view_(view), describe_(std::move(describe)) {}

// " <system message> (エラー N)".
std::string WatchHealth::Reason(std::uint32_t code) const {
    std::string reason = describe_ ? describe_(code) : std::string();
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
        reason.pop_back();
    if (!reason.empty()) reason.insert(0, " ");
    return reason + " (エラー " + std::to_string(code) + ")";
}

std::string WatchHealth::FaultLine(bool sessions, std::uint32_t status) const {
    std::string line = sessions ? "監視できません: セッションの一覧を取得できません。"
                                : "監視できません: 共有リソースの一覧を取得できません。";
    line += Reason(status);
    if (status == kAccessDenied) line += " 管理者として実行してください。";
    return line;
}

void WatchHealth::Show(const char* balloonTitle) {
    if (logCode_ != 0) {
        std::string line = std::string(kLogBalloonTitle) + ":" + Reason(logCode_);
        if (logHeld_ != 0) line += " 書き込み待ち " + std::to_string(logHeld_) + " 件";
        if (logDropped_ != 0) line += "、欠落 " + std::to_string(logDropped_) + " 件";
        view_.ShowWatchFault(line, balloonTitle);
    }
    else if (shownStatus_ != 0)
        view_.ShowWatchFault(FaultLine(shownSessions_, shownStatus_), balloonTitle);
    else if (reportCode_ != 0)
        view_.ShowWatchFault("イベント ログに記録できません:" + Reason(reportCode_) + " 記録できなかったイベント " +
                                 std::to_string(reportsFailed_) + " 件",
                             nullptr);
    else if (registerCode_ != 0)
        view_.ShowWatchFault("イベント ログのソースを登録できません:" + Reason(registerCode_) +
                                 " イベントは説明文なしで記録されます。",
                             nullptr);
    else
        view_.ClearWatchFault();
}

void WatchHealth::LogResult(std::uint32_t code, std::size_t held, std::uint64_t dropped) {
    if (code == 0) held = dropped = 0;
    if (code == logCode_ && held == logHeld_ && dropped == logDropped_) return;
    const bool wasFailing = logCode_ != 0;
    logCode_ = code;
    logHeld_ = held;
    logDropped_ = dropped;
    Show(code != 0 && !wasFailing ? kLogBalloonTitle : nullptr);
}

void WatchHealth::EventReportResult(std::uint32_t registerCode, std::uint32_t reportCode, std::uint64_t failed) {
    // A failure that goes on is not told again for each report it costs.
    if (registerCode == registerCode_ && reportCode == reportCode_) return;
    registerCode_ = registerCode;
    reportCode_ = reportCode;
    reportsFailed_ = failed;
    if (logCode_ == 0 && shownStatus_ == 0) Show(nullptr);
}

void WatchHealth::PassResult(std::uint32_t sessionStatus, std::uint32_t fileStatus) {
    // The session enumeration's failure is the one named when both fail.
    const bool sessions = sessionStatus != 0 || fileStatus == 0;
    const std::uint32_t status = sessionStatus != 0 ? sessionStatus : fileStatus;
    if (status == shownStatus_ && (status == 0 || sessions == shownSessions_)) return;
    const bool wasFailing = shownStatus_ != 0;
    shownStatus_ = status;
    shownSessions_ = sessions;
    // While the log fails its line stays; the enumeration's comes after it.
    if (logCode_ != 0) return;
    Show(status != 0 && !wasFailing ? kBalloonTitle : nullptr);
}

}  // namespace corvane
