#include "EventWindow.h"

#include "RepairEvents.h"
#include "TestSupport.h"

namespace {
const wchar_t kClassName[] = L"VnkTestEventWindow";
}

EventWindow::EventWindow()
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass);  // fails harmlessly when already registered
    hwnd_ = CreateWindowExW(0, kClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

EventWindow::~EventWindow()
{
    Destroy();
    // Drop events still queued for this thread, so the next test starts clean.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

void EventWindow::Destroy()
{
    if (hwnd_ != nullptr) {
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }
}

LRESULT CALLBACK EventWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_REPAIR_EVENT) {
        auto* self = reinterpret_cast<EventWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self != nullptr) {
            self->events.push_back({static_cast<uint32_t>(wParam), static_cast<int32_t>(lParam)});
        }
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

bool EventWindow::PumpUntil(const std::function<bool(const std::vector<EventRecord>&)>& done, DWORD timeoutMs)
{
    return ::PumpUntil([this, &done] { return done(events); }, timeoutMs);
}

bool EventWindow::WaitFor(uint32_t code, DWORD timeoutMs)
{
    return PumpUntil(
        [code](const std::vector<EventRecord>& list) {
            for (const EventRecord& e : list) {
                if (e.code == code) {
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
}

void EventWindow::PumpFor(DWORD ms)
{
    PumpUntil([](const std::vector<EventRecord>&) { return false; }, ms);
}

std::vector<uint32_t> EventWindow::Codes() const
{
    std::vector<uint32_t> codes;
    for (const EventRecord& e : events) {
        codes.push_back(e.code);
    }
    return codes;
}
