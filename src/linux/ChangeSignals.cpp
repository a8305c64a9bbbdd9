#include "linux/ChangeSignals.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#if CORVANE_HAVE_TDB
#include <tdb.h>
#endif

#include "linux/Process.h"

namespace corvane::samba {

bool ListingSchedule::Due(Clock::time_point now, const SignalReading& read) {
    if (!last_) return true;
    if (Polling(read)) return now - *last_ >= poll_;
    if (!followUps_.empty() && followUps_.front() <= now) {
        followUps_.pop_front();
        return true;
    }
    return read.Processes != baseline_.Processes || (openFiles_ && read.OpenFiles != baseline_.OpenFiles) ||
           now - *last_ >= kFullListingEvery || (limitAt_ && now >= *limitAt_);
}

void ListingSchedule::Listed(Clock::time_point now, const SignalReading& read,
                             std::optional<std::chrono::seconds> untilLimit) {
    if (last_ && read.Processes && read.Processes != baseline_.Processes) {
        followUps_.clear();
        for (const auto after : kFollowUps) followUps_.push_back(now + after);
    }
    last_ = now;
    baseline_ = read;
    limitAt_.reset();
    if (untilLimit) limitAt_ = now + *untilLimit;
}

#if CORVANE_HAVE_TDB
struct SambaSignals::Tdb {
    tdb_context* context = nullptr;
    dev_t device = 0;
    ino_t inode = 0;
    ~Tdb() {
        if (context) tdb_close(context);
    }
};
#else
struct SambaSignals::Tdb {};
#endif

SambaSignals::SambaSignals(std::string lockDirectory) : directory_(std::move(lockDirectory)) {}

SambaSignals::~SambaSignals() = default;

SignalReading SambaSignals::Read() {
    problem_.clear();
    SignalReading read;
    read.OpenFiles = ReadSequence();
    read.Processes = ReadProcesses();
    return read;
}

std::optional<std::uint32_t> SambaSignals::ReadSequence() {
    const std::string path = directory_ + "/locking.tdb";
#if CORVANE_HAVE_TDB
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        problem_ = path + ": " + std::strerror(errno);
        tdb_.reset();
        return std::nullopt;
    }
    if (!tdb_ || tdb_->device != st.st_dev || tdb_->inode != st.st_ino) {
        // Read-only, without locks and without a map: smbd may wipe the file
        // at any time, and a mapped page that is gone would end this program.
        auto tdb = std::make_unique<Tdb>();
        tdb->context = tdb_open(path.c_str(), 0, TDB_NOLOCK | TDB_NOMMAP | TDB_SEQNUM, O_RDONLY, 0);
        if (!tdb->context) {
            problem_ = path + ": " + (errno ? std::strerror(errno) : "not a tdb database");
            tdb_.reset();
            return std::nullopt;
        }
        tdb->device = st.st_dev;
        tdb->inode = st.st_ino;
        tdb_ = std::move(tdb);
    }
    return static_cast<std::uint32_t>(tdb_get_seqnum(tdb_->context));
#else
    problem_ = path + ": this build cannot read tdb databases";
    return std::nullopt;
#endif
}

std::optional<std::string> SambaSignals::ReadProcesses() {
    const std::string path = directory_ + "/msg.lock";
    struct stat st {};
    const bool found = ::stat(path.c_str(), &st) == 0;
    if (!found || !S_ISDIR(st.st_mode)) {
        if (problem_.empty()) problem_ = path + ": " + (found ? "not a folder" : std::strerror(errno));
        processesTime_.reset();
        return std::nullopt;
    }
    const std::pair<std::int64_t, std::int64_t> changed{st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    if (processesTime_ == changed) return processes_;
    DIR* dir = ::opendir(path.c_str());
    if (!dir) {
        if (problem_.empty()) problem_ = path + ": " + std::strerror(errno);
        processesTime_.reset();
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    processes_.clear();
    for (const auto& name : names) processes_ += name + '\n';
    processesTime_ = changed;
    return processes_;
}

std::string SambaLockDirectory(IProcessRunner& runner) {
    const ProcessResult run =
        runner.Run({"testparm", "-s", "--parameter-name", "lock directory"}, std::chrono::seconds(10));
    std::string directory = run.Succeeded() ? run.Out : std::string();
    while (!directory.empty() && (directory.back() == '\n' || directory.back() == '\r' || directory.back() == ' '))
        directory.pop_back();
    return directory.starts_with('/') ? directory : "/run/samba";
}

}  // namespace corvane::samba
