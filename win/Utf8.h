// UTF-16 text to and from UTF-8, as the log and the repair journal store it.
#pragma once

#include <windows.h>

#include <string>

inline std::string ToUtf8(const std::wstring& text)
{
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    }
    return out;
}

// False for bytes that aren't UTF-8.
inline bool FromUtf8(const std::string& text, std::wstring& out)
{
    out.clear();
    if (text.empty()) {
        return true;
    }
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
    if (size <= 0) {
        return false;
    }
    out.resize(size);
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), &out[0], size);
    return true;
}
