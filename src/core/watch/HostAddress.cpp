#include "core/watch/HostAddress.h"

#include <algorithm>

namespace corvane {
namespace {

// Four decimal parts of 0 to 255, none with a leading zero (which some
// readers take for octal).
std::optional<std::array<std::uint8_t, 4>> ParseIpv4(std::string_view text) {
    std::array<std::uint8_t, 4> bytes{};
    std::size_t part = 0;
    std::size_t digits = 0;
    unsigned value = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            if (digits == 0 || part > 3) return std::nullopt;
            bytes[part++] = static_cast<std::uint8_t>(value);
            digits = 0;
            value = 0;
        } else if (text[i] >= '0' && text[i] <= '9') {
            if (digits == 1 && value == 0) return std::nullopt;
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
            if (++digits > 3 || value > 255) return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    if (part != 4) return std::nullopt;
    return bytes;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Eight groups of one to four hexadecimal digits; one "::" may stand for one
// or more zero groups; the last two groups may be written as IPv4.
std::optional<std::array<std::uint8_t, 16>> ParseIpv6(std::string_view text) {
    std::array<std::uint16_t, 8> groups{};
    std::size_t count = 0;
    std::optional<std::size_t> gap;
    std::size_t i = 0;
    if (text.starts_with("::")) {
        gap = 0;
        i = 2;
    }
    while (i < text.size()) {
        const std::size_t end = std::min(text.find(':', i), text.size());
        const std::string_view token = text.substr(i, end - i);
        if (token.empty()) return std::nullopt;
        if (token.find('.') != std::string_view::npos) {
            const auto v4 = ParseIpv4(token);
            if (!v4 || end != text.size() || count > 6) return std::nullopt;
            groups[count++] = static_cast<std::uint16_t>((*v4)[0] << 8 | (*v4)[1]);
            groups[count++] = static_cast<std::uint16_t>((*v4)[2] << 8 | (*v4)[3]);
            break;
        }
        if (token.size() > 4 || count == 8) return std::nullopt;
        unsigned value = 0;
        for (const char c : token) {
            const int digit = HexDigit(c);
            if (digit < 0) return std::nullopt;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        groups[count++] = static_cast<std::uint16_t>(value);
        if (end == text.size()) break;
        if (end + 1 < text.size() && text[end + 1] == ':') {
            if (gap) return std::nullopt;
            gap = count;
            i = end + 2;
        } else {
            i = end + 1;
            if (i == text.size()) return std::nullopt;  // a single colon at the end
        }
    }
    if (gap ? count > 7 : count != 8) return std::nullopt;
    std::array<std::uint16_t, 8> full{};
    const std::size_t before = gap.value_or(count);
    std::copy_n(groups.begin(), before, full.begin());
    std::copy(groups.begin() + static_cast<std::ptrdiff_t>(before), groups.begin() + static_cast<std::ptrdiff_t>(count),
              full.end() - static_cast<std::ptrdiff_t>(count - before));
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t g = 0; g < 8; ++g) {
        bytes[2 * g] = static_cast<std::uint8_t>(full[g] >> 8);
        bytes[2 * g + 1] = static_cast<std::uint8_t>(full[g] & 0xFF);
    }
    return bytes;
}

// A zone is an interface's number or name: letters, digits, '.', '_', '-'.
bool ValidZone(std::string_view zone) {
    return !zone.empty() && zone.size() <= 64 && std::all_of(zone.begin(), zone.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '_' ||
               c == '-';
    });
}

bool IsIpv4Mapped(const IpAddress& a) {
    return a.V6 && std::all_of(a.Bytes.begin(), a.Bytes.begin() + 10, [](std::uint8_t b) { return b == 0; }) &&
           a.Bytes[10] == 0xFF && a.Bytes[11] == 0xFF;
}

std::string Ipv4Text(const std::uint8_t* bytes) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (i) text += '.';
        text += std::to_string(bytes[i]);
    }
    return text;
}

// A name under the top-level domain "invalid" never resolves (RFC 6761), so
// it is not asked for: a resolver may take long to say so.
bool IsInvalidDomain(std::string_view name) {
    if (name.ends_with('.')) name.remove_suffix(1);
    constexpr std::string_view kInvalid = ".invalid";
    if (name.size() <= kInvalid.size()) return false;
    const std::string_view tail = name.substr(name.size() - kInvalid.size());
    return std::equal(tail.begin(), tail.end(), kInvalid.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a + 32) : a) == b;
    });
}

}  // namespace

