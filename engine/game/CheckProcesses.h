// Which of the game's programs run from its folder.
#pragma once

#include <string>
#include <vector>

// True when none of the `listed` executable names runs from `folder`;
// otherwise `name` is the executable name of the last one found.
bool CheckProcesses(const std::vector<std::wstring>& listed, const std::wstring& folder, std::wstring& name);
