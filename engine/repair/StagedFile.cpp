#include "StagedFile.h"

#include "DiagnosticsLog.h"
#include "FileLinks.h"

#include <windows.h>

namespace {

// Written in pieces: a single WriteFile of a huge buffer can fail on some systems.
constexpr DWORD kWritePiece = 4u << 20;

}  // namespace

bool StagingFile::Create(HeldFolder& folder, const std::wstring& path)
{
    path_ = path;
    file_ = folder.CreateNew(path, GENERIC_WRITE, FILE_SHARE_READ);
    return file_.IsValid();
}

bool StagingFile::SetAttributes(DWORD attributes)
{
    if (!SetAttributesOf(file_.Get(), attributes)) {
        Log(L"can't set the attributes of " + path_ + L": " + ErrorText(GetLastError()));
        return false;
    }
    return true;
}

bool StagingFile::Write(const unsigned char* data, size_t size)
{
    while (size > 0) {
        const DWORD piece = size < kWritePiece ? static_cast<DWORD>(size) : kWritePiece;
        DWORD written = 0;
        if (!WriteFile(file_.Get(), data, piece, &written, nullptr) || written != piece) {
            Log(L"can't write " + path_ + L": " + ErrorText(GetLastError()));
            return false;
        }
        data += piece;
        size -= piece;
    }
    return true;
}

bool StagingFile::Finish()
{
    if (!file_.Close()) {
        Log(L"can't finish " + path_ + L": " + ErrorText(GetLastError()));
        return false;
    }
    return true;
}
