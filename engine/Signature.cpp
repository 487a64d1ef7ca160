#include "Signature.h"

#include "CryptHandles.h"
#include "DiagnosticsLog.h"
#include "ScopedHandle.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kReadChunk = 64 * 1024;

bool ImportPublicKey(const CryptProvider& provider, const std::string& pem, CryptKey& key)
{
    DWORD derSize = 0;
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &derSize, nullptr, nullptr) ||
        derSize == 0) {
        return false;
    }
    std::vector<BYTE> der(derSize);
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                              &derSize, nullptr, nullptr)) {
        return false;
    }
    LocalMemory<CERT_PUBLIC_KEY_INFO> info;
    DWORD infoSize = 0;
    if (!CryptDecodeObjectEx(kEncoding, X509_PUBLIC_KEY_INFO, der.data(), derSize, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             info.Receive(), &infoSize)) {
        return false;
    }
    return CryptImportPublicKeyInfo(provider.Get(), kEncoding, info.Get(), key.Receive()) != FALSE;
}

// Plain base64 and nothing else: groups of four, "=" only as the padding at
// the end. The system's decoder is more lenient (it stops at the padding).
bool IsStrictBase64(const std::wstring& text)
{
    if (text.empty() || text.size() % 4 != 0) {
        return false;
    }
    const size_t padding = text.size() - text.find_last_not_of(L'=') - 1;
    if (padding > 2) {
        return false;
    }
    for (size_t i = 0; i < text.size() - padding; ++i) {
        const wchar_t c = text[i];
        const bool digit = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
                           c == L'+' || c == L'/';
        if (!digit) {
            return false;
        }
    }
    return true;
}

// The signature's bytes in the order CryptoAPI reads them: least significant
// first, the reverse of what openssl writes. Empty when it isn't base64 of a
// signature of `size` bytes.
std::vector<BYTE> DecodeSignature(const std::wstring& base64, DWORD size)
{
    DWORD decoded = 0;
    if (!IsStrictBase64(base64) ||
        !CryptStringToBinaryW(base64.c_str(), static_cast<DWORD>(base64.size()), CRYPT_STRING_BASE64, nullptr,
                              &decoded, nullptr, nullptr) ||
        decoded != size) {
        return {};
    }
    std::vector<BYTE> signature(decoded);
    if (!CryptStringToBinaryW(base64.c_str(), static_cast<DWORD>(base64.size()), CRYPT_STRING_BASE64,
                              signature.data(), &decoded, nullptr, nullptr) ||
        decoded != size) {
        return {};
    }
    std::reverse(signature.begin(), signature.end());
    return signature;
}

// Feeds the whole file into `hash`, counting its bytes.
bool HashFile(const std::wstring& path, const CryptHash& hash, uint64_t& size)
{
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.IsValid()) {
        return false;
    }
    size = 0;
    std::vector<BYTE> buffer(kReadChunk);
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(file.Get(), buffer.data(), kReadChunk, &count, nullptr)) {
            return false;
        }
        if (count == 0) {
            return true;
        }
        if (!CryptHashData(hash.Get(), buffer.data(), count, 0)) {
            return false;
        }
        size += count;
    }
}

// The PEM blocks of `pems`, each from its BEGIN line to its END line.
std::vector<std::string> SplitPem(const std::string& pems)
{
    static const char kEnd[] = "-----END ";
    std::vector<std::string> blocks;
    size_t start = pems.find("-----BEGIN ");
    while (start != std::string::npos) {
        const size_t end = pems.find(kEnd, start);
        const size_t lineEnd = end == std::string::npos ? std::string::npos : pems.find('\n', end);
        blocks.push_back(pems.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd + 1 - start));
        start = lineEnd == std::string::npos ? std::string::npos : pems.find("-----BEGIN ", lineEnd);
    }
    return blocks;
}

// The system's default provider of this type does SHA-256 with RSA on every
// Windows from XP SP3 on; its name differs between versions, so none is given.
bool AcquireProvider(CryptProvider& provider) { return AcquireVerifyContext(provider, PROV_RSA_AES); }

// One key's verdict on the file's signature.
bool VerifyWithKey(const std::wstring& path, const std::wstring& signatureBase64, const std::string& pem,
                   const std::wstring& which)
{
    CryptProvider provider;
    CryptKey key;
    DWORD keyBits = 0;
    DWORD size = sizeof(keyBits);
    if (!AcquireProvider(provider) || !ImportPublicKey(provider, pem, key) ||
        !CryptGetKeyParam(key.Get(), KP_KEYLEN, reinterpret_cast<BYTE*>(&keyBits), &size, 0)) {
        Log(L"signature: " + which + L" can't be used: " + ErrorText(GetLastError()));
        return false;
    }
    const std::vector<BYTE> signature = DecodeSignature(signatureBase64, keyBits / 8);
    if (signature.empty()) {
        Log(L"signature: not the base64 of a " + Num(keyBits / 8) + L"-byte signature for " + which);
        return false;
    }
    CryptHash hash;
    uint64_t fileSize = 0;
    if (!CryptCreateHash(provider.Get(), CALG_SHA_256, 0, 0, hash.Receive()) || !HashFile(path, hash, fileSize)) {
        Log(L"signature: can't read " + path + L": " + ErrorText(GetLastError()));
        return false;
    }
    if (!CryptVerifySignatureW(hash.Get(), signature.data(), static_cast<DWORD>(signature.size()), key.Get(),
                               nullptr, 0)) {
        Log(L"signature: not made with " + which + L" (" + ErrorText(GetLastError()) + L")");
        return false;
    }
    Log(L"signature of " + path + L": verified with " + which + L" (" + Num(keyBits) + L" bits)");
    return true;
}

}  // namespace

bool VerifySignature(const std::wstring& path, const std::wstring& signatureBase64, const std::string& keysPem)
{
    if (signatureBase64.empty()) {
        Log(L"signature of " + path + L": there is none");
        return false;
    }
    const std::vector<std::string> keys = SplitPem(keysPem);
    if (keys.empty()) {
        Log(L"signature: no key to check it with");
        return false;
    }
    for (size_t i = 0; i < keys.size(); ++i) {
        if (VerifyWithKey(path, signatureBase64, keys[i], L"key " + Num(i + 1) + L" of " + Num(keys.size()))) {
            return true;
        }
    }
    return false;
}

bool FileDigest(const std::wstring& path, std::wstring& sha256, uint64_t& size)
{
    CryptProvider provider;
    CryptHash hash;
    BYTE digest[32];
    DWORD digestSize = sizeof(digest);
    if (!AcquireProvider(provider) || !CryptCreateHash(provider.Get(), CALG_SHA_256, 0, 0, hash.Receive()) ||
        !HashFile(path, hash, size) || !CryptGetHashParam(hash.Get(), HP_HASHVAL, digest, &digestSize, 0) ||
        digestSize != sizeof(digest)) {
        Log(L"can't read " + path + L" for its digest: " + ErrorText(GetLastError()));
        return false;
    }
    static const wchar_t kHex[] = L"0123456789abcdef";
    sha256.clear();
    for (BYTE b : digest) {
        sha256 += kHex[b >> 4];
        sha256 += kHex[b & 15];
    }
    return true;
}

std::string BuiltInKeys()
{
    HMODULE program = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(program, L"VNK_PACKAGE_KEY", RT_RCDATA);
    if (found == nullptr) {
        return {};
    }
    HGLOBAL loaded = LoadResource(program, found);
    const char* data = loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (data == nullptr) {
        return {};
    }
    return std::string(data, SizeofResource(program, found));
}
