#include "Crypt32.h"

namespace {

bool Load(Crypt32Api& api)
{
    const HMODULE dll = SystemLibrary(L"crypt32.dll");
    bool all = true;
    VNK_CRYPT32_FUNCTIONS(VNK_API_LOAD)
    return all;
}

}  // namespace

const Crypt32Api* Crypt32()
{
    static Crypt32Api api;
    static const bool loaded = Load(api);
    return loaded ? &api : nullptr;
}
