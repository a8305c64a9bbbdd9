#pragma once
// The Samba file server behind the watch's server and resolver ports: the
// listing comes from `smbstatus --json -B`, sessions end through
// `smbcontrol <pid> shutdown`, and a session's address is the one Samba
// recorded for it (no name lookup).
#include <chrono>
#include <functional>
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
    bool operator==(const DisconnectFailure&) const = default;
};

class SambaServer final : public IServerApi, public IResolver {
public:
    // `now` gives seconds since the epoch, used when the listing has no time stamp.
    SambaServer(IProcessRunner& runner, SambaTools tools, const text::ICollation& collation,
                std::function<std::int64_t()> now);

    // Runs smbstatus. The listing is kept for the resource scan of the same pass.
    std::uint32_t EnumSessions(std::vector<SessionRecord>& records) override;
    // Uses the listing the session scan just took, or runs smbstatus itself.
    std::uint32_t EnumFiles(std::vector<FileRecord>& records) override;
    // Ends every smbd process that serves that computer and user.
    void SessionDel(const std::string& uncClientName, const std::string& userName) override;
    // Samba has no messenger service; nothing is sent.
    void MessageBufferSend(const std::string&, const std::string&) override {}

    // The IPv4 address Samba recorded for a computer of the latest listing
    // (an IPv4-mapped IPv6 address counts); nothing for other names.
    std::optional<std::array<std::uint8_t, 4>> Resolve(const std::string& name) override;
    std::optional<std::string> LocalHostName() override;

    // Why the latest listing was not had; empty when it was.
    const std::string& ListingError() const noexcept { return listingError_; }
    // Failed disconnections since the last call, one text each:
    // "<computer>,<user>,<reason>".
    std::vector<DisconnectFailure> TakeDisconnectFailures();

private:
    bool Query();

    IProcessRunner& runner_;
    SambaTools tools_;
    const text::ICollation& collation_;
    std::function<std::int64_t()> now_;
    std::vector<SambaSession> sessions_;
    std::vector<FileRecord> files_;
    bool filesPending_ = false;  // EnumSessions queried; EnumFiles has not used the answer yet
    std::string listingError_;
    std::vector<DisconnectFailure> disconnectFailures_;
};

// "192.168.1.5" or "::ffff:192.168.1.5" -> the four bytes; anything else: nothing.
std::optional<std::array<std::uint8_t, 4>> ParseIpv4(std::string_view address);

}  // namespace corvane::samba
