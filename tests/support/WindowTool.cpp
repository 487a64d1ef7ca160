// Helper of the end-to-end tests: does to the program's main window what the
// taskbar or a busy system would, and reports where its windows are.
//   vnk_window syscommand CODE   posts WM_SYSCOMMAND CODE (hex) to the main window
//   vnk_window post MESSAGE W L  posts MESSAGE with W and L (decimal), as any
//                                other program on the desktop could
//   vnk_window restore           restores the minimised window as the taskbar
//                                does, also while a modal dialog disables it
//   vnk_window freeze MS         suspends the window's thread for MS milliseconds
//   vnk_window windows           prints "x y width height visible iconic" for the
//                                main window, then for every other top-level
//                                window of its thread (the dialogs)
// Exit status 0 on success, 1 when the main window isn't there, 2 on bad usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HWND MainWindow() { return FindWindowW(L"QUV_HOSTWND_CLASS", nullptr); }

void PrintWindow(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    std::printf("%ld %ld %ld %ld %d %d\n", static_cast<long>(rect.left), static_cast<long>(rect.top),
                static_cast<long>(rect.right - rect.left), static_cast<long>(rect.bottom - rect.top),
                IsWindowVisible(window) ? 1 : 0, IsIconic(window) ? 1 : 0);
}

BOOL CALLBACK PrintOtherWindow(HWND window, LPARAM main)
{
    if (window != reinterpret_cast<HWND>(main) && IsWindowVisible(window)) {
        PrintWindow(window);
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        return 2;
    }
    HWND window = MainWindow();
    if (window == nullptr) {
        std::fprintf(stderr, "vnk_window: the main window is not there\n");
        return 1;
    }
    DWORD processId = 0;
    const DWORD threadId = GetWindowThreadProcessId(window, &processId);
    if (std::strcmp(argv[1], "syscommand") == 0 && argc == 3) {
        return PostMessageW(window, WM_SYSCOMMAND, std::strtoul(argv[2], nullptr, 16), 0) ? 0 : 1;
    }
    if (std::strcmp(argv[1], "post") == 0 && argc == 5) {
        return PostMessageW(window, std::strtoul(argv[2], nullptr, 10), std::strtoul(argv[3], nullptr, 10),
                            std::strtol(argv[4], nullptr, 10))
                   ? 0
                   : 1;
    }
    if (std::strcmp(argv[1], "restore") == 0) {
        return ShowWindowAsync(window, SW_RESTORE) ? 0 : 1;
    }
    if (std::strcmp(argv[1], "freeze") == 0 && argc == 3) {
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, threadId);
        if (thread == nullptr || SuspendThread(thread) == static_cast<DWORD>(-1)) {
            return 1;
        }
        Sleep(std::strtoul(argv[2], nullptr, 10));
        ResumeThread(thread);
        CloseHandle(thread);
        return 0;
    }
    if (std::strcmp(argv[1], "windows") == 0) {
        PrintWindow(window);
        EnumThreadWindows(threadId, PrintOtherWindow, reinterpret_cast<LPARAM>(window));
        return 0;
    }
    return 2;
}
