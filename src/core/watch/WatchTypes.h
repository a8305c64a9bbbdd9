#pragma once
#include <cstdint>
#include <string>

namespace corvane {

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

// One tracked open resource, identified by path and user name.
struct TFileInfo {
    bool Seen = false;
    std::uint32_t FileId = 0;
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
