// What a program built with a key checks of what the maker's servers send:
// signatures, RSA PKCS#1 v1.5 over the SHA-256 digest of a whole file as
// `openssl dgst -sha256 -sign` makes them, carried in base64; and digests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// True when `signatureBase64` is a signature of `data` (the bytes of the file
// called `name` in the log) by one of the keys in `keysPem` (one or two PEM
// "PUBLIC KEY"s). False for a missing, malformed or wrong signature, or keys
// that can't be used. The caller checks the very bytes it then uses.
bool VerifySignature(const std::string& data, const std::wstring& name, const std::wstring& signatureBase64,
                     const std::string& keysPem);

// The SHA-256 digest of a file as 64 lowercase hex digits, and its size; read
// once, in pieces, from its first byte (the open `file` is left at its end).
// False when it can't be read. (Two names: a wchar_t* would pass as a HANDLE.)
bool OpenFileDigest(HANDLE file, std::wstring& sha256, uint64_t& size);
bool FileDigest(const std::wstring& path, std::wstring& sha256, uint64_t& size);

// The public keys built into this program as the resource VNK_PACKAGE_KEY, or
// empty when there are none: nothing is then checked.
std::string BuiltInKeys();
