#include "linux/Process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace corvane::samba {
namespace {

// A file descriptor with one owner.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~Fd() { reset(); }
    int get() const noexcept { return fd_; }
    int release() noexcept { return std::exchange(fd_, -1); }
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
private:
    int fd_ = -1;
};

struct SpawnActions {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    SpawnActions() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attr);
    }
    ~SpawnActions() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
};

std::string FirstLine(const std::string& text) {
    std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) return {};
    const std::size_t end = text.find_first_of("\r\n", start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (line.size() > 200) line = line.substr(0, 200) + "...";
    return line;
}

}  // namespace

std::string ProcessResult::Describe() const {
    if (!Error.empty()) return Error;
    if (TimedOut) return "timed out";
    std::string text = Signal ? "ended by signal " + std::to_string(Signal) : "exit status " + std::to_string(ExitStatus);
    std::string detail = FirstLine(Err);
    if (detail.empty()) detail = FirstLine(Out);
    if (!detail.empty()) text += ": " + detail;
    return text;
}

bool ProgramExists(const std::string& program) {
    if (program.empty()) return false;
    const auto executable = [](const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
    };
    if (program.find('/') != std::string::npos) return executable(program);
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = dirs.find(':', start);
        std::filesystem::path dir(dirs.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (dir.empty()) dir = std::filesystem::current_path();
        if (executable((dir / program).string())) return true;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return false;
}

ProcessResult PosixProcessRunner::Run(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    ProcessResult result;
    if (argv.empty() || argv[0].empty()) {
        result.Error = "no program given";
        return result;
    }
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        result.Error = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    Fd outRead(outPipe[0]), outWrite(outPipe[1]);
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        result.Error = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    Fd errRead(errPipe[0]), errWrite(errPipe[1]);

    SpawnActions spawn;
    posix_spawn_file_actions_addopen(&spawn.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&spawn.actions, outWrite.get(), 1);
    posix_spawn_file_actions_adddup2(&spawn.actions, errWrite.get(), 2);
    // The watcher blocks its stop signals and ignores SIGPIPE; the helper
    // starts with the usual signal state.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&spawn.attr, &none);
    posix_spawnattr_setsigdefault(&spawn.attr, &defaults);
    posix_spawnattr_setflags(&spawn.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argv[0].c_str(), &spawn.actions, &spawn.attr, args.data(), environ);
    outWrite.reset();
    errWrite.reset();
    if (spawned != 0) {
        result.Error = spawned == ENOENT ? std::string("not found") : std::string(std::strerror(spawned));
        return result;
    }
    result.Started = true;

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const auto remainingMs = [&] {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
    };
    bool killed = false;
    const auto kill = [&] {
        if (!killed) ::kill(pid, SIGKILL);
        killed = true;
    };

    Fd* streams[2] = {&outRead, &errRead};
    std::string* sinks[2] = {&result.Out, &result.Err};
    char buffer[65536];
    while (outRead.get() >= 0 || errRead.get() >= 0) {
        pollfd fds[2];
        nfds_t count = 0;
        int which[2];
        for (int i = 0; i < 2; ++i) {
            if (streams[i]->get() < 0) continue;
            fds[count] = {streams[i]->get(), POLLIN, 0};
            which[count++] = i;
        }
        const int ready = ::poll(fds, count, remainingMs());
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            result.TimedOut = ready == 0;
            if (ready < 0) result.Error = std::string("poll: ") + std::strerror(errno);
            kill();
            break;
        }
        for (nfds_t k = 0; k < count; ++k) {
            if (!fds[k].revents) continue;
            const int i = which[k];
            const ssize_t n = ::read(streams[i]->get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                streams[i]->reset();
                continue;
            }
            sinks[i]->append(buffer, static_cast<std::size_t>(n));
            if (sinks[i]->size() > maxOutput_) {
                result.Error = "more output than " + std::to_string(maxOutput_ >> 20) + " MiB";
                kill();
                streams[0]->reset();
                streams[1]->reset();
            }
        }
    }

    // Both streams are closed; reap the program, still within the limit.
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, killed ? 0 : WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) {
            result.Error = std::string("waitpid: ") + std::strerror(errno);
            return result;
        }
        if (done == 0) {
            if (remainingMs() == 0) {
                result.TimedOut = true;
                kill();
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    }
    if (WIFEXITED(status)) result.ExitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status) && !result.TimedOut) result.Signal = WTERMSIG(status);
    if (result.TimedOut) {
        const auto ms = timeout.count();
        const std::string limit = ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
        result.Error = "no answer within " + limit;
    }
    return result;
}

}  // namespace corvane::samba
