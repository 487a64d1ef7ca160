// A folder the program acts in as administrator where ordinary users may
// often write: the game folder, and the temporary folder downloads go to. It
// is opened once, its own path resolved this one time (that path may pass
// links: games are moved between drives that way), and held open until the
// object ends. Everything below it is reached through handles: each folder on
// the way is opened by its one name from its parent's handle, never through a
// link, and held without delete sharing; each act then opens its one name
// from its folder's handle. A folder renamed away and a link put under its
// name change nothing of what is acted on, and a link met below is refused
// (logged). Nothing in a held folder is acted on by a path the system
// resolves again.
//
// Paths given to it are full paths below Path(), as the log names them.
// Acts that another program's hold can fail for a moment (a virus scanner,
// an indexer) wait it out (see PassingHold.h).
#pragma once

#include "CriticalSection.h"
#include "NtFiles.h"
#include "ScopedHandle.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>

// The path of a folder as the program uses it: "\\" separators, and no
// separator at its end unless it is a drive's root ("D:\\").
std::wstring GameFolderPath(const std::wstring& folder);

// Whether an act's error says the name isn't there, or its folder isn't.
inline bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

class HeldFolder;

// The folder `path` lies in, opened for the caller; null (logged) when it
// can't be.
std::shared_ptr<HeldFolder> OpenFolderOf(const std::wstring& path);

class HeldFolder {
public:
    HeldFolder() = default;
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;

    // Opens and holds the folder at `path`; false (logged) when it can't be
    // opened, or isn't a folder of a file system (a device, an object
    // directory of the system).
    bool Open(const std::wstring& path);
    bool IsOpen() const { return root_.IsValid(); }

    // Its path as opened, and its identity on this machine (its volume and file
    // index), the same whatever path leads to it.
    const std::wstring& Path() const { return path_; }
    const std::wstring& Identity() const { return identity_; }

    // Whether the folder's path still leads to the folder held. Where it
    // doesn't (the folder renamed away, a link put under its name), this is
    // logged and every act from then on is refused (ERROR_FILE_INVALID):
    // Windows acts on the handles alone, but some systems (wine) rename and
    // delete by the name a file was opened under. Asked before each batch of
    // acts (a download, an extraction, a commit, a roll-back).
    bool StillThere();
    bool Moved() const { return moved_; }

    // The part of `path` below the folder ("Cross\\a.txt"); empty when `path`
    // isn't below it. PathOf is the other way round.
    std::wstring Below(const std::wstring& path) const;
    std::wstring PathOf(const std::wstring& relative) const;

    // Holds every folder on the way to `path` (not `path` itself). False
    // (logged) at a link, at a folder there that can't be held, or for a path
    // not below; a folder on the way that doesn't exist is no refusal (what
    // acts below it fails).
    bool HoldFoldersOf(const std::wstring& path);
    // Creates the folder `path` where none is, the folders on the way held
    // first, and holds it; `created` says whether this call made it. False
    // (logged when a link or a file is in the way), with the system's error.
    bool CreateFolder(const std::wstring& path, bool& created);
    // Removes the empty folder `path`; false with the system's error
    // (ERROR_DIR_NOT_EMPTY when something is in it).
    bool RemoveFolder(const std::wstring& path);

    // What is at `path` (the name itself, not a link's target), or
    // INVALID_FILE_ATTRIBUTES with the system's error.
    DWORD Attributes(const std::wstring& path);
    bool Exists(const std::wstring& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }
    // Every name in the folder `path`, with its attributes; false with the system's error.
    bool List(const std::wstring& path, const std::function<void(const std::wstring& name, DWORD attributes)>& each);

    // The existing file `path` itself (a link there is refused,
    // ERROR_CANT_ACCESS_FILE, and logged); invalid with the system's error.
    // `waiting`: another program's hold is waited out.
    ScopedHandle OpenFile(const std::wstring& path, DWORD access, DWORD share, bool waiting, bool sequential = false);
    // A new file at `path`, only where no name is (ERROR_FILE_EXISTS).
    ScopedHandle CreateNew(const std::wstring& path, DWORD access, DWORD share);
    // A file of the program's own at `path`: with `keep`, one that is there,
    // no link and without another name, is opened as it is and `kept` set;
    // anything else there is deleted and the file made anew.
    ScopedHandle OpenOwnFile(const std::wstring& path, DWORD access, DWORD share, bool keep, bool& kept);
    // Deletes the file `path` itself (a link there is removed, never what it
    // points to; a read-only file too, where it has no other name); true when
    // nothing is left under that name. A folder there is refused.
    bool Delete(const std::wstring& path);
    // Renames the file `from` to `to`, which must not exist.
    bool Move(const std::wstring& from, const std::wstring& to);

    // The bytes free to this user on the folder's drive; false when not known.
    bool FreeBytes(unsigned long long& bytes) const { return ::FreeBytes(root_.Get(), bytes); }

    // Logs the refusal of the link found at `path` below the folder; false,
    // with ERROR_CANT_ACCESS_FILE.
    bool RefuseLink(const std::wstring& path);

    // Lets go of the folder `path` (and what is held below it); of every
    // folder below the root.
    void Release(const std::wstring& path);
    void ReleaseBelow();

private:
    // The held folder `relative` ("" for the root), held from now on; null
    // with the system's error (a missing one: ERROR_PATH_NOT_FOUND) when it
    // can't be had. `create`: made where missing.
    HANDLE Folder(const std::wstring& relative, bool create, bool* created = nullptr);
    // The held folder of `path` and its last name; null with the system's error.
    HANDLE ParentOf(const std::wstring& path, std::wstring& name);
    // Opens the name `path` itself in its held folder.
    ScopedHandle OpenItself(const std::wstring& path, DWORD access, DWORD share, Kind kind);

    // The identity of the folder at `path`, opened by name; empty when it can't be.
    static std::wstring IdentityAt(const std::wstring& path, ScopedHandle* keep);

    std::wstring path_;
    std::wstring identity_;
    std::atomic<bool> moved_{false};
    ScopedHandle root_;
    CriticalSection lock_;                       // the scan's threads open files at once
    std::map<std::wstring, ScopedHandle> held_;  // relative path as FileNameKey gives it -> its folder
};
