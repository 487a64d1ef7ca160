// A push button drawn from four state images, with an optional caption.
#pragma once

#include "ControlBase.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Quv::UI {

using ClickHandler = std::function<void()>;

enum ButtonState : int32_t { Normal = 1, Hover = 2, Pressed = 3 };

class ButtonControl : public ControlBase {
public:
    ButtonControl(ControlBase* parent, std::string name);

    void SetImages(uint16_t normal, uint16_t hover, uint16_t pressedId, uint16_t disabled);
    void SetEnabled(bool value);
    void SetText(const std::wstring& caption);
    void AddClickHandler(ClickHandler handler);
    // Runs the click handlers, as a release over the button does; nothing
    // when it is disabled. The handlers may close the window.
    void Click();

    void OnMouseEnter(Point point) override;
    void OnMouseLeave() override;
    void OnLButtonDown(Point point) override;
    void OnLButtonUp() override;
    void Draw(Gdiplus::Graphics* surface) override;
    bool TakesFocus() const override { return enabled && tabStop; }
    void OnFocusChanged(bool focused) override;
    ButtonControl* AsButton() override { return this; }

    std::vector<ClickHandler> clickHandlers;
    std::unique_ptr<Gdiplus::Image> normalImage;
    std::unique_ptr<Gdiplus::Image> hoverImage;
    std::unique_ptr<Gdiplus::Image> pressedImage;
    std::unique_ptr<Gdiplus::Image> disabledImage;
    std::wstring text;
    ButtonState state = Normal;
    bool enabled = true;
    bool tabStop = true;  // Tab visits it (a caption's glyph buttons don't)

private:
    // A disabled button follows the pointer in `state` but shows nothing of it.
    void ChangeState(ButtonState next);
};

}  // namespace Quv::UI
