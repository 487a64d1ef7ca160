// The toolkit's top-level native window: a frameless popup or a modal dialog
// whose whole client area is drawn by its WindowRoot.
#pragma once

#include "Geometry.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace Quv::UI {

class WindowRoot;

// Handler of an application message (at or above WM_USER): wParam, lParam.
using MessageHandler = std::function<void(uint32_t wParam, int32_t lParam)>;

// The module whose resources and window classes the toolkit uses.
void SetModuleInstance(HINSTANCE instance);
HINSTANCE ModuleInstance();

constexpr wchar_t kHostWindowClass[] = L"QUV_HOSTWND_CLASS";

class HostWnd;

// The native window of `host` while it still exists; null for no host, a host
// whose window is not made yet or gone, and a handle the system no longer knows.
HWND LiveWindowOf(const HostWnd* host);

class HostWnd {
public:
    HostWnd() = default;
    virtual ~HostWnd();  // gives the thunk back; the native window must be gone by then
    HostWnd(const HostWnd&) = delete;
    HostWnd& operator=(const HostWnd&) = delete;

    // Makes the window, hidden, centred on the work area. False when the class
    // can't be registered (a process makes one such window) or the window not made.
    bool Create(const std::wstring& title, int32_t width, int32_t height);
    // Runs a modal dialog from the module's dialog template `templateId`, of
    // `width` by `height` pixels, over `owner`; the dialog result, or -1 when
    // it can't be made.
    int32_t RunModal(HWND owner, int templateId, int32_t width, int32_t height);
    bool Show(bool visible);
    bool MoveTo(const Rect& rect);
    void CenterOnOwner();
    // Calls `handler` for `message`: a message of the application (WM_USER and
    // above), or WM_TIMER for a timer of its own (the repaint timer is the toolkit's).
    void AddMessageHandler(uint32_t message, MessageHandler handler);

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd = nullptr;
    WindowRoot* root = nullptr;  // not owned
    int iconId = 0;              // the module's icon for the window and its dialogs; 0: the system's
    void* thunk = nullptr;       // a ThunkPool slot, owned
    UINT_PTR timerId = 0;
    int32_t dialogResult = 2;
    bool dragPending = false;
    bool restorePending = false;
    std::map<uint32_t, std::vector<MessageHandler>> handlers;

private:
    bool HasWindow() const { return LiveWindowOf(this) != nullptr; }
    enum class Reply { Default, Value, Swallow };
    Reply OnSharedMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& value);
    // What both procedures do for a message.
    void SetIcons();
    void OnPaint();
    void OnSysCommand(WPARAM wParam);
    void RaiseOwnedWindows();
    void OnMouseMove(WPARAM wParam, LPARAM lParam);
    // True when the press asked for a window drag; `result` is then the drag's.
    bool OnLButtonDown(LPARAM lParam, LRESULT& result);
    LRESULT OnControlColor(WPARAM dc);

    bool leaveTracking_ = false;
    int32_t dialogWidth_ = 0, dialogHeight_ = 0;
};

// The first procedure of every host window and dialog: binds it to its object.
LRESULT CALLBACK StartWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK StartDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace Quv::UI
