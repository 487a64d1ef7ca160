#include "Drawing.h"

#include "WindowsVersion.h"

#include <memory>

namespace Quv::UI {

namespace {

Gdiplus::StringAlignment ToAlignment(int32_t code)
{
    switch (code) {
    case kAlignNear: return Gdiplus::StringAlignmentNear;
    case kAlignFar: return Gdiplus::StringAlignmentFar;
    default: return Gdiplus::StringAlignmentCenter;
    }
}

// The layout is fixed in pixels for 96 DPI, where a point is 96/72 pixels.
constexpr Gdiplus::REAL kLayoutPixelsPerPoint = 96.0f / 72.0f;

// The font of `face`, or of the generic sans-serif family when that face is
// missing or its font can't be made; null when not even that exists. Its size
// is in pixels of the 96-DPI layout: a font in points would grow with the
// system's DPI (Windows scales them for a program that isn't DPI aware) while
// every box of the layout stays the same.
std::unique_ptr<Gdiplus::Font> MakeFont(const std::wstring& face, int32_t points)
{
    const Gdiplus::REAL size = static_cast<Gdiplus::REAL>(points) * kLayoutPixelsPerPoint;
    Gdiplus::FontFamily family(face.c_str());
    if (family.GetLastStatus() == Gdiplus::Ok) {
        auto font = std::make_unique<Gdiplus::Font>(&family, size, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
        if (font->GetLastStatus() == Gdiplus::Ok) {
            return font;
        }
    }
    const Gdiplus::FontFamily* generic = Gdiplus::FontFamily::GenericSansSerif();
    if (generic == nullptr || generic->GetLastStatus() != Gdiplus::Ok) {
        return nullptr;
    }
    auto font = std::make_unique<Gdiplus::Font>(generic, size, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
    return font->GetLastStatus() == Gdiplus::Ok ? std::move(font) : nullptr;
}

}  // namespace

bool DrawFocusMark(Gdiplus::Graphics* surface, const Rect& rect)
{
    // Inside the skin's rounded border, in the caption's white, a little see-through.
    constexpr int32_t kInset = 4;
    if (surface == nullptr || rect.Width() <= 2 * kInset || rect.Height() <= 2 * kInset) {
        return false;
    }
    const Gdiplus::Pen pen(Gdiplus::Color(0xC8FFFFFF), 1.0f);
    return surface->DrawRectangle(&pen, rect.left + kInset, rect.top + kInset, rect.Width() - 2 * kInset - 1,
                                  rect.Height() - 2 * kInset - 1) == Gdiplus::Ok;
}

bool DrawImageInRect(Gdiplus::Graphics* surface, Gdiplus::Image* image, const Rect& rect)
{
    if (surface == nullptr || image == nullptr) {
        return false;
    }
    // Mirrored edges keep the borders of a stretched image free of blended-in black.
    Gdiplus::ImageAttributes attributes;
    attributes.SetWrapMode(Gdiplus::WrapModeTileFlipXY, Gdiplus::Color(0xFF000000), FALSE);
    const Gdiplus::REAL height = static_cast<Gdiplus::REAL>(image->GetHeight());
    const Gdiplus::REAL width = static_cast<Gdiplus::REAL>(image->GetWidth());
    const Gdiplus::RectF destination(static_cast<Gdiplus::REAL>(rect.left), static_cast<Gdiplus::REAL>(rect.top),
                                     static_cast<Gdiplus::REAL>(rect.Width()),
                                     static_cast<Gdiplus::REAL>(rect.Height()));
    return surface->DrawImage(image, destination, 0, 0, width, height, Gdiplus::UnitPixel, &attributes) ==
           Gdiplus::Ok;
}

bool DrawTextInRect(Gdiplus::Graphics* surface, const std::wstring& text, const Rect& rect,
                    const std::wstring& face, int32_t points, int32_t horizontal, int32_t vertical,
                    COLORREF color)
{
    if (surface == nullptr) {
        return false;
    }
    const Gdiplus::RectF layout(static_cast<Gdiplus::REAL>(rect.left), static_cast<Gdiplus::REAL>(rect.top),
                                static_cast<Gdiplus::REAL>(rect.Width()), static_cast<Gdiplus::REAL>(rect.Height()));
    Gdiplus::StringFormat format(0, LANG_NEUTRAL);
    format.SetAlignment(ToAlignment(horizontal));
    format.SetLineAlignment(ToAlignment(vertical));
    const std::unique_ptr<Gdiplus::Font> font = MakeFont(face, points);
    if (!font) {
        return false;
    }
    // COLORREF is 0x00BBGGRR; the text is always opaque.
    const Gdiplus::SolidBrush brush(Gdiplus::Color(255, GetRValue(color), GetGValue(color), GetBValue(color)));
    return surface->DrawString(text.c_str(), -1, font.get(), layout, &format, &brush) == Gdiplus::Ok;
}

std::wstring UiFontFace()
{
    OSVERSIONINFOW version;
    return (GetWindowsVersion(version) && version.dwMajorVersion > 5) ? L"微软雅黑" : L"宋体";
}

void ApplyQualitySettings(Gdiplus::Graphics& surface)
{
    surface.SetCompositingMode(Gdiplus::CompositingModeSourceOver);
    surface.SetCompositingQuality(Gdiplus::CompositingQualityHighSpeed);
    surface.SetSmoothingMode(Gdiplus::SmoothingModeHighSpeed);
    surface.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighSpeed);
    surface.SetInterpolationMode(Gdiplus::InterpolationModeHighQuality);
}

int32_t SetToolkitFont(HWND edit)
{
    HDC dc = GetWindowDC(edit);
    int32_t lineHeight = 0;
    {
        Gdiplus::Graphics surface(dc);
        const std::unique_ptr<Gdiplus::Font> font = MakeFont(UiFontFace(), kUiFontPoints);
        LOGFONTW logFont = {};
        if (font && font->GetLogFontW(&surface, &logFont) == Gdiplus::Ok) {
            // Stays in use by the edit window for the rest of the run.
            HFONT gdiFont = CreateFontIndirectW(&logFont);
            SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(gdiFont), TRUE);
            SelectObject(dc, gdiFont);
        }
        TEXTMETRICW metrics = {};
        if (GetTextMetricsW(dc, &metrics)) {
            lineHeight = metrics.tmHeight + metrics.tmExternalLeading;
        }
    }
    ReleaseDC(edit, dc);
    return lineHeight;
}

}  // namespace Quv::UI
