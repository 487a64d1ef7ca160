// The paint pipeline: dirty rectangle, the 20 ms tick against a real window, and
// the pixels that the controls leave in the back buffer.
#include "ButtonControl.h"
#include "Drawing.h"
#include "HostWnd.h"
#include "ImageControl.h"
#include "ImageLoader.h"
#include "ProgressControl.h"
#include "TextControl.h"
#include "WindowRoot.h"

#include <gtest/gtest.h>

#include <memory>

using namespace Quv::UI;

namespace {

// Counts how often it is drawn.
class DrawCounter : public ControlBase {
public:
    explicit DrawCounter(ControlBase* parent) : ControlBase(parent, "counter")
    {
        parent->AddChild(std::unique_ptr<ControlBase>(this));  // the parent owns it
        windowRoot = parent->windowRoot;
    }
    void Draw(Gdiplus::Graphics*) override { ++draws; }
    int draws = 0;
};

// A visible top-level window that only collects its update region.
class PlainWindow {
public:
    PlainWindow()
    {
        hwnd = CreateWindowExW(0, L"STATIC", L"paint test", WS_POPUP | WS_VISIBLE, 0, 0, 548, 300, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
        Settle();
    }
    ~PlainWindow() { DestroyWindow(hwnd); }
    // Delivers pending messages and forgets what the system wanted repainted.
    void Settle()
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        }
        ValidateRect(hwnd, nullptr);
    }
    RECT Update() const
    {
        RECT r = {};
        GetUpdateRect(hwnd, &r, FALSE);
        return r;
    }
    HWND hwnd;
};

bool Same(const RECT& r, LONG left, LONG top, LONG right, LONG bottom)
{
    return r.left == left && r.top == top && r.right == right && r.bottom == bottom;
}

class PaintPipelineTest : public ::testing::Test {
protected:
    // One window for all cases: making and destroying one costs seconds under wine.
    static void SetUpTestSuite() { sharedWindow = new PlainWindow(); }
    static void TearDownTestSuite() { delete sharedWindow; }

    void SetUp() override
    {
        host.hwnd = window.hwnd;
        root.owner = &host;
        background = root.CreateImageControl(nullptr, "bkg");
        counter = new DrawCounter(background);
        root.CreateBackBuffer(548, 300);
        root.backGraphics->Clear(Gdiplus::Color(255, 0, 0, 0));  // an opaque black window
        root.OnTimer();
        window.Settle();
        counter->draws = 0;
    }
    void TearDown() override { root.owner = nullptr; }

    Gdiplus::Color Pixel(int x, int y)
    {
        Gdiplus::Color c;
        root.backBitmap->GetPixel(x, y, &c);
        return c;
    }

    static PlainWindow* sharedWindow;
    PlainWindow& window = *sharedWindow;
    HostWnd host;
    WindowRoot root;
    ImageControl* background = nullptr;
    DrawCounter* counter = nullptr;
};

PlainWindow* PaintPipelineTest::sharedWindow = nullptr;

TEST_F(PaintPipelineTest, InvalidationsGrowOneRectangleAndOneTickRepaintsIt)
{
    const Rect a{10, 10, 20, 20};
    const Rect b{15, 5, 30, 12};
    root.Invalidate(&a);
    root.Invalidate(&b);
    EXPECT_EQ(root.dirtyRect.left, 10);
    EXPECT_EQ(root.dirtyRect.top, 5);
    EXPECT_EQ(root.dirtyRect.right, 30);
    EXPECT_EQ(root.dirtyRect.bottom, 20);
    root.OnTimer();
    EXPECT_TRUE(Same(window.Update(), 10, 5, 30, 20));
    EXPECT_EQ(counter->draws, 1);
    EXPECT_FALSE(root.dirty);
    EXPECT_TRUE(root.dirtyRect.IsZero());
}

TEST_F(PaintPipelineTest, AWholeWindowInvalidationWins)
{
    const Rect a{10, 10, 20, 20};
    root.Invalidate(nullptr);
    root.Invalidate(&a);
    EXPECT_TRUE(root.dirtyRect.IsZero()) << "not grown after a whole-window request";
    root.OnTimer();
    EXPECT_TRUE(Same(window.Update(), 0, 0, 548, 300));
    EXPECT_FALSE(root.fullRedraw);
}

