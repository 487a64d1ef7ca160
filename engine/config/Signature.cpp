#include "Signature.h"

#include "Crypt32.h"
#include "CryptHandles.h"
#include "DiagnosticsLog.h"
#include "FilePosition.h"
#include "ScopedHandle.h"
#include "Sha256.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kReadChunk = 64 * 1024;

bool ImportPublicKey(const Crypt32Api& crypt32, const CryptProvider& provider, const std::string& pem, CryptKey& key)
{
    DWORD derSize = 0;
    if (!crypt32.CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &derSize, nullptr, nullptr) ||
        derSize == 0) {
        return false;
    }
    std::vector<BYTE> der(derSize);
    if (!crypt32.CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                              &derSize, nullptr, nullptr)) {
        return false;
    }
    LocalMemory<CERT_PUBLIC_KEY_INFO> info;
    DWORD infoSize = 0;
    if (!crypt32.CryptDecodeObjectEx(kEncoding, X509_PUBLIC_KEY_INFO, der.data(), derSize, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             info.Receive(), &infoSize)) {
        return false;
    }
    return crypt32.CryptImportPublicKeyInfo(provider.Get(), kEncoding, info.Get(), key.Receive()) != FALSE;
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
std::vector<BYTE> DecodeSignature(const Crypt32Api& crypt32, const std::wstring& base64, DWORD size)
{
    DWORD decoded = 0;
    if (!IsStrictBase64(base64) ||
        !crypt32.CryptStringToBinaryW(base64.c_str(), static_cast<DWORD>(base64.size()), CRYPT_STRING_BASE64, nullptr,
                              &decoded, nullptr, nullptr) ||
        decoded != size) {
        return {};
    }
    std::vector<BYTE> signature(decoded);
    if (!crypt32.CryptStringToBinaryW(base64.c_str(), static_cast<DWORD>(base64.size()), CRYPT_STRING_BASE64,
                                      signature.data(), &decoded, nullptr, nullptr) ||
        decoded != size) {
        return {};
    }
    std::reverse(signature.begin(), signature.end());
    return signature;
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

// One key's verdict on the signature of `data`.
bool VerifyWithKey(const Crypt32Api& crypt32, const std::string& data, const std::wstring& name,
                   const std::wstring& signatureBase64, const std::string& pem, const std::wstring& which)
{
    CryptProvider provider;
    CryptKey key;
    DWORD keyBits = 0;
    DWORD size = sizeof(keyBits);
    if (!AcquireProvider(provider) || !ImportPublicKey(crypt32, provider, pem, key) ||
        !CryptGetKeyParam(key.Get(), KP_KEYLEN, reinterpret_cast<BYTE*>(&keyBits), &size, 0)) {
        Log(L"signature: " + which + L" can't be used: " + ErrorText(GetLastError()));
        return false;
    }
    const std::vector<BYTE> signature = DecodeSignature(crypt32, signatureBase64, keyBits / 8);
    if (signature.empty()) {
        Log(L"signature: not the base64 of a " + Num(keyBits / 8) + L"-byte signature for " + which);
        return false;
    }
    CryptHash hash;
    if (!CryptCreateHash(provider.Get(), CALG_SHA_256, 0, 0, hash.Receive()) ||
        !CryptHashData(hash.Get(), reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0)) {
        Log(L"signature: can't take the digest of " + name + L": " + ErrorText(GetLastError()));
        return false;
    }
    if (!CryptVerifySignatureW(hash.Get(), signature.data(), static_cast<DWORD>(signature.size()), key.Get(),
                               nullptr, 0)) {
        Log(L"signature: not made with " + which + L" (" + ErrorText(GetLastError()) + L")");
        return false;
    }
    Log(L"signature of " + name + L": verified with " + which + L" (" + Num(keyBits) + L" bits)");
    return true;
}

}  // namespace

bool VerifySignature(const std::string& data, const std::wstring& name, const std::wstring& signatureBase64,
                     const std::string& keysPem)
{
    if (signatureBase64.empty()) {
        Log(L"signature of " + name + L": there is none");
        return false;
    }
    const Crypt32Api* const crypt32 = Crypt32();
    if (crypt32 == nullptr) {
        Log(L"signature: crypt32.dll can't be loaded from the system folder: " + ErrorText(GetLastError()));
        return false;
    }
    const std::vector<std::string> keys = SplitPem(keysPem);
    if (keys.empty()) {
        Log(L"signature: no key to check it with");
        return false;
    }
    for (size_t i = 0; i < keys.size(); ++i) {
        if (VerifyWithKey(*crypt32, data, name, signatureBase64, keys[i],
                          L"key " + Num(i + 1) + L" of " + Num(keys.size()))) {
            return true;
        }
    }
    return false;
}

bool OpenFileDigest(HANDLE file, std::wstring& sha256, uint64_t& size)
{
    if (!SeekFile(file, 0)) {
        return false;
    }
    Sha256 digest;
    if (!digest.Start()) {
        return false;
    }
    size = 0;
    std::vector<BYTE> buffer(kReadChunk);
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(file, buffer.data(), kReadChunk, &count, nullptr)) {
            return false;
        }
        if (count == 0) {
            break;
        }
        if (!digest.Add(buffer.data(), count)) {
            return false;
        }
        size += count;
    }
    return digest.FinishHex(sha256);
}

bool FileDigest(const std::wstring& path, std::wstring& sha256, uint64_t& size)
{
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.IsValid() || !OpenFileDigest(file.Get(), sha256, size)) {
        Log(L"can't read " + path + L" for its digest: " + ErrorText(GetLastError()));
        return false;
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
