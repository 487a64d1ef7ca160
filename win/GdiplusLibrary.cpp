// The flat functions of GDI+ that the program's drawing uses, defined here
// instead of imported: each forwards to the function of that name in the
// gdiplus.dll of the system, loaded on first use (see SystemLibrary.h). The
// C++ classes of <gdiplus.h> call these. A function missing here fails the
// link, so none is ever imported by accident.
#include "SystemLibrary.h"

#include <objbase.h>
#include <gdiplus.h>

namespace {

template <typename Fn>
Fn Gdip(const char* name)
{
    return LibraryFunction<Fn>(SystemLibrary(L"gdiplus.dll"), name);
}

}  // namespace

// Forwards one function returning a GDI+ status; without the DLL, GDI+ is not started.
#define VNK_GDIPLUS_FORWARD(name, params, args)                             \
    GpStatus WINGDIPAPI name params                                         \
    {                                                                       \
        static const auto real = Gdip<decltype(&name)>(#name);              \
        return real != nullptr ? real args : GdiplusNotInitialized;         \
    }

// Where <gdiplus.h> keeps the generic font family once made; the import
// library, which is not linked, would define it.
extern "C" {
void* _GdipFontFamilyCachedGenericSansSerif = nullptr;
}

namespace Gdiplus {

extern "C" {

GpStatus WINGDIPAPI GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output)
{
    static const auto real = Gdip<decltype(&GdiplusStartup)>("GdiplusStartup");
    return real != nullptr ? real(token, input, output) : GdiplusNotInitialized;
}

VOID WINGDIPAPI GdiplusShutdown(ULONG_PTR token)
{
    static const auto real = Gdip<decltype(&GdiplusShutdown)>("GdiplusShutdown");
    if (real != nullptr) {
        real(token);
    }
}

}  // extern "C"

namespace DllExports {

extern "C" {

VOID* WINGDIPAPI GdipAlloc(size_t size)
{
    static const auto real = Gdip<decltype(&GdipAlloc)>("GdipAlloc");
    return real != nullptr ? real(size) : nullptr;
}

VOID WINGDIPAPI GdipFree(VOID* memory)
{
    static const auto real = Gdip<decltype(&GdipFree)>("GdipFree");
    if (real != nullptr) {
        real(memory);
    }
}

VNK_GDIPLUS_FORWARD(GdipCloneBrush, (GpBrush* a, GpBrush** b), (a, b))
VNK_GDIPLUS_FORWARD(GdipCloneImage, (GpImage* a, GpImage** b), (a, b))
VNK_GDIPLUS_FORWARD(GdipCreateBitmapFromScan0,
    (INT a, INT b, INT c, PixelFormat d, BYTE* e, GpBitmap** f),
    (a, b, c, d, e, f))
VNK_GDIPLUS_FORWARD(GdipCreateFont, (const GpFontFamily* a, REAL b, INT c, Unit d, GpFont** e), (a, b, c, d, e))
VNK_GDIPLUS_FORWARD(GdipCreateFontFamilyFromName, (const WCHAR* a, GpFontCollection* b, GpFontFamily** c), (a, b, c))
VNK_GDIPLUS_FORWARD(GdipCreateFromHDC, (HDC a, GpGraphics** b), (a, b))
VNK_GDIPLUS_FORWARD(GdipCreateImageAttributes, (GpImageAttributes** a), (a))
VNK_GDIPLUS_FORWARD(GdipCreatePen1, (ARGB a, REAL b, GpUnit c, GpPen** d), (a, b, c, d))
VNK_GDIPLUS_FORWARD(GdipCreateSolidFill, (ARGB a, GpSolidFill** b), (a, b))
VNK_GDIPLUS_FORWARD(GdipCreateStringFormat, (INT a, LANGID b, GpStringFormat** c), (a, b, c))
VNK_GDIPLUS_FORWARD(GdipDeleteBrush, (GpBrush* a), (a))
VNK_GDIPLUS_FORWARD(GdipDeleteFont, (GpFont* a), (a))
VNK_GDIPLUS_FORWARD(GdipDeleteFontFamily, (GpFontFamily* a), (a))
VNK_GDIPLUS_FORWARD(GdipDeleteGraphics, (GpGraphics* a), (a))
VNK_GDIPLUS_FORWARD(GdipDeletePen, (GpPen* a), (a))
VNK_GDIPLUS_FORWARD(GdipDeleteStringFormat, (GpStringFormat* a), (a))
VNK_GDIPLUS_FORWARD(GdipDisposeImage, (GpImage* a), (a))
VNK_GDIPLUS_FORWARD(GdipDisposeImageAttributes, (GpImageAttributes* a), (a))
VNK_GDIPLUS_FORWARD(GdipDrawImageRectRect,
    (GpGraphics* a, GpImage* b, REAL c, REAL d, REAL e, REAL f, REAL g, REAL h, REAL i, REAL j, GpUnit k,
     const GpImageAttributes* l, DrawImageAbort m, VOID* n),
    (a, b, c, d, e, f, g, h, i, j, k, l, m, n))
VNK_GDIPLUS_FORWARD(GdipDrawRectangleI, (GpGraphics* a, GpPen* b, INT c, INT d, INT e, INT f), (a, b, c, d, e, f))
VNK_GDIPLUS_FORWARD(GdipDrawString,
    (GpGraphics* a, const WCHAR* b, INT c, const GpFont* d, const RectF* e, const GpStringFormat* f, const GpBrush* g),
    (a, b, c, d, e, f, g))
VNK_GDIPLUS_FORWARD(GdipGetGenericFontFamilySansSerif, (GpFontFamily** a), (a))
VNK_GDIPLUS_FORWARD(GdipGetImageGraphicsContext, (GpImage* a, GpGraphics** b), (a, b))
VNK_GDIPLUS_FORWARD(GdipGetImageHeight, (GpImage* a, UINT* b), (a, b))
VNK_GDIPLUS_FORWARD(GdipGetImageWidth, (GpImage* a, UINT* b), (a, b))
VNK_GDIPLUS_FORWARD(GdipGetLogFontW, (GpFont* a, GpGraphics* b, LOGFONTW* c), (a, b, c))
VNK_GDIPLUS_FORWARD(GdipLoadImageFromStream, (IStream* a, GpImage** b), (a, b))
VNK_GDIPLUS_FORWARD(GdipSetCompositingMode, (GpGraphics* a, CompositingMode b), (a, b))
VNK_GDIPLUS_FORWARD(GdipSetCompositingQuality, (GpGraphics* a, CompositingQuality b), (a, b))
VNK_GDIPLUS_FORWARD(GdipSetImageAttributesWrapMode, (GpImageAttributes* a, WrapMode b, ARGB c, BOOL d), (a, b, c, d))
VNK_GDIPLUS_FORWARD(GdipSetInterpolationMode, (GpGraphics* a, InterpolationMode b), (a, b))
VNK_GDIPLUS_FORWARD(GdipSetPixelOffsetMode, (GpGraphics* a, PixelOffsetMode b), (a, b))
VNK_GDIPLUS_FORWARD(GdipSetSmoothingMode, (GpGraphics* a, SmoothingMode b), (a, b))
VNK_GDIPLUS_FORWARD(GdipSetStringFormatAlign, (GpStringFormat* a, StringAlignment b), (a, b))
VNK_GDIPLUS_FORWARD(GdipSetStringFormatLineAlign, (GpStringFormat* a, StringAlignment b), (a, b))

}  // extern "C"

}  // namespace DllExports

}  // namespace Gdiplus
