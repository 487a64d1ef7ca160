#include "StagedRepair.h"

#include "DiagnosticsLog.h"
#include "EntryPath.h"
#include "FileNameCase.h"

#include <windows.h>

#include <cstdlib>

namespace {

// Deletes a file, read-only or not, never through a link; true when it is gone.
bool DeleteAnyway(HeldFolder& folder, const std::wstring& path)
{
    if (folder.Delete(path)) {
        return true;
    }
    Log(L"can't delete " + path + L": " + ErrorText(GetLastError()));
    return false;
}

// Renames within the game folder, never through a link.
bool Move(HeldFolder& folder, const std::wstring& from, const std::wstring& to)
{
    if (folder.Move(from, to)) {
        return true;
    }
    Log(L"can't move " + from + L" to " + to + L": " + ErrorText(GetLastError()));
    return false;
}

// Counts of what a roll-back did, for the log.
struct Undone {
    unsigned restored = 0, removedNew = 0, staging = 0, folders = 0;
    bool ok = true;
    std::wstring Text() const
    {
        return Num(restored) + L" files restored, " + Num(removedNew) + L" new files removed, " + Num(staging) +
               L" staging files deleted, " + Num(folders) + L" folders removed";
    }
};

// Short names tried in one folder for a staging file or a backup; every one-
// and two-character name, more than one folder ever needs.
constexpr unsigned kShortNames = 37 + 37 * 37;

// Puts `folder` back as the journal `record` says it was. Each step looks at
// what is there, so that it is right wherever the repair stopped; no step
// passes a link.
Undone RollBackRecord(HeldFolder& folder, const RepairRecord& record)
{
    Undone undone;
    // Before the commit nothing was replaced: only staging files and folders go.
    for (auto r = record.replacements.rbegin(); record.committing && r != record.replacements.rend(); ++r) {
        const std::wstring staging = folder.PathOf(r->staging), target = folder.PathOf(r->target);
        if (!r->backup.empty()) {
            const std::wstring backup = folder.PathOf(r->backup);
            // Where the repair itself knows which targets it moved aside, only
            // those are put back: a file under the backup name may be the
            // player's. From a journal, a backup there was the repair's: its
            // name was free when the commit began.
            if (record.movesKnown ? r->movedAside : folder.Exists(backup)) {
                // The target was moved aside; what stands there now is new.
                if (folder.Exists(target) && !DeleteAnyway(folder, target)) {
                    undone.ok = false;
                    continue;
                }
                if (!Move(folder, backup, target)) {
                    undone.ok = false;
                    continue;
                }
                ++undone.restored;
            }
        } else if (!folder.Exists(staging) && folder.Exists(target)) {
            // A new file that was moved in already.
            if (DeleteAnyway(folder, target)) {
                ++undone.removedNew;
            } else {
                undone.ok = false;
            }
        }
    }
    for (const std::wstring& relative : record.staged) {
        const std::wstring staging = folder.PathOf(relative);
        if (folder.Exists(staging)) {
            if (DeleteAnyway(folder, staging)) {
                ++undone.staging;
            } else {
                undone.ok = false;
            }
        }
    }
    // Children were made after their parents; only empty ones go. One that
    // holds something not the repair's stays; one that can't be removed for
    // another reason is a step not undone.
    for (auto f = record.folders.rbegin(); f != record.folders.rend(); ++f) {
        const std::wstring path = folder.PathOf(*f);
        if (folder.RemoveFolder(path)) {
            ++undone.folders;
        } else if (GetLastError() == ERROR_DIR_NOT_EMPTY) {
            Log(L"the folder " + path + L" is kept: it holds files the repair did not write");
        } else if (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND) {
            Log(L"can't remove the folder " + path + L": " + ErrorText(GetLastError()));
            undone.ok = false;
        }
    }
    return undone;
}

// The repair is in place; what is left of the old files goes. Returns how
// many could not be deleted (each logged).
unsigned DeleteBackups(HeldFolder& folder, const RepairRecord& record)
{
    unsigned left = 0;
    for (const Replacement& r : record.replacements) {
        if (!r.backup.empty() && !DeleteAnyway(folder, folder.PathOf(r.backup))) {
            ++left;
        }
    }
    return left;
}

}  // namespace

StagedRepair::~StagedRepair()
{
    if (open_) {
        RollBack();
    }
}

bool StagedRepair::Begin()
{
    record_.movesKnown = true;
    open_ = folder_.StillThere() && journal_.Open(folder_);
    return open_;
}

std::wstring StagedRepair::Relative(const std::wstring& path) const
{
    const std::wstring below = folder_.Below(path);
    return below.empty() ? path : below;
}

bool StagedRepair::CreateFoldersAlong(const std::wstring& path)
{
    // Only below the game folder: its own path exists already.
    const std::wstring& root = folder_.Path();
    for (size_t i = root.size() + (root.back() == L'\\' ? 0 : 1); i < path.size(); ++i) {
        if (path[i] == L'\\') {
            if (!CreateFolder(path.substr(0, i))) {
                return false;
            }
        }
    }
    return true;
}

