#include "WindowRoot.h"

#include "ButtonControl.h"
#include "CaptionControl.h"
#include "Drawing.h"
#include "EditControl.h"
#include "HostWnd.h"
#include "ImageControl.h"
#include "ProgressControl.h"
#include "TextControl.h"

#include <algorithm>

namespace Quv::UI {

WindowRoot::~WindowRoot()
{
    DropBackBuffer();
    rootControl.reset();  // the whole tree, before anything else of the root goes
}

ImageControl* WindowRoot::CreateImageControl(ControlBase* parent, const std::string& name)
{
    return Make<ImageControl>(parent, name);
}

CaptionControl* WindowRoot::CreateCaptionControl(ControlBase* parent) { return Make<CaptionControl>(parent); }

TextControl* WindowRoot::CreateTextControl(ControlBase* parent, const std::string& name)
{
    return Make<TextControl>(parent, name);
}

ButtonControl* WindowRoot::CreateButtonControl(ControlBase* parent, const std::string& name)
{
    return Make<ButtonControl>(parent, name);
}

EditControl* WindowRoot::CreateEditControl(ControlBase* parent) { return Make<EditControl>(parent); }

ProgressControl* WindowRoot::CreateProgressControl(ControlBase* parent) { return Make<ProgressControl>(parent); }

void WindowRoot::Invalidate(const Rect* rect)
{
    dirty = true;
    if (fullRedraw) {
        return;
    }
    if (rect == nullptr) {
        fullRedraw = true;
        return;
    }
    if (dirtyRect.IsZero()) {
        dirtyRect = *rect;
        return;
    }
    dirtyRect.left = std::min(dirtyRect.left, rect->left);
    dirtyRect.top = std::min(dirtyRect.top, rect->top);
    dirtyRect.right = std::max(dirtyRect.right, rect->right);
    dirtyRect.bottom = std::max(dirtyRect.bottom, rect->bottom);
}

void WindowRoot::AddCreateHandler(CreateHandler handler) { createHandlers.push_back(std::move(handler)); }

HWND WindowRoot::OwnerWindow() const { return LiveWindowOf(owner); }

void WindowRoot::OnCreate()
{
    if (backGraphics == nullptr) {
        RECT client = {};
        if (HWND window = OwnerWindow()) {
            GetClientRect(window, &client);
        }
        CreateBackBuffer(client.right - client.left, client.bottom - client.top);
    }
    if (HWND window = OwnerWindow()) {
        owner->timerId = SetTimer(window, kRepaintTimerId, kRepaintPeriodMs, nullptr);
    }
    for (const CreateHandler& handler : createHandlers) {
        handler();
    }
}

void WindowRoot::OnSize(int32_t width, int32_t height)
{
    // Re-made only when the size really changes: the picture is kept otherwise.
    if (backGraphics != nullptr && width == backWidth && height == backHeight) {
        return;
    }
    DropBackBuffer();
    CreateBackBuffer(width, height);
    // A new back buffer is blank, and the system may paint before the next
    // tick (a restore, for one): draw it whole before anything shows it.
    if (rootControl != nullptr && width > 0 && height > 0) {
        rootControl->PaintTree(backGraphics.get(), true);
    }
}

void WindowRoot::CreateBackBuffer(int32_t width, int32_t height)
{
    backBitmap = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat32bppARGB);
    backGraphics = std::make_unique<Gdiplus::Graphics>(backBitmap.get());
    ApplyQualitySettings(*backGraphics);
    backWidth = width;
    backHeight = height;
}

void WindowRoot::DropBackBuffer()
{
    backGraphics.reset();  // the surface before the bitmap it draws into
    backBitmap.reset();
}

void WindowRoot::OnTimer()
{
    if (!dirty) {
        return;
    }
    // The whole tree is redrawn over the previous frame; only the screen copy
    // is limited to what changed.
    if (rootControl != nullptr) {
        rootControl->PaintTree(backGraphics.get(), true);
    }
    dirty = false;
    if (HWND window = OwnerWindow()) {
        const RECT changed = {dirtyRect.left, dirtyRect.top, dirtyRect.right, dirtyRect.bottom};
        InvalidateRect(window, fullRedraw ? nullptr : &changed, TRUE);
    }
    fullRedraw = false;
    dirtyRect = Rect();
}

void WindowRoot::Paint(HDC dc)
{
    Gdiplus::Graphics surface(dc);
    ApplyQualitySettings(surface);
    RECT client = {};
    if (HWND window = OwnerWindow()) {
        GetClientRect(window, &client);
    }
    DrawImageInRect(&surface, backBitmap.get(), Rect{client.left, client.top, client.right, client.bottom});
}

void WindowRoot::OnClose()
{
    if (owner != nullptr) {
        if (HWND window = OwnerWindow()) {
            KillTimer(window, owner->timerId);
            owner->timerId = 0;
        }
        owner = nullptr;
    }
    DropBackBuffer();
}

void WindowRoot::OnMouseMove(Point point, WPARAM keys)
{
    // While the left button is held, no control gains or loses the hover.
    if ((keys & MK_LBUTTON) != 0) {
        return;
    }
    if (ControlBase* hover = hoverControl) {
        if (!hover->hoverEnabled) {
            hoverControl = nullptr;
        } else if (hover->rect.Contains(point)) {
            hover->DispatchHover(point);
            return;
        } else {
            hover->EndHover();
        }
    }
    if (rootControl != nullptr) {
        rootControl->DispatchHover(point);
    }
}

void WindowRoot::OnMouseLeave()
{
    ControlBase* hover = hoverControl;
    if (hover == nullptr) {
        return;
    }
    if (!hover->hoverEnabled) {
        hoverControl = nullptr;
    } else if (hover->hovered) {
        hover->OnMouseLeave();
        hover->hovered = false;
        hoverControl = nullptr;
    }
}

void WindowRoot::OnLButtonUp(Point point)
{
    if (ControlBase* pressedOne = pressedControl) {
        if (pressedOne->clickEnabled && pressedOne->rect.Contains(point)) {
            pressedOne->DispatchRelease(point);
            return;
        }
        // Released elsewhere: the press is cancelled without a call.
        pressedOne->pressed = false;
        pressedControl = nullptr;
    }
    if (rootControl != nullptr) {
        rootControl->DispatchRelease(point);
    }
    pressedControl = nullptr;
}

void WindowRoot::OnCommand(int32_t id, WPARAM wParam, LPARAM lParam)
{
    const auto found = childControls.find(id);
    if (found != childControls.end()) {
        found->second->OnCommand(wParam, lParam);
    }
}

}  // namespace Quv::UI
