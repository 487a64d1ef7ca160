#include "ExtractArchive.h"

#include "ArchiveReader.h"
#include "DiagnosticsLog.h"
#include "EntryPath.h"
#include "ScopedHandle.h"
#include "StagedFile.h"
#include "StagedRepair.h"

#include <algorithm>
#include <cstdlib>


namespace {

// Attribute bit by which Unix-side archivers mark mode bits in the high 16 bits.
constexpr UInt32 kUnixExtension = 0x8000;

// Grows only, to the longest name met; released once at the end.
class NameBuffer {
public:
    ~NameBuffer() { std::free(units_); }
    bool Reserve(size_t length)
    {
        if (length <= capacity_) {
            return true;
        }
        std::free(units_);
        units_ = static_cast<UInt16*>(std::malloc(length * sizeof(UInt16)));
        capacity_ = units_ != nullptr ? length : 0;
        return units_ != nullptr;
    }
    UInt16* Data() { return units_; }

private:
    UInt16* units_ = nullptr;
    size_t capacity_ = 0;
};

// The LZMA SDK's result, named for the log.
std::wstring SdkResult(SRes res)
{
    static const wchar_t* const kNames[] = {
        L"ok", L"data error", L"out of memory", L"CRC error", L"unsupported method", L"bad parameter",
        L"archive cut short", L"output full", L"read error", L"write error", L"progress", L"failure",
        L"thread error", L"", L"", L"", L"damaged archive", L"not a 7z archive"};
    const bool known = res >= 0 && res < static_cast<SRes>(sizeof(kNames) / sizeof(kNames[0])) && kNames[res][0];
    return L"LZMA SDK result " + Num(static_cast<uint64_t>(res)) + (known ? L" (" + std::wstring(kNames[res]) + L")" : L"");
}

UInt32 WindowsPartOf(UInt32 attributes)
{
    return (attributes & kUnixExtension) != 0 ? (attributes & 0x7FFF) : attributes;
}

// Every file is staged beside its target while the old one still stands, so
// the drive needs room for all of them at once: each rounded up to a cluster,
// and a margin for folders and the journal.
bool RoomFor(const ArchiveReader& reader, const std::vector<bool>& wanted, const std::wstring& destination)
{
    constexpr uint64_t kCluster = 4096;
    constexpr uint64_t kMargin = 1u << 20;
    uint64_t needed = kMargin;
    for (UInt32 i = 0; i < reader.EntryCount(); ++i) {
        if (wanted[i]) {
            needed += reader.IsFolder(i) ? kCluster : (reader.FileSize(i) + kCluster - 1) / kCluster * kCluster;
        }
    }
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(destination.c_str(), &available, nullptr, nullptr)) {
        return true;  // not known: the writes will tell
    }
    if (available.QuadPart < needed) {
        Log(L"not enough room in " + destination + L": the package needs " + Num(needed) + L" bytes, " +
            Num(available.QuadPart) + L" are free");
        return false;
    }
    return true;
}

// The entry's name, through the buffer that grows to the longest name; false
// when there is no memory for it.
bool EntryName(const ArchiveReader& reader, UInt32 i, NameBuffer& buffer, std::wstring& name)
{
    const size_t length = reader.NameLength(i);  // with the terminating zero
    if (!buffer.Reserve(length)) {
        Log(L"no memory for the name of entry " + Num(i + 1));
        return false;
    }
    reader.CopyName(i, buffer.Data());
    name.assign(reinterpret_cast<const wchar_t*>(buffer.Data()), length > 0 ? length - 1 : 0);
    return true;
}

// Which entries are written: those `only` names, or every one.
bool WantedEntries(const ArchiveReader& reader, const std::set<std::wstring>* only, NameBuffer& buffer,
                   std::vector<bool>& wanted)
{
    wanted.assign(reader.EntryCount(), only == nullptr);
    std::wstring name;
    for (UInt32 i = 0; only != nullptr && i < reader.EntryCount(); ++i) {
        if (!EntryName(reader, i, buffer, name)) {
            return false;
        }
        wanted[i] = only->count(name) != 0;
    }
    return true;
}

}  // namespace

