// A percentage bar: the track image with the fill image stretched over it.
#pragma once

#include "ControlBase.h"

#include <cstdint>
#include <memory>

namespace Quv::UI {

class ProgressControl : public ControlBase {
public:
    explicit ProgressControl(ControlBase* parent) : ControlBase(parent, "progress") {}

    void LoadImages();
    // Values above 100 count as 100.
    void SetPercent(uint32_t value);
    void Draw(Gdiplus::Graphics* surface) override;
    // Where the fill goes: one pixel inside the track on the left, top and
    // bottom, as wide as the percentage of the inside; empty at 0.
    Rect FillRect() const;

    std::unique_ptr<Gdiplus::Image> backgroundImage;  // IDB_PROGRESS_TRACK once loaded
    std::unique_ptr<Gdiplus::Image> fillImage;        // IDB_PROGRESS_FILL once loaded
    uint32_t percent = 0;
};

}  // namespace Quv::UI
