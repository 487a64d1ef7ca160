// The few functions of crypt32 that reading a public key and a base64
// signature need. The program does not import crypt32: it is loaded from the
// system folder on first use (see SystemLibrary.h).
#pragma once

#include "SystemLibrary.h"

#include <windows.h>
#include <wincrypt.h>

#define VNK_CRYPT32_FUNCTIONS(X) \
    X(CryptStringToBinaryA)      \
    X(CryptStringToBinaryW)      \
    X(CryptDecodeObjectEx)       \
    X(CryptImportPublicKeyInfo)

struct Crypt32Api {
    VNK_CRYPT32_FUNCTIONS(VNK_API_MEMBER)
};

// Every function of it, or null when crypt32 can't be loaded or lacks one.
const Crypt32Api* Crypt32();
