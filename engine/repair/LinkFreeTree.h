// The game folder as the repair works in it, as administrator, where ordinary
// users may often write: no path below it that the repair creates, writes,
// moves, deletes or recovers may pass through a link (a junction, symbolic
// link or mount point), which would take the repair anywhere on the machine.
// The folder's own path may hold links (that is how games are moved between
// drives); only what lies below it may not.
//
// Each folder below it that a path passes is checked once and then held open
// without delete sharing until the repair ends, so that nobody can rename it
// away and put a link under its name meanwhile. Right before each act the
// path's own folder is checked again through its handle. The name acted on is
// never followed by the acts themselves (a rename moves a link, CREATE_NEW
// fails on one, DeleteItself removes one), so it is not looked up again: a
// name that isn't there costs some systems a scan of its whole folder.
#pragma once

#include "ScopedHandle.h"

#include <map>
#include <string>

// The game folder's path as the repair uses it: "\\" separators, and no
// separator at its end unless it is a drive's root ("D:\\").
std::wstring GameFolderPath(const std::wstring& folder);

class LinkFreeTree {
public:
    // `root` as GameFolderPath gives it.
    explicit LinkFreeTree(const std::wstring& root) : root_(root) {}

    LinkFreeTree(const LinkFreeTree&) = delete;
    LinkFreeTree& operator=(const LinkFreeTree&) = delete;

    // Holds the root folder itself; false (logged) when it can't be opened.
    bool Open();

    // The root folder's identity on this machine (its volume and file index),
    // the same whatever path leads to it; empty before Open.
    const std::wstring& Identity() const { return identity_; }

    // True when every folder between the root and `path` (the root followed
    // by "\" and a relative path) is a real folder, no link; `path` itself is
    // not looked at. The folders on the way are held from now on. False logs
    // the link it found, a folder on the way that can't be held (another
    // program holds it without sharing, say), or a path that isn't below the
    // root.
    bool CheckFolders(const std::wstring& path);

    // Creates the folder `path` where none is, the folders on the way checked
    // as by CheckFolders, and holds it; `created` says whether this call made
    // it. False (logged) only when a link is in the way; other failures are
    // left to what follows.
    bool CreateFolder(const std::wstring& path, bool& created);

    // Lets go of the folder `path`, which the caller is about to remove.
    void Release(const std::wstring& path);

    // The part of `path` below the root ("Cross\\a.txt"); empty when `path`
    // isn't below it.
    std::wstring Below(const std::wstring& path) const;

    // Logs the refusal of the link `link`; false.
    bool Refuse(const std::wstring& link) const;

private:
    // Holds the existing folder `path` (relative key `key`); false for a link
    // or a folder that can't be held.
    bool Hold(const std::wstring& path, const std::wstring& key);

    std::wstring root_;
    std::wstring identity_;
    ScopedHandle rootHandle_;
    std::map<std::wstring, ScopedHandle> held_;  // relative path as FileNameKey gives it -> its folder
};
