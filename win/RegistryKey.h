// A registry key opened on first use and closed with the object.
#pragma once

#include <windows.h>

#include <string>

class RegistryKey {
public:
    RegistryKey(HKEY root, std::wstring subKey, bool readOnly)
        : root_(root), subKey_(std::move(subKey)), readOnly_(readOnly) {}
    ~RegistryKey() { Close(); }

    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Reads a value as UTF-16 text up to its first zero, whatever its type.
    // Opening creates the key, empty, when it doesn't exist.
    bool QueryString(const wchar_t* valueName, std::wstring& text);
    // Writes a value as REG_SZ text; the key must not be read-only.
    bool SetString(const wchar_t* valueName, const std::wstring& text);
    // Reads and writes a REG_BINARY value.
    bool QueryBinary(const wchar_t* valueName, std::string& bytes);
    bool SetBinary(const wchar_t* valueName, const std::string& bytes);
    // Deletes a value; true also when there was none. The key must not be read-only.
    bool DeleteValue(const wchar_t* valueName);
    // Gives the key the security descriptor `sddl` (its DACL, protected from
    // inheritance); the key must not be read-only.
    bool SetSecurity(const wchar_t* sddl);
    void Close();

private:
    // Opening creates the key, empty, when it doesn't exist.
    bool Open();

    HKEY root_;
    std::wstring subKey_;
    bool readOnly_;
    HKEY key_ = nullptr;
};
