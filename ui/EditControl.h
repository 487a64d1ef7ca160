// The one native child window of the toolkit: a single-line EDIT for the game folder.
#pragma once

#include "ControlBase.h"

#include <functional>
#include <string>
#include <vector>

namespace Quv::UI {

using ChangeHandler = std::function<void()>;

class EditControl : public ControlBase {
public:
    explicit EditControl(ControlBase* parent) : ControlBase(parent, "edit") {}
    ~EditControl() override;

    // Makes the native window over `rect`, one line of the toolkit font high,
    // centred vertically. Position the control first.
    void Create(HWND parentWindow, int32_t id);
    // False (and `out` unchanged) for an empty field or no window.
    bool GetText(std::wstring& out) const;
    void SetEditable(bool value);
    void AddChangeHandler(ChangeHandler handler);

    void OnCommand(WPARAM wParam, LPARAM lParam) override;
    bool TakesFocus() const override { return editHwnd != nullptr; }
    void OnFocusChanged(bool focused) override;

    HWND editHwnd = nullptr;
    WNDPROC editProc = nullptr;  // the EDIT class's own procedure, which ours passes on to
    int32_t childId = -1;
    std::vector<ChangeHandler> changeHandlers;
    bool editable = true;
};

}  // namespace Quv::UI
