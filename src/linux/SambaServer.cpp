#include "linux/SambaServer.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include <unistd.h>

namespace corvane::samba {

std::optional<std::array<std::uint8_t, 4>> ParseIpv4(std::string_view address) {
    for (std::string_view mapped : {"::ffff:", "::FFFF:"}) {
        if (address.starts_with(mapped)) address.remove_prefix(mapped.size());
    }
    std::array<std::uint8_t, 4> bytes{};
    for (std::size_t i = 0; i < 4; ++i) {
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(address.data(), address.data() + address.size(), value);
        const std::size_t used = static_cast<std::size_t>(end - address.data());
        if (ec != std::errc() || used == 0 || used > 3 || value > 255) return std::nullopt;
        bytes[i] = static_cast<std::uint8_t>(value);
        address.remove_prefix(used);
        if (i < 3) {
            if (address.empty() || address.front() != '.') return std::nullopt;
            address.remove_prefix(1);
        }
    }
    if (!address.empty()) return std::nullopt;
    return bytes;
}

SambaServer::SambaServer(IProcessRunner& runner, SambaTools tools, const text::ICollation& collation,
                         std::function<std::int64_t()> now)
    : runner_(runner), tools_(std::move(tools)), collation_(collation), now_(std::move(now)) {}

bool SambaServer::Query() {
    const ProcessResult run = runner_.Run({tools_.Smbstatus, "--json", "-B"}, tools_.Timeout);
    if (!run.Succeeded()) {
        listingError_ = tools_.Smbstatus + ": " + run.Describe();
        return false;
    }
    SmbStatusParse parsed = ParseSmbStatusJson(run.Out, now_(), collation_);
    if (!parsed.Snapshot) {
        listingError_ = parsed.Error;
        return false;
    }
    listingError_.clear();
    sessions_ = std::move(parsed.Snapshot->Sessions);
    files_ = std::move(parsed.Snapshot->Files);
    return true;
}

std::uint32_t SambaServer::EnumSessions(std::vector<SessionRecord>& records) {
    filesPending_ = true;  // the resource scan of this pass takes this answer, good or bad
    if (!Query()) return kListingFailed;
    records.clear();
    for (const auto& session : sessions_) records.push_back(session.Record);
    return 0;
}

std::uint32_t SambaServer::EnumFiles(std::vector<FileRecord>& records) {
    const bool fromSessions = std::exchange(filesPending_, false);
    if (fromSessions ? !listingError_.empty() : !Query()) return kListingFailed;
    records = files_;
    return 0;
}

void SambaServer::SessionDel(const std::string& uncClientName, const std::string& userName) {
    std::string computer = uncClientName;
    computer.erase(0, std::min(computer.find_first_not_of('\\'), computer.size()));
    std::vector<long> pids;
    for (const auto& session : sessions_) {
        if (collation_.EqualIgnoreCase(session.Record.ComputerName, computer) &&
            collation_.EqualIgnoreCase(session.Record.UserName, userName)) {
            for (long pid : session.Pids) {
                if (pid > 0 && std::find(pids.begin(), pids.end(), pid) == pids.end()) pids.push_back(pid);
            }
        }
    }
    if (pids.empty()) {
        disconnectFailures_.push_back({computer, userName, "no smbd process is known for this session"});
        return;
    }
    for (long pid : pids) {
        const ProcessResult run = runner_.Run({tools_.Smbcontrol, std::to_string(pid), "shutdown"}, tools_.Timeout);
        if (!run.Succeeded()) {
            disconnectFailures_.push_back(
                {computer, userName, tools_.Smbcontrol + " " + std::to_string(pid) + " shutdown: " + run.Describe()});
        }
    }
}

std::optional<std::array<std::uint8_t, 4>> SambaServer::Resolve(const std::string& name) {
    for (const auto& session : sessions_) {
        if (session.Record.ComputerName == name && !session.Address.empty()) return ParseIpv4(session.Address);
    }
    return std::nullopt;
}

std::optional<std::string> SambaServer::LocalHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return std::nullopt;
    return std::string(name);
}

std::vector<DisconnectFailure> SambaServer::TakeDisconnectFailures() {
    return std::exchange(disconnectFailures_, {});
}

}  // namespace corvane::samba
