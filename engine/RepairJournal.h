// The record of a repair in progress, "LumoraRepair.journal" in the game
// folder: what a repair cut short by a crash or a power cut needs to be rolled
// back at the next start. UTF-8 lines, paths relative to the game folder:
//   LumoraRepair journal 1
//   folder <path>                        a folder the repair made
//   stage <path>                         a staging file the repair made
//   commit                               the replacements follow; none is done before this is on disk
//   file <staging> <target> <backup>     (tab-separated; no backup: the target was new)
//   done                                 every target is in place; only backups are left to delete
#pragma once

#include "ScopedHandle.h"

#include <string>
#include <vector>

extern const wchar_t kJournalName[];

struct Replacement {
    std::wstring staging;
    std::wstring target;
    std::wstring backup;  // empty: there was no target before
};

// What a journal says.
struct RepairRecord {
    std::vector<std::wstring> folders;   // in the order they were made, parents first
    std::vector<std::wstring> staged;
    bool committing = false;
    std::vector<Replacement> replacements;
    bool done = false;
};

// Writes the journal of one repair as it goes.
class JournalWriter {
public:
    // Creates the journal in `folder` with its first line.
    bool Open(const std::wstring& folder);
    bool AddFolder(const std::wstring& relative);
    bool AddStaged(const std::wstring& relative);
    // The replacements, on disk before any of them is made.
    bool BeginCommit(const std::vector<Replacement>& replacements);
    // Every replacement is made; on disk before a backup is deleted.
    bool MarkDone();
    // Closes and deletes the journal: the repair is over.
    bool Remove();

private:
    bool Append(const std::wstring& lines, bool flush);

    std::wstring path_;
    ScopedHandle file_;
};

enum class JournalState { None, Read, Unreadable };

// Reads the journal in `folder` into `record`. A last line without its line
// end was being written when the program stopped and is left out; anything
// else that isn't a line of the format makes the journal unreadable.
JournalState ReadJournal(const std::wstring& folder, RepairRecord& record);
