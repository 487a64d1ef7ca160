// Turning an archive entry name into a path inside the destination folder.
#pragma once

#include <set>
#include <string>

// Paths are built in buffers of this many characters, terminating zero included.
constexpr size_t kMaxOutputPath = 260;

// False for a name that could leave the destination folder, name something
// other than a plain file, or that Windows can't hold as it stands: empty,
// rooted ("/", "\"), a drive or stream (any ":"), a component that ends in a
// dot or a blank ("..", "." and "a.txt." among them), a control character or
// one of < > " | ? *, or a device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$,
// COM0-9, LPT0-9, COM and LPT with a superscript 1-3, with or without an
// extension) as a component. tools/publish-package refuses the same names.
bool IsSafeEntryName(const std::wstring& name);

// destination + "\" + name, or false when that does not fit kMaxOutputPath.
bool JoinOutputPath(const std::wstring& destination, const std::wstring& name, std::wstring& path);

// Creates the folders of one extraction, each at most once: a package of many
// files in few folders would otherwise ask for every folder again with each file.
class FolderMaker {
public:
    // Creates every folder along `path`, parent first, at each "/", and turns
    // the "/" into "\". Failures are left to the file creation that follows.
    void CreateAlong(std::wstring& path);
    // Creates the folder `path` itself (a folder entry).
    void Create(const std::wstring& path);

private:
    std::set<std::wstring> made_;
};

// The `index`-th of the short names that a file can be written under before it
// replaces its target when "<target>.part" would not fit: "~", "0" ... "z",
// "~~", "~0" ..., shortest first.
std::wstring ShortStagingName(unsigned index);
