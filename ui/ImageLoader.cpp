#include "ImageLoader.h"

#include <shlwapi.h>

namespace Quv::UI {

ImageLoader& ImageLoader::Instance()
{
    static ImageLoader* const loader = new ImageLoader();
    return *loader;
}

Gdiplus::Image* ImageLoader::Load(uint16_t id)
{
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(id), L"PNG");
    if (resource == nullptr) {
        return nullptr;
    }
    HGLOBAL loaded = LoadResource(nullptr, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        return nullptr;
    }
    // The stream holds its own copy; the resource stays in the module.
    IStream* stream = SHCreateMemStream(static_cast<const BYTE*>(bytes), SizeofResource(nullptr, resource));
    if (stream == nullptr) {
        return nullptr;
    }
    Gdiplus::Image* image = new Gdiplus::Image(stream, FALSE);
    stream->Release();
    return image;
}

}  // namespace Quv::UI
