#include "ImageControl.h"

#include "Drawing.h"
#include "ImageLoader.h"

namespace Quv::UI {

ImageControl::~ImageControl() { delete image; }

void ImageControl::SetImage(uint16_t id)
{
    delete image;
    image = LoadPngResource(id);
    Invalidate();
}

void ImageControl::Draw(Gdiplus::Graphics* surface)
{
    if (image != nullptr) {
        DrawImageInRect(surface, image, rect);
    }
}

}  // namespace Quv::UI
