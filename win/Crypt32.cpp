#include "Crypt32.h"

#include "SystemLibrary.h"

namespace {

bool Load(Crypt32Api& api)
{
    const HMODULE dll = SystemLibrary(L"crypt32.dll");
    api.CryptStringToBinaryA = LibraryFunction<decltype(api.CryptStringToBinaryA)>(dll, "CryptStringToBinaryA");
    api.CryptStringToBinaryW = LibraryFunction<decltype(api.CryptStringToBinaryW)>(dll, "CryptStringToBinaryW");
    api.CryptDecodeObjectEx = LibraryFunction<decltype(api.CryptDecodeObjectEx)>(dll, "CryptDecodeObjectEx");
    api.CryptImportPublicKeyInfo =
        LibraryFunction<decltype(api.CryptImportPublicKeyInfo)>(dll, "CryptImportPublicKeyInfo");
    return api.CryptStringToBinaryA && api.CryptStringToBinaryW && api.CryptDecodeObjectEx &&
           api.CryptImportPublicKeyInfo;
}

}  // namespace

const Crypt32Api* Crypt32()
{
    static Crypt32Api api;
    static const bool loaded = Load(api);
    return loaded ? &api : nullptr;
}