std::optional<IpAddress> ParseAddress(std::string_view text) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
    IpAddress address;
    if (const auto v4 = ParseIpv4(text)) {
        std::copy(v4->begin(), v4->end(), address.Bytes.begin());
        return address;
    }
    const std::size_t percent = text.find('%');
    if (percent != std::string_view::npos) {
        if (!ValidZone(text.substr(percent + 1))) return std::nullopt;
        address.Zone = std::string(text.substr(percent + 1));
        text = text.substr(0, percent);
    }
    const auto v6 = ParseIpv6(text);
    if (!v6) return std::nullopt;
    address.V6 = true;
    address.Bytes = *v6;
    return address;
}

std::string AddressText(const IpAddress& address) {
    if (!address.V6) return Ipv4Text(address.Bytes.data());
    if (IsIpv4Mapped(address)) return Ipv4Text(address.Bytes.data() + 12);
    std::array<unsigned, 8> groups{};
    for (std::size_t g = 0; g < 8; ++g) groups[g] = address.Bytes[2 * g] << 8 | address.Bytes[2 * g + 1];
    // The longest run of zero groups, if it has two or more.
    std::size_t runStart = 8, runLength = 0;
    for (std::size_t g = 0; g < 8;) {
        if (groups[g] != 0) {
            ++g;
            continue;
        }
        std::size_t end = g;
        while (end < 8 && groups[end] == 0) ++end;
        if (end - g > runLength) {
            runStart = g;
            runLength = end - g;
        }
        g = end;
    }
    if (runLength < 2) runStart = 8;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (std::size_t g = 0; g < 8; ++g) {
        if (g == runStart) {
            text += "::";
            g += runLength - 1;
            continue;
        }
        if (g && g != runStart + runLength) text += ':';
        bool leading = true;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned digit = groups[g] >> shift & 0xF;
            if (leading && digit == 0 && shift) continue;
            leading = false;
            text += kHex[digit];
        }
    }
    if (!address.Zone.empty()) text += '%' + address.Zone;
    return text;
}

std::string LookupHostAddress(IResolver& resolver, const std::string& name) {
    if (const auto literal = ParseAddress(name)) return AddressText(*literal);
    if (IsInvalidDomain(name)) return kNoAddress;
    const std::vector<IpAddress> found = resolver.Resolve(name);
    const auto v4 = std::find_if(found.begin(), found.end(), [](const IpAddress& a) { return !a.V6; });
    if (v4 != found.end()) return AddressText(*v4);
    return found.empty() ? std::string(kNoAddress) : AddressText(found.front());
}

std::string LoggedAddress(const std::string& recorded) {
    const auto address = ParseAddress(recorded);
    return address ? AddressText(*address) : std::string(kNoAddress);
}

LocalAddresses LocalAddresses::Read(IResolver& resolver) {
    std::vector<IpAddress> addresses = resolver.InterfaceAddresses();
    bool nameResolves = false;
    if (const auto name = resolver.LocalHostName()) {
        std::vector<IpAddress> own = resolver.Resolve(*name);
        nameResolves = !own.empty();
        addresses.insert(addresses.end(), own.begin(), own.end());
    }
    return LocalAddresses(std::move(addresses), nameResolves);
}

namespace {

// fe80::/10: the same address may be another computer on every link.
bool IsLinkLocal(const IpAddress& address) {
    return address.V6 && address.Bytes[0] == 0xfe && (address.Bytes[1] & 0xc0) == 0x80;
}

}  // namespace

bool LocalAddresses::Contains(const std::string& address, bool lookedUp) const {
    auto parsed = ParseAddress(address);
    if (!parsed) return lookedUp && !nameResolves_ && address == kNoAddress;
    if (IsIpv4Mapped(*parsed)) {
        IpAddress v4;
        std::copy(parsed->Bytes.begin() + 12, parsed->Bytes.end(), v4.Bytes.begin());
        parsed = v4;
    }
    if (!parsed->V6 && parsed->Bytes[0] == 127) return true;
    static constexpr std::array<std::uint8_t, 16> kLoopback6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    if (parsed->V6 && parsed->Bytes == kLoopback6) return true;
    return std::any_of(addresses_.begin(), addresses_.end(), [&](const IpAddress& own) {
        // A link-local client is this computer only on the link it came
        // from; a client written without its link may be on any of them.
        if (IsLinkLocal(own) && !own.Zone.empty() && !parsed->Zone.empty() && own.Zone != parsed->Zone)
            return false;
        if (!IsIpv4Mapped(own)) return own.SameAddress(*parsed);
        return !parsed->V6 && std::equal(own.Bytes.begin() + 12, own.Bytes.end(), parsed->Bytes.begin());
    });
}

}  // namespace corvane
