#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

// An IPv4 or IPv6 address. IPv4 takes the first four bytes.
struct IpAddress {
    bool V6 = false;
    std::array<std::uint8_t, 16> Bytes{};
    std::string Zone;  // IPv6 zone index as written after '%' ("12", "eth0"); may be empty
    // The same address, whatever the zone.
    bool SameAddress(const IpAddress& other) const { return V6 == other.V6 && Bytes == other.Bytes; }
};

// One tracked server session, identified by computer and user name.
struct TSessionInfo {
    bool Seen = false;
    std::string ComputerName;
    std::string IpAddress;
    std::string UserName;
    std::uint32_t OpenCount = 0;
    std::uint32_t ConnectedSeconds = 0;
    std::uint32_t IdleSeconds = 0;
    // The address the server recorded for this session, when it tells one
    // (see SessionRecord); empty when the address came from the name.
    std::string ClientAddress;
};

// One tracked open resource, identified by path and user name. One user can
// hold the same file open several times: the resource stands for all of them.
struct TFileInfo {
    bool Seen = false;
    // The ids of every open of this path and user that the last resource scan
    // found, in listing order, each once.
    std::vector<std::uint32_t> FileIds;
    std::uint32_t Permissions = 0;
    std::uint32_t LockCount = 0;
    std::string PathName;
    std::string UserName;
    bool Shown = false;
    // The identity the watch found it by: text::PairKey of the path and the
    // user under the watch's collation (empty: not known). The lists key
    // their rows the same way, so a pass that adds or removes thousands of
    // rows does not work out thousands of sort keys again on the window's
    // thread.
    std::string Key;
};

// A session as the server lists it (level 502), names already in UTF-8.
struct SessionRecord {
    std::string ComputerName;
    std::string UserName;
    std::uint32_t OpenCount = 0;
    std::uint32_t ConnectedSeconds = 0;
    std::uint32_t IdleSeconds = 0;
    // The client's address as the server itself recorded it for this session
    // ("192.168.1.5", "2001:db8::5"). A server that tells it (Samba) gets
    // sessions told apart by it and no name lookup; the Windows server tells
    // none, and the computer name is looked up.
    std::string ClientAddress = {};
};

// An open resource as the server lists it (level 3).
struct FileRecord {
    std::uint32_t FileId = 0;
    std::uint32_t Permissions = 0;
    std::uint32_t LockCount = 0;
    std::string PathName;
    std::string UserName;
};

enum class TBalloonIconType : int { bitNone = 0, bitInfo = 1, bitWarning = 2, bitError = 3 };

}  // namespace corvane
