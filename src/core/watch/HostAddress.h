#pragma once
// Client addresses: their text, the lookup of a computer name, and the
// addresses of this computer that the local-connection filter knows.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/watch/WatchPorts.h"

namespace corvane {

inline constexpr const char* kNoAddress = "(N/A)";

// An address written as text: IPv4 dotted ("192.168.1.5"), IPv6 in any of
// its forms ("2001:DB8:0::25", "::ffff:10.0.0.7"), either of them in
// brackets, IPv6 with a zone index after '%' ("fe80::1%12", "[fe80::1%eth0]").
// Nothing else: no host names, no ports, no octal or shortened IPv4.
std::optional<IpAddress> ParseAddress(std::string_view text);

// The usual text of an address: IPv4 dotted; IPv6 in lower case, each group
// without leading zeros and the longest run of two or more zero groups (the
// first of equal ones) written "::" (RFC 5952), the zone kept after '%'. An
// IPv4-mapped address ("::ffff:10.0.0.7") is the IPv4 client it stands for
// and is written as IPv4. No text contains a comma or a blank.
std::string AddressText(const IpAddress& address);

// The address shown and logged for a computer name. A name that is itself an
// address is that address; any other name is looked up: its first IPv4
// address, else its first IPv6 address, else "(N/A)".
std::string LookupHostAddress(IResolver& resolver, const std::string& name);

// A recorded client address as the log writes it (AddressText), or "(N/A)".
std::string LoggedAddress(const std::string& recorded);

// This computer's addresses, as the local-connection filter knows them.
class LocalAddresses {
public:
    LocalAddresses() = default;
    // `nameResolves`: whether the computer's own name resolved.
    LocalAddresses(std::vector<IpAddress> addresses, bool nameResolves)
        : addresses_(std::move(addresses)), nameResolves_(nameResolves) {}

    // Every address of the computer's adapters and every address its own
    // host name resolves to.
    static LocalAddresses Read(IResolver& resolver);

    // Whether a session shown with `address` (AddressText, or "(N/A)") comes
    // from this computer: any of its addresses (a link-local one on the same
    // link: with the same zone, when both are written), the whole of
    // 127.0.0.0/8 and ::1. While the computer's own name does not resolve, a
    // client whose name does not resolve either ("(N/A)" from a lookup) may
    // be this computer too, and counts as local; an address the server
    // recorded is never taken for this computer's only for being unreadable.
    bool Contains(const std::string& address, bool lookedUp) const;

private:
    std::vector<IpAddress> addresses_;
    bool nameResolves_ = true;
};

}  // namespace corvane
