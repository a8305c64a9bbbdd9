#include "core/views/TimeStr.h"

#include <charconv>

namespace corvane::views {

namespace {

void AppendTwoDigits(std::string& out, std::uint32_t value) {
    if (value <= 9) out += '0';
    out += std::to_string(value);
}

std::uint64_t ParseNumber(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)end;
    return ec == std::errc() ? value : 0;
}

constexpr std::string_view kDaySeparator = " d. ";

}  // namespace

std::string CardinalToTimeStr(std::uint32_t n) {
    std::uint32_t seconds = n;
    std::uint32_t minutes = 0;
    std::uint32_t hours = 0;
    std::uint32_t days = 0;
    if (seconds > 59) {
        minutes = seconds / 60;
        seconds -= minutes * 60;
    }
    if (minutes > 59) {
        hours = minutes / 60;
        minutes -= hours * 60;
    }
    if (hours > 23) {
        days = hours / 24;
        hours -= days * 24;
    }
    std::string text;
    if (days > 0) {
        text += std::to_string(days);
        text += kDaySeparator;
    }
    AppendTwoDigits(text, hours);
    text += ':';
    AppendTwoDigits(text, minutes);
    text += ':';
    AppendTwoDigits(text, seconds);
    return text;
}

std::uint64_t TimeStrToSeconds(std::string_view text) {
    std::uint64_t days = 0;
    if (auto pos = text.find(kDaySeparator); pos != std::string_view::npos) {
        days = ParseNumber(text.substr(0, pos));
        text.remove_prefix(pos + kDaySeparator.size());
    }
    // "hh:mm:ss": every colon scales what came before it by 60.
    std::uint64_t total = 0;
    for (;;) {
        auto colon = text.find(':');
        total = total * 60 + ParseNumber(text.substr(0, colon));
        if (colon == std::string_view::npos) break;
        text.remove_prefix(colon + 1);
    }
    return days * 86400 + total;
}

}  // namespace corvane::views
