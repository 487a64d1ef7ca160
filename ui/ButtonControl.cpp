#include "ButtonControl.h"

#include "Drawing.h"
#include "ImageLoader.h"
#include "WindowRoot.h"

namespace Quv::UI {

ButtonControl::ButtonControl(ControlBase* parent, std::string controlName)
    : ControlBase(parent, std::move(controlName))
{
    hoverEnabled = true;
    clickEnabled = true;
}

void ButtonControl::SetImages(uint16_t normal, uint16_t hover, uint16_t pressedId, uint16_t disabled)
{
    normalImage.reset(LoadPngResource(normal));
    hoverImage.reset(LoadPngResource(hover));
    pressedImage.reset(LoadPngResource(pressedId));
    disabledImage.reset(LoadPngResource(disabled));
    Invalidate();
}

void ButtonControl::SetEnabled(bool value)
{
    if (value == enabled) {
        return;
    }
    enabled = value;
    Invalidate();
}

void ButtonControl::SetText(const std::wstring& caption)
{
    text = caption;
    Invalidate();
}

void ButtonControl::AddClickHandler(ClickHandler handler) { clickHandlers.push_back(std::move(handler)); }

void ButtonControl::ChangeState(ButtonState next)
{
    state = next;
    if (enabled) {
        Invalidate();
    }
}

void ButtonControl::OnMouseEnter(Point) { ChangeState(Hover); }

void ButtonControl::OnMouseLeave() { ChangeState(Normal); }

void ButtonControl::OnLButtonDown(Point) { ChangeState(Pressed); }

void ButtonControl::OnLButtonUp()
{
    ChangeState(Hover);
    Click();
}

void ButtonControl::Click()
{
    if (!enabled) {
        return;
    }
    for (const ClickHandler& handler : clickHandlers) {
        handler();
    }
}

void ButtonControl::OnFocusChanged(bool) { Invalidate(); }

void ButtonControl::Draw(Gdiplus::Graphics* surface)
{
    Gdiplus::Image* image = normalImage.get();
    if (!enabled) {
        image = disabledImage.get();
    } else if (state == Hover) {
        image = hoverImage.get();
    } else if (state == Pressed) {
        image = pressedImage.get();
    }
    if (image != nullptr) {
        DrawImageInRect(surface, image, rect);
    }
    if (!text.empty()) {
        DrawTextInRect(surface, text, rect, UiFontFace(), kUiFontPoints, kAlignCenter, kAlignCenter, 0xFFFFFFFF);
    }
    if (windowRoot != nullptr && windowRoot->keyboard.ShowsMarkOn(this)) {
        DrawFocusMark(surface, rect);
    }
}

}  // namespace Quv::UI
