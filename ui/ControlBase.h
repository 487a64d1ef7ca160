// The base of every control: a rectangle in the window, a place in the tree,
// the pointer walks, and the one way to ask for a repaint.
#pragma once

#include "Geometry.h"

#include <windows.h>
#include <gdiplus.h>

#include <memory>
#include <string>
#include <vector>

namespace Quv::UI {

class ButtonControl;
class WindowRoot;

class ControlBase {
public:
    ControlBase(ControlBase* parent, std::string name);
    virtual ~ControlBase();

    ControlBase(const ControlBase&) = delete;
    ControlBase& operator=(const ControlBase&) = delete;

    // Reactions of a control; every default does nothing.
    virtual void OnMouseEnter(Point point);
    virtual void OnMouseMove(Point point);
    virtual void OnMouseLeave();
    virtual void OnLButtonDown(Point point);
    virtual void OnLButtonUp();
    virtual void Draw(Gdiplus::Graphics* surface);
    virtual void OnCommand(WPARAM wParam, LPARAM lParam);
    // The keyboard: whether Tab stops here now, and the focus coming or going.
    virtual bool TakesFocus() const;
    virtual void OnFocusChanged(bool focused);
    // The control as a button, for the keys that press one; null for any other.
    virtual ButtonControl* AsButton();

    // The parent owns its children.
    void AddChild(std::unique_ptr<ControlBase> control);
    // Relative to the parent's top-left corner, as the parent is now.
    void SetPosition(int32_t left, int32_t top, int32_t right, int32_t bottom);
    // Marks the control for the next repaint tick; nothing is drawn now.
    void Invalidate();

    // Tree walks: children first, in insertion order; the first that takes the
    // point ends the walk.
    bool DispatchHover(Point point);
    bool EndHover();
    bool DispatchPress(Point point);
    bool DispatchRelease(Point point);
    // Draws this control (when forced or changed), then its children over it.
    void PaintTree(Gdiplus::Graphics* surface, bool force);

    std::string name;
    ControlBase* parent = nullptr;
    WindowRoot* windowRoot = nullptr;
    Rect rect;
    bool hoverEnabled = false;
    bool clickEnabled = false;
    bool pressed = false;
    bool hovered = false;
    std::vector<std::unique_ptr<ControlBase>> children;
    bool needsRedraw = false;

private:
    // Offers `point` to the children in insertion order, each with its subtree;
    // true when one took it.
    bool ChildTakes(bool (ControlBase::*dispatch)(Point), Point point);
};

}  // namespace Quv::UI
