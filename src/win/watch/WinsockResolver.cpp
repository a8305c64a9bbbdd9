#include "win/watch/WinsockResolver.h"

#include <winsock2.h>

#include "core/text/Text.h"

namespace corvane::win {

void StartWinsock() {
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);  // a failure only makes every lookup "(N/A)"
}

std::optional<std::array<std::uint8_t, 4>> WinsockResolver::Resolve(const std::string& name) {
    // The resolver takes names in the ANSI code page.
    const std::string ansi = text::Utf8ToCp932(name);
    const hostent* host = gethostbyname(ansi.c_str());
    if (!host || host->h_addrtype != AF_INET || host->h_length != 4 || !host->h_addr_list || !host->h_addr_list[0])
        return std::nullopt;
    std::array<std::uint8_t, 4> address{};
    for (int i = 0; i < 4; ++i) address[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(host->h_addr_list[0][i]);
    return address;
}

std::optional<std::string> WinsockResolver::LocalHostName() {
    char name[260] = {};
    if (gethostname(name, sizeof name) != 0) return std::nullopt;
    return text::Cp932ToUtf8(name);
}

}  // namespace corvane::win
