// Moving an open file's position to a 64-bit offset.
#pragma once

#include <windows.h>

#include <cstdint>

// Puts the position of `file` at `offset` from its start; false, with the
// system's error in GetLastError, when it can't. INVALID_SET_FILE_POINTER is
// also the low half of a good position, so only the error code tells.
inline bool SeekFile(HANDLE file, uint64_t offset)
{
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(NO_ERROR);
    return SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN) !=
               INVALID_SET_FILE_POINTER ||
           GetLastError() == NO_ERROR;
}
