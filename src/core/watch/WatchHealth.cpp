#include "core/watch/WatchHealth.h"

#include <utility>

namespace corvane {
namespace {

constexpr std::uint32_t kAccessDenied = 5;

}  // namespace

WatchHealth::WatchHealth(IWatchHealthView& view, std::function<std::string(std::uint32_t)> describe)
    : view_(view), describe_(std::move(describe)) {}

std::string WatchHealth::FaultLine(bool sessions, std::uint32_t status) const {
    std::string line = sessions ? "監視できません: セッションの一覧を取得できません。"
                                : "監視できません: 共有リソースの一覧を取得できません。";
    std::string reason = describe_ ? describe_(status) : std::string();
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
        reason.pop_back();
    if (!reason.empty()) line += " " + reason;
    line += " (エラー " + std::to_string(status) + ")";
    if (status == kAccessDenied) line += " 管理者として実行してください。";
    return line;
}

void WatchHealth::PassResult(std::uint32_t sessionStatus, std::uint32_t fileStatus) {
    // The session enumeration's failure is the one named when both fail.
    const bool sessions = sessionStatus != 0 || fileStatus == 0;
    const std::uint32_t status = sessionStatus != 0 ? sessionStatus : fileStatus;
    if (status == shownStatus_ && (status == 0 || sessions == shownSessions_)) return;
    const bool wasFailing = Failing();
    shownStatus_ = status;
    shownSessions_ = sessions;
    if (status == 0)
        view_.ClearWatchFault();
    else
        view_.ShowWatchFault(FaultLine(sessions, status), !wasFailing);
}

}  // namespace corvane
