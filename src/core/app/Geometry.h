#pragma once
// Where boxes go on the screen: a dialog centred over its owner and kept on
// the work area. Screen coordinates.

namespace corvane::app {

// Where a box of the given size goes to be centred over a window rectangle
// (screen coordinates); the halves truncate toward zero, so a box larger than
// the window extends evenly past it on both sides.
struct Point {
    int x = 0;
    int y = 0;
    bool operator==(const Point&) const = default;
};
constexpr Point CenteredOver(int left, int top, int right, int bottom, int width, int height) noexcept {
    return {left + ((right - left) - width) / 2, top + ((bottom - top) - height) / 2};
}

// Moves a box at `at` just enough to lie inside an area (the work area of
// the screen); a box larger than the area keeps its top left corner inside.
constexpr Point KeptInside(Point at, int width, int height, int areaLeft, int areaTop, int areaRight,
                           int areaBottom) noexcept {
    if (at.x + width > areaRight) at.x = areaRight - width;
    if (at.y + height > areaBottom) at.y = areaBottom - height;
    if (at.x < areaLeft) at.x = areaLeft;
    if (at.y < areaTop) at.y = areaTop;
    return at;
}

}  // namespace corvane::app
