// What the program keeps on the machine that ordinary users must neither read
// nor change: HKEY_LOCAL_MACHINE\Software\Lumora\LumoraRepair, whose access
// list the program sets to Administrators and SYSTEM only each time it writes.
// (A 32-bit program on 64-bit Windows sees it under WOW6432Node.) A program
// that runs without an administrator's rights (a limited user on Windows XP)
// keeps them under HKEY_CURRENT_USER instead.
#pragma once

#include <cstdint>
#include <string>

// The highest configuration version this machine has accepted; 0 when none.
uint64_t AcceptedConfigVersion();
// Keeps `version` as the highest accepted; false (logged) when it can't.
bool KeepAcceptedConfigVersion(uint64_t version);

// The secret the repair journals are signed with, made (32 random bytes) on
// first use; false (logged) when it can't be read or made.
bool JournalKey(std::string& key);

// The id of the repair under way in the game folder whose identity (see
// LinkFreeTree::Identity) is `folder`, to which that repair's journal is
// bound: made anew (16 random bytes) as a repair starts its journal, and
// forgotten once the journal is gone. A journal of any other repair, a copy
// of a genuine one put back later, is then no journal of ours. False
// (logged) when it can't be made; RepairIdOf is false when there is none.
bool NewRepairId(const std::wstring& folder, std::string& id);
bool RepairIdOf(const std::wstring& folder, std::string& id);
void ForgetRepairId(const std::wstring& folder);
