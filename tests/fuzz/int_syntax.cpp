// The integer syntax of the settings file, read against std::from_chars, and
// the program's own spellings of every value read back to the same value.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzCheck.h"

namespace {

using corvane::text::ParseInt32;

std::optional<int> Reference(std::string_view t) {
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    bool negative = false;
    if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    int base = 10;
    if (!t.empty() && (t.front() == '$' || t.front() == 'x' || t.front() == 'X')) {
        base = 16;
        t.remove_prefix(1);
    } else if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t.remove_prefix(2);
    }
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value, base);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
    if (base == 16) {
        if (value > 0xFFFFFFFFull) return std::nullopt;
        const auto bits = static_cast<std::uint32_t>(value);
        return static_cast<std::int32_t>(negative ? 0u - bits : bits);
    }
    const std::int64_t limit = negative ? 0x80000000ll : 0x7FFFFFFFll;
    if (value > static_cast<std::uint64_t>(limit)) return std::nullopt;
    return static_cast<int>(negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto value = ParseInt32(text);
    FUZZ_CHECK(value == Reference(text));
    FUZZ_CHECK(ParseInt32(" " + text) == value);
    FUZZ_CHECK(!ParseInt32(text + "g"));  // trailing text is never part of a number
    if (!value) return 0;

    // What the settings writer stores, and the hexadecimal pattern forms.
    FUZZ_CHECK(ParseInt32(std::to_string(*value)) == value);
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(*value));
    for (const char* prefix : {"$", "0x", "X"}) FUZZ_CHECK(ParseInt32(prefix + std::string(hex)) == value);
    return 0;
}
