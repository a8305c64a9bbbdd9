#pragma once
// The Samba file server behind the watch's server and resolver ports: the
// listing comes from `smbstatus --json -B`, sessions end through
// `smbcontrol <pid> shutdown`, and a session's address is the one Samba
// recorded for it (no name lookup).
#include <chrono>
#include <functional>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/text/Collation.h"
#include "core/watch/WatchPorts.h"
#include "linux/Process.h"
#include "linux/SmbStatusJson.h"

namespace corvane::samba {

struct SambaTools {
    std::string Smbstatus = "smbstatus";
    std::string Smbcontrol = "smbcontrol";
    std::chrono::milliseconds Timeout{10000};
};

// Status returned by an enumeration that could not be had (any non-zero
// status makes the scan skip its pass).
inline constexpr std::uint32_t kListingFailed = 1;

// A connection that could not be ended, and why.
struct DisconnectFailure {
    std::string ComputerName;
    std::string UserName;
    std::string Reason;
    std::string Address = {};  // as the log writes it; empty when the session is not listed
    bool operator==(const DisconnectFailure&) const = default;
};

class SambaServer final : public IServerApi {
public:
    // `now` gives seconds since the epoch, used when the listing has no time stamp.
    SambaServer(IProcessRunner& runner, SambaTools tools, const text::ICollation& collation,
                std::function<std::int64_t()> now);

    // Runs smbstatus. The listing is kept for the resource scan of the same pass.
    std::uint32_t EnumSessions(std::vector<SessionRecord>& records) override;
    // Uses the listing the session scan just took, or runs smbstatus itself.
    std::uint32_t EnumFiles(std::vector<FileRecord>& records) override;
    // Ends every session of that computer and user, as EndSession does.
    void SessionDel(const std::string& uncClientName, const std::string& userName) override;
    // Shuts down the smbd processes of the session of the latest listing with
    // that computer, address and user. Samba ends whole processes only: a
    // session whose process also serves another session is not ended at all.
    // False when it was not ended; why is told through TakeDisconnectFailures,
    // once for as long as the session stays listed.
    bool EndSession(const TSessionInfo& session) override;
    // Samba has no messenger service; nothing is sent.
    void MessageBufferSend(const std::string&, const std::string&) override {}

    // Why the latest listing was not had; empty when it was.
    const std::string& ListingError() const noexcept { return listingError_; }
    // Failed disconnections since the last call.
    std::vector<DisconnectFailure> TakeDisconnectFailures();
    // Why the tracked session cannot be ended alone (see
    // SambaSession::SharedProcess); empty when it can or is not listed.
    std::string SharedProcess(const TSessionInfo& session) const;

private:
    bool Query();
    const SambaSession* Find(const std::string& computer, const std::string& address, const std::string& user) const;
    bool End(const SambaSession& session);
    void Fail(const SambaSession& session, const std::string& reason);

    IProcessRunner& runner_;
    SambaTools tools_;
    const text::ICollation& collation_;
    std::function<std::int64_t()> now_;
    std::vector<SambaSession> sessions_;
    std::vector<FileRecord> files_;
    bool filesPending_ = false;  // EnumSessions queried; EnumFiles has not used the answer yet
    std::string listingError_;
    std::vector<DisconnectFailure> disconnectFailures_;
    // Sessions whose failed end has been told, by identity; forgotten when
    // they leave the listing or are ended.
    std::vector<std::string> failureTold_;
};

}  // namespace corvane::samba