int ExtractArchive(const std::wstring& archivePath, const std::wstring& destination,
                   const ExtractProgressFn& progress)
{
    ScopedHandle archive(CreateFileW(archivePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!archive.IsValid()) {
        Log(L"can't open " + archivePath + L": " + ErrorText(GetLastError()));
        return kExtractCannotOpen;
    }
    return ExtractArchive(archive.Get(), archivePath, destination, progress);
}

int ExtractArchive(HANDLE archive, const std::wstring& archivePath, const std::wstring& gameFolder,
                   const ExtractProgressFn& progress, const std::set<std::wstring>* only)
{
    const DWORD start = GetTickCount();
    const std::wstring destination = GameFolderPath(gameFolder);
    ArchiveReader reader(archive, archivePath);
    const SRes opened = reader.Open();
    if (opened != SZ_OK) {
        Log(archivePath + L": " + SdkResult(opened));
        return opened;
    }

    NameBuffer nameBuffer;
    std::vector<bool> wanted;
    if (!WantedEntries(reader, only, nameBuffer, wanted)) {
        return kExtractNoMemory;
    }
    reader.DecodeOnlyBlocksOf(wanted);
    const int32_t count = static_cast<int32_t>(std::count(wanted.begin(), wanted.end(), true));

    // A repair that was cut short is undone first; one whose journal can't be
    // read holds the folder until someone looks at it.
    const Recovery recovery = RecoverInterruptedRepair(destination);
    if (recovery == Recovery::Unreadable || recovery == Recovery::Failed) {
        return kExtractOutputFailed;
    }
    if (!RoomFor(reader, wanted, destination)) {
        return kExtractOutputFailed;
    }
    StagedRepair repair(destination);
    if (!repair.Begin()) {
        return kExtractOutputFailed;
    }

    Log(L"extracting " + Num(static_cast<uint32_t>(count)) +
        (only == nullptr ? std::wstring() : L" of the " + Num(reader.EntryCount())) + L" entries of " + archivePath +
        L" into " + destination);
    int32_t finished = 0;
    for (UInt32 i = 0; i < reader.EntryCount(); ++i) {
        const bool isFolder = reader.IsFolder(i);
        if (!wanted[i]) {
            // Decoded and let go where the block is decoded for others.
            const SRes res = isFolder ? SZ_OK : reader.SkipFile(i);
            if (res != SZ_OK) {
                Log(L"entry " + Num(i + 1) + L": " + SdkResult(res));
                return res;
            }
            continue;
        }
        std::wstring name;
        if (!EntryName(reader, i, nameBuffer, name)) {
            return kExtractNoMemory;
        }

        // Refused before anything of the entry is decoded or written.
        std::wstring path;
        if (!IsSafeEntryName(name)) {
            Log(L"refused entry name: " + name);
            return kExtractOutputFailed;
        }
        if (!JoinOutputPath(destination, name, path)) {
            Log(L"entry path too long: " + destination + L"\\" + name);
            return kExtractOutputFailed;
        }

        if (!repair.CreateFoldersAlong(path) || (isFolder && !repair.CreateFolder(path))) {
            return kExtractOutputFailed;
        }
        if (!isFolder) {
            // The bytes go to the staging file as they are decoded.
            StagingFile staging;
            if (!repair.Stage(path, staging)) {
                return kExtractOutputFailed;
            }
            const SRes res = reader.ReadFile(i, [&staging](const Byte* data, size_t size) {
                return staging.Write(data, size);
            });
            if (res == SZ_ERROR_WRITE) {
                return kExtractOutputFailed;
            }
            if (res != SZ_OK) {
                Log(L"entry " + name + L": " + SdkResult(res));
                return res;
            }
            if (reader.HasAttributes(i)) {
                // A new file has the archive attribute already: that common case costs no call.
                const UInt32 attributes = WindowsPartOf(reader.Attributes(i));
                if (attributes != FILE_ATTRIBUTE_ARCHIVE) {
                    staging.SetAttributes(attributes);  // through the handle; a failure is only logged
                }
            }
            if (!staging.Finish()) {
                return kExtractOutputFailed;
            }
        }

        if (!progress(++finished, count)) {
            Log(L"extraction stopped after entry " + Num(static_cast<uint32_t>(finished)) + L" of " +
                Num(static_cast<uint32_t>(count)));
            return kExtractOutputFailed;
        }
    }
    const SRes ended = reader.Finish();
    if (ended != SZ_OK) {
        Log(archivePath + L": the last block: " + SdkResult(ended));
        return ended;
    }
    if (!repair.Commit()) {
        return kExtractOutputFailed;
    }
    Log(L"extracted " + Num(static_cast<uint32_t>(count)) + L" entries in " + Num(GetTickCount() - start) + L" ms");
    return kExtractOk;
}
