// The record of a repair in progress, "LumoraRepair.journal" in the game
// folder: what a repair cut short by a crash or a power cut needs to be rolled
// back at the next start. UTF-8 lines, fields tab-separated, paths relative to
// the game folder:
//   LumoraRepair journal 3
//   folder <path>                        a folder the repair made
//   stage <path>                         a staging file the repair made
//   commit                               the replacements follow; none is done before this is on disk
//   file <staging> <target> <backup>     (no backup: the target was new)
//   done                                 every target is in place; only backups are left to delete
// Anyone who can write the game folder could put a journal there, and the
// program acts on it as administrator; so every line ends in a MAC field, the
// HMAC-SHA-256 (keyed with JournalKey(), which only administrators can read)
// of the previous line's MAC, a line end and the line. The first line's
// "previous MAC" is that of the game folder's identity and the id of the
// repair (see NewRepairId), so that a journal copied into another folder, or
// a copy of a genuine one put back after its repair was over, is not one
// either. A journal whose lines don't check out is not ours and is never
// acted on.
#pragma once

#include "HeldFolder.h"
#include "ScopedHandle.h"
#include "Sha256.h"

#include <memory>
#include <string>
#include <vector>

extern const wchar_t kJournalName[];

struct Replacement {
    std::wstring staging;
    std::wstring target;
    std::wstring backup;      // empty: there was no target before
    bool movedAside = false;  // the target has been moved to `backup` (known where movesKnown)
};

// What a journal says.
struct RepairRecord {
    std::vector<std::wstring> folders;   // in the order they were made, parents first
    std::vector<std::wstring> staged;
    bool committing = false;
    std::vector<Replacement> replacements;
    bool done = false;
    bool movesKnown = false;  // the repair's own record, not a journal read back
};

// The MACs of a journal's lines, one after the other.
class JournalMac {
public:
    explicit JournalMac(const std::string& key) : hmac_(key) {}
    // Starts the chain of the journal of the repair `repairId` of the folder with this identity.
    bool Start(const std::wstring& identity, const std::string& repairId);
    // The MAC of the next line (UTF-8, without its MAC and line end), as hex digits.
    bool Next(const std::string& line, std::string& mac);

private:
    HmacSha256 hmac_;
    std::string last_;
};

// Writes the journal of one repair as it goes.
class JournalWriter {
public:
    // Creates the journal in `folder` with its first line.
    bool Open(HeldFolder& folder);
    bool AddFolder(const std::wstring& relative);
    bool AddStaged(const std::wstring& relative);
    // The replacements, on disk before any of them is made.
    bool BeginCommit(const std::vector<Replacement>& replacements);
    // Every replacement is made; on disk before a backup is deleted.
    bool MarkDone();
    // Closes and deletes the journal, and forgets the repair's id: the repair is over.
    bool Remove();

private:
    bool Append(const std::vector<std::wstring>& lines, bool flush);

    HeldFolder* folder_ = nullptr;
    std::wstring path_;
    ScopedHandle file_;
    std::unique_ptr<JournalMac> mac_;
};

enum class JournalState { None, Loaded, Unreadable };

// Reads the journal in `folder` into `record`. A last
// line without its line end was being written when the program stopped and is
// left out; anything else that isn't a line of the format, or whose MAC
// doesn't check out (no repair under way in the folder among them), or a
// journal that is a link, makes the journal unreadable.
JournalState ReadJournal(HeldFolder& folder, RepairRecord& record);

// Deletes the journal of a repair that is over in `folder`, and forgets the
// repair's id; false (logged) when it stays.
bool DeleteJournal(HeldFolder& folder);
