#pragma once
// Name lookups with Windows Sockets 1.1.
#include "core/watch/WatchPorts.h"

namespace corvane::win {

// Starts Windows Sockets 1.1; the sockets layer stays up until the process ends.
void StartWinsock();

class WinsockResolver final : public IResolver {
public:
    std::optional<std::array<std::uint8_t, 4>> Resolve(const std::string& name) override;
    std::optional<std::string> LocalHostName() override;
};

}  // namespace corvane::win
