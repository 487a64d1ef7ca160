// Points and rectangles in client pixels: left and top edges inside, right and bottom outside.
#pragma once

#include <cstdint>

namespace Quv::UI {

struct Point {
    int32_t x = 0;
    int32_t y = 0;
};

struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool Contains(Point p) const { return left <= p.x && p.x < right && top <= p.y && p.y < bottom; }
    bool IsZero() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
};

}  // namespace Quv::UI
