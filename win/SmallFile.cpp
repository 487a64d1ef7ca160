#include "SmallFile.h"

#include "ScopedHandle.h"

#include <windows.h>

bool ReadSmallFile(const std::wstring& path, uint64_t limit, std::string& bytes)
{
    bytes.clear();
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        return false;
    }
    char buffer[8192];
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(file.Get(), buffer, sizeof(buffer), &count, nullptr)) {
            return false;
        }
        if (count == 0) {
            return true;
        }
        if (bytes.size() + count > limit) {
            SetLastError(ERROR_FILE_TOO_LARGE);
            return false;
        }
        bytes.append(buffer, count);
    }
}
