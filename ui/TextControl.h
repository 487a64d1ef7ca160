// A line of text: labels and the status line.
#pragma once

#include "ControlBase.h"
#include "Drawing.h"

#include <string>

namespace Quv::UI {

class TextControl : public ControlBase {
public:
    TextControl(ControlBase* parent, std::string name) : ControlBase(parent, std::move(name)) {}

    void SetText(const std::wstring& newText);
    void SetColor(COLORREF newColor);
    void SetAlignment(int32_t horizontal, int32_t vertical);
    void Draw(Gdiplus::Graphics* surface) override;

    std::wstring text;
    int32_t horizontalAlign = kAlignCenter;
    int32_t verticalAlign = kAlignCenter;
    COLORREF color = 0xFFFFFF;
};

}  // namespace Quv::UI
