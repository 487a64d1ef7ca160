// Reading the whole of a small file by its path, once.
#pragma once

#include <cstdint>
#include <string>

// The whole of a small file, read once; false when it can't be read, or
// (ERROR_FILE_TOO_LARGE) is longer than `limit`.
bool ReadSmallFile(const std::wstring& path, uint64_t limit, std::string& bytes);
