#include "WinInet.h"

#include "SystemLibrary.h"

namespace {

bool Load(WinInetApi& api)
{
    const HMODULE dll = SystemLibrary(L"wininet.dll");
    api.InternetOpenW = LibraryFunction<decltype(api.InternetOpenW)>(dll, "InternetOpenW");
    api.InternetConnectW = LibraryFunction<decltype(api.InternetConnectW)>(dll, "InternetConnectW");
    api.InternetCrackUrlW = LibraryFunction<decltype(api.InternetCrackUrlW)>(dll, "InternetCrackUrlW");
    api.InternetSetOptionW = LibraryFunction<decltype(api.InternetSetOptionW)>(dll, "InternetSetOptionW");
    api.InternetReadFile = LibraryFunction<decltype(api.InternetReadFile)>(dll, "InternetReadFile");
    api.InternetCloseHandle = LibraryFunction<decltype(api.InternetCloseHandle)>(dll, "InternetCloseHandle");
    api.HttpOpenRequestW = LibraryFunction<decltype(api.HttpOpenRequestW)>(dll, "HttpOpenRequestW");
    api.HttpSendRequestW = LibraryFunction<decltype(api.HttpSendRequestW)>(dll, "HttpSendRequestW");
    api.HttpQueryInfoW = LibraryFunction<decltype(api.HttpQueryInfoW)>(dll, "HttpQueryInfoW");
    return api.InternetOpenW && api.InternetConnectW && api.InternetCrackUrlW && api.InternetSetOptionW &&
           api.InternetReadFile && api.InternetCloseHandle && api.HttpOpenRequestW && api.HttpSendRequestW &&
           api.HttpQueryInfoW;
}

}  // namespace

const WinInetApi* WinInet()
{
    static WinInetApi api;
    static const bool loaded = Load(api);
    return loaded ? &api : nullptr;
}
