#pragma once
// A watch event in one call, for tests that build many of them.
#include <cstdint>
#include <string>

#include "core/events/WatchEvent.h"

namespace corvane::test {

inline WatchEvent MakeEvent(EventKind kind, std::string computer, std::string address, std::string user,
                            std::string path = "", std::string detail = "", std::uint64_t count = 0,
                            LocalTime time = {}) {
    WatchEvent e;
    e.Kind = kind;
    e.Time = time;
    e.ComputerName = std::move(computer);
    e.IpAddress = std::move(address);
    e.UserName = std::move(user);
    e.PathName = std::move(path);
    e.Detail = std::move(detail);
    e.Count = count;
    return e;
}

}  // namespace corvane::test
