// The two modal message dialogs, skinned like the main window.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// One text with "确定": 1 for 确定, 2 when closed otherwise, -1 when it can't be made.
int32_t ShowInfoDialog(HWND owner, const std::wstring& text);

// Names a program still running from the game folder: 1 for "重试", 2 for
// "取消" or any other close, -1 when it can't be made.
int32_t ShowProcessDialog(HWND owner, const std::wstring& processName);
