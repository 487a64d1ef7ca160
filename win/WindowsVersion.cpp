#include "WindowsVersion.h"

bool GetWindowsVersion(OSVERSIONINFOW& version)
{
    version = OSVERSIONINFOW();
    version.dwOSVersionInfoSize = sizeof(version);
    // Deprecated for programs that could use the version helpers, which XP lacks.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return GetVersionExW(&version) != FALSE;
#pragma GCC diagnostic pop
}
