// Entry point: start-up and shut-down in a fixed order.
#include "AppState.h"
#include "BuildSettings.h"
#include "DebugPrivilege.h"
#include "MainWindow.h"
#include "UsageReport.h"

#include "DiagnosticsLog.h"
#include "KernelFunction.h"
#include "RepairEngine.h"
#include "HostWnd.h"

#include <windows.h>
#include <objbase.h>
#include <gdiplus.h>

namespace {

// The first line of a run in the log: which program on which Windows.
void LogStart()
{
    std::wstring line = std::wstring(L"LumoraRepair ") + VNK_VERSION + (sizeof(void*) == 8 ? L", win64" : L", win32") +
                        L" build";
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (GetVersionExW(&version)) {
#pragma GCC diagnostic pop
        line += L", Windows " + Num(version.dwMajorVersion) + L"." + Num(version.dwMinorVersion) + L"." +
                Num(version.dwBuildNumber) + (version.szCSDVersion[0] ? L" " + std::wstring(version.szCSDVersion) : L"");
    }
    // IsWow64Process is missing before XP SP2: looked up, not imported.
    using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    const IsWow64Fn isWow64 = KernelFunction<IsWow64Fn>("IsWow64Process");
    BOOL wow64 = FALSE;
    if (isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64) {
        line += L", WOW64";
    }
    Log(line);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    AppInstance = instance;
    Quv::UI::SetModuleInstance(instance);
    CoInitialize(nullptr);

    Gdiplus::GdiplusStartupInput gdiplusInput;  // version 1, no debug callback
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr);

    SetLogUiThread();
    LogStart();
    EnableDebugPrivilege();
    const int exitCode = RunMainWindow();
    RepairEngine::Instance().DiscardPartialDownload();
    Log(L"exit with status " + Num(static_cast<uint32_t>(StatusCode)));
    if (StatusCode != Outcome::None) {
        SendUsageReport();
    } else {
        Log(L"no usage report: nothing was repaired");
    }

    Gdiplus::GdiplusShutdown(gdiplusToken);
    CoUninitialize();
    return exitCode;
}
