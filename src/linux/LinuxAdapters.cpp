#include "linux/LinuxAdapters.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <ostream>
#include <utility>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/watch/HostAddress.h"

namespace corvane::samba {
namespace {

std::uint32_t LastError() { return static_cast<std::uint32_t>(errno ? errno : EIO); }

class PosixLogFile final : public ILogFile {
public:
    explicit PosixLogFile(int fd) : fd_(fd) {}
    ~PosixLogFile() override {
        if (fd_ >= 0) ::close(fd_);
    }
    std::uint32_t Size(std::uint64_t& size) override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return LastError();
        size = static_cast<std::uint64_t>(st.st_size);
        return 0;
    }
    std::uint32_t Write(const void* data, std::size_t size) override {
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t n = ::write(fd_, bytes, size);
            if (n < 0) {
                if (errno == EINTR) continue;
                return LastError();
            }
            bytes += n;
            size -= static_cast<std::size_t>(n);
        }
        return 0;
    }
    std::uint32_t ReadAt(std::uint64_t offset, void* data, std::size_t size, std::size_t& read) override {
        ssize_t n;
        while ((n = ::pread(fd_, data, size, static_cast<off_t>(offset))) < 0)
            if (errno != EINTR) return LastError();
        read = static_cast<std::size_t>(n);
        return 0;
    }
    std::uint32_t Truncate(std::uint64_t size) override {
        while (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
            if (errno != EINTR) return LastError();
        return 0;
    }
    std::uint32_t Flush() override { return 0; }  // writes go straight to the system
    std::uint32_t Close() override {
        const int fd = std::exchange(fd_, -1);
        if (fd >= 0 && ::close(fd) != 0) return LastError();
        return 0;
    }

private:
    int fd_;
};

// The log tells who used the shares: readable by its owner and group only.
constexpr mode_t kLogFileMode = 0640;

// The log and the unsaved files are never reached through a symbolic link:
// one put in their place (by whoever can write the folder) would have root
// write the events into any file. Opening it fails with ELOOP, which the log's
// hold treats like any other failure.
std::uint32_t Open(const std::string& path, int flags, std::unique_ptr<ILogFile>& file) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, kLogFileMode);
    if (fd < 0) return LastError();
    file = std::make_unique<PosixLogFile>(fd);
    return 0;
}

}  // namespace

bool PosixLogFileSystem::Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::uint32_t PosixLogFileSystem::OpenForRead(const std::string& path, std::unique_ptr<ILogFile>& file) {
    return Open(path, O_RDONLY, file);
}

std::uint32_t PosixLogFileSystem::Create(const std::string& path, std::unique_ptr<ILogFile>& file) {
    return Open(path, O_WRONLY | O_CREAT | O_TRUNC, file);
}

std::uint32_t PosixLogFileSystem::CreateNew(const std::string& path, std::unique_ptr<ILogFile>& file) {
    return Open(path, O_WRONLY | O_CREAT | O_EXCL, file);
}

std::uint32_t PosixLogFileSystem::OpenForAppend(const std::string& path, std::unique_ptr<ILogFile>& file) {
    return Open(path, O_RDWR | O_CREAT | O_APPEND, file);
}

std::uint32_t PosixLogFileSystem::Delete(const std::string& path) {
    return ::unlink(path.c_str()) == 0 ? 0 : LastError();
}

std::uint32_t PosixLogFileSystem::Move(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return LastError();
    // A file system without RENAME_NOREPLACE: a hard link fails on an existing name too.
    if (::link(from.c_str(), to.c_str()) != 0) return LastError();
    return ::unlink(from.c_str()) == 0 ? 0 : LastError();
}

LocalTime SystemClock::Now() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
            static_cast<int>(tm.tm_gmtoff / 60)};
}

ConsoleNotifier::ConsoleNotifier(std::ostream& out, IProcessRunner& runner, std::string notifySend)
    : out_(out), runner_(runner), notifySend_(std::move(notifySend)) {}

void ConsoleNotifier::ShowBalloonHelp(const std::string& title, const std::string& text, int, TBalloonIconType) {
    std::string body;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find("\r\n", start);
        const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        out_ << title << ' ' << line << '\n';
        if (!body.empty()) body += '\n';
        body += line;
        if (end == std::string::npos) break;
        start = end + 2;
    }
    out_.flush();
    if (!notifySend_.empty()) {
        // A desktop that does not answer must not hold up the watch for long.
        runner_.Run({notifySend_, "--app-name=corvane-watch", "--", title, body}, std::chrono::seconds(3));
    }
}

std::unique_ptr<LogLock> LogLock::Acquire(const std::string& logPath, std::string& error) {
    const std::string path = logPath + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kLogFileMode);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        char text[32] = {};
        const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
        std::string holder = n > 0 ? std::string(text, static_cast<std::size_t>(n)) : std::string();
        while (!holder.empty() && (holder.back() == '\n' || holder.back() == ' ')) holder.pop_back();
        ::close(fd);
        if (why != EWOULDBLOCK) {
            error = path + ": " + std::strerror(why);
        } else {
            error = "the event log " + logPath + " is already kept by another corvane-watch (" +
                    (holder.empty() ? std::string("pid unknown") : "pid " + holder) + ", holding " + path + ")";
        }
        return nullptr;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The lock holds all the same; only the name of its owner is missing.
    }
    return std::unique_ptr<LogLock>(new LogLock(fd));
}

LogLock::~LogLock() { ::close(fd_); }

namespace {

IpAddress FromSocketAddress(const sockaddr* address) {
    IpAddress result;
    if (address->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        std::memcpy(result.Bytes.data(), &in->sin_addr, 4);
    } else {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
        result.V6 = true;
        std::memcpy(result.Bytes.data(), &in6->sin6_addr, 16);
        char name[IF_NAMESIZE] = {};
        if (in6->sin6_scope_id != 0)
            result.Zone = ::if_indextoname(in6->sin6_scope_id, name) ? name : std::to_string(in6->sin6_scope_id);
    }
    return result;
}

bool IsIp(const sockaddr* address) {
    return address && (address->sa_family == AF_INET || address->sa_family == AF_INET6);
}

}  // namespace

std::vector<IpAddress> SystemResolver::Resolve(const std::string& name) {
    if (name != LocalHostName()) return {};
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return {};
    std::vector<IpAddress> addresses;
    for (const addrinfo* a = found; a; a = a->ai_next)
        if (IsIp(a->ai_addr)) addresses.push_back(FromSocketAddress(a->ai_addr));
    ::freeaddrinfo(found);
    return addresses;
}

std::optional<std::string> SystemResolver::LocalHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return std::nullopt;
    return std::string(name);
}

std::vector<IpAddress> SystemResolver::InterfaceAddresses() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return {};
    std::vector<IpAddress> addresses;
    for (const ifaddrs* a = list; a; a = a->ifa_next)
        if (IsIp(a->ifa_addr)) addresses.push_back(FromSocketAddress(a->ifa_addr));
    ::freeifaddrs(list);
    return addresses;
}

}  // namespace corvane::samba
