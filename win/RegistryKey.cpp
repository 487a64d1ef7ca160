#include "RegistryKey.h"

#include <sddl.h>

#include <vector>

namespace {
constexpr DWORD kSmallValueBytes = 1024;
}

bool RegistryKey::Open()
{
    if (key_ == nullptr) {
        const REGSAM access = readOnly_ ? KEY_READ : KEY_ALL_ACCESS;
        if (RegCreateKeyExW(root_, subKey_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                            &key_, nullptr) != ERROR_SUCCESS) {
            key_ = nullptr;
            return false;
        }
    }
    return true;
}

bool RegistryKey::SetString(const wchar_t* valueName, const std::wstring& text)
{
    return Open() && RegSetValueExW(key_, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool RegistryKey::QueryString(const wchar_t* valueName, std::wstring& text)
{
    if (!Open()) {
        return false;
    }
    DWORD bytes = 0;
    if (RegQueryValueExW(key_, valueName, nullptr, nullptr, nullptr, &bytes) != ERROR_SUCCESS) {
        return false;
    }
    // Small values use a zeroed fixed buffer with room to spare; larger ones get
    // a buffer of as many characters as the data has bytes.
    wchar_t fixed[kSmallValueBytes + 8] = {};
    std::vector<wchar_t> allocated;
    wchar_t* buffer = fixed;
    if (bytes > kSmallValueBytes) {
        allocated.assign(bytes, L'\0');
        buffer = allocated.data();
    }
    DWORD read = bytes;
    if (RegQueryValueExW(key_, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &read) !=
        ERROR_SUCCESS) {
        return false;
    }
    const size_t units = read / sizeof(wchar_t);
    size_t length = 0;
    while (length < units && buffer[length] != L'\0') {
        ++length;
    }
    text.assign(buffer, length);
    return true;
}

bool RegistryKey::QueryBinary(const wchar_t* valueName, std::string& bytes)
{
    DWORD type = 0;
    DWORD size = 0;
    if (!Open() || RegQueryValueExW(key_, valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_BINARY) {
        return false;
    }
    bytes.assign(size, '\0');
    return size == 0 || RegQueryValueExW(key_, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&bytes[0]),
                                         &size) == ERROR_SUCCESS;
}

bool RegistryKey::SetBinary(const wchar_t* valueName, const std::string& bytes)
{
    return Open() && RegSetValueExW(key_, valueName, 0, REG_BINARY, reinterpret_cast<const BYTE*>(bytes.data()),
                                    static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

bool RegistryKey::DeleteValue(const wchar_t* valueName)
{
    if (!Open()) {
        return false;
    }
    const LONG result = RegDeleteValueW(key_, valueName);
    SetLastError(static_cast<DWORD>(result));
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool RegistryKey::SetSecurity(const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!Open() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        return false;
    }
    const bool set = RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                       descriptor) == ERROR_SUCCESS;
    LocalFree(descriptor);
    return set;
}

void RegistryKey::Close()
{
    if (key_ != nullptr) {
        RegCloseKey(key_);
        key_ = nullptr;
    }
}
