#include "FileLinks.h"

#include <winternl.h>

namespace {

// ntdll's file information calls, which every process has loaded:
// SetFileInformationByHandle came only with Vista, and GetFileInformationByHandle
// also asks for the volume's serial number, which costs some systems (wine)
// a third of a millisecond a call.
struct NtFileApi {
    using InformationFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
    using ErrorFn = ULONG(WINAPI*)(NTSTATUS);
    InformationFn set = nullptr;
    InformationFn query = nullptr;
    ErrorFn toError = nullptr;
};

const NtFileApi* NtFile()
{
    static const NtFileApi api = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        NtFileApi found;
        found.set = reinterpret_cast<NtFileApi::InformationFn>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationFile")));
        found.query = reinterpret_cast<NtFileApi::InformationFn>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationFile")));
        found.toError =
            reinterpret_cast<NtFileApi::ErrorFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
        return found;
    }();
    if (api.set == nullptr || api.query == nullptr || api.toError == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return &api;
}

bool Information(HANDLE file, void* information, ULONG size, FILE_INFORMATION_CLASS kind, bool set)
{
    const NtFileApi* const api = NtFile();
    if (api == nullptr) {
        return false;
    }
    IO_STATUS_BLOCK io = {};
    const NTSTATUS status = (set ? api->set : api->query)(file, &io, information, size, kind);
    if (status < 0) {
        SetLastError(api->toError(status));
        return false;
    }
    return true;
}

bool SetInformation(HANDLE file, void* information, ULONG size, FILE_INFORMATION_CLASS kind)
{
    return Information(file, information, size, kind, true);
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

bool AttributesOf(HANDLE file, DWORD& attributes)
{
    FILE_BASIC_INFORMATION basic = {};
    if (!Information(file, &basic, sizeof(basic), FileBasicInformation, false)) {
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
    if (!Information(file, &basic, sizeof(basic), FileBasicInformation, false) ||
        !Information(file, &standard, sizeof(standard), static_cast<FILE_INFORMATION_CLASS>(5), false)) {
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
    return SetInformation(file, &basic, sizeof(basic), FileBasicInformation);
}

ScopedHandle ReopenSameFile(HANDLE held, const std::wstring& path)
{
    // Write sharing is for the holder's own handle, which may have written the file.
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    BY_HANDLE_FILE_INFORMATION heldFacts, openedFacts;
    if (!file.IsValid() || !GetFileInformationByHandle(held, &heldFacts) ||
        !GetFileInformationByHandle(file.Get(), &openedFacts)) {
        return ScopedHandle();
    }
    if (heldFacts.dwVolumeSerialNumber != openedFacts.dwVolumeSerialNumber ||
        heldFacts.nFileIndexHigh != openedFacts.nFileIndexHigh || heldFacts.nFileIndexLow != openedFacts.nFileIndexLow) {
        SetLastError(ERROR_FILE_INVALID);
        return ScopedHandle();
    }
    return file;
}
