#include "ImageControl.h"

#include "Drawing.h"
#include "ImageLoader.h"

namespace Quv::UI {

void ImageControl::SetImage(uint16_t id)
{
    image.reset(LoadPngResource(id));
    Invalidate();
}

void ImageControl::Draw(Gdiplus::Graphics* surface)
{
    if (image != nullptr) {
        DrawImageInRect(surface, image.get(), rect);
    }
}

}  // namespace Quv::UI
