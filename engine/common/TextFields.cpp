#include "TextFields.h"

std::vector<std::string> SplitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

bool ParseDecimal(const std::string& text, uint64_t& value)
{
    if (text.empty() || text.size() > 18) {
        return false;
    }
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

uint64_t DecimalOrZero(const std::wstring& text)
{
    // Only ASCII is carried over: a wide character cut to 8 bits could look like a digit.
    std::string narrow;
    for (wchar_t c : text) {
        if (c > 0x7F) {
            return 0;
        }
        narrow += static_cast<char>(c);
    }
    uint64_t value = 0;
    return ParseDecimal(narrow, value) ? value : 0;
}
