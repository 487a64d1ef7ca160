// Turning an archive entry name into a path inside the destination folder.
#pragma once

#include <string>

// Paths are built in buffers of this many characters, terminating zero included.
constexpr size_t kMaxOutputPath = 260;

// False for a name that could leave the destination folder, name something
// other than a plain file, or that Windows can't hold as it stands: empty,
// rooted ("/", "\"), an empty component ("a//b", "a/"), a drive or stream
// (any ":"), a component that ends in a
// dot or a blank ("..", "." and "a.txt." among them), a control character or
// one of < > " | ? *, or a device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$,
// COM0-9, LPT0-9, COM and LPT with a superscript 1-3, with or without an
// extension) as a component. "/" and "\" both separate components. The
// paths a repair's journal names follow the same rule. tools/publish-package
// refuses the same names.
bool IsSafeEntryName(const std::wstring& name);

// `path` with Windows' separator only: each "/" becomes "\".
std::wstring WithWindowsSeparators(std::wstring path);

// folder + "\" + entry (a drive's root, "D:\", ends in its separator
// already), with Windows' separators.
std::wstring PathBelow(const std::wstring& folder, const std::wstring& entry);

// PathBelow(destination, name), or false when that does not fit kMaxOutputPath.
bool JoinOutputPath(const std::wstring& destination, const std::wstring& name, std::wstring& path);

// The `index`-th of the short names that a file can be written under before it
// replaces its target when "<target>.part" would not fit: "~", "0" ... "z",
// "~~", "~0" ..., shortest first.
std::wstring ShortStagingName(unsigned index);
