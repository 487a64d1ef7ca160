#include "ProgressControl.h"

#include "Drawing.h"
#include "ImageLoader.h"

namespace Quv::UI {

void ProgressControl::LoadImages(int trackId, int fillId)
{
    backgroundImage.reset(LoadPngResource(trackId));
    fillImage.reset(LoadPngResource(fillId));
    Invalidate();
}

void ProgressControl::SetPercent(uint32_t value)
{
    const uint32_t capped = value > 100 ? 100 : value;
    if (capped == percent) {
        return;
    }
    percent = capped;
    Invalidate();
}

Rect ProgressControl::FillRect() const
{
    // A bar narrower than 2 pixels has no inside (and must not wrap to a huge width).
    const int32_t insideWidth = (rect.right - 1) - (rect.left + 1);
    const uint32_t inner = insideWidth > 0 ? static_cast<uint32_t>(insideWidth) : 0;
    const uint32_t width = inner * percent / 100;
    return Rect{rect.left + 1, rect.top + 1, rect.left + 1 + static_cast<int32_t>(width), rect.bottom - 1};
}

void ProgressControl::Draw(Gdiplus::Graphics* surface)
{
    if (backgroundImage != nullptr) {
        DrawImageInRect(surface, backgroundImage.get(), rect);
    }
    if (fillImage == nullptr || percent == 0) {
        return;
    }
    const Rect fill = FillRect();
    if (fill.Width() > 0) {
        DrawImageInRect(surface, fillImage.get(), fill);
    }
}

}  // namespace Quv::UI
