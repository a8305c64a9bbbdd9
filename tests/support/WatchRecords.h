#pragma once
// Tracked records for tests of the row operations.
#include <cstdint>
#include <string>

#include "core/watch/WatchTypes.h"

namespace corvane::testing {

inline TSessionInfo Session(std::string computer, std::string user, std::uint32_t open = 1,
                            std::uint32_t connected = 0, std::uint32_t idle = 0) {
    TSessionInfo info;
    info.ComputerName = std::move(computer);
    info.UserName = std::move(user);
    info.OpenCount = open;
    info.ConnectedSeconds = connected;
    info.IdleSeconds = idle;
    return info;
}

inline TFileInfo Resource(std::string user, std::string path) {
    TFileInfo info;
    info.UserName = std::move(user);
    info.PathName = std::move(path);
    return info;
}

}  // namespace corvane::testing
