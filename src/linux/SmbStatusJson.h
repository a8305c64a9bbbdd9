#pragma once
// What `smbstatus --json -B` prints, turned into the records the watch scans
// know: one session per client computer and user, one file record per open.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/text/Collation.h"
#include "core/watch/WatchTypes.h"

namespace corvane::samba {

// Record.ClientAddress comes from the session's own "ipv4:"/"ipv6:" host
// field (an IPv4-mapped IPv6 address written as IPv4); empty if it has none.
// Record.IdleSeconds is always 0: Samba keeps no idle time.
struct SambaSession {
    SessionRecord Record;
    std::vector<long> Pids;   // the smbd processes that serve this client and user
    // Why this session cannot be ended alone: Samba ends whole processes, and
    // one of its processes also serves another session, for instance
    // "smbd process 5100 also serves SAMDOM\\saburo (10.0.0.7)". Empty when
    // its processes serve it only.
    std::string SharedProcess;
};

struct SmbStatusSnapshot {
    std::vector<SambaSession> Sessions;  // sessions without a user name come last
    std::vector<FileRecord> Files;
};

struct SmbStatusParse {
    std::optional<SmbStatusSnapshot> Snapshot;
    std::string Error;  // why the text was refused, when Snapshot is empty
};

// `nowFallback` (seconds since the epoch) stands in for the listing's own
// "timestamp" when that is missing. Never throws.
SmbStatusParse ParseSmbStatusJson(std::string_view text, std::int64_t nowFallback,
                                  const text::ICollation& collation);

// "ipv4:192.168.1.5:50123" -> "192.168.1.5"; "ipv6:fe80::1:50123" -> "fe80::1";
// "ipv6:::ffff:192.168.1.5:50123" -> "192.168.1.5" (one client, one spelling).
// Anything else gives "".
std::string AddressFromHostField(std::string_view host);

// ISO 8601 date and time as smbstatus writes it ("2024-05-01T09:05:07.123456+09:00",
// "+0900", "Z" or no offset meaning UTC), in seconds since the epoch.
std::optional<std::int64_t> ParseIsoTime(std::string_view text);

// Names from the server with control characters (line breaks, tabs, escape
// sequences) replaced by '?', so no name can split or forge a log line.
std::string SanitizeName(std::string_view name);

}  // namespace corvane::samba
