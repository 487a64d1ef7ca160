// An invisible area by which the user drags the frameless window.
#pragma once

#include "ControlBase.h"

namespace Quv::UI {

class CaptionControl : public ControlBase {
public:
    explicit CaptionControl(ControlBase* parent) : ControlBase(parent, "capton") { clickEnabled = true; }

    // Hands the press to the host window as a window drag, not as a click.
    void OnLButtonDown(Point point) override;
};

}  // namespace Quv::UI