TEST_F(PaintPipelineTest, AZeroRectangleRedrawsButShowsNothingAndIsReplacedLater)
{
    const Rect zero{0, 0, 0, 0};
    const Rect later{40, 40, 50, 60};
    root.Invalidate(&zero);
    EXPECT_TRUE(root.dirty);
    EXPECT_TRUE(root.dirtyRect.IsZero());
    root.OnTimer();
    EXPECT_EQ(counter->draws, 1);
    const RECT update = window.Update();
    EXPECT_TRUE(IsRectEmpty(&update)) << "an empty rectangle changes nothing on screen";

    root.Invalidate(&zero);
    root.Invalidate(&later);
    EXPECT_EQ(root.dirtyRect.left, 40) << "replaced, not grown from 0,0";
    EXPECT_EQ(root.dirtyRect.bottom, 60);
}

TEST_F(PaintPipelineTest, OneRedrawPerTickHoweverManyChangesAndNoneWithoutChanges)
{
    for (int i = 0; i < 100; ++i) {
        counter->Invalidate();
    }
    root.OnTimer();
    root.OnTimer();
    EXPECT_EQ(counter->draws, 1);
    window.Settle();
    root.OnTimer();
    EXPECT_EQ(counter->draws, 1);
    const RECT none = window.Update();
    EXPECT_TRUE(IsRectEmpty(&none)) << "a quiet tick asks for no repaint";
}

TEST_F(PaintPipelineTest, TheTimerRunsEvery20Milliseconds)
{
    root.OnCreate();
    EXPECT_NE(host.timerId, 0u);
    // About 25 ticks in half a second (the system may round the period up).
    int ticks = 0;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 500) {
        MSG msg;
        if (GetMessageW(&msg, window.hwnd, WM_TIMER, WM_TIMER) && msg.wParam == host.timerId) {
            ++ticks;
        }
    }
    EXPECT_GE(ticks, 15);
    EXPECT_LE(ticks, 27);
    root.OnClose();
    EXPECT_EQ(root.owner, nullptr);
    EXPECT_EQ(host.timerId, 0u);
    EXPECT_EQ(root.backGraphics, nullptr);
    root.OnClose();  // a second call finds nothing to do
}

TEST_F(PaintPipelineTest, ResizingToTheSameSizeKeepsTheBackBuffer)
{
    Gdiplus::Bitmap* before = root.backBitmap.get();
    root.OnSize(548, 300);
    EXPECT_EQ(root.backBitmap.get(), before);
    root.OnSize(0, 0);
    EXPECT_EQ(root.backWidth, 0);
    root.OnSize(548, 300);
    EXPECT_EQ(root.backHeight, 300);
    EXPECT_NE(root.backGraphics, nullptr);
}

// The system may paint a new back buffer before the next tick (a restore, for
// one), so it is drawn whole when it is made.
TEST_F(PaintPipelineTest, ANewBackBufferIsDrawnWholeAtOnce)
{
    const int before = counter->draws;
    root.OnSize(0, 0);
    EXPECT_EQ(counter->draws, before) << "nothing to draw into";
    root.OnSize(548, 300);
    EXPECT_EQ(counter->draws, before + 1) << "drawn before any tick";
    root.OnSize(548, 300);
    EXPECT_EQ(counter->draws, before + 1) << "the same size keeps the buffer and its picture";
}

