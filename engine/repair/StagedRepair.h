// A repair that is all or nothing. Every file is first written whole, beside
// its target ("<target>.part", or a short free name) or, where no file of that
// name is yet, under its own name; nothing the player had is touched while an
// entry is still to come. Then the commit: the journal lists every replacement
// and is flushed, each existing target is moved to a backup name and its
// staging file takes its place, the journal is marked done, and the backups
// and the journal go. Any failure before "done" rolls back: the files written
// are deleted, backups moved back and folders the repair made removed, so the
// game folder is as it was. The journal lets the next start do the same after
// a crash.
#pragma once

#include "HeldFolder.h"
#include "RepairJournal.h"
#include "StagedFile.h"

#include <map>
#include <set>
#include <string>

class StagedRepair {
public:
    // Works in `folder`, opened (see HeldFolder.h), which outlives the repair.
    explicit StagedRepair(HeldFolder& folder) : folder_(folder) {}
    // Rolls back whatever was not committed.
    ~StagedRepair();

    StagedRepair(const StagedRepair&) = delete;
    StagedRepair& operator=(const StagedRepair&) = delete;

    // Starts the journal; false when there is one already, or it can't be written.
    bool Begin();

    // Creates every folder along `path` (with Windows' separators), parent
    // first; each folder at most once. False (logged) when a link
    // is in the way or the journal can't record a folder; other failures are
    // left to the file creation that follows.
    bool CreateFoldersAlong(const std::wstring& path);
    // Creates the folder `path` itself (a folder entry); false as above.
    bool CreateFolder(const std::wstring& path);

    // Names a file the package will write, before any is staged: no staging
    // file or backup ever takes the name of one.
    void Reserve(const std::wstring& target);

    // Creates the file that receives `target`'s new bytes, and records it.
    // False (logged) when it can't be made, `target` is or lies behind a link,
    // or was staged already.
    bool Stage(const std::wstring& target, StagingFile& file);

    // Puts every staged file in place, or rolls back; false (logged) on failure.
    bool Commit();

    // Undoes everything this repair did; false (logged) when a step failed, and
    // the journal is then left for the next start.
    bool RollBack();

private:
    std::wstring Relative(const std::wstring& path) const;
    // The attributes of what stood under this name before the repair, from
    // its folder's listing; INVALID_FILE_ATTRIBUTES when nothing did.
    DWORD AttributesBefore(const std::wstring& path);
    // Whether a file of this name was in its folder before the repair, or is
    // a name this repair has taken.
    bool Taken(const std::wstring& path);
    // Creates a staging file beside `target` under a free name.
    bool CreateBeside(const std::wstring& target, StagingFile& file);
    // A free name beside `target` for its current file to be moved to.
    std::wstring BackupName(const std::wstring& target);

    // The commit's steps: a backup name for every target that stands (`moves`
    // of them); the journal's list of replacements; at most `most` targets
    // moved aside and their new files moved in; the backups and the journal
    // deleted. Each false is logged where it failed.
    bool PlanBackups(size_t& moves);
    bool JournalCommit();
    bool MoveIntoPlace(size_t most);
    void CleanUp();
#ifdef VNK_TEST_SEAMS
    // Stops the commit half-way as a crash would, where a test asks for it.
    bool CutShortForTests(size_t moves);
#endif

    HeldFolder& folder_;
    JournalWriter journal_;
    bool open_ = false;  // the journal exists and the repair is not over
    RepairRecord record_;
    // Paths as keys are FileNameKey's: one key, one file.
    std::set<std::wstring> attempted_;                                // folders asked for, made or not
    std::map<std::wstring, std::map<std::wstring, DWORD>> listings_;  // folder -> its names before, with attributes
    std::set<std::wstring> taken_;                                    // paths this repair has made or will use
    std::set<std::wstring> packageNames_;                             // the files the package will write
};

enum class Recovery { NothingToDo, RolledBack, Completed, Unreadable, Failed };

// Finishes or rolls back a repair of `folder` that a crash cut short, from its
// journal; logs what it restored. A journal it can't read is left alone.
Recovery RecoverInterruptedRepair(HeldFolder& folder);
// The same for the folder at `path`, opened for it.
Recovery RecoverInterruptedRepair(const std::wstring& path);
