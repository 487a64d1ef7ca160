#include "FileLinks.h"

#include <winternl.h>

namespace {

// NtSetInformationFile through ntdll, which every process has loaded:
// SetFileInformationByHandle came only with Vista.
bool SetInformation(HANDLE file, void* information, ULONG size, FILE_INFORMATION_CLASS kind)
{
    using SetFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
    using ErrorFn = ULONG(WINAPI*)(NTSTATUS);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto set = reinterpret_cast<SetFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationFile")));
    const auto toError =
        reinterpret_cast<ErrorFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
    if (set == nullptr || toError == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return false;
    }
    IO_STATUS_BLOCK io = {};
    const NTSTATUS status = set(file, &io, information, size, kind);
    if (status < 0) {
        SetLastError(toError(status));
        return false;
    }
    return true;
}

bool MarkForDeletion(HANDLE file)
{
    struct {
        BOOLEAN deleteFile;
    } disposition = {TRUE};
    return SetInformation(file, &disposition, sizeof(disposition), FileDispositionInformation);
}

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

bool IsLinkedFile(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION facts;
    if (!GetFileInformationByHandle(file, &facts)) {
        return false;
    }
    return (facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || facts.nNumberOfLinks > 1;
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
    ScopedHandle file = OpenItself(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    if (!file.IsValid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    // Files only: where a folder, or a link to one, is in the way, the caller fails.
    BY_HANDLE_FILE_INFORMATION facts;
    if (!GetFileInformationByHandle(file.Get(), &facts)) {
        return false;
    }
    if ((facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    if (MarkForDeletion(file.Get())) {
        return file.Close();
    }
    // A read-only file refuses; the attribute is shared by every name of the
    // file, so it is cleared only where this name is the only one.
    if ((facts.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return false;
    }
    if (facts.nNumberOfLinks > 1) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    const DWORD writable = facts.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY;
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
    return SetInformation(file, &basic, sizeof(basic), FileBasicInformation);
}
