#include "EntryPath.h"

#include "AsciiCase.h"

#include <windows.h>

namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// Windows drops trailing dots and blanks from a path component.
std::wstring WithoutTrailingDotsAndBlanks(std::wstring text)
{
    while (!text.empty() && (text.back() == L' ' || text.back() == L'.')) {
        text.pop_back();
    }
    return text;
}

// Windows maps these names to devices in every folder, whatever follows the
// first dot and whatever trailing blanks the stem has. Ports are numbered 0 to
// 9 and, for Windows, also with the superscript digits 1 to 3.
bool IsDeviceName(const std::wstring& component)
{
    const std::wstring stem = WithoutTrailingDotsAndBlanks(component.substr(0, component.find(L'.')));
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
        if (SameAsciiNoCase(stem, device)) {
            return true;
        }
    }
    if (stem.size() != 4) {
        return false;
    }
    const wchar_t digit = stem[3];
    const bool portNumber = (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
                            digit == L'\u00B3';
    const std::wstring prefix = stem.substr(0, 3);
    return portNumber && (SameAsciiNoCase(prefix, L"COM") || SameAsciiNoCase(prefix, L"LPT"));
}

// Characters no Windows file name may hold; ":" and the separators are dealt
// with on their own.
bool IsForbiddenCharacter(wchar_t c)
{
    switch (c) {
    case L'<': case L'>': case L'"': case L'|': case L'?': case L'*':
        return true;
    default:
        return c < 0x20;
    }
}

// A component Windows can't hold as it stands: it would drop trailing dots and
// blanks (or, through an NT path, keep them and make a file nothing else can
// open), so "." and ".." count here too.
bool IsUnfitComponent(const std::wstring& component)
{
    if (!component.empty() && (component.back() == L'.' || component.back() == L' ')) {
        return true;
    }
    for (wchar_t c : component) {
        if (IsForbiddenCharacter(c)) {
            return true;
        }
    }
    return IsDeviceName(component);
}

}  // namespace

bool IsSafeEntryName(const std::wstring& name)
{
    if (name.empty() || IsSeparator(name[0]) || name.find(L':') != std::wstring::npos) {
        return false;
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) {
            ++end;
        }
        if (end == start || IsUnfitComponent(name.substr(start, end - start))) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

std::wstring WithWindowsSeparators(std::wstring path)
{
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return path;
}

std::wstring PathBelow(const std::wstring& folder, const std::wstring& entry)
{
    const bool ends = !folder.empty() && folder.back() == L'\\';
    return WithWindowsSeparators((ends ? folder : folder + L"\\") + entry);
}

bool JoinOutputPath(const std::wstring& destination, const std::wstring& name, std::wstring& path)
{
    std::wstring joined = PathBelow(destination, name);
    if (joined.size() + 1 > kMaxOutputPath) {
        return false;
    }
    path = std::move(joined);
    return true;
}

std::wstring ShortStagingName(unsigned index)
{
    // Bijective numbering: every string over the alphabet, in order of length.
    static const wchar_t kAlphabet[] = L"~0123456789abcdefghijklmnopqrstuvwxyz";
    const unsigned base = static_cast<unsigned>(wcslen(kAlphabet));
    std::wstring name;
    unsigned rest = index + 1;
    while (rest > 0) {
        --rest;
        name.insert(name.begin(), kAlphabet[rest % base]);
        rest /= base;
    }
    return name;
}
