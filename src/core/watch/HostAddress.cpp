#include "core/watch/HostAddress.h"

namespace corvane {

std::string LookupHostAddress(IResolver& resolver, const std::string& name) {
    const auto address = resolver.Resolve(name);
    if (!address) return kNoAddress;
    std::string text;
    for (std::size_t i = 0; i < address->size(); ++i) {
        if (i) text += '.';
        text += std::to_string((*address)[i]);
    }
    return text;
}

std::string LookupLocalAddress(IResolver& resolver) {
    const auto name = resolver.LocalHostName();
    if (!name) return kNoAddress;
    return LookupHostAddress(resolver, *name);
}

bool IsWatchedAddress(const std::string& address, const std::string& localAddress, bool ignoreLocalConnection) {
    if (!ignoreLocalConnection) return true;
    return address != localAddress && address != kLoopbackAddress;
}

}  // namespace corvane
