#include "WinInet.h"

namespace {

bool Load(WinInetApi& api)
{
    const HMODULE dll = SystemLibrary(L"wininet.dll");
    bool all = true;
    VNK_WININET_FUNCTIONS(VNK_API_LOAD)
    return all;
}

}  // namespace

const WinInetApi* WinInet()
{
    static WinInetApi api;
    static const bool loaded = Load(api);
    return loaded ? &api : nullptr;
}
