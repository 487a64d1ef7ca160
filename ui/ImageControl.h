// One image stretched over the control; takes no pointer input.
#pragma once

#include "ControlBase.h"

#include <cstdint>
#include <memory>

namespace Quv::UI {

class ImageControl : public ControlBase {
public:
    ImageControl(ControlBase* parent, std::string name) : ControlBase(parent, std::move(name)) {}

    void SetImage(uint16_t id);
    void Draw(Gdiplus::Graphics* surface) override;

    std::unique_ptr<Gdiplus::Image> image;
};

}  // namespace Quv::UI
