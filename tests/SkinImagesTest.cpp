// The skin in the program's resources: every image at its size and colour type,
// the icon group and the dialog template.
#include "Drawing.h"
#include "ImageLoader.h"

#include <gtest/gtest.h>

#include <memory>

using namespace Quv::UI;

namespace {

struct SkinImage {
    uint16_t id;
    UINT width;
    UINT height;
    bool alpha;
};

const SkinImage kSkin[] = {
    {130, 548, 300, false}, {131, 62, 28, true},  {132, 62, 28, true},  {133, 62, 28, true},
    {134, 90, 47, true},    {135, 90, 47, true},  {136, 90, 47, true},  {137, 90, 47, true},
    {138, 16, 16, true},    {139, 16, 16, true},  {140, 16, 16, true},  {141, 347, 209, false},
    {142, 270, 28, true},   {144, 338, 14, true}, {145, 1, 12, false},  {146, 16, 16, true},
    {147, 16, 16, true},    {148, 16, 16, true},  {149, 62, 28, true},  {150, 16, 16, false},
};

TEST(SkinImagesTest, EveryImageDecodesAtItsSizeAndColourType)
{
    for (const SkinImage& s : kSkin) {
        std::unique_ptr<Gdiplus::Image> image(LoadPngResource(s.id));
        ASSERT_NE(image, nullptr) << s.id;
        EXPECT_EQ(image->GetLastStatus(), Gdiplus::Ok) << s.id;
        EXPECT_EQ(image->GetWidth(), s.width) << s.id;
        EXPECT_EQ(image->GetHeight(), s.height) << s.id;
        EXPECT_EQ(Gdiplus::IsAlphaPixelFormat(image->GetPixelFormat()) != FALSE, s.alpha) << s.id;
    }
}

TEST(SkinImagesTest, MissingIdsGiveNull)
{
    EXPECT_EQ(LoadPngResource(143), nullptr);
    EXPECT_EQ(LoadPngResource(129), nullptr);
    EXPECT_EQ(LoadPngResource(107), nullptr) << "the icon is no PNG resource";
}

TEST(SkinImagesTest, EachLoadIsAnImageOfItsOwn)
{
    Gdiplus::Image* first = LoadPngResource(139);
    std::unique_ptr<Gdiplus::Image> second(LoadPngResource(139));
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, second.get());
    delete first;
    Gdiplus::Bitmap target(16, 16, PixelFormat32bppARGB);
    Gdiplus::Graphics surface(&target);
    EXPECT_TRUE(DrawImageInRect(&surface, second.get(), Rect{0, 0, 16, 16}));
    EXPECT_FALSE(DrawImageInRect(&surface, nullptr, Rect{0, 0, 16, 16}));
}

TEST(SkinImagesTest, LargeButtonsHaveTransparentCornersAndOpaqueFaces)
{
    for (uint16_t id : {134, 135, 136, 137}) {
        std::unique_ptr<Gdiplus::Bitmap> button(static_cast<Gdiplus::Bitmap*>(LoadPngResource(id)));
        Gdiplus::Color corner, centre;
        button->GetPixel(0, 0, &corner);
        button->GetPixel(45, 23, &centre);
        EXPECT_EQ(corner.GetA(), 0) << id;
        EXPECT_EQ(centre.GetA(), 255) << id;
    }
    // Below y 200 the background is almost black, where the large buttons sit.
    std::unique_ptr<Gdiplus::Bitmap> background(static_cast<Gdiplus::Bitmap*>(LoadPngResource(130)));
    for (int x : {0, 180, 274, 547}) {
        Gdiplus::Color c;
        background->GetPixel(x, 250, &c);
        EXPECT_LT(c.GetR() + c.GetG() + c.GetB(), 60) << x;
    }
}

#pragma pack(push, 1)
struct IconDirEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST(SkinImagesTest, TheIconGroupHoldsFiveImages)
{
    HRSRC group = FindResourceW(nullptr, MAKEINTRESOURCEW(107), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    const auto* header = static_cast<const WORD*>(LockResource(LoadResource(nullptr, group)));
    ASSERT_EQ(header[2], 5);
    const auto* entries = reinterpret_cast<const IconDirEntry*>(header + 3);
    const struct {
        int size;
        int bits;
    } expected[] = {{48, 24}, {32, 24}, {24, 24}, {16, 24}, {64, 32}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(entries[i].width, expected[i].size) << i;
        EXPECT_EQ(entries[i].height, expected[i].size) << i;
        EXPECT_EQ(entries[i].bitCount, expected[i].bits) << i;
    }
    HICON icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(107), IMAGE_ICON, 32, 32, 0));
    EXPECT_NE(icon, nullptr);
    DestroyIcon(icon);
}

TEST(SkinImagesTest, TheDialogTemplateIsEmptyWithTheSpecifiedHeader)
{
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(103), RT_DIALOG);
    ASSERT_NE(resource, nullptr);
    const auto* words = static_cast<const WORD*>(LockResource(LoadResource(nullptr, resource)));
    EXPECT_EQ(words[0], 1);       // dlgVer
    EXPECT_EQ(words[1], 0xFFFF);  // extended template
    const auto* dwords = reinterpret_cast<const DWORD*>(words + 2);
    EXPECT_EQ(dwords[0], 0u);           // help id
    EXPECT_EQ(dwords[1], 0u);           // extended style
    EXPECT_EQ(dwords[2], 0x80080048u);  // WS_POPUP | WS_SYSMENU | DS_SETFONT | DS_FIXEDSYS
    const WORD* rest = words + 8;
    EXPECT_EQ(rest[0], 0);    // no controls
    EXPECT_EQ(rest[1], 0);    // x
    EXPECT_EQ(rest[2], 0);    // y
    EXPECT_EQ(rest[3], 221);  // cx
    EXPECT_EQ(rest[4], 111);  // cy
    EXPECT_EQ(rest[5], 0);    // no menu
    EXPECT_EQ(rest[6], 0);    // default class
    EXPECT_EQ(rest[7], 0);    // empty title
    EXPECT_EQ(rest[8], 9);    // font size
    EXPECT_EQ(rest[9], 0);    // weight
    const auto* bytes = reinterpret_cast<const BYTE*>(rest + 10);
    EXPECT_EQ(bytes[0], 0);  // not italic
    EXPECT_EQ(bytes[1], 1);  // character set
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(bytes + 2)), L"MS Shell Dlg");
}

}  // namespace
