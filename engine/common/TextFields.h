// The fields of the program's own line formats (the manifest, the journal)
// and the numbers in them and in the configuration.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The fields between tabs; a line without a tab is one field.
std::vector<std::string> SplitTabs(const std::string& line);

// A decimal number of 1 to 18 ASCII digits and nothing else, so that it fits
// 64 bits (a YYYYMMDDhhmm version has 12); false for anything else.
bool ParseDecimal(const std::string& text, uint64_t& value);
// The same for wide text, 0 where it isn't one.
uint64_t DecimalOrZero(const std::wstring& text);
