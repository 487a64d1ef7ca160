#include "FileNameCase.h"

#include "AsciiCase.h"

#include <windows.h>

std::wstring FileNameKey(const std::wstring& name)
{
    if (name.empty()) {
        return name;
    }
    // LCMapStringW with the invariant locale (XP on): CompareStringOrdinal,
    // which says the same, came only with Vista.
    std::wstring key(name.size(), L'\0');
    const int length = static_cast<int>(name.size());
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, name.data(), length, &key[0], length) != length) {
        key = UpperAscii(name);  // never seen; A-Z at least
    }
    // "/" separates as "\" does.
    for (wchar_t& c : key) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return key;
}