bool StagedRepair::CreateFolder(const std::wstring& path)
{
    if (!attempted_.insert(FileNameKey(path)).second) {
        return true;
    }
    bool created = false;
    if (!folder_.CreateFolder(path, created)) {
        if (GetLastError() != ERROR_CANT_ACCESS_FILE && GetLastError() != ERROR_DIRECTORY) {
            Log(L"can't create the folder " + path + L": " + ErrorText(GetLastError()));
        }
        return false;
    }
    if (created) {
        record_.folders.push_back(Relative(path));
        // A folder the journal doesn't know could not be removed again by a roll-back.
        return journal_.AddFolder(record_.folders.back());
    }
    return true;
}

DWORD StagedRepair::AttributesBefore(const std::wstring& path)
{
    const std::wstring key = FileNameKey(path);
    const size_t slash = path.find_last_of(L'\\');
    const std::wstring parent = key.substr(0, slash);
    auto listing = listings_.find(parent);
    if (listing == listings_.end()) {
        // Read once, before this repair writes anything there: what is there,
        // and what it is, without asking for one name after another.
        std::map<std::wstring, DWORD> names;
        folder_.List(path.substr(0, slash), [&names](const std::wstring& name, DWORD attributes) {
            names[FileNameKey(name)] = attributes;
        });
        listing = listings_.emplace(parent, std::move(names)).first;
    }
    const auto name = listing->second.find(key.substr(slash + 1));
    return name == listing->second.end() ? INVALID_FILE_ATTRIBUTES : name->second;
}

bool StagedRepair::Taken(const std::wstring& path)
{
    const std::wstring key = FileNameKey(path);
    return taken_.count(key) != 0 || packageNames_.count(key) != 0 || AttributesBefore(path) != INVALID_FILE_ATTRIBUTES;
}

void StagedRepair::Reserve(const std::wstring& target) { packageNames_.insert(FileNameKey(target)); }

bool StagedRepair::CreateBeside(const std::wstring& target, StagingFile& file)
{
    // CREATE_NEW throughout: a file of the player's that happens to have the
    // name is never touched.
    const std::wstring part = target + L".part";
    if (part.size() + 1 <= kMaxOutputPath && !Taken(part)) {
        if (file.Create(folder_, part)) {
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            Log(L"can't create " + part + L" for " + target + L": " + ErrorText(GetLastError()));
            return false;
        }
    }
    // Where "<target>.part" would not fit, a name no longer than the target's own.
    const size_t nameStart = target.find_last_of(L'\\') + 1;
    for (unsigned i = 0; i < kShortNames; ++i) {
        const std::wstring name = ShortStagingName(i);
        if (name.size() > target.size() - nameStart) {
            break;
        }
        const std::wstring path = target.substr(0, nameStart) + name;
        if (Taken(path)) {
            continue;
        }
        if (file.Create(folder_, path)) {
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    Log(L"can't create a file beside " + target + L": " + ErrorText(GetLastError()));
    return false;
}

bool StagedRepair::Stage(const std::wstring& target, StagingFile& file)
{
    if (!folder_.HoldFoldersOf(target)) {
        return false;
    }
    const DWORD attributes = AttributesBefore(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return folder_.RefuseLink(target);
    }
    // A folder is never moved aside as a file's backup: its contents are the player's.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        Log(L"refused: a folder stands where the package has the file " + target);
        return false;
    }
    const std::wstring key = FileNameKey(target);
    if (taken_.count(key) != 0) {
        // Whoever stages decides first which of the entries of one name is written.
        Log(L"refused: " + target + L" would be written twice");
        return false;
    }
    // A name no file has yet is written under that name: the commit has
    // nothing to do for it, and a roll-back deletes it.
    bool created = false;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        created = file.Create(folder_, target);
        if (!created && GetLastError() != ERROR_FILE_EXISTS) {
            Log(L"can't create " + target + L": " + ErrorText(GetLastError()));
            return false;
        }
    }
    if (!created && !CreateBeside(target, file)) {
        return false;
    }
    taken_.insert(key);
    taken_.insert(FileNameKey(file.Path()));
    record_.replacements.push_back(Replacement{Relative(file.Path()), Relative(target), std::wstring()});
    record_.staged.push_back(Relative(file.Path()));
    return journal_.AddStaged(record_.staged.back());
}

std::wstring StagedRepair::BackupName(const std::wstring& target)
{
    // "<target>.old", or a short name beside it that nothing has or will have.
    std::wstring backup = target + L".old";
    if (backup.size() + 1 > kMaxOutputPath || Taken(backup)) {
        const size_t nameStart = target.find_last_of(L'\\') + 1;
        backup.clear();
        for (unsigned i = 0; i < kShortNames && backup.empty(); ++i) {
            const std::wstring candidate = target.substr(0, nameStart) + L"~" + ShortStagingName(i);
            if (candidate.size() + 1 > kMaxOutputPath) {
                break;
            }
            if (!Taken(candidate)) {
                backup = candidate;
            }
        }
    }
    taken_.insert(FileNameKey(backup));
    return backup;
}

