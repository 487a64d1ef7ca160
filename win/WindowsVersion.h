// Which Windows this is, as GetVersionExW tells (which is all a program
// without a manifest-declared newer Windows needs; Windows XP has no other way).
#pragma once

#include <windows.h>

// False when the system would not say.
bool GetWindowsVersion(OSVERSIONINFOW& version);
