// Skin images: PNG resources of the program decoded into GDI+ images.
#pragma once

#include <windows.h>
#include <gdiplus.h>

#include <cstdint>

namespace Quv::UI {

// Loading has no state; the object exists so that callers share one entry point.
class ImageLoader {
public:
    static ImageLoader& Instance();
    // A new image that the caller owns, or null when the resource is missing.
    // An image whose data doesn't decode is returned too; it reports its status and draws nothing.
    Gdiplus::Image* Load(uint16_t id);
};

inline Gdiplus::Image* LoadPngResource(uint16_t id) { return ImageLoader::Instance().Load(id); }

}  // namespace Quv::UI
