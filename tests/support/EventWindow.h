// A hidden window that collects the repair engine's events, as the main window would.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

struct EventRecord {
    uint32_t code;
    int32_t param;
};

class EventWindow {
public:
    EventWindow();
    ~EventWindow();
    EventWindow(const EventWindow&) = delete;
    EventWindow& operator=(const EventWindow&) = delete;

    HWND Handle() const { return hwnd_; }
    void Destroy();

    // Dispatches messages until `done` holds for the events so far, or the time is up.
    bool PumpUntil(const std::function<bool(const std::vector<EventRecord>&)>& done, DWORD timeoutMs);
    // Waits until an event with `code` arrived.
    bool WaitFor(uint32_t code, DWORD timeoutMs);
    void PumpFor(DWORD ms);
    std::vector<uint32_t> Codes() const;

    std::vector<EventRecord> events;

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    HWND hwnd_ = nullptr;
};
