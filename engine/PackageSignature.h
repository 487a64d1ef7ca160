// Checks that a package is signed with the key built into the program: an RSA
// PKCS#1 v1.5 signature over the SHA-256 digest of the whole file, as
// `openssl dgst -sha256 -sign` makes it, carried in base64.
#pragma once

#include <string>

// True when `signatureBase64` is a valid signature of the file at `packagePath`
// by `publicKeyPem` (a PEM "PUBLIC KEY"). The file is read once, in pieces.
// False for a missing, malformed or wrong signature, a key that can't be
// used, or a file that can't be read.
bool VerifyPackageSignature(const std::wstring& packagePath, const std::wstring& signatureBase64,
                            const std::string& publicKeyPem);

// The public key built into this program as the resource VNK_PACKAGE_KEY, or
// empty when there is none: packages are then not checked.
std::string BuiltInPackageKey();
