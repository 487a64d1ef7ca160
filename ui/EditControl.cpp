#include "EditControl.h"

#include "Drawing.h"
#include "HostWnd.h"
#include "WindowRoot.h"

namespace Quv::UI {

namespace {
constexpr int kTextBufferChars = 2048;

// The field's own keys stay its own; Tab, Enter and Esc belong to the window,
// as in a dialog of the system's.
bool IsWindowKey(WPARAM key) { return key == VK_TAB || key == VK_RETURN || key == VK_ESCAPE; }

LRESULT CALLBACK FieldProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    EditControl* field = reinterpret_cast<EditControl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (field == nullptr || field->editProc == nullptr) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    WindowRoot* root = field->windowRoot;
    if (message == WM_KEYDOWN && IsWindowKey(wParam) && root != nullptr) {
        root->keyboard.OnKey(static_cast<UINT>(wParam));  // may close the window
        return 0;
    }
    if (message == WM_CHAR && (wParam == L'\t' || wParam == L'\r' || wParam == 0x1B)) {
        return 0;  // taken as keys above; no beep
    }
    if (message == WM_SETFOCUS && root != nullptr) {
        root->keyboard.Focus(field);  // clicked into: Tab goes on from here
    }
    return CallWindowProcW(field->editProc, hwnd, message, wParam, lParam);
}

}  // namespace

EditControl::~EditControl()
{
    if (editHwnd != nullptr && IsWindow(editHwnd)) {
        SetWindowLongPtrW(editHwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(editProc));
        SetWindowLongPtrW(editHwnd, GWLP_USERDATA, 0);
        CloseWindow(editHwnd);
    }
    editHwnd = nullptr;
    if (windowRoot != nullptr) {
        windowRoot->childControls.erase(childId);
    }
}

void EditControl::Create(HWND parentWindow, int32_t id)
{
    childId = id;
    editHwnd = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, rect.left, rect.top,
                               rect.Width(), rect.Height(), parentWindow,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               ModuleInstance(),
                               nullptr);
    if (editHwnd == nullptr) {
        return;
    }
    SetWindowLongPtrW(editHwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    editProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(editHwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FieldProc)));
    const int32_t lineHeight = SetToolkitFont(editHwnd);
    MoveWindow(editHwnd, rect.left, rect.top + (rect.Height() - lineHeight) / 2, rect.Width(), lineHeight, TRUE);
    InvalidateRect(editHwnd, nullptr, TRUE);
}

bool EditControl::GetText(std::wstring& out) const
{
    if (editHwnd == nullptr) {
        return false;
    }
    wchar_t buffer[kTextBufferChars] = {};
    const int length = GetWindowTextW(editHwnd, buffer, kTextBufferChars);
    if (length == 0) {
        return false;
    }
    out.assign(buffer, length);
    return true;
}

void EditControl::SetEditable(bool value)
{
    if (value == editable || editHwnd == nullptr || !IsWindow(editHwnd)) {
        return;
    }
    editable = value;
    SendMessageW(editHwnd, EM_SETREADONLY, value ? FALSE : TRUE, 0);
}

void EditControl::AddChangeHandler(ChangeHandler handler) { changeHandlers.push_back(std::move(handler)); }

void EditControl::OnFocusChanged(bool focused)
{
    if (editHwnd == nullptr || !IsWindow(editHwnd)) {
        return;
    }
    if (focused) {
        SetFocus(editHwnd);
    } else if (GetFocus() == editHwnd) {
        SetFocus(GetParent(editHwnd));  // the window takes the keys again
    }
}

void EditControl::OnCommand(WPARAM wParam, LPARAM)
{
    if (HIWORD(wParam) != EN_CHANGE) {
        return;
    }
    Invalidate();
    for (const ChangeHandler& handler : changeHandlers) {
        handler();
    }
}

}  // namespace Quv::UI
