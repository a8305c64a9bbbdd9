#include "core/display/DpiScale.h"

#include <cstdint>
#include <initializer_list>

namespace corvane::app {
namespace {

int MulDivRounded(int value, int numerator, int denominator) noexcept {
    const std::int64_t product = static_cast<std::int64_t>(value) * numerator;
    const std::int64_t half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

int Sane(int dpi) noexcept { return dpi > 0 ? dpi : kDesignDpi; }

}  // namespace

int ScaleToDpi(int designed, int dpi) noexcept { return MulDivRounded(designed, Sane(dpi), kDesignDpi); }

int UnscaleFromDpi(int pixels, int dpi) noexcept { return MulDivRounded(pixels, kDesignDpi, Sane(dpi)); }

int SmallImageSize(int dpi) noexcept {
    const int wanted = ScaleToDpi(16, dpi);
    for (int size : {32, 24, 20}) {
        if (size <= wanted) return size;
    }
    return 16;
}

}  // namespace corvane::app
