#include "KeyboardFocus.h"

#include "ButtonControl.h"
#include "ControlBase.h"
#include "WindowRoot.h"

#include <algorithm>
#include <functional>

namespace Quv::UI {

namespace {

void CollectFocusable(ControlBase& control, std::vector<ControlBase*>& order)
{
    if (control.TakesFocus()) {
        order.push_back(&control);
    }
    for (const std::unique_ptr<ControlBase>& child : control.children) {
        CollectFocusable(*child, order);
    }
}

}  // namespace

std::vector<ControlBase*> KeyboardFocus::TabOrder() const
{
    std::vector<ControlBase*> order;
    if (root_.rootControl != nullptr) {
        CollectFocusable(*root_.rootControl, order);
    }
    return order;
}

void KeyboardFocus::Focus(ControlBase* control)
{
    if (control == focused_) {
        return;
    }
    ControlBase* before = focused_;
    focused_ = control;
    if (before != nullptr) {
        before->OnFocusChanged(false);
    }
    if (control != nullptr) {
        control->OnFocusChanged(true);
    }
}

void KeyboardFocus::Next(bool backwards)
{
    const std::vector<ControlBase*> order = TabOrder();
    if (order.empty()) {
        return;
    }
    const auto at = std::find(order.begin(), order.end(), focused_);
    size_t index = 0;
    if (at == order.end()) {
        index = backwards ? order.size() - 1 : 0;
    } else {
        const size_t current = static_cast<size_t>(at - order.begin());
        index = backwards ? (current + order.size() - 1) % order.size() : (current + 1) % order.size();
    }
    if (!marksShown_) {
        marksShown_ = true;
        if (focused_ != nullptr) {
            focused_->Invalidate();
        }
    }
    Focus(order[index]);
}

ButtonControl* KeyboardFocus::FocusedButton() const
{
    return focused_ != nullptr ? focused_->AsButton() : nullptr;
}

bool KeyboardFocus::Press(ButtonControl* button)
{
    if (button == nullptr || !button->enabled) {
        return false;
    }
    button->Click();  // may close the window: nothing of it is touched after this
    return true;
}

bool KeyboardFocus::OnKey(UINT key)
{
    switch (key) {
    case VK_TAB:
        Next((GetKeyState(VK_SHIFT) & 0x8000) != 0);
        return true;
    case VK_RETURN:
        Press(FocusedButton() != nullptr ? FocusedButton() : defaultButton);
        return true;
    case VK_ESCAPE:
        Press(cancelButton);
        return true;
    case VK_SPACE:
        if (ButtonControl* button = FocusedButton()) {
            Press(button);
            return true;
        }
        return false;
    default:
        return false;
    }
}

bool KeyboardFocus::OnCloseCommand() { return closeButton != nullptr && Press(closeButton); }

void KeyboardFocus::Forget(const ControlBase* control)
{
    if (focused_ == control) {
        focused_ = nullptr;
    }
    if (defaultButton == control) {
        defaultButton = nullptr;
    }
    if (cancelButton == control) {
        cancelButton = nullptr;
    }
    if (closeButton == control) {
        closeButton = nullptr;
    }
}

}  // namespace Quv::UI
