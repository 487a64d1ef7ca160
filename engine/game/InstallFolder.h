// Where the game is installed: the folder that holds its Cross folder.
#pragma once

#include <string>

// True when `folder` holds an entry named Cross.
bool IsInstallFolder(const std::wstring& folder);

// The game folder from the game's registry value, the desktop shortcut, or
// the usual install folders, in that order; false (logged) when none is one.
bool FindInstallFolder(std::wstring& folder);
