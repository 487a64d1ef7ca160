#include "IniText.h"

#include "AsciiCase.h"
#include "Utf8.h"

#include <windows.h>

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\v' || c == L'\f'; }

std::wstring Trimmed(const std::wstring& text, size_t begin, size_t end)
{
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::wstring Utf16(const char* data, size_t bytes, bool bigEndian)
{
    std::wstring text(bytes / 2, L'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char first = static_cast<unsigned char>(data[2 * i]);
        const unsigned char second = static_cast<unsigned char>(data[2 * i + 1]);
        text[i] = static_cast<wchar_t>(bigEndian ? (first << 8 | second) : (second << 8 | first));
    }
    return text;
}

std::wstring Ansi(const char* data, size_t bytes)
{
    const int size = MultiByteToWideChar(CP_ACP, 0, data, static_cast<int>(bytes), nullptr, 0);
    std::wstring text(size > 0 ? size : 0, L'\0');
    if (size > 0) {
        MultiByteToWideChar(CP_ACP, 0, data, static_cast<int>(bytes), &text[0], size);
    }
    return text;
}

std::wstring Decode(const std::string& bytes)
{
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        return Utf16(bytes.data() + 2, bytes.size() - 2, false);
    }
    if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
        return Utf16(bytes.data() + 2, bytes.size() - 2, true);
    }
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        std::wstring text;
        if (FromUtf8(bytes.substr(3), text)) {
            return text;
        }
    }
    return Ansi(bytes.data(), bytes.size());
}

}  // namespace

IniText::IniText(const std::string& bytes)
{
    const std::wstring text = Decode(bytes);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        const std::wstring line = Trimmed(text, start, end);
        start = end + 1;
        if (line.empty() || line[0] == L';') {
            continue;
        }
        if (line[0] == L'[') {
            const size_t close = line.find(L']');
            sections_.push_back(UpperAscii(Trimmed(line, 1, close == std::wstring::npos ? line.size() : close)));
            continue;
        }
        if (sections_.empty()) {
            continue;  // before the first section
        }
        const size_t equals = line.find(L'=');
        const size_t keyEnd = equals == std::wstring::npos ? line.size() : equals;
        entries_.push_back(Entry{sections_.size() - 1, UpperAscii(Trimmed(line, 0, keyEnd)),
                                 equals == std::wstring::npos ? std::wstring() : Trimmed(line, equals + 1, line.size())});
    }
}

std::wstring IniText::Value(const wchar_t* section, const wchar_t* key, const wchar_t* fallback, size_t maxChars) const
{
    // Only the first section of that name counts, as for the system's reader.
    const std::wstring wantedSection = UpperAscii(section);
    size_t index = 0;
    while (index < sections_.size() && sections_[index] != wantedSection) {
        ++index;
    }
    const std::wstring wantedKey = UpperAscii(key);
    for (const Entry& entry : entries_) {
        if (entry.section == index && entry.key == wantedKey) {
            std::wstring value = entry.value;
            if (value.size() >= 2 && (value[0] == L'"' || value[0] == L'\'') && value.back() == value[0]) {
                value = value.substr(1, value.size() - 2);
            }
            return value.substr(0, maxChars);
        }
    }
    return std::wstring(fallback).substr(0, maxChars);
}
