// A percentage bar: the track (resource 144) with the fill (145) stretched over it.
#pragma once

#include "ControlBase.h"

#include <cstdint>

namespace Quv::UI {

class ProgressControl : public ControlBase {
public:
    explicit ProgressControl(ControlBase* parent) : ControlBase(parent, "progress") {}
    ~ProgressControl() override;

    void LoadImages();
    // Values above 100 count as 100.
    void SetPercent(uint32_t value);
    void Draw(Gdiplus::Graphics* surface) override;
    // Where the fill goes: one pixel inside the track on the left, top and
    // bottom, as wide as the percentage of the inside; empty at 0.
    Rect FillRect() const;

    Gdiplus::Image* backgroundImage = nullptr;  // owned
    Gdiplus::Image* fillImage = nullptr;        // owned
    uint32_t percent = 0;
};

}  // namespace Quv::UI
