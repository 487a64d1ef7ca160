// What a program built with a key checks of what the maker's servers send:
// signatures, RSA PKCS#1 v1.5 over the SHA-256 digest of a whole file as
// `openssl dgst -sha256 -sign` makes them, carried in base64; and digests.
#pragma once

#include <cstdint>
#include <string>

// True when `signatureBase64` is a signature of the file at `path` by one of
// the keys in `keysPem` (one or two PEM "PUBLIC KEY"s). False for a missing,
// malformed or wrong signature, keys that can't be used, or a file that can't
// be read.
bool VerifySignature(const std::wstring& path, const std::wstring& signatureBase64, const std::string& keysPem);

// The SHA-256 digest of the file at `path` as 64 lowercase hex digits, and its
// size; the file is read once, in pieces. False when it can't be read.
bool FileDigest(const std::wstring& path, std::wstring& sha256, uint64_t& size);

// The public keys built into this program as the resource VNK_PACKAGE_KEY, or
// empty when there are none: nothing is then checked.
std::string BuiltInKeys();
