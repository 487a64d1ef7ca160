// How a HostWnd meets its native window: it waits, with a thunk ready, on a
// stack of the thread's windows being created, and the window's first message
// binds the two: the thunk, leading to the HostWnd, becomes the window's
// procedure.
#pragma once

#include <windows.h>

#include <deque>

namespace Quv::UI {

class HostWnd;

// Windows being created, most recent at the back; their first message binds them.
std::deque<HostWnd*>& PendingWindows();

// Puts `host` on the stack, with a thunk, for the life of the scope; takes it
// off again if the window failed before its first message.
class PendingWindow {
public:
    explicit PendingWindow(HostWnd& host);
    ~PendingWindow();
    PendingWindow(const PendingWindow&) = delete;
    PendingWindow& operator=(const PendingWindow&) = delete;

    // False when no thunk could be had: there would be no procedure for the window.
    bool Ready() const { return ready_; }

private:
    HostWnd& host_;
    bool ready_ = false;
};

// From a start procedure: takes the HostWnd being created, makes its thunk lead
// to `entry` and the window's procedure (`procedureIndex`: GWLP_WNDPROC or
// DWLP_DLGPROC); null when no HostWnd is waiting.
HostWnd* BindPendingWindow(HWND hwnd, const void* entry, int procedureIndex);

}  // namespace Quv::UI
