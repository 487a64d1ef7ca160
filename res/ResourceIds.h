// Resource ids, shared by the resource scripts and the code: what each number
// in the program's resources is. Plain macros, so that the resource compiler
// reads them too.
#pragma once

// The window icon (one group: 48, 32, 24 and 16 pixels at 24 bits, 64 at 32).
#define IDI_APP_ICON 107

// The message dialogs' template: empty, the toolkit draws everything in it.
#define IDD_MESSAGE_DIALOG 103

// The skin (PNG images drawn by tools/make_skin.py).
#define IDB_MAIN_BACKGROUND 130         // the main window, 548 x 300, with the emblem
#define IDB_DIALOG_BACKGROUND 141       // a message dialog, 347 x 209
#define IDB_TITLE_EMBLEM 150            // the small emblem before the main window's title
#define IDB_FOLDER_FIELD 142            // the frame under the folder field
#define IDB_PROGRESS_TRACK 144          // the empty progress bar, 338 x 14
#define IDB_PROGRESS_FILL 145           // the fill, a 1 x 12 strip stretched over the track

// Large buttons (修复, 关闭, 确定, 重试, 取消).
#define IDB_LARGE_BUTTON_NORMAL 136
#define IDB_LARGE_BUTTON_HOVER 135
#define IDB_LARGE_BUTTON_PRESSED 137
#define IDB_LARGE_BUTTON_DISABLED 134

// The small button (浏览).
#define IDB_SMALL_BUTTON_NORMAL 132
#define IDB_SMALL_BUTTON_HOVER 131
#define IDB_SMALL_BUTTON_PRESSED 133
#define IDB_SMALL_BUTTON_DISABLED 149

// The caption's close glyph; it has no disabled look of its own.
#define IDB_CLOSE_GLYPH_NORMAL 139
#define IDB_CLOSE_GLYPH_HOVER 138
#define IDB_CLOSE_GLYPH_PRESSED 140

// The caption's minimise glyph; it has no disabled look of its own.
#define IDB_MINIMIZE_GLYPH_NORMAL 147
#define IDB_MINIMIZE_GLYPH_HOVER 146
#define IDB_MINIMIZE_GLYPH_PRESSED 148
