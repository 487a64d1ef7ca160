// The toolkit's top-level native window: a frameless popup or a modal dialog
// whose whole client area is drawn by its WindowRoot.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace Quv::UI {

class WindowRoot;

// Handler of an application message (at or above WM_USER): wParam, lParam.
using MessageHandler = std::function<void(uint32_t wParam, int32_t lParam)>;

class HostWnd {
public:
    HostWnd() = default;
    virtual ~HostWnd() = default;
    HostWnd(const HostWnd&) = delete;
    HostWnd& operator=(const HostWnd&) = delete;

    HWND hwnd = nullptr;
    WindowRoot* root = nullptr;  // not owned
    void* thunk = nullptr;
    UINT_PTR timerId = 0;
    int32_t dialogResult = 2;
    bool dragPending = false;
    bool restorePending = false;
    std::map<uint32_t, std::vector<MessageHandler>> handlers;
};

}  // namespace Quv::UI
