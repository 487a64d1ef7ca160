// ntdll's file calls, which every Windows from XP on has: opening one name
// relative to an open folder, renaming and deleting through a handle, listing
// an open folder. They are looked up at run time (ntdll is loaded in every
// process) rather than imported. Where a path is resolved again at every act,
// anyone who can rename a folder on it can send the act elsewhere; a handle
// keeps pointing at what it was opened on.
#pragma once

#include "ScopedHandle.h"

#include <windows.h>

#include <functional>
#include <string>

enum class Disposition { OpenExisting, CreateNew, OpenOrCreate };

// What is opened: a folder, a file, or either.
enum class Kind { Folder, File, Any };

// Opens `name` (one name, no separator; empty for `folder` itself) in the open
// folder `folder`. A link (junction, symbolic link, mount point) at `name` is
// opened itself, never followed. The handle is synchronous, as CreateFileW
// gives one. `created` (may be null) says whether the call made it. Invalid,
// with the system's error in GetLastError, on failure: ERROR_FILE_EXISTS when
// CreateNew finds a name there, as CreateFileW says it.
ScopedHandle OpenBelow(HANDLE folder, const std::wstring& name, DWORD access, DWORD share, Disposition disposition,
                       Kind kind, bool sequential = false, bool* created = nullptr);

// Renames the open `file` (opened with DELETE) to `name` in the open folder
// `folder`; an existing `name` is replaced only when `replace`
// (ERROR_ALREADY_EXISTS otherwise).
bool RenameInto(HANDLE file, HANDLE folder, const std::wstring& name, bool replace);

// Marks the open `file` (opened with DELETE) for deletion when its last
// handle closes: the name goes with it, and a link is removed itself.
bool MarkForDeletion(HANDLE file);

// Gives `each` every entry of the open `folder` (opened with
// FILE_LIST_DIRECTORY), "." and ".." left out, with its attributes; false,
// with the system's error, when it can't be listed. The folder's handle must
// not be listed by two threads at once.
bool ListOpenFolder(HANDLE folder, const std::function<void(const std::wstring& name, DWORD attributes)>& each);

// The attributes of `name` (one name) in the open folder `folder`, of the name
// itself where it is a link; INVALID_FILE_ATTRIBUTES with the system's error.
DWORD AttributesBelow(HANDLE folder, const std::wstring& name);

// A second handle of its own (its own file position) to the open `file`, the
// very same file whatever its name is now: opened through `file` itself (an
// empty name relative to its handle), or, where this Windows can't, by its
// name `path`; either way checked to be that file (some systems, wine among
// them, reopen by the name it was opened under), else invalid with
// ERROR_FILE_INVALID.
ScopedHandle ReopenFile(HANDLE file, const std::wstring& path, DWORD access, DWORD share);

// The bytes free to this user on the volume of the open `file`; false with
// the system's error.
bool FreeBytes(HANDLE file, unsigned long long& bytes);

// NtQueryInformationFile / NtSetInformationFile of one class; false, with the
// system's error, on failure.
bool FileInformation(HANDLE file, void* information, ULONG size, int kind, bool set);
