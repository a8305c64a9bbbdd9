#include <gtest/gtest.h>

#include "core/display/DpiScale.h"

namespace corvane::test {
namespace {

TEST(DpiScaleTest, DesignedPixelsScaleAndComeBackUnchanged) {
    struct Row {
        int designed, dpi, scaled, image;
    };
    const Row rows[] = {
        {80, 96, 80, 16},    {300, 96, 300, 16}, {80, 120, 100, 20}, {80, 144, 120, 24},
        {100, 144, 150, 24}, {1, 144, 2, 24},    {3, 144, 5, 24},     {81, 168, 142, 24},
        {80, 192, 160, 32},  {100, 288, 300, 32}, {0, 144, 0, 24},    {-7, 144, -11, 24},
        {80, 0, 80, 16},     {80, 72, 60, 16},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.designed << " at " << r.dpi);
        EXPECT_EQ(app::ScaleToDpi(r.designed, r.dpi), r.scaled);
        if (r.dpi >= 96) {
            EXPECT_EQ(app::UnscaleFromDpi(r.scaled, r.dpi), r.designed);
        }
        EXPECT_EQ(app::SmallImageSize(r.dpi), r.image);
    }
    // A width the user dragged to at 150 % (an odd pixel count) is kept to
    // the nearest designed pixel.
    EXPECT_EQ(app::UnscaleFromDpi(121, 144), 81);
    EXPECT_EQ(app::UnscaleFromDpi(50, 72), 67);
}

}  // namespace
}  // namespace corvane::test
