// A percentage bar: the track image with the fill image stretched over it.
#pragma once

#include "ControlBase.h"

#include <cstdint>
#include <memory>

namespace Quv::UI {

class ProgressControl : public ControlBase {
public:
    explicit ProgressControl(ControlBase* parent) : ControlBase(parent, "progress") {}

    // The module's PNG resources of the empty track and of the fill.
    void LoadImages(int trackId, int fillId);
    // Values above 100 count as 100.
    void SetPercent(uint32_t value);
    void Draw(Gdiplus::Graphics* surface) override;
    // Where the fill goes: one pixel inside the track on the left, top and
    // bottom, as wide as the percentage of the inside; empty at 0.
    Rect FillRect() const;

    std::unique_ptr<Gdiplus::Image> backgroundImage;  // the track, once loaded
    std::unique_ptr<Gdiplus::Image> fillImage;        // the fill, once loaded
    uint32_t percent = 0;
};

}  // namespace Quv::UI
