// Acting on a name itself, never on what a link there points to. The program
// runs as administrator in folders that ordinary users can write: a junction,
// symbolic link or mount point (a reparse point), or a hard link to a file
// elsewhere, put where the program writes would make it write for them.
#pragma once

#include "ScopedHandle.h"

#include <windows.h>

#include <string>

// Whether `path` itself is a reparse point; false when nothing is there.
bool IsLink(const std::wstring& path);

// The attributes of the open `file`, and how many names (hard links) it has;
// false when they can't be had. Cheaper than GetFileInformationByHandle,
// which also asks for the volume's serial number.
bool AttributesOf(HANDLE file, DWORD& attributes);
bool FileFacts(HANDLE file, DWORD& attributes, DWORD& links);

// Whether the open `file` is a link itself or has other hard links; also
// false when that can't be told.
bool IsLinkedFile(HANDLE file);

// Opens `path` for writing as a file of the program's own: one that is no
// link and has no other name. When `keep`, such a file that is already there
// is opened as it is and `kept` is set; anything else there (a link, a hard
// link, a file when `keep` is false) is deleted (the name itself) and the file
// is created anew, only where no file is (CREATE_NEW). Invalid on failure,
// with the system's error in GetLastError.
ScopedHandle OpenOwnFile(const std::wstring& path, DWORD access, DWORD share, bool keep, bool& kept);

// Deletes the file `path` itself: a link there is removed, never what it points
// to; a folder, or a link to one, is left alone (false). A read-only file loses that attribute first, through its own handle, and
// only when it has no other hard link. True when nothing is left under that
// name; otherwise GetLastError tells why.
bool DeleteItself(const std::wstring& path);

// Deletes the open `file` (opened with DELETE, FILE_READ_ATTRIBUTES and
// FILE_WRITE_ATTRIBUTES, without following a link) as DeleteItself does, and
// closes it; a folder is refused (ERROR_DIRECTORY).
bool DeleteOpened(ScopedHandle& file);

// Sets the attributes of the open `file` through its handle, so that a name
// swapped meanwhile for another file can't receive them.
bool SetAttributesOf(HANDLE file, DWORD attributes);
