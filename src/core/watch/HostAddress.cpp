#include "core/watch/HostAddress.h"

#include <string_view>

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

std::string LoggedAddress(const std::string& recorded) {
    std::string_view text = recorded;
    for (std::string_view mapped : {"::ffff:", "::FFFF:"}) {
        if (text.starts_with(mapped)) text.remove_prefix(mapped.size());
    }
    int parts = 0;
    std::size_t digits = 0;
    unsigned value = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<unsigned>(c - '0');
            if (++digits > 3 || value > 255) return kNoAddress;
        } else if (c == '.' && digits > 0 && parts < 3) {
            ++parts;
            digits = 0;
            value = 0;
        } else {
            return kNoAddress;
        }
    }
    return parts == 3 && digits > 0 ? std::string(text) : std::string(kNoAddress);
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
