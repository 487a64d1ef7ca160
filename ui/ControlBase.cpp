#include "ControlBase.h"

#include "WindowRoot.h"

namespace Quv::UI {

ControlBase::ControlBase(ControlBase* parentControl, std::string controlName)
    : name(std::move(controlName)), parent(parentControl)
{
}

ControlBase::~ControlBase()
{
    children.clear();  // the children go first, while this control is still whole
    if (windowRoot != nullptr) {
        if (windowRoot->hoverControl == this) {
            windowRoot->hoverControl = nullptr;
        }
        // Nor may a deleted control stay behind as the target of a release or a key.
        if (windowRoot->pressedControl == this) {
            windowRoot->pressedControl = nullptr;
        }
        windowRoot->keyboard.Forget(this);
    }
}

void ControlBase::OnMouseEnter(Point) {}
void ControlBase::OnMouseMove(Point) {}
void ControlBase::OnMouseLeave() {}
void ControlBase::OnLButtonDown(Point) {}
void ControlBase::OnLButtonUp() {}
void ControlBase::Draw(Gdiplus::Graphics*) {}
void ControlBase::OnCommand(WPARAM, LPARAM) {}
bool ControlBase::TakesFocus() const { return false; }
void ControlBase::OnFocusChanged(bool) {}
ButtonControl* ControlBase::AsButton() { return nullptr; }

void ControlBase::AddChild(std::unique_ptr<ControlBase> control) { children.push_back(std::move(control)); }

void ControlBase::SetPosition(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    if (parent != nullptr) {
        rect = {parent->rect.left + left, parent->rect.top + top, parent->rect.left + right,
                parent->rect.top + bottom};
    } else {
        rect = {left, top, right, bottom};
    }
    Invalidate();
}

void ControlBase::Invalidate()
{
    needsRedraw = true;
    if (windowRoot != nullptr) {
        windowRoot->Invalidate(&rect);
    }
}

bool ControlBase::ChildTakes(bool (ControlBase::*dispatch)(Point), Point point)
{
    for (const std::unique_ptr<ControlBase>& child : children) {
        if (((*child).*dispatch)(point)) {
            return true;
        }
    }
    return false;
}

bool ControlBase::DispatchHover(Point point)
{
    if (ChildTakes(&ControlBase::DispatchHover, point)) {
        return true;
    }
    if (!hoverEnabled || !rect.Contains(point)) {
        return false;
    }
    if (!hovered) {
        OnMouseEnter(point);
        hovered = true;
        if (windowRoot != nullptr) {
            windowRoot->hoverControl = this;
        }
    }
    OnMouseMove(point);
    return true;
}

bool ControlBase::EndHover()
{
    if (!hovered) {
        return false;
    }
    OnMouseLeave();
    hovered = false;
    if (windowRoot != nullptr && windowRoot->hoverControl == this) {
        windowRoot->hoverControl = nullptr;
    }
    return true;
}

bool ControlBase::DispatchPress(Point point)
{
    if (ChildTakes(&ControlBase::DispatchPress, point)) {
        return true;
    }
    if (!clickEnabled || !rect.Contains(point)) {
        return false;
    }
    if (windowRoot != nullptr) {
        windowRoot->pressedControl = this;
    }
    pressed = true;
    OnLButtonDown(point);
    return true;
}

bool ControlBase::DispatchRelease(Point point)
{
    if (ChildTakes(&ControlBase::DispatchRelease, point)) {
        return true;
    }
    if (!clickEnabled || !rect.Contains(point)) {
        return false;
    }
    if (pressed) {
        pressed = false;
        OnLButtonUp();
    }
    if (windowRoot != nullptr) {
        windowRoot->pressedControl = nullptr;
    }
    return true;
}

void ControlBase::PaintTree(Gdiplus::Graphics* surface, bool force)
{
    if (force || needsRedraw) {
        Draw(surface);
        needsRedraw = false;
    }
    for (const std::unique_ptr<ControlBase>& child : children) {
        child->PaintTree(surface, force);
    }
}

}  // namespace Quv::UI
