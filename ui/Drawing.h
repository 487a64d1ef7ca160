// The toolkit's two drawing primitives, its font rule and its surface settings.
#pragma once

#include "Geometry.h"

#include <windows.h>
#include <gdiplus.h>

#include <cstdint>
#include <string>

namespace Quv::UI {

// Alignment codes for both axes: near (left/top), far (right/bottom); any other value centres.
constexpr int32_t kAlignNear = 0;
constexpr int32_t kAlignCenter = 1;
constexpr int32_t kAlignFar = 2;

// Every text of the toolkit is drawn at this size in points of the 96-DPI
// layout (12 pixels), whatever the system's DPI.
constexpr int32_t kUiFontPoints = 9;

// Stretches the whole image over the rectangle. False when the draw failed.
bool DrawImageInRect(Gdiplus::Graphics* surface, Gdiplus::Image* image, const Rect& rect);

// Draws the text in the rectangle in an opaque COLORREF colour (the top byte is ignored).
bool DrawTextInRect(Gdiplus::Graphics* surface, const std::wstring& text, const Rect& rect,
                    const std::wstring& face, int32_t points, int32_t horizontal, int32_t vertical,
                    COLORREF color);

// The mark of the control that has the keyboard's focus: a thin light frame
// just inside its rectangle, over its skin.
bool DrawFocusMark(Gdiplus::Graphics* surface, const Rect& rect);

// "微软雅黑" from Windows Vista on, "宋体" on Windows XP and earlier.
std::wstring UiFontFace();

// The settings of every drawing surface: fast compositing, smooth scaling.
void ApplyQualitySettings(Gdiplus::Graphics& surface);

// Gives a native edit window the toolkit font and returns the height of one line.
int32_t SetToolkitFont(HWND edit);

}  // namespace Quv::UI
