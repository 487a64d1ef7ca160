// Entry point: start-up and shut-down in a fixed order.
#include "AppState.h"
#include "BuildSettings.h"
#include "DebugPrivilege.h"
#include "MainWindow.h"
#include "SingleInstance.h"
#include "UsageReport.h"

#include "DiagnosticsLog.h"
#include "GdiplusSession.h"
#include "HostWnd.h"
#include "KernelFunction.h"
#include "RedirectionTrust.h"
#include "RepairEngine.h"
#include "SystemLibrary.h"
#include "WindowsVersion.h"

#include <windows.h>

namespace {

// The first line of a run in the log: which program on which Windows.
void LogStart()
{
    std::wstring line = std::wstring(L"LumoraRepair ") + VNK_VERSION + (sizeof(void*) == 8 ? L", win64" : L", win32") +
                        L" build";
    OSVERSIONINFOW version;
    if (GetWindowsVersion(version)) {
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
    // Before anything can load a DLL by name: never from beside the program.
    LimitDllSearchToSystemFolder();
    // Before any path is opened: where Windows offers it, no junction an
    // ordinary user made is followed by this elevated process.
    DWORD trustError = NO_ERROR;
    const RedirectionTrust trust = TrustOnlyAdministratorsJunctions(trustError);
    SetLogUiThread();
    // One copy per player, decided before the game folder is looked for or a
    // journal recovered: a second start shows the first and ends.
    SingleInstance instanceOfThisPlayer;
    if (!instanceOfThisPlayer.Claim()) {
        if (SingleInstance::ShowRunningCopy()) {
            Log(L"another copy runs already: its window is brought to the front; this one ends");
            return 0;
        }
        // Any program of the player's can take the name: it must not lock the player out.
        Log(L"the name of this program's one copy is taken, but no window of this program answered: this copy "
            L"runs");
    }
    AppInstance = instance;
    Quv::UI::SetModuleInstance(instance);
    const GdiplusSession session;  // COM and GDI+, until the report is sent

    LogStart();
    switch (trust) {
    case RedirectionTrust::On:
        Log(L"junctions made by ordinary users are refused by Windows for this process (redirection trust on)");
        break;
    case RedirectionTrust::NotOn:
        Log(L"redirection trust is not on: " + (trustError == NO_ERROR ? std::wstring(L"Windows doesn't confirm it")
                                                                          : ErrorText(trustError)));
        break;
    case RedirectionTrust::NotOffered:
        Log(L"redirection trust is not offered by this Windows");
        break;
    }
    EnableDebugPrivilege();
    const int exitCode = RunMainWindow();
    RepairEngine::Instance().DiscardPartialDownload();
    Log(L"exit with status " + Num(static_cast<uint32_t>(StatusCode)));
    if (StatusCode != Outcome::None) {
        SendUsageReport(StatusCode);
    } else {
        Log(L"no usage report: nothing was repaired");
    }
    return exitCode;
}
