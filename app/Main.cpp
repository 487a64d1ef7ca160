// Entry point: start-up and shut-down in a fixed order.
#include "AppState.h"
#include "DebugPrivilege.h"
#include "MainWindow.h"
#include "UsageReport.h"

#include "HostWnd.h"

#include <windows.h>
#include <objbase.h>
#include <gdiplus.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    AppInstance = instance;
    Quv::UI::SetModuleInstance(instance);
    CoInitialize(nullptr);

    Gdiplus::GdiplusStartupInput gdiplusInput;  // version 1, no debug callback
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr);

    EnableDebugPrivilege();
    const int exitCode = RunMainWindow();
    if (StatusCode != 0) {
        SendUsageReport();
    }

    Gdiplus::GdiplusShutdown(gdiplusToken);
    CoUninitialize();
    return exitCode;
}
