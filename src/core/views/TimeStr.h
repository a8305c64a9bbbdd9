#pragma once
// Durations as the lists show them: "hh:mm:ss", preceded by "<days> d. " when
// there are whole days.
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::views {

std::string CardinalToTimeStr(std::uint32_t seconds);

// The number of seconds a CardinalToTimeStr text shows, day part included.
// Parts that are not numbers count as 0.
std::uint64_t TimeStrToSeconds(std::string_view text);

}  // namespace corvane::views
