// One image stretched over the control; takes no pointer input.
#pragma once

#include "ControlBase.h"

#include <cstdint>

namespace Quv::UI {

class ImageControl : public ControlBase {
public:
    ImageControl(ControlBase* parent, std::string name) : ControlBase(parent, std::move(name)) {}
    ~ImageControl() override;

    void SetImage(uint16_t id);
    void Draw(Gdiplus::Graphics* surface) override;

    Gdiplus::Image* image = nullptr;  // owned
};

}  // namespace Quv::UI
