// Comparing names without regard to case for the letters A to Z only: every
// other character must be identical, whatever the system's locale.
#pragma once

#include <cstddef>
#include <cwchar>
#include <string>

inline wchar_t AsciiUpper(wchar_t c)
{
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// The first `count` characters of both are equal but for the case of A-Z.
inline bool EqualAsciiNoCase(const wchar_t* a, const wchar_t* b, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) {
            return false;
        }
    }
    return true;
}

// The text with a-z made A-Z, as a key for names compared that way.
inline std::wstring UpperAscii(std::wstring text)
{
    for (wchar_t& c : text) {
        c = AsciiUpper(c);
    }
    return text;
}

// Whole strings equal but for the case of A-Z.
inline bool SameAsciiNoCase(const std::wstring& text, const wchar_t* other)
{
    return text.size() == wcslen(other) && EqualAsciiNoCase(text.c_str(), other, text.size());
}
