#include "WindowBinding.h"

#include "HostWnd.h"
#include "ThunkPool.h"

namespace Quv::UI {

std::deque<HostWnd*>& PendingWindows()
{
    static std::deque<HostWnd*>* const pending = new std::deque<HostWnd*>();
    return *pending;
}

PendingWindow::PendingWindow(HostWnd& host) : host_(host)
{
    host_.thunk = ThunkPool::Instance().Allocate();
    ready_ = host_.thunk != nullptr;
    if (ready_) {
        PendingWindows().push_back(&host_);
    }
}

PendingWindow::~PendingWindow()
{
    std::deque<HostWnd*>& pending = PendingWindows();
    if (!pending.empty() && pending.back() == &host_) {
        pending.pop_back();
    }
}

HostWnd* BindPendingWindow(HWND hwnd, const void* entry, int procedureIndex)
{
    std::deque<HostWnd*>& pending = PendingWindows();
    if (pending.empty()) {
        return nullptr;
    }
    HostWnd* object = pending.back();
    pending.pop_back();
    object->hwnd = hwnd;
    WriteThunk(object->thunk, object, entry);
    SetWindowLongPtrW(hwnd, procedureIndex, reinterpret_cast<LONG_PTR>(object->thunk));
    return object;
}

}  // namespace Quv::UI