TEST_F(PaintPipelineTest, AnImageIsStretchedOverItsRectangle)
{
    // The 1 x 12 progress fill over 100 x 12 pixels: every column repeats it.
    ImageControl* fill = root.CreateImageControl(background, "fill");
    fill->SetImage(145);
    fill->SetPosition(10, 10, 110, 22);
    root.OnTimer();
    std::unique_ptr<Gdiplus::Bitmap> source(static_cast<Gdiplus::Bitmap*>(LoadPngResource(145)));
    for (int y = 0; y < 12; ++y) {
        Gdiplus::Color expected;
        source->GetPixel(0, y, &expected);
        // The outermost columns may be blended with what lies beside them.
        for (int x : {12, 50, 107}) {
            const Gdiplus::Color got = Pixel(x, 10 + y);
            EXPECT_NEAR(got.GetR(), expected.GetR(), 3) << x << "," << y;
            EXPECT_NEAR(got.GetG(), expected.GetG(), 3) << x << "," << y;
            EXPECT_NEAR(got.GetB(), expected.GetB(), 3) << x << "," << y;
        }
    }
    const auto black = [this](int x, int y) {
        const Gdiplus::Color c = Pixel(x, y);
        return c.GetR() == 0 && c.GetG() == 0 && c.GetB() == 0;
    };
    EXPECT_TRUE(black(8, 15)) << "nothing left of the rectangle";
    EXPECT_TRUE(black(112, 15)) << "nothing right of it";
    EXPECT_TRUE(black(50, 23)) << "nothing below it";
    EXPECT_TRUE(black(50, 8)) << "nothing above it";
}

// Counts the pixels in [x0, x1) x [y0, y1) that `match` accepts.
template <typename Match>
int CountPixels(Gdiplus::Bitmap* bitmap, int x0, int y0, int x1, int y1, Match match)
{
    int n = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            Gdiplus::Color c;
            bitmap->GetPixel(x, y, &c);
            n += match(c) ? 1 : 0;
        }
    }
    return n;
}

TEST_F(PaintPipelineTest, WhiteTextStaysInsideItsRectangle)
{
    TextControl* text = root.CreateTextControl(background, "title");
    text->SetText(L"Lumora修复工具");
    text->SetPosition(100, 100, 250, 130);
    root.OnTimer();
    const auto white = [](const Gdiplus::Color& c) { return c.GetR() > 160 && c.GetG() > 160 && c.GetB() > 160; };
    EXPECT_GT(CountPixels(root.backBitmap.get(), 100, 100, 250, 130, white), 40);
    const auto anything = [](const Gdiplus::Color& c) { return c.GetR() + c.GetG() + c.GetB() != 0; };
    EXPECT_EQ(CountPixels(root.backBitmap.get(), 0, 0, 548, 100, anything), 0);
    EXPECT_EQ(CountPixels(root.backBitmap.get(), 0, 130, 548, 300, anything), 0);
    EXPECT_EQ(CountPixels(root.backBitmap.get(), 250, 100, 548, 130, anything), 0);
}

TEST_F(PaintPipelineTest, TextColoursAreOpaqueWhateverTheTopByte)
{
    TextControl* text = root.CreateTextControl(background, "status");
    text->SetText(L"下载配置失败");
    text->SetColor(0x800000FF);  // red, with a top byte that must not become alpha
    text->SetPosition(0, 168, 548, 196);
    root.OnTimer();
    const auto red = [](const Gdiplus::Color& c) {
        return c.GetA() == 255 && c.GetR() > 160 && c.GetG() < 40 && c.GetB() < 40;
    };
    EXPECT_GT(CountPixels(root.backBitmap.get(), 0, 168, 548, 196, red), 20);
}

TEST_F(PaintPipelineTest, ChineseTextDrawsWithTheToolkitFaceAndWithTheGenericFallback)
{
    EXPECT_EQ(UiFontFace(), L"微软雅黑") << "this wine reports Windows 7 or later";
    for (const wchar_t* face : {L"微软雅黑", L"No Such Face At All"}) {
        root.backGraphics->Clear(Gdiplus::Color(255, 0, 0, 0));
        EXPECT_TRUE(DrawTextInRect(root.backGraphics.get(), L"修复完成", Rect{0, 0, 200, 40}, face, 9, kAlignNear,
                                   kAlignNear, 0xFFFFFF));
        const auto lit = [](const Gdiplus::Color& c) { return c.GetR() > 128; };
        EXPECT_GT(CountPixels(root.backBitmap.get(), 0, 0, 200, 40, lit), 30) << (face[0] == L'N' ? "fallback" : "toolkit face");
    }
}

