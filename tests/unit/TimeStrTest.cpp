#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/views/TimeStr.h"

using corvane::views::CardinalToTimeStr;
using corvane::views::TimeStrToSeconds;

namespace {

struct TimeCase {
    std::uint32_t Seconds;
    const char* Text;
};

const TimeCase kCases[] = {
    {0, "00:00:00"},          {9, "00:00:09"},         {10, "00:00:10"},
    {59, "00:00:59"},         {60, "00:01:00"},        {3599, "00:59:59"},
    {3600, "01:00:00"},       {86399, "23:59:59"},     {86400, "1 d. 00:00:00"},
    {90061, "1 d. 01:01:01"}, {93784, "1 d. 02:03:04"}, {172800, "2 d. 00:00:00"},
    {863999, "9 d. 23:59:59"}, {864000, "10 d. 00:00:00"},
    {4294967295u, "49710 d. 06:28:15"},
};

}  // namespace

TEST(TimeStrTest, FormatsDurations) {
    for (const auto& c : kCases) {
        EXPECT_EQ(CardinalToTimeStr(c.Seconds), c.Text) << c.Seconds;
    }
}

TEST(TimeStrTest, ReadsBackWhatItShows) {
    for (const auto& c : kCases) {
        EXPECT_EQ(TimeStrToSeconds(c.Text), c.Seconds) << c.Text;
    }
    // A sweep around the unit boundaries, where carries go wrong.
    for (std::uint32_t s : {59u, 3599u, 86399u, 86400u * 49710u - 1u, 4294967295u - 86400u}) {
        for (std::uint32_t d = 0; d < 3; ++d) {
            const std::uint32_t n = s + d;
            EXPECT_EQ(TimeStrToSeconds(CardinalToTimeStr(n)), n) << n;
        }
    }
}
