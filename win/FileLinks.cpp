#include "FileLinks.h"

#include "NtFiles.h"

#include <winternl.h>

namespace {

constexpr int kBasicInformation = 4, kStandardInformation = 5;

// The name itself, never a link's target; any file kind.
ScopedHandle OpenItself(const std::wstring& path, DWORD access)
{
    return ScopedHandle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                    nullptr));
}

}  // namespace

bool IsLink(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool AttributesOf(HANDLE file, DWORD& attributes)
{
    FILE_BASIC_INFORMATION basic = {};
    if (!FileInformation(file, &basic, sizeof(basic), kBasicInformation, false)) {
        return false;
    }
    attributes = basic.FileAttributes;
    return true;
}

bool FileFacts(HANDLE file, DWORD& attributes, DWORD& links)
{
    FILE_BASIC_INFORMATION basic = {};
    // FILE_STANDARD_INFORMATION, which <winternl.h> leaves out.
    struct {
        LARGE_INTEGER allocationSize;
        LARGE_INTEGER endOfFile;
        ULONG numberOfLinks;
        BOOLEAN deletePending;
        BOOLEAN directory;
    } standard = {};
    if (!FileInformation(file, &basic, sizeof(basic), kBasicInformation, false) ||
        !FileInformation(file, &standard, sizeof(standard), kStandardInformation, false)) {
        return false;
    }
    attributes = basic.FileAttributes;
    links = standard.numberOfLinks;
    return true;
}

bool IsLinkedFile(HANDLE file)
{
    DWORD attributes = 0;
    DWORD links = 0;
    return FileFacts(file, attributes, links) && ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || links > 1);
}

ScopedHandle OpenOwnFile(const std::wstring& path, DWORD access, DWORD share, bool keep, bool& kept)
{
    kept = false;
    if (keep && !IsLink(path)) {
        ScopedHandle file(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (file.IsValid() && !IsLinkedFile(file.Get()) && !IsLink(path)) {
            kept = true;
            return file;
        }
    }
    if (!DeleteItself(path)) {
        return ScopedHandle();
    }
    return ScopedHandle(CreateFileW(path.c_str(), access, share, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool DeleteItself(const std::wstring& path)
{
    // DeleteFileW removes a symbolic link itself, and fails on a folder, a
    // junction and a read-only file; only those need a closer look.
    if (DeleteFileW(path.c_str())) {
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return true;
    }
    ScopedHandle file = OpenItself(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    if (!file.IsValid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    return DeleteOpened(file);
}

bool DeleteOpened(ScopedHandle& file)
{
    // Files only: where a folder, or a link to one, is in the way, the caller fails.
    DWORD attributes = 0;
    DWORD links = 0;
    if (!FileFacts(file.Get(), attributes, links)) {
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    if (MarkForDeletion(file.Get())) {
        return file.Close();
    }
    // A read-only file refuses; the attribute is shared by every name of the
    // file, so it is cleared only where this name is the only one.
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return false;
    }
    if (links > 1) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    const DWORD writable = attributes & ~FILE_ATTRIBUTE_READONLY;
    if (!SetAttributesOf(file.Get(), writable == 0 ? FILE_ATTRIBUTE_NORMAL : writable) ||
        !MarkForDeletion(file.Get())) {
        return false;
    }
    return file.Close();
}

bool SetAttributesOf(HANDLE file, DWORD attributes)
{
    FILE_BASIC_INFORMATION basic = {};  // zero times: left as they are
    basic.FileAttributes = attributes;
    return FileInformation(file, &basic, sizeof(basic), kBasicInformation, true);
}
