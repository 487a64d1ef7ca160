// The few functions of crypt32 that reading a public key and a base64
// signature need. The program does not import crypt32: it is loaded from the
// system folder on first use (see SystemLibrary.h).
#pragma once

#include <windows.h>
#include <wincrypt.h>

struct Crypt32Api {
    decltype(&::CryptStringToBinaryA) CryptStringToBinaryA;
    decltype(&::CryptStringToBinaryW) CryptStringToBinaryW;
    decltype(&::CryptDecodeObjectEx) CryptDecodeObjectEx;
    decltype(&::CryptImportPublicKeyInfo) CryptImportPublicKeyInfo;
};

// Every function of it, or null when crypt32 can't be loaded or lacks one.
const Crypt32Api* Crypt32();