bool StagedRepair::Commit()
{
    const DWORD start = GetTickCount();
    size_t moves = 0;
    if (!folder_.StillThere() || !PlanBackups(moves) || !JournalCommit()) {
        RollBack();
        return false;
    }
#ifdef VNK_TEST_SEAMS
    if (CutShortForTests(moves)) {
        return false;
    }
#endif
    if (!MoveIntoPlace(record_.replacements.size()) || !journal_.MarkDone()) {
        RollBack();
        return false;
    }
    CleanUp();
    Log(L"committed " + Num(record_.replacements.size()) + L" files, " + Num(moves) + L" of them replacing old ones, in " +
        Num(GetTickCount() - start) + L" ms");
    return true;
}

bool StagedRepair::PlanBackups(size_t& moves)
{
    for (Replacement& r : record_.replacements) {
        if (r.staging == r.target) {
            continue;  // a new file, written in place
        }
        const std::wstring target = folder_.PathOf(r.target);
        const std::wstring backup = BackupName(target);
        if (backup.empty()) {
            Log(L"can't replace " + target + L": no free name to keep the old file under");
            return false;
        }
        r.backup = Relative(backup);
        ++moves;
    }
    return true;
}

bool StagedRepair::JournalCommit()
{
    record_.committing = true;
    return journal_.BeginCommit(record_.replacements);
}

bool StagedRepair::MoveIntoPlace(size_t most)
{
    size_t replaced = 0;
    for (Replacement& r : record_.replacements) {
        if (r.staging == r.target) {
            continue;
        }
        if (replaced == most) {
            break;
        }
        const std::wstring target = folder_.PathOf(r.target);
        if (!Move(folder_, target, folder_.PathOf(r.backup))) {
            return false;
        }
        r.movedAside = true;
        if (!Move(folder_, folder_.PathOf(r.staging), target)) {
            return false;
        }
        ++replaced;
    }
    return true;
}

void StagedRepair::CleanUp()
{
    record_.done = true;
    open_ = false;
    const unsigned left = DeleteBackups(folder_, record_);
    if (left != 0) {
        // The journal, marked done, lets the next start delete them.
        Log(Num(left) + L" old files could not be deleted yet; the journal stays for the next start to delete them");
        return;
    }
    journal_.Remove();  // logged; a journal marked done is finished by the next start
}

#ifdef VNK_TEST_SEAMS
bool StagedRepair::CutShortForTests(size_t moves)
{
    // VNK_TEST_STOP_COMMIT_AFTER=N stops the commit after N replacements, as a crash would.
    wchar_t value[16] = {};
    if (GetEnvironmentVariableW(L"VNK_TEST_STOP_COMMIT_AFTER", value, 16) == 0) {
        return false;
    }
    const size_t stopAfter = static_cast<size_t>(wcstol(value, nullptr, 10));
    if (stopAfter > moves) {
        return false;
    }
    MoveIntoPlace(stopAfter);
    Log(L"commit stopped after " + Num(stopAfter) + L" of " + Num(moves) + L" replacements, as a crash would stop it");
    open_ = false;
    return true;
}
#endif

bool StagedRepair::RollBack()
{
    open_ = false;
    folder_.StillThere();  // where it moved, nothing is undone: the journal stays with the folder
    const Undone undone = RollBackRecord(folder_, record_);
    Log(L"repair rolled back: " + undone.Text());
    if (!undone.ok) {
        Log(L"the journal stays for the next start to finish the roll-back");
        return false;
    }
    return journal_.Remove();
}

Recovery RecoverInterruptedRepair(const std::wstring& path)
{
    HeldFolder folder;
    if (!folder.Open(path)) {
        return Recovery::NothingToDo;  // no folder: no journal either
    }
    return RecoverInterruptedRepair(folder);
}

Recovery RecoverInterruptedRepair(HeldFolder& folder)
{
    RepairRecord record;
    switch (ReadJournal(folder, record)) {
    case JournalState::None:
        return Recovery::NothingToDo;
    case JournalState::Unreadable:
        Log(L"an earlier repair's journal in " + folder.Path() + L" can't be read: it is left alone, and so is the folder");
        return Recovery::Unreadable;
    case JournalState::Loaded:
        break;
    }
    if (record.done) {
        // A backup that still can't be deleted is left, named in the log:
        // keeping the journal for it would hold off every later repair.
        const unsigned left = DeleteBackups(folder, record);
        DeleteJournal(folder);
        Log(L"an earlier repair of " + folder.Path() + L" was complete but for deleting old files: finished" +
            (left == 0 ? std::wstring() : L", " + Num(left) + L" of them left"));
        return Recovery::Completed;
    }
    const Undone undone = RollBackRecord(folder, record);
    if (!undone.ok) {
        Log(L"an earlier repair of " + folder.Path() + L" was cut short; rolling it back failed in part (" +
            undone.Text() + L"); the journal stays");
        return Recovery::Failed;
    }
    DeleteJournal(folder);
    Log(L"an earlier repair of " + folder.Path() + L" was cut short and is rolled back: " + undone.Text());
    return Recovery::RolledBack;
}
