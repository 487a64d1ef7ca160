// WinINet, which the program does not import: it is loaded from the system
// folder on first use (see SystemLibrary.h).
#pragma once

#include "SystemLibrary.h"

#include <windows.h>
#include <wininet.h>

#define VNK_WININET_FUNCTIONS(X) \
    X(InternetOpenW)             \
    X(InternetConnectW)          \
    X(InternetCrackUrlW)         \
    X(InternetSetOptionW)        \
    X(InternetReadFile)          \
    X(InternetCloseHandle)       \
    X(HttpOpenRequestW)          \
    X(HttpSendRequestW)          \
    X(HttpQueryInfoW)

struct WinInetApi {
    VNK_WININET_FUNCTIONS(VNK_API_MEMBER)
};

// Every function of it, or null when WinINet can't be loaded or lacks one.
const WinInetApi* WinInet();
