// CardinalToTimeStr: "hh:mm:ss" with hours below 24, preceded by "<days> d. "
// only when there are whole days, and read back to the same number of
// seconds. Any other text read as a duration must not misbehave.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "core/views/TimeStr.h"

namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }

// Two digits below `limit`.
bool Pair(std::string_view s, unsigned limit, std::uint64_t& value) {
    if (s.size() != 2 || !Digit(s[0]) || !Digit(s[1])) return false;
    value = static_cast<unsigned>(s[0] - '0') * 10u + static_cast<unsigned>(s[1] - '0');
    return value < limit;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint32_t n = 0;
    std::memcpy(&n, data, size < sizeof n ? size : sizeof n);
    const std::string text = corvane::views::CardinalToTimeStr(n);

    std::string_view rest = text;
    std::uint64_t days = 0;
    if (const auto sep = rest.find(" d. "); sep != std::string_view::npos) {
        const auto digits = rest.substr(0, sep);
        FUZZ_CHECK(!digits.empty() && digits.front() != '0');
        for (const char c : digits) {
            FUZZ_CHECK(Digit(c));
            days = days * 10 + static_cast<unsigned>(c - '0');
        }
        rest.remove_prefix(sep + 4);
    }
    std::uint64_t h = 0, m = 0, s = 0;
    FUZZ_CHECK(rest.size() == 8 && rest[2] == ':' && rest[5] == ':');
    FUZZ_CHECK(Pair(rest.substr(0, 2), 24, h) && Pair(rest.substr(3, 2), 60, m) && Pair(rest.substr(6, 2), 60, s));
    FUZZ_CHECK(days * 86400 + h * 3600 + m * 60 + s == n);
    FUZZ_CHECK(corvane::views::TimeStrToSeconds(text) == n);

    if (size > sizeof n) {
        (void)corvane::views::TimeStrToSeconds(
            std::string_view(reinterpret_cast<const char*>(data) + sizeof n, size - sizeof n));
    }
    return 0;
}
