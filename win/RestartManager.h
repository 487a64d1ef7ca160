// Which programs hold a file open, as Windows' Restart Manager (Vista and
// later) tells it; loaded at run time from the system folder, so that the
// program still starts on XP, where nothing can tell.
#pragma once

#include <string>

// "name (process N), ..." of the programs that hold `path`; empty when none
// is known or this Windows can't tell.
std::wstring ProgramsHolding(const std::wstring& path);
