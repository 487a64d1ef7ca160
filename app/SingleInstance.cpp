#include "SingleInstance.h"

#include "HostWnd.h"
#include "MainWindow.h"

#include <windows.h>

namespace {

// "Local\": one copy per logged-on player, whoever else uses the machine.
const wchar_t kMutexName[] = L"Local\\Lumora.LumoraRepair.OneCopy";
// A first copy that was started a moment ago may not show its window yet.
constexpr DWORD kWindowWaitMs = 3000;
constexpr DWORD kWindowPollMs = 50;

}  // namespace

bool SingleInstance::Claim()
{
    HANDLE handle = CreateMutexW(nullptr, FALSE, kMutexName);
    const DWORD error = GetLastError();
    mutex_ = ScopedHandle(handle);
    // Made, or opened when another copy holds it; a name we can't even open
    // (another program took it for something else) lets this copy run.
    return !(handle != nullptr && error == ERROR_ALREADY_EXISTS);
}

bool SingleInstance::ShowRunningCopy()
{
    HWND main = nullptr;
    for (DWORD waited = 0; (main = FindWindowW(Quv::UI::kHostWindowClass, kMainWindowTitle)) == nullptr &&
                           waited < kWindowWaitMs;
         waited += kWindowPollMs) {
        Sleep(kWindowPollMs);
    }
    if (main == nullptr) {
        return false;
    }
    if (IsIconic(main)) {
        ShowWindow(main, SW_RESTORE);
    }
    // The dialog it shows, if any, is what the player must see. This process
    // was just started by the player, so Windows lets it choose the foreground.
    return SetForegroundWindow(GetLastActivePopup(main)) != FALSE;
}
