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
