#include "RepairEngine.h"

#include <cstdio>
#include <cwchar>

namespace {

constexpr DWORD kValueChars = 4096;

std::wstring ReadValue(const std::wstring& iniPath, const wchar_t* key, const wchar_t* fallback)
{
    wchar_t value[kValueChars] = {};
    GetPrivateProfileStringW(L"General", key, fallback, value, kValueChars, iniPath.c_str());
    return value;
}

// Base 10 like wcstol: blanks, a sign, digits up to the first other character;
// no digits give 0 and values beyond 32 bits saturate (long is 32-bit on Windows).
int32_t ToInt32(const std::wstring& text)
{
    static_assert(sizeof(long) == sizeof(int32_t), "Windows long is 32-bit");
    return static_cast<int32_t>(wcstol(text.c_str(), nullptr, 10));
}

}  // namespace

uint64_t ParseConfigVersion(const std::wstring& text)
{
    // A positive decimal number that fits: YYYYMMDDhhmm has 12 digits.
    if (text.empty() || text.size() > 18) {
        return 0;
    }
    uint64_t value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return 0;
        }
        value = value * 10 + static_cast<uint64_t>(c - L'0');
    }
    return value;
}

bool RepairEngine::LoadConfig(const std::wstring& iniPath)
{
    config.processNames.clear();
    config.url = ReadValue(iniPath, L"url", L"");
    config.tips = ReadValue(iniPath, L"tips", L"");
    config.fileSize = ToInt32(ReadValue(iniPath, L"filesize", L"0"));
    // Only checked by a program with a key built in.
    config.version = ParseConfigVersion(ReadValue(iniPath, L"version", L""));
    config.sha256 = ReadValue(iniPath, L"sha256", L"");

    const int32_t count = ToInt32(ReadValue(iniPath, L"processcount", L"0"));
    for (int32_t i = 0; i < count; ++i) {
        wchar_t key[16];
        swprintf(key, 16, L"process_%d", static_cast<int>(i));
        std::wstring name = ReadValue(iniPath, key, L"");
        if (name.empty()) {
            return false;  // a hole in the list: keep what was read so far
        }
        config.processNames.push_back(std::move(name));
    }
    return (!config.url.empty() && config.fileSize != 0) || !config.tips.empty();
}
