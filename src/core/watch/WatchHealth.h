#pragma once
// Whether watching works: the outcome of each pass's two enumerations and of
// each write to the event log, told to the user once when it starts failing
// (a line in the status bar and one warning balloon) and cleared when it
// works again. A failure that lasts is not announced again on every pass. A
// log that cannot be written is named before an enumeration that fails.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace corvane {

// Where the main window shows the state of the watch.
class IWatchHealthView {
public:
    virtual ~IWatchHealthView() = default;
    // `line` is the status bar's text; a `balloonTitle` asks for the warning
    // balloon too (the first failure after a time of working), null for none.
    virtual void ShowWatchFault(const std::string& line, const char* balloonTitle) = 0;
    virtual void ClearWatchFault() = 0;
};

class WatchHealth {
public:
    // `describe` gives the system's message text for a status code (may be
    // empty when the system has none).
    WatchHealth(IWatchHealthView& view, std::function<std::string(std::uint32_t)> describe);

    // The statuses of one pass (0: success). A pass that left the file
    // enumeration out reports 0 for it.
    void PassResult(std::uint32_t sessionStatus, std::uint32_t fileStatus);

    // The state of the event log after a write: 0 or the system's code, the
    // lines it holds until it can be written, the events it had to drop.
    void LogResult(std::uint32_t code, std::size_t held = 0, std::uint64_t dropped = 0);

    // The state of the reports to the system's event log: the code of a
    // source that could not be registered and of the last report that
    // failed (0: none), and how many failed. Told in the status bar only,
    // behind the watch's and the log file's faults.
    void EventReportResult(std::uint32_t registerCode, std::uint32_t reportCode, std::uint64_t failed);

    bool Failing() const noexcept { return shownStatus_ != 0 || logCode_ != 0; }

    // The status bar's line for a failed enumeration.
    std::string FaultLine(bool sessions, std::uint32_t status) const;

    static constexpr const char* kBalloonTitle = "共有リソースを監視できません";
    static constexpr const char* kLogBalloonTitle = "ログファイルに書き込めません";

private:
    IWatchHealthView& view_;
    std::function<std::string(std::uint32_t)> describe_;
    std::string Reason(std::uint32_t code) const;
    void Show(const char* balloonTitle);

    bool shownSessions_ = false;
    std::uint32_t shownStatus_ = 0;
    std::uint32_t logCode_ = 0;
    std::size_t logHeld_ = 0;
    std::uint64_t logDropped_ = 0;
    std::uint32_t registerCode_ = 0;
    std::uint32_t reportCode_ = 0;
    std::uint64_t reportsFailed_ = 0;
};

}  // namespace corvane