TEST_F(PaintPipelineTest, AlignmentCodesZeroAndTwoAreNearAndFarAllOthersCentre)
{
    const auto lit = [](const Gdiplus::Color& c) { return c.GetR() != 0; };
    const auto firstLitColumn = [this, &lit]() {
        for (int x = 0; x < 548; ++x) {
            if (CountPixels(root.backBitmap.get(), x, 0, x + 1, 40, lit) > 0) {
                return x;
            }
        }
        return -1;
    };
    int columns[5];
    const int codes[5] = {0, 1, 2, 3, -1};
    for (int i = 0; i < 5; ++i) {
        root.backGraphics->Clear(Gdiplus::Color(255, 0, 0, 0));
        DrawTextInRect(root.backGraphics.get(), L"修复", Rect{0, 0, 548, 40}, UiFontFace(), 9, codes[i], 1, 0xFFFFFF);
        columns[i] = firstLitColumn();
    }
    EXPECT_LT(columns[0], 20);
    EXPECT_GT(columns[2], 500);
    EXPECT_GT(columns[1], 240);
    EXPECT_LT(columns[1], 300);
    EXPECT_EQ(columns[3], columns[1]);
    EXPECT_EQ(columns[4], columns[1]);
}

TEST_F(PaintPipelineTest, ProgressFillWidthFollowsThePercentage)
{
    ProgressControl* bar = root.CreateProgressControl(background);
    bar->LoadImages(144, 145);  // the track and the fill of res/skin.rc
    bar->SetPosition(134, 152, 472, 166);
    const auto teal = [](const Gdiplus::Color& c) { return c.GetB() > 120 && c.GetG() > 100 && c.GetR() < 80; };
    const int row = 159;
    struct {
        uint32_t percent;
        int width;
    } cases[] = {{0, 0}, {1, 3}, {50, 168}, {99, 332}, {100, 336}, {250, 336}};
    for (const auto& c : cases) {
        bar->SetPercent(c.percent);
        const Rect fill = bar->FillRect();
        EXPECT_EQ(fill.Width(), c.width) << c.percent;
        EXPECT_EQ(fill.left, 135);
        EXPECT_EQ(fill.top, 153);
        EXPECT_EQ(fill.bottom, 165);
        root.OnTimer();
        // On screen, the scaled fill's outer columns may blend with the track.
        const int shown = CountPixels(root.backBitmap.get(), 134, row, 472, row + 1, teal);
        EXPECT_GE(shown, c.width - 1) << c.percent;
        EXPECT_LE(shown, c.width) << c.percent;
    }
    EXPECT_FALSE(teal(Pixel(134, row))) << "one pixel of track on the left";
    EXPECT_FALSE(teal(Pixel(471, row))) << "and on the right at 100 percent";
    EXPECT_FALSE(teal(Pixel(300, 152))) << "and at the top";

    bar->SetPosition(10, 10, 12, 24);  // a bar of 2 pixels has no inside
    EXPECT_EQ(bar->FillRect().Width(), 0);
    bar->SetPosition(10, 10, 11, 24);  // nor one of 1 pixel, which must not wrap around
    EXPECT_EQ(bar->FillRect().Width(), 0);
}

TEST_F(PaintPipelineTest, ButtonsDrawTheImageOfTheirStateAndWhiteCaptions)
{
    ButtonControl* button = root.CreateButtonControl(background, "btn_sure");
    button->SetImages(136, 135, 137, 134);
    button->SetText(L"修复");
    button->SetPosition(179, 210, 269, 257);
    const auto at = [this]() { root.Invalidate(nullptr); root.OnTimer(); return Pixel(185, 250); };
    const Gdiplus::Color normal = at();
    button->OnMouseEnter({200, 220});
    const Gdiplus::Color hover = at();
    button->SetEnabled(false);
    const Gdiplus::Color disabled = at();
    EXPECT_GT(hover.GetG(), normal.GetG()) << "hover is lighter";
    EXPECT_EQ(disabled.GetR(), disabled.GetB()) << "disabled is grey";
    const auto white = [](const Gdiplus::Color& c) { return c.GetR() > 220 && c.GetG() > 220 && c.GetB() > 220; };
    EXPECT_GT(CountPixels(root.backBitmap.get(), 179, 210, 269, 257, white), 20) << "the caption stays white";
}

}  // namespace
