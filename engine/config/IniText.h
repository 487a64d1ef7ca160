// An INI file read from its bytes in memory, as GetPrivateProfileStringW reads
// one from disk: section and key names without regard to case (A-Z), values
// without blanks around them and without one pair of enclosing quotes, text in
// UTF-16 after its byte-order mark (or UTF-8 after its own) and in the
// system's ANSI code page otherwise. Reading from memory lets the program
// check a signature over exactly the bytes it then reads values from.
#pragma once

#include <string>
#include <vector>

class IniText {
public:
    explicit IniText(const std::string& bytes);

    // The value of `key` in the first section named `section`, cut to
    // `maxChars` characters; `fallback` when there is no such key.
    std::wstring Value(const wchar_t* section, const wchar_t* key, const wchar_t* fallback, size_t maxChars) const;

private:
    struct Entry {
        size_t section;    // index into sections_
        std::wstring key;  // upper-cased A-Z
        std::wstring value;
    };
    std::vector<std::wstring> sections_;  // names upper-cased A-Z, in file order
    std::vector<Entry> entries_;
};
