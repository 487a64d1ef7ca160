// Owners of the CryptoAPI handles that the signature check uses, each released once.
#pragma once

#include <windows.h>
#include <wincrypt.h>

class CryptProvider {
public:
    CryptProvider() = default;
    ~CryptProvider()
    {
        if (handle_ != 0) {
            CryptReleaseContext(handle_, 0);
        }
    }
    CryptProvider(const CryptProvider&) = delete;
    CryptProvider& operator=(const CryptProvider&) = delete;

    // The system's default provider of `type`, for public-key work only (no key container).
    bool Acquire(DWORD type)
    {
        return CryptAcquireContextW(&handle_, nullptr, nullptr, type, CRYPT_VERIFYCONTEXT) != FALSE;
    }
    HCRYPTPROV Get() const { return handle_; }

private:
    HCRYPTPROV handle_ = 0;
};

class CryptKey {
public:
    CryptKey() = default;
    ~CryptKey()
    {
        if (handle_ != 0) {
            CryptDestroyKey(handle_);
        }
    }
    CryptKey(const CryptKey&) = delete;
    CryptKey& operator=(const CryptKey&) = delete;

    HCRYPTKEY* Receive() { return &handle_; }
    HCRYPTKEY Get() const { return handle_; }

private:
    HCRYPTKEY handle_ = 0;
};

class CryptHash {
public:
    CryptHash() = default;
    ~CryptHash()
    {
        if (handle_ != 0) {
            CryptDestroyHash(handle_);
        }
    }
    CryptHash(const CryptHash&) = delete;
    CryptHash& operator=(const CryptHash&) = delete;

    HCRYPTHASH* Receive() { return &handle_; }
    HCRYPTHASH Get() const { return handle_; }

private:
    HCRYPTHASH handle_ = 0;
};

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
