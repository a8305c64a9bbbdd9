#pragma once
// Name lookups with Windows Sockets, and this computer's addresses from the
// IP helper library.
#include <atomic>
#include <memory>

#include "core/watch/WatchPorts.h"

namespace corvane::win {

// Starts Windows Sockets; the sockets layer stays up until the process ends.
void StartWinsock();

class WinsockResolver final : public IResolver {
public:
    WinsockResolver();
    ~WinsockResolver() override;
    WinsockResolver(const WinsockResolver&) = delete;
    WinsockResolver& operator=(const WinsockResolver&) = delete;

    std::vector<IpAddress> Resolve(const std::string& name) override;
    std::optional<std::string> LocalHostName() override;
    // The unicast addresses of every adapter (GetAdaptersAddresses). The first
    // call also asks to be told when they change.
    std::vector<IpAddress> InterfaceAddresses() override;
    bool InterfaceAddressesChanged() override;

private:
    struct IpHelper;
    std::unique_ptr<IpHelper> ipHelper_;  // loaded by the first InterfaceAddresses
    std::atomic<bool> changed_{false};
};

}  // namespace corvane::win
