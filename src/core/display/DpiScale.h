#pragma once
// Sizes at the screen's scale. The layout, the designed column widths and the
// widths kept in Corvane.ini are pixels at 96 dots per inch; the windows use
// pixels at their monitor's DPI.

#include <cstddef>

namespace corvane::app {

inline constexpr int kDesignDpi = 96;

// Designed column widths (96-DPI pixels) of the session list: コンピュータ名,
// IPアドレス, ユーザ名, オープン数, 接続時間, アイドル時間. The first and the
// last are wide enough for their captions in the UI font with the header's
// margins; the others take 80. The shared-resource list: ユーザ名 and
// 共有リソース名.
inline constexpr int kSessionColumnWidths[] = {100, 80, 80, 80, 80, 92};
inline constexpr int kResourceColumnWidths[] = {100, 300};

// The designed width of a column, `fallback` past the designed ones.
template <std::size_t N>
constexpr int DesignedWidth(const int (&widths)[N], int column, int fallback) noexcept {
    return column >= 0 && static_cast<std::size_t>(column) < N ? widths[column] : fallback;
}

// Designed pixels at `dpi`, rounded to the nearest pixel (halves away from
// zero, as the system's MulDiv does). A DPI below 1 counts as the design's.
int ScaleToDpi(int designed, int dpi) noexcept;

// Pixels at `dpi` back to designed pixels, rounded the same way. For every
// DPI of 96 or more, UnscaleFromDpi(ScaleToDpi(w, dpi), dpi) == w.
int UnscaleFromDpi(int pixels, int dpi) noexcept;

// The side of the small images (list rows, tabs, commands) drawn for `dpi`:
// the largest of the drawn sizes 16, 20, 24 and 32 that is not larger than
// 16 designed pixels at that scale, so a picture is never stretched up.
int SmallImageSize(int dpi) noexcept;

}  // namespace corvane::app
