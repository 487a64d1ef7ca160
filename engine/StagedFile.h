// Writing a game file so that it is only ever replaced by a whole one.
#pragma once

#include <cstddef>
#include <string>

// Writes `data` to a staging file beside `target` ("<target>.part", or a short
// free name where that would not fit), then moves it over the target, which
// may be read-only. False, with the target as it was and no staging file
// left, when any step fails.
bool WriteWholeFile(const std::wstring& target, const unsigned char* data, size_t size);
