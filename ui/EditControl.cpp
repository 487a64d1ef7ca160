#include "EditControl.h"

#include "Drawing.h"
#include "HostWnd.h"
#include "WindowRoot.h"

namespace Quv::UI {

namespace {
constexpr int kTextBufferChars = 2048;
}

EditControl::~EditControl()
{
    if (editHwnd != nullptr && IsWindow(editHwnd)) {
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
