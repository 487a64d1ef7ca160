// WinINet, which the program does not import: it is loaded from the system
// folder on first use (see SystemLibrary.h).
#pragma once

#include <windows.h>
#include <wininet.h>

struct WinInetApi {
    decltype(&::InternetOpenW) InternetOpenW;
    decltype(&::InternetConnectW) InternetConnectW;
    decltype(&::InternetCrackUrlW) InternetCrackUrlW;
    decltype(&::InternetSetOptionW) InternetSetOptionW;
    decltype(&::InternetReadFile) InternetReadFile;
    decltype(&::InternetCloseHandle) InternetCloseHandle;
    decltype(&::HttpOpenRequestW) HttpOpenRequestW;
    decltype(&::HttpSendRequestW) HttpSendRequestW;
    decltype(&::HttpQueryInfoW) HttpQueryInfoW;
};

// Every function of it, or null when WinINet can't be loaded or lacks one.
const WinInetApi* WinInet();
