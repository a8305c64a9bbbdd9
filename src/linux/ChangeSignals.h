#pragma once
// When to ask Samba for its full listing. A listing costs a run of smbstatus
// (tens of milliseconds of CPU); Samba tells for free when its state may have
// changed: smbd opens locking.tdb with a sequence number that moves on every
// open and close of a file, and every smbd process (one per client
// connection) keeps a file named after its pid in msg.lock of the lock
// directory. The watch reads both a few times a second and lists only when
// one moved, a little later again (a session finishes authenticating a
// moment after its process appears), before a session passes the
// connected-time limit, and at least every kFullListingEvery.
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

namespace corvane::samba {

inline constexpr std::chrono::milliseconds kSignalTick{250};
inline constexpr std::chrono::seconds kFullListingEvery{15};
// The looks again after the set of smbd processes changed.
inline constexpr std::chrono::milliseconds kFollowUps[] = {std::chrono::milliseconds(500),
                                                           std::chrono::milliseconds(1500)};

// What the signals read; a part that could not be read is empty.
struct SignalReading {
    std::optional<std::uint32_t> OpenFiles;  // locking.tdb's sequence number
    std::optional<std::string> Processes;    // the names in msg.lock, sorted
};

class ListingSchedule {
public:
    using Clock = std::chrono::steady_clock;
    // `openFiles`: whether open files are watched (their signal is needed);
    // `poll`: the pause between listings when a needed signal cannot be read.
    ListingSchedule(bool openFiles, std::chrono::milliseconds poll) : openFiles_(openFiles), poll_(poll) {}

    // Whether a full listing is due at `now`, given what was just read.
    bool Due(Clock::time_point now, const SignalReading& read);
    // A listing was taken at `now`, right after `read`. `untilLimit`: the
    // time until the next tracked session passes the connected-time limit.
    void Listed(Clock::time_point now, const SignalReading& read, std::optional<std::chrono::seconds> untilLimit);
    // Whether a needed signal is missing from the reading (plain polling).
    bool Polling(const SignalReading& read) const { return !read.Processes || (openFiles_ && !read.OpenFiles); }

private:
    bool openFiles_;
    std::chrono::milliseconds poll_;
    std::optional<Clock::time_point> last_;
    std::optional<Clock::time_point> limitAt_;
    SignalReading baseline_;
    std::deque<Clock::time_point> followUps_;
};

// Reads the signals of the Samba whose lock directory is given, read-only and
// without taking any lock. Files that are replaced (smbd restarted) are
// opened again.
class SambaSignals {
public:
    explicit SambaSignals(std::string lockDirectory);
    ~SambaSignals();
    SambaSignals(const SambaSignals&) = delete;
    SambaSignals& operator=(const SambaSignals&) = delete;

    SignalReading Read();
    // Why a part of the latest reading is missing; empty when none is.
    const std::string& Problem() const noexcept { return problem_; }

private:
    std::optional<std::uint32_t> ReadSequence();
    std::optional<std::string> ReadProcesses();

    struct Tdb;
    std::string directory_;
    std::unique_ptr<Tdb> tdb_;
    std::optional<std::pair<std::int64_t, std::int64_t>> processesTime_;  // msg.lock's change time
    std::string processes_;
    std::string problem_;
};

// Samba's lock directory as its settings give it (testparm), else Debian's
// /run/samba.
std::string SambaLockDirectory(class IProcessRunner& runner);

}  // namespace corvane::samba
