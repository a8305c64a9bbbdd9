#include "linux/SambaServer.h"

#include <algorithm>
#include <utility>

#include <unistd.h>

#include "core/watch/HostAddress.h"

namespace corvane::samba {
namespace {

// One client and user: computer, address and user name.
std::string Identity(const text::ICollation& collation, const SessionRecord& r) {
    return text::PairKey(collation, r.ComputerName, r.UserName) + '\x01' + r.ClientAddress;
}

}  // namespace

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
    // A session that left and comes back is a new one: its failures are told again.
    std::erase_if(failureTold_, [this](const std::string& told) {
        return std::none_of(sessions_.begin(), sessions_.end(),
                            [&](const SambaSession& s) { return Identity(collation_, s.Record) == told; });
    });
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

const SambaSession* SambaServer::Find(const std::string& computer, const std::string& address,
                                      const std::string& user) const {
    for (const auto& session : sessions_) {
        if (session.Record.ClientAddress == address && collation_.EqualIgnoreCase(session.Record.ComputerName, computer) &&
            collation_.EqualIgnoreCase(session.Record.UserName, user))
            return &session;
    }
    return nullptr;
}

void SambaServer::Fail(const SambaSession& session, const std::string& reason) {
    std::string identity = Identity(collation_, session.Record);
    if (std::find(failureTold_.begin(), failureTold_.end(), identity) != failureTold_.end()) return;
    failureTold_.push_back(std::move(identity));
    disconnectFailures_.push_back(
        {session.Record.ComputerName, session.Record.UserName, reason, LoggedAddress(session.Record.ClientAddress)});
}

bool SambaServer::End(const SambaSession& session) {
    // Shutting down a process ends every session it serves: another user's
    // connection and open files are not ours to end.
    if (!session.SharedProcess.empty()) {
        Fail(session, session.SharedProcess + "; Samba can end only whole processes, so it stays connected");
        return false;
    }
    if (session.Pids.empty()) {
        Fail(session, "no smbd process is known for this session");
        return false;
    }
    bool ended = true;
    for (const long pid : session.Pids) {
        const ProcessResult run = runner_.Run({tools_.Smbcontrol, std::to_string(pid), "shutdown"}, tools_.Timeout);
        if (!run.Succeeded()) {
            Fail(session, tools_.Smbcontrol + " " + std::to_string(pid) + " shutdown: " + run.Describe());
            ended = false;
        }
    }
    if (ended) std::erase(failureTold_, Identity(collation_, session.Record));
    return ended;
}

bool SambaServer::EndSession(const TSessionInfo& session) {
    if (const SambaSession* listed = Find(session.ComputerName, session.ClientAddress, session.UserName))
        return End(*listed);
    disconnectFailures_.push_back({session.ComputerName, session.UserName, "no smbd process is known for this session",
                                   session.IpAddress});
    return false;
}

void SambaServer::SessionDel(const std::string& uncClientName, const std::string& userName) {
    std::string computer = uncClientName;
    computer.erase(0, std::min(computer.find_first_not_of('\\'), computer.size()));
    bool any = false;
    for (const auto& session : sessions_) {
        if (collation_.EqualIgnoreCase(session.Record.ComputerName, computer) &&
            collation_.EqualIgnoreCase(session.Record.UserName, userName)) {
            End(session);
            any = true;
        }
    }
    if (!any) disconnectFailures_.push_back({computer, userName, "no smbd process is known for this session"});
}

std::string SambaServer::SharedProcess(const TSessionInfo& session) const {
    const SambaSession* listed = Find(session.ComputerName, session.ClientAddress, session.UserName);
    return listed ? listed->SharedProcess : std::string();
}

std::vector<DisconnectFailure> SambaServer::TakeDisconnectFailures() {
    return std::exchange(disconnectFailures_, {});
}

}  // namespace corvane::samba
