#include <gtest/gtest.h>

#include "core/app/Geometry.h"

namespace corvane::test {
namespace {

TEST(GeometryTest, CentredOverTruncatesTowardZero) {
    // Window 518 x 280 at (386, 368): a smaller box sits inside.
    EXPECT_EQ(app::CenteredOver(386, 368, 904, 648, 301, 121), (app::Point{386 + 108, 368 + 79}));
    // A box larger than the window: odd differences truncate toward zero.
    EXPECT_EQ(app::CenteredOver(100, 100, 200, 150, 301, 121), (app::Point{100 - 100, 100 - 35}));
}

TEST(GeometryTest, BoxesAreKeptOnTheScreen) {
    // Work area 1280 x 994; the box is 300 x 200.
    const auto inside = [](int x, int y) { return app::KeptInside({x, y}, 300, 200, 0, 0, 1280, 994); };
    EXPECT_EQ(inside(100, 100), (app::Point{100, 100}));
    EXPECT_EQ(inside(1100, 900), (app::Point{980, 794}));
    EXPECT_EQ(inside(-50, -10), (app::Point{0, 0}));
    // Larger than the area: the top left corner stays visible.
    EXPECT_EQ(app::KeptInside({-100, -100}, 2000, 1200, 0, 0, 1280, 994), (app::Point{0, 0}));
}

}  // namespace
}  // namespace corvane::test
