// The CryptoAPI handles that the signature checks use, each released once.
#pragma once

#include "Scoped.h"

#include <windows.h>
#include <wincrypt.h>

struct CryptProviderTraits {
    using Handle = HCRYPTPROV;
    static Handle None() { return 0; }
    static bool IsValid(Handle handle) { return handle != 0; }
    static bool Release(Handle handle) { return CryptReleaseContext(handle, 0) != FALSE; }
};

struct CryptKeyTraits {
    using Handle = HCRYPTKEY;
    static Handle None() { return 0; }
    static bool IsValid(Handle handle) { return handle != 0; }
    static bool Release(Handle handle) { return CryptDestroyKey(handle) != FALSE; }
};

struct CryptHashTraits {
    using Handle = HCRYPTHASH;
    static Handle None() { return 0; }
    static bool IsValid(Handle handle) { return handle != 0; }
    static bool Release(Handle handle) { return CryptDestroyHash(handle) != FALSE; }
};

using CryptProvider = Scoped<CryptProviderTraits>;
using CryptKey = Scoped<CryptKeyTraits>;
using CryptHash = Scoped<CryptHashTraits>;

// The system's default provider of `type`, for public-key work only (no key container).
inline bool AcquireVerifyContext(CryptProvider& provider, DWORD type)
{
    return CryptAcquireContextW(provider.Receive(), nullptr, nullptr, type, CRYPT_VERIFYCONTEXT) != FALSE;
}

// Memory that a CryptoAPI call allocated with LocalAlloc.
template <typename T>
class LocalMemory {
public:
    LocalMemory() = default;
    ~LocalMemory()
    {
        if (pointer_ != nullptr) {
            LocalFree(pointer_);
        }
    }
    LocalMemory(const LocalMemory&) = delete;
    LocalMemory& operator=(const LocalMemory&) = delete;

    T** Receive() { return &pointer_; }
    T* Get() const { return pointer_; }

private:
    T* pointer_ = nullptr;
};
