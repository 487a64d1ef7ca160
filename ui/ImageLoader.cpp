#include "ImageLoader.h"

#include <objidl.h>

namespace Quv::UI {

namespace {

using CreateMemStreamFn = IStream*(WINAPI*)(const BYTE* bytes, UINT size);

// Windows XP's shlwapi exports SHCreateMemStream only as ordinal 12 (by name
// from Vista on); the ordinal works on every version.
CreateMemStreamFn MemStreamFactory()
{
    HMODULE shlwapi = GetModuleHandleW(L"shlwapi.dll");
    if (shlwapi == nullptr) {
        shlwapi = LoadLibraryW(L"shlwapi.dll");
    }
    if (shlwapi == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<CreateMemStreamFn>(
        reinterpret_cast<void*>(GetProcAddress(shlwapi, MAKEINTRESOURCEA(12))));
}

}  // namespace

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
    static const CreateMemStreamFn createMemStream = MemStreamFactory();
    if (createMemStream == nullptr) {
        return nullptr;
    }
    // The stream holds its own copy; the resource stays in the module.
    IStream* stream = createMemStream(static_cast<const BYTE*>(bytes), SizeofResource(nullptr, resource));
    if (stream == nullptr) {
        return nullptr;
    }
    Gdiplus::Image* image = new Gdiplus::Image(stream, FALSE);
    stream->Release();
    return image;
}

}  // namespace Quv::UI
