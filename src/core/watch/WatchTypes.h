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
};

// A session as the server lists it (level 502), names already in UTF-8.
struct SessionRecord {
    std::string ComputerName;
    std::string UserName;
    std::uint32_t OpenCount = 0;
    std::uint32_t ConnectedSeconds = 0;
    std::uint32_t IdleSeconds = 0;
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
