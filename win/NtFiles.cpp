#include "NtFiles.h"

#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace {

// Option flags and dispositions of NtCreateFile, named here: <winternl.h>
// has some of them and <ntdef.h> others.
constexpr ULONG kOpen = 1, kCreate = 2, kOpenIf = 3;
constexpr ULONG kDirectoryFile = 0x1, kSequentialOnly = 0x4, kSynchronousNonAlert = 0x20, kNonDirectoryFile = 0x40,
                kOpenReparsePoint = 0x00200000;
constexpr ULONG kCaseInsensitive = 0x40;  // OBJ_CASE_INSENSITIVE, as CreateFileW asks
constexpr int kFullSizeInformation = 7;
constexpr int kDirectoryInformation = 1, kRenameInformation = 10, kDispositionInformation = 13;
constexpr NTSTATUS kNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
constexpr NTSTATUS kNoSuchFile = static_cast<NTSTATUS>(0xC000000F);

struct NtFileApi {
    using CreateFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG,
                                      ULONG, ULONG, ULONG, PVOID, ULONG);
    using InformationFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
    using ListFn = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                    FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);
    using VolumeFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FS_INFORMATION_CLASS);
    using ErrorFn = ULONG(WINAPI*)(NTSTATUS);
    CreateFn create = nullptr;
    InformationFn set = nullptr;
    InformationFn query = nullptr;
    ListFn list = nullptr;
    VolumeFn volume = nullptr;
    ErrorFn toError = nullptr;
};

template <typename Fn>
Fn NtdllFunction(const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

const NtFileApi* NtFile()
{
    static const NtFileApi api = [] {
        NtFileApi found;
        found.create = NtdllFunction<NtFileApi::CreateFn>("NtCreateFile");
        found.set = NtdllFunction<NtFileApi::InformationFn>("NtSetInformationFile");
        found.query = NtdllFunction<NtFileApi::InformationFn>("NtQueryInformationFile");
        found.list = NtdllFunction<NtFileApi::ListFn>("NtQueryDirectoryFile");
        found.volume = NtdllFunction<NtFileApi::VolumeFn>("NtQueryVolumeInformationFile");
        found.toError = NtdllFunction<NtFileApi::ErrorFn>("RtlNtStatusToDosError");
        return found;
    }();
    if (api.create == nullptr || api.set == nullptr || api.query == nullptr || api.list == nullptr || api.volume == nullptr ||
        api.toError == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return &api;
}

// False with the status's system error set, for a status that failed.
bool Succeeded(const NtFileApi& api, NTSTATUS status)
{
    if (status < 0) {
        SetLastError(api.toError(status));
        return false;
    }
    return true;
}

UNICODE_STRING Counted(const std::wstring& text)
{
    UNICODE_STRING counted;
    counted.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    counted.MaximumLength = counted.Length;
    counted.Buffer = const_cast<wchar_t*>(text.c_str());
    return counted;
}

}  // namespace

ScopedHandle OpenBelow(HANDLE folder, const std::wstring& name, DWORD access, DWORD share, Disposition disposition,
                       Kind kind, bool sequential, bool* created)
{
    if (created != nullptr) {
        *created = false;
    }
    const NtFileApi* const api = NtFile();
    if (api == nullptr) {
        return ScopedHandle();
    }
    // A name with a separator would be resolved past this folder by the system.
    if (name.find_first_of(L"\\/") != std::wstring::npos || name.size() * sizeof(wchar_t) > 0xFFFE) {
        SetLastError(ERROR_INVALID_NAME);
        return ScopedHandle();
    }
    UNICODE_STRING counted = Counted(name);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &counted, kCaseInsensitive, folder, nullptr);
    ULONG options = kSynchronousNonAlert | kOpenReparsePoint | (sequential ? kSequentialOnly : 0);
    options |= kind == Kind::Folder ? kDirectoryFile : kind == Kind::File ? kNonDirectoryFile : 0;
    const ULONG how = disposition == Disposition::CreateNew ? kCreate
                      : disposition == Disposition::OpenOrCreate ? kOpenIf
                                                                  : kOpen;
    HANDLE opened = nullptr;
    IO_STATUS_BLOCK io = {};
    const NTSTATUS status = api->create(&opened, access | SYNCHRONIZE, &attributes, &io, nullptr,
                                        FILE_ATTRIBUTE_NORMAL, share, how, options, nullptr, 0);
    if (!Succeeded(*api, status)) {
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            SetLastError(ERROR_FILE_EXISTS);
        }
        return ScopedHandle();
    }
    if (created != nullptr) {
        *created = io.Information == FILE_CREATED;
    }
    return ScopedHandle(opened);
}

