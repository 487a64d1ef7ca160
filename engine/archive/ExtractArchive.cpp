#include "ExtractArchive.h"

#include "ArchiveReader.h"
#include "BlockDecoder.h"
#include "BlockWorkers.h"
#include "CriticalSection.h"
#include "DiagnosticsLog.h"
#include "EntryPath.h"
#include "FileNameCase.h"
#include "ScopedHandle.h"
#include "StagedFile.h"
#include "StagedRepair.h"

#include <algorithm>
#include <cstdlib>
#include <map>


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

ExtractOutcome Outcome(ExtractResult result) { return ExtractOutcome{result, SZ_OK}; }

// The decoder's code, by what it means for the repair.
ExtractOutcome FromSdk(SRes res)
{
    switch (res) {
    case SZ_OK:
        return ExtractOutcome{ExtractResult::Ok, res};
    case SZ_ERROR_MEM:
    case SZ_ERROR_THREAD:
        return ExtractOutcome{ExtractResult::NoMemory, res};
    case SZ_ERROR_UNSUPPORTED:
        return ExtractOutcome{ExtractResult::Unsupported, res};
    case SZ_ERROR_NO_ARCHIVE:
        return ExtractOutcome{ExtractResult::NotAnArchive, res};
    case SZ_ERROR_READ:
        return ExtractOutcome{ExtractResult::ReadFailed, res};
    case SZ_ERROR_WRITE:
        return ExtractOutcome{ExtractResult::OutputFailed, res};
    default:  // data, CRC, an archive cut short or malformed
        return ExtractOutcome{ExtractResult::Damaged, res};
    }
}

UInt32 WindowsPartOf(UInt32 attributes)
{
    return (attributes & kUnixExtension) != 0 ? (attributes & 0x7FFF) : attributes;
}

