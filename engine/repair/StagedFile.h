// The file an entry's bytes are written to until the repair commits (see
// StagedRepair.h, which picks its name).
#pragma once

#include "HeldFolder.h"
#include "ScopedHandle.h"

#include <windows.h>

#include <cstddef>
#include <string>

class StagingFile {
public:
    // Creates the file at `path` in `folder`, only where no file is yet
    // (ERROR_FILE_EXISTS). False when it can't be made; the system's error is
    // then GetLastError's.
    bool Create(HeldFolder& folder, const std::wstring& path);

    // Appends bytes; false (logged) when they can't all be written.
    bool Write(const unsigned char* data, size_t size);

    // Gives the file these attributes through its handle; false (logged) when
    // it can't.
    bool SetAttributes(DWORD attributes);

    // Closes the complete file; false (logged) when closing fails.
    bool Finish();

    // Closes an unfinished file (a failure: the roll-back deletes it).
    void Abandon() { file_.Close(); }

    bool IsOpen() const { return file_.IsValid(); }
    const std::wstring& Path() const { return path_; }

private:
    ScopedHandle file_;
    std::wstring path_;
};
