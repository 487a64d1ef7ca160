#include "TextControl.h"

namespace Quv::UI {

void TextControl::SetText(const std::wstring& newText)
{
    if (newText == text) {
        return;
    }
    text = newText;
    Invalidate();
}

void TextControl::SetColor(COLORREF newColor)
{
    if (newColor == color) {
        return;
    }
    color = newColor;
    Invalidate();
}

void TextControl::SetAlignment(int32_t horizontal, int32_t vertical)
{
    horizontalAlign = horizontal;
    verticalAlign = vertical;
    Invalidate();
}

void TextControl::Draw(Gdiplus::Graphics* surface)
{
    if (!text.empty()) {
        DrawTextInRect(surface, text, rect, UiFontFace(), kUiFontPoints, horizontalAlign, verticalAlign, color);
    }
}

}  // namespace Quv::UI
