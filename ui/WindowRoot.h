// Everything one host window needs to draw its controls and route input to them:
// the control tree, the back buffer, the dirty rectangle and the repaint tick.
#pragma once

#include "ControlBase.h"
#include "Geometry.h"
#include "KeyboardFocus.h"

#include <windows.h>
#include <gdiplus.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Quv::UI {

class ButtonControl;
class CaptionControl;
class EditControl;
class HostWnd;
class ImageControl;
class ProgressControl;
class TextControl;

using CreateHandler = std::function<void()>;

// Id and period of the repaint timer.
constexpr UINT_PTR kRepaintTimerId = 256;
constexpr UINT kRepaintPeriodMs = 20;

class WindowRoot {
public:
    WindowRoot() = default;
    ~WindowRoot();
    WindowRoot(const WindowRoot&) = delete;
    WindowRoot& operator=(const WindowRoot&) = delete;

    // Factories: the first control made without a parent becomes the root
    // control; another one without a parent is refused (null).
    ImageControl* CreateImageControl(ControlBase* parent, const std::string& name);
    CaptionControl* CreateCaptionControl(ControlBase* parent);
    TextControl* CreateTextControl(ControlBase* parent, const std::string& name);
    ButtonControl* CreateButtonControl(ControlBase* parent, const std::string& name);
    EditControl* CreateEditControl(ControlBase* parent);
    ProgressControl* CreateProgressControl(ControlBase* parent);

    // Marks a rectangle (null: the whole window) for the next repaint tick.
    void Invalidate(const Rect* rect);
    void AddCreateHandler(CreateHandler handler);

    void OnCreate();
    void OnSize(int32_t width, int32_t height);
    void OnTimer();
    void Paint(HDC dc);
    void OnClose();
    void CreateBackBuffer(int32_t width, int32_t height);

    void OnMouseMove(Point point, WPARAM keys);
    void OnMouseLeave();
    void OnLButtonUp(Point point);
    void OnCommand(int32_t id, WPARAM wParam, LPARAM lParam);

    std::unique_ptr<ControlBase> rootControl;  // with the whole tree
    ControlBase* hoverControl = nullptr;
    ControlBase* pressedControl = nullptr;
    HostWnd* owner = nullptr;
    std::map<int32_t, ControlBase*> childControls;
    // The bitmap first: its surface goes before it.
    std::unique_ptr<Gdiplus::Bitmap> backBitmap;
    std::unique_ptr<Gdiplus::Graphics> backGraphics;
    int32_t backWidth = 0;
    int32_t backHeight = 0;
    std::vector<CreateHandler> createHandlers;
    KeyboardFocus keyboard{*this};
    Rect dirtyRect;
    bool dirty = false;
    bool fullRedraw = false;

private:
    // What every factory does: a control without a parent can only become the
    // root control; a parent owns the new control, the root the root control.
    template <typename Control, typename... Arguments>
    Control* Make(ControlBase* parent, Arguments&&... arguments)
    {
        if (parent == nullptr && rootControl != nullptr) {
            return nullptr;
        }
        auto control = std::make_unique<Control>(parent, std::forward<Arguments>(arguments)...);
        Control* made = control.get();
        made->windowRoot = this;
        if (parent != nullptr) {
            parent->AddChild(std::move(control));
        } else {
            rootControl = std::move(control);
        }
        return made;
    }
    HWND OwnerWindow() const;
    void DropBackBuffer();
};

}  // namespace Quv::UI
