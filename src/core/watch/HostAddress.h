#pragma once
#include <string>

#include "core/watch/WatchPorts.h"

namespace corvane {

inline constexpr const char* kNoAddress = "(N/A)";
inline constexpr const char* kLoopbackAddress = "127.0.0.1";

// Dotted IPv4 text of the name's first address, or "(N/A)".
std::string LookupHostAddress(IResolver& resolver, const std::string& name);

// A recorded client address as the log writes it: IPv4 as it is (also when
// written IPv4-mapped, "::ffff:192.168.1.5"), anything else "(N/A)", as a
// name lookup gives.
std::string LoggedAddress(const std::string& recorded);

// The computer's own first address, or "(N/A)".
std::string LookupLocalAddress(IResolver& resolver);

// False when a session from `address` is to be ignored as local.
bool IsWatchedAddress(const std::string& address, const std::string& localAddress, bool ignoreLocalConnection);

}  // namespace corvane