// Every file is staged beside its target while the old one still stands, so
// the drive needs room for all of them at once: each rounded up to a cluster,
// and a margin for folders and the journal.
bool RoomFor(const ArchiveReader& reader, const std::vector<bool>& wanted, const HeldFolder& destination)
{
    constexpr uint64_t kCluster = 4096;
    constexpr uint64_t kMargin = 1u << 20;
    uint64_t needed = kMargin;
    for (UInt32 i = 0; i < reader.EntryCount(); ++i) {
        if (wanted[i]) {
            needed += reader.IsFolder(i) ? kCluster : (reader.FileSize(i) + kCluster - 1) / kCluster * kCluster;
        }
    }
    unsigned long long available = 0;
    if (!destination.FreeBytes(available)) {
        return true;  // not known: the writes will tell
    }
    if (available < needed) {
        Log(L"not enough room in " + destination.Path() + L": the package needs " + Num(needed) + L" bytes, " +
            Num(available) + L" are free");
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

// One extraction: prepared whole (every name checked, the journal begun), then
// the entries written, in the archive's order or, where several solid blocks
// can be decoded at once, side by side; then the commit.
class Extraction : public EntryWriter {
public:
    Extraction(HANDLE archive, const std::wstring& archivePath, HeldFolder& destination,
               const ExtractProgressFn& progress, const std::set<std::wstring>* only)
        : reader_(archive, archivePath), archivePath_(archivePath), folder_(destination),
          destination_(destination.Path()), progress_(progress), only_(only), repair_(destination)
    {
    }

    ExtractOutcome Run()
    {
        const DWORD start = GetTickCount();
        ExtractOutcome outcome = Prepare();
        if (!outcome.Ok()) {
            return outcome;
        }
        std::vector<UInt32> blocks;
        for (UInt32 folder : reader_.WantedBlocks()) {
            if (CanDecodeSideBySide(reader_.Database(), folder)) {
                blocks.push_back(folder);
            }
        }
        const unsigned threads = BlockThreadCount(reader_.Database(), blocks);
        outcome = threads > 1 ? WriteSideBySide(blocks, threads) : WriteAllInOrder();
        if (!outcome.Ok()) {
            return outcome;
        }
        outcome = Complete();
        if (outcome.Ok()) {
            Log(L"extracted " + Num(static_cast<uint32_t>(count_)) + L" entries in " + Num(GetTickCount() - start) +
                L" ms" + (threads > 1 ? L", " + Num(threads) + L" blocks at a time" : std::wstring()));
        }
        return outcome;
    }

    // The workers' side: each entry's staging file, made one at a time.
    bool Open(UInt32 index, StagingFile& file) override
    {
        CriticalSectionLocker locked(repairLock_);
        return repair_.Stage(paths_[index], file);
    }

    bool Finish(UInt32 index, StagingFile& file) override
    {
        if (reader_.HasAttributes(index)) {
            // A new file has the archive attribute already: that common case costs no call.
            const UInt32 attributes = WindowsPartOf(reader_.Attributes(index));
            if (attributes != FILE_ATTRIBUTE_ARCHIVE) {
                file.SetAttributes(attributes);  // through the handle; a failure is only logged
            }
        }
        return file.Finish();
    }

private:
    // Reads the database, checks every name to be written before anything is,
    // undoes a repair cut short, checks the room, begins the journal.
    ExtractOutcome Prepare()
    {
        const SRes opened = reader_.Open();
        if (opened != SZ_OK) {
            Log(archivePath_ + L": " + SdkResult(opened));
            return FromSdk(opened);
        }
        wanted_.assign(reader_.EntryCount(), only_ == nullptr);
        paths_.assign(reader_.EntryCount(), std::wstring());
        std::wstring name;
        for (UInt32 i = 0; i < reader_.EntryCount(); ++i) {
            if (!EntryName(reader_, i, nameBuffer_, name)) {
                return Outcome(ExtractResult::NoMemory);
            }
            // "Cross/New/" is the folder "Cross/New"; in a file's name an empty part is refused below.
            while (reader_.IsFolder(i) && !name.empty() && (name.back() == L'/' || name.back() == L'\\')) {
                name.pop_back();
            }
            if (only_ != nullptr) {
                wanted_[i] = only_->count(name) != 0;
            }
            if (!wanted_[i]) {
                continue;
            }
            if (!IsSafeEntryName(name)) {
                Log(L"refused entry name: " + name);
                return Outcome(ExtractResult::OutputFailed);
            }
            if (!JoinOutputPath(destination_, name, paths_[i])) {
                Log(L"entry path too long: " + destination_ + L"\\" + name);
                return Outcome(ExtractResult::OutputFailed);
            }
        }
        KeepTheLaterOfOneName();
        reader_.DecodeOnlyBlocksOf(wanted_);
        count_ = static_cast<int32_t>(std::count(wanted_.begin(), wanted_.end(), true));

        // A repair that was cut short is undone first; one whose journal can't
        // be read holds the folder until someone looks at it.
        if (!folder_.StillThere()) {
            return Outcome(ExtractResult::OutputFailed);
        }
        const Recovery recovery = RecoverInterruptedRepair(folder_);
        if (recovery == Recovery::Unreadable || recovery == Recovery::Failed) {
            return Outcome(ExtractResult::OutputFailed);
        }
        if (!RoomFor(reader_, wanted_, folder_) || !repair_.Begin()) {
            return Outcome(ExtractResult::OutputFailed);
        }
        Log(L"extracting " + Num(static_cast<uint32_t>(count_)) +
            (only_ == nullptr ? std::wstring() : L" of the " + Num(reader_.EntryCount())) + L" entries of " +
            archivePath_ + L" into " + destination_);
        return Outcome(ExtractResult::Ok);
    }

    // Entries of one name (to Windows: "a.txt" and "A.TXT" too) leave the
    // later one in the archive's order, as 7-Zip does, whatever order blocks
    // decoded side by side finish in: the earlier ones are not written. The
    // files to be written are reserved, so that no staging file or backup
    // takes the name of one.
    void KeepTheLaterOfOneName()
    {
        std::map<std::wstring, UInt32> last;
        for (UInt32 i = 0; i < reader_.EntryCount(); ++i) {
            if (wanted_[i]) {
                last[FileNameKey(paths_[i])] = i;
            }
        }
        for (UInt32 i = 0; i < reader_.EntryCount(); ++i) {
            if (!wanted_[i]) {
                continue;
            }
            if (last[FileNameKey(paths_[i])] != i) {
                Log(L"entry " + Num(i + 1) + L" (" + paths_[i] + L"): a later entry of that name is written instead");
                wanted_[i] = false;
            } else if (!reader_.IsFolder(i)) {
                repair_.Reserve(paths_[i]);
            }
        }
    }

    // After the last entry: the last streamed block must have ended whole and
    // right; then the staged files replace the old ones.
    ExtractOutcome Complete()
    {
        const SRes ended = reader_.Finish();
        if (ended != SZ_OK) {
            Log(archivePath_ + L": the last block: " + SdkResult(ended));
            return FromSdk(ended);
        }
        return repair_.Commit() ? Outcome(ExtractResult::Ok) : Outcome(ExtractResult::OutputFailed);
    }

    ExtractOutcome WriteAllInOrder()
    {
        for (UInt32 i = 0; i < reader_.EntryCount(); ++i) {
            const ExtractOutcome outcome = WriteInOrder(i);
            if (!outcome.Ok()) {
                return outcome;
            }
        }
        return Outcome(ExtractResult::Ok);
    }

    // The folders along every path first; then, in the archive's order, the
    // entries of no block or of blocks too large to decode beside others;
    // then the other blocks side by side.
    ExtractOutcome WriteSideBySide(const std::vector<UInt32>& blocks, unsigned threads)
    {
        const CSzArEx& db = reader_.Database();
        std::vector<bool> sideBySide(db.db.NumFolders, false);
        for (UInt32 folder : blocks) {
            sideBySide[folder] = true;
        }
        for (UInt32 i = 0; i < reader_.EntryCount(); ++i) {
            if (wanted_[i] && !repair_.CreateFoldersAlong(paths_[i])) {
                return Outcome(ExtractResult::OutputFailed);
            }
        }
        for (UInt32 i = 0; i < reader_.EntryCount(); ++i) {
            const UInt32 folder = db.FileToFolder[i];
            if (folder == kNoBlock || !sideBySide[folder]) {
                const ExtractOutcome outcome = WriteInOrder(i);
                if (!outcome.Ok()) {
                    return outcome;
                }
            }
        }
        const SRes res = DecodeBlocksSideBySide(reader_.File(), archivePath_, db, blocks, wanted_, threads, *this,
                                                [this](unsigned) { return ReportFinishedEntry(); });
        if (res == SZ_ERROR_WRITE) {
            return Outcome(stopped_ ? ExtractResult::Stopped : ExtractResult::OutputFailed);
        }
        if (res != SZ_OK) {
            Log(archivePath_ + L": " + SdkResult(res));
        }
        return FromSdk(res);
    }

    // One entry, when the archive's order comes to it.
    ExtractOutcome WriteInOrder(UInt32 i)
    {
        const bool isFolder = reader_.IsFolder(i);
        if (!wanted_[i]) {
            // Decoded and let go where the block is decoded for others.
            const SRes res = isFolder ? SZ_OK : reader_.SkipFile(i);
            if (res != SZ_OK) {
                Log(L"entry " + Num(i + 1) + L": " + SdkResult(res));
            }
            return FromSdk(res);
        }
        std::wstring& path = paths_[i];
        if (!repair_.CreateFoldersAlong(path) || (isFolder && !repair_.CreateFolder(path))) {
            return Outcome(ExtractResult::OutputFailed);
        }
        if (!isFolder) {
            // The bytes go to the staging file as they are decoded.
            StagingFile staging;
            if (!Open(i, staging)) {
                return Outcome(ExtractResult::OutputFailed);
            }
            const SRes res =
                reader_.ReadFile(i, [&staging](const Byte* data, size_t size) { return staging.Write(data, size); });
            if (res == SZ_ERROR_WRITE) {
                return Outcome(ExtractResult::OutputFailed);
            }
            if (res != SZ_OK) {
                Log(L"entry " + path + L": " + SdkResult(res));
                return FromSdk(res);
            }
            if (!Finish(i, staging)) {
                return Outcome(ExtractResult::OutputFailed);
            }
        }
        return ReportFinishedEntry() ? Outcome(ExtractResult::Ok) : Outcome(ExtractResult::Stopped);
    }

    // One more entry finished; false (logged) when the caller stops.
    bool ReportFinishedEntry()
    {
        if (progress_(++finished_, count_)) {
            return true;
        }
        stopped_ = true;
        Log(L"extraction stopped after entry " + Num(static_cast<uint32_t>(finished_)) + L" of " +
            Num(static_cast<uint32_t>(count_)));
        return false;
    }

    static constexpr UInt32 kNoBlock = static_cast<UInt32>(-1);

    ArchiveReader reader_;
    const std::wstring& archivePath_;
    HeldFolder& folder_;
    const std::wstring destination_;
    const ExtractProgressFn& progress_;
    const std::set<std::wstring>* only_;
    NameBuffer nameBuffer_;
    std::vector<bool> wanted_;
    std::vector<std::wstring> paths_;  // where each wanted entry goes
    int32_t count_ = 0;                // entries to write
    int32_t finished_ = 0;
    bool stopped_ = false;  // the progress callback asked to stop
    StagedRepair repair_;
    CriticalSection repairLock_;  // the workers make their staging files one at a time
};

}  // namespace

int ExtractOutcome::Code() const
{
    switch (result) {
    case ExtractResult::Ok:
        return 0;
    case ExtractResult::CannotOpen:
        return 1;
    case ExtractResult::NoMemory:
        return sdkCode != SZ_OK ? sdkCode : 2;
    case ExtractResult::OutputFailed:
    case ExtractResult::Stopped:
        return 11;
    default:
        return sdkCode;
    }
}

ExtractOutcome UnpackArchive(const std::wstring& archivePath, const std::wstring& destination,
                             const ExtractProgressFn& progress)
{
    const std::shared_ptr<HeldFolder> archiveFolder = OpenFolderOf(archivePath);
    ScopedHandle archive;
    if (archiveFolder != nullptr) {
        archive = archiveFolder->OpenFile(archivePath, GENERIC_READ, FILE_SHARE_READ, true);
    }
    if (!archive.IsValid()) {
        Log(L"can't open " + archivePath + L": " + ErrorText(GetLastError()));
        return Outcome(ExtractResult::CannotOpen);
    }
    HeldFolder folder;
    if (!folder.Open(destination)) {
        return Outcome(ExtractResult::OutputFailed);
    }
    return UnpackArchive(archive.Get(), archivePath, folder, progress);
}

ExtractOutcome UnpackArchive(HANDLE archive, const std::wstring& archivePath, HeldFolder& destination,
                             const ExtractProgressFn& progress, const std::set<std::wstring>* only)
{
    return Extraction(archive, archivePath, destination, progress, only).Run();
}

int ExtractArchive(const std::wstring& archivePath, const std::wstring& destination,
                   const ExtractProgressFn& progress)
{
    return UnpackArchive(archivePath, destination, progress).Code();
}
