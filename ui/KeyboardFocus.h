// The keyboard's side of a host window: which control has the focus, the Tab
// order, the focus mark, and the buttons that Enter, Esc and the system's
// close command (Alt+F4) press. A button pressed by a key takes the same path
// as a click. The mark shows once the keyboard has moved the focus, as
// Windows shows its focus rectangles, so that a window used with the mouse
// alone looks as it always did.
#pragma once

#include <windows.h>

#include <vector>

namespace Quv::UI {

class ButtonControl;
class ControlBase;
class WindowRoot;

class KeyboardFocus {
public:
    explicit KeyboardFocus(WindowRoot& root) : root_(root) {}
    KeyboardFocus(const KeyboardFocus&) = delete;
    KeyboardFocus& operator=(const KeyboardFocus&) = delete;

    ButtonControl* defaultButton = nullptr;  // Enter, where no button has the focus
    ButtonControl* cancelButton = nullptr;   // Esc
    ButtonControl* closeButton = nullptr;    // the system's close command; none: the window just closes

    // The controls Tab visits, in the tree's order: the ones that take the
    // focus now (enabled buttons that are tab stops, edit fields).
    std::vector<ControlBase*> TabOrder() const;

    ControlBase* Focused() const { return focused_; }
    // Gives `control` the focus (null: none); an edit field gets the native focus.
    void Focus(ControlBase* control);
    // Tab and Shift+Tab: the next (or previous) control of the order, round.
    void Next(bool backwards);
    // Whether the mark shows on `control`.
    bool ShowsMarkOn(const ControlBase* control) const { return marksShown_ && focused_ == control; }

    // A key pressed in the window or its edit field; true when it was one of
    // Tab, Enter, Esc and Space, taken here.
    bool OnKey(UINT key);
    // The system's close command; true when the close button took it.
    bool OnCloseCommand();
    // A control that is going away must not stay focused.
    void Forget(const ControlBase* control);

private:
    // Presses `button` as a click would; true when it was there to press.
    static bool Press(ButtonControl* button);
    ButtonControl* FocusedButton() const;

    WindowRoot& root_;
    ControlBase* focused_ = nullptr;
    bool marksShown_ = false;
};

}  // namespace Quv::UI