bool RenameInto(HANDLE file, HANDLE folder, const std::wstring& name, bool replace)
{
    const NtFileApi* const api = NtFile();
    if (api == nullptr) {
        return false;
    }
    if (name.empty() || name.find_first_of(L"\\/") != std::wstring::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    // FILE_RENAME_INFORMATION: the new name is relative to rootDirectory.
    struct RenameInformation {
        BOOLEAN replaceIfExists;
        HANDLE rootDirectory;
        ULONG fileNameLength;
        WCHAR fileName[1];
    };
    const size_t nameBytes = name.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(offsetof(RenameInformation, fileName) + nameBytes + sizeof(wchar_t));
    RenameInformation* const rename = reinterpret_cast<RenameInformation*>(buffer.data());
    rename->replaceIfExists = replace ? TRUE : FALSE;
    rename->rootDirectory = folder;
    rename->fileNameLength = static_cast<ULONG>(nameBytes);
    memcpy(rename->fileName, name.c_str(), nameBytes);
    IO_STATUS_BLOCK io = {};
    return Succeeded(*api, api->set(file, &io, buffer.data(), static_cast<ULONG>(buffer.size()),
                                    static_cast<FILE_INFORMATION_CLASS>(kRenameInformation)));
}

bool MarkForDeletion(HANDLE file)
{
    struct {
        BOOLEAN deleteFile;
    } disposition = {TRUE};
    return FileInformation(file, &disposition, sizeof(disposition), kDispositionInformation, true);
}

bool ListOpenFolder(HANDLE folder, const std::function<void(const std::wstring& name, DWORD attributes)>& each)
{
    const NtFileApi* const api = NtFile();
    if (api == nullptr) {
        return false;
    }
    // ULONGLONG: the entries need 8-byte alignment.
    std::vector<ULONGLONG> buffer(64 * 1024 / sizeof(ULONGLONG));
    for (BOOLEAN restart = TRUE;; restart = FALSE) {
        IO_STATUS_BLOCK io = {};
        const NTSTATUS status = api->list(folder, nullptr, nullptr, nullptr, &io, buffer.data(),
                                          static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG)),
                                          static_cast<FILE_INFORMATION_CLASS>(kDirectoryInformation), FALSE,
                                          nullptr, restart);
        if (status == kNoMoreFiles) {
            return true;
        }
        if (!Succeeded(*api, status)) {
            return false;
        }
        const unsigned char* entry = reinterpret_cast<const unsigned char*>(buffer.data());
        for (;;) {
            const auto* found = reinterpret_cast<const FILE_DIRECTORY_INFORMATION*>(entry);
            const std::wstring name(found->FileName, found->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                each(name, found->FileAttributes);
            }
            if (found->NextEntryOffset == 0) {
                break;
            }
            entry += found->NextEntryOffset;
        }
    }
}

bool FileInformation(HANDLE file, void* information, ULONG size, int kind, bool set)
{
    const NtFileApi* const api = NtFile();
    if (api == nullptr) {
        return false;
    }
    IO_STATUS_BLOCK io = {};
    return Succeeded(*api, (set ? api->set : api->query)(file, &io, information, size,
                                                         static_cast<FILE_INFORMATION_CLASS>(kind)));
}

DWORD AttributesBelow(HANDLE folder, const std::wstring& name)
{
    const NtFileApi* const api = NtFile();
    if (api == nullptr) {
        return INVALID_FILE_ATTRIBUTES;
    }
    if (name.empty() || name.find_first_of(L"\\/*?<>\"") != std::wstring::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_FILE_ATTRIBUTES;
    }
    // The folder's listing of that one name, as a search of its own: a
    // listing tells of a link at the name itself everywhere (wine opens a
    // link's target even when asked for the link, and can't look up a name
    // relative to a folder's handle).
    ScopedHandle search = OpenBelow(folder, std::wstring(), FILE_LIST_DIRECTORY,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, Disposition::OpenExisting,
                                    Kind::Folder);
    if (!search.IsValid()) {
        return INVALID_FILE_ATTRIBUTES;
    }
    UNICODE_STRING pattern = Counted(name);
    std::vector<ULONGLONG> buffer((sizeof(FILE_DIRECTORY_INFORMATION) + 520 * sizeof(wchar_t)) / sizeof(ULONGLONG) + 1);
    IO_STATUS_BLOCK io = {};
    const NTSTATUS status = api->list(search.Get(), nullptr, nullptr, nullptr, &io, buffer.data(),
                                      static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG)),
                                      static_cast<FILE_INFORMATION_CLASS>(kDirectoryInformation), TRUE, &pattern, TRUE);
    if (status == kNoMoreFiles || status == kNoSuchFile) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (!Succeeded(*api, status)) {
        return INVALID_FILE_ATTRIBUTES;
    }
    return reinterpret_cast<const FILE_DIRECTORY_INFORMATION*>(buffer.data())->FileAttributes;
}

ScopedHandle ReopenFile(HANDLE file, const std::wstring& path, DWORD access, DWORD share)
{
    // An empty name relative to a file's handle is that file; before Vista
    // not every file system takes it, and the name, checked below, serves.
    ScopedHandle again = OpenBelow(file, std::wstring(), access, share, Disposition::OpenExisting, Kind::File);
    if (!again.IsValid()) {
        again = ScopedHandle(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    }
    BY_HANDLE_FILE_INFORMATION first, second;
    if (!again.IsValid() || !GetFileInformationByHandle(file, &first) ||
        !GetFileInformationByHandle(again.Get(), &second)) {
        return ScopedHandle();
    }
    if (first.dwVolumeSerialNumber != second.dwVolumeSerialNumber || first.nFileIndexHigh != second.nFileIndexHigh ||
        first.nFileIndexLow != second.nFileIndexLow) {
        SetLastError(ERROR_FILE_INVALID);
        return ScopedHandle();
    }
    return again;
}

bool FreeBytes(HANDLE file, unsigned long long& bytes)
{
    const NtFileApi* const api = NtFile();
    if (api == nullptr) {
        return false;
    }
    struct {
        LARGE_INTEGER totalUnits;
        LARGE_INTEGER callerAvailableUnits;
        LARGE_INTEGER actualAvailableUnits;
        ULONG sectorsPerUnit;
        ULONG bytesPerSector;
    } size = {};
    IO_STATUS_BLOCK io = {};
    if (!Succeeded(*api, api->volume(file, &io, &size, sizeof(size), static_cast<FS_INFORMATION_CLASS>(kFullSizeInformation)))) {
        return false;
    }
    bytes = static_cast<unsigned long long>(size.callerAvailableUnits.QuadPart) * size.sectorsPerUnit *
            size.bytesPerSector;
    return true;
}
