// Windows' own refusal of junctions that ordinary users made (RedirectionGuard:
// Windows 11 22H2 and later, some updated Windows 10 and Server builds). An
// elevated process that turns it on never follows such a junction on any
// path it opens. Older Windows lack the call or the policy; nothing changes
// there.
#pragma once

#include <windows.h>

enum class RedirectionTrust {
    On,          // asked for, and Windows says it is in force
    NotOn,       // asked for, refused or not confirmed (`error` says why where Windows tells)
    NotOffered,  // this Windows has no such call
};

// Turns the policy on for this process, as early as possible.
RedirectionTrust TrustOnlyAdministratorsJunctions(DWORD& error);
