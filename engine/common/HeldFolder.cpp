#include "HeldFolder.h"

#include "DiagnosticsLog.h"
#include "EntryPath.h"
#include "FileLinks.h"
#include "FileNameCase.h"
#include "PassingHold.h"

#include <cwchar>
#include <utility>

namespace {

// A folder held: reading it (a handle without data access would not take
// part in sharing), no delete sharing (nobody may rename or remove it).
constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
constexpr DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsReparsePoint(HANDLE handle, DWORD& attributes)
{
    return AttributesOf(handle, attributes) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

std::wstring GameFolderPath(const std::wstring& folder)
{
    std::wstring path = WithWindowsSeparators(folder);
    while (path.size() > 1 && path.back() == L'\\' && path[path.size() - 2] != L':') {
        path.pop_back();
    }
    return path;
}

std::shared_ptr<HeldFolder> OpenFolderOf(const std::wstring& path)
{
    auto folder = std::make_shared<HeldFolder>();
    const size_t slash = path.find_last_of(L"\\/");
    // A drive's root keeps its separator: "D:" alone is the drive's current folder.
    const size_t end = slash == 2 && path[1] == L':' ? 3 : slash;
    if (slash == std::wstring::npos || !folder->Open(path.substr(0, end))) {
        return nullptr;
    }
    return folder;
}

std::wstring HeldFolder::IdentityAt(const std::wstring& path, ScopedHandle* keep)
{
    ScopedHandle folder(::CreateFileW(path.c_str(), kFolderAccess | SYNCHRONIZE, kFolderShare, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION facts;
    if (!folder.IsValid() || !GetFileInformationByHandle(folder.Get(), &facts)) {
        return std::wstring();
    }
    // A link on the way may lead to a device or to one of the system's object
    // directories, where names stand for anything: only a file system's
    // folder is acted in.
    if ((facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || GetFileType(folder.Get()) != FILE_TYPE_DISK) {
        SetLastError(ERROR_DIRECTORY);
        return std::wstring();
    }
    wchar_t text[64];
    swprintf(text, 64, L"volume %08lX file %08lX%08lX", static_cast<unsigned long>(facts.dwVolumeSerialNumber),
             static_cast<unsigned long>(facts.nFileIndexHigh), static_cast<unsigned long>(facts.nFileIndexLow));
    if (keep != nullptr) {
        *keep = std::move(folder);
    }
    return text;
}

bool HeldFolder::Open(const std::wstring& path)
{
    path_ = GameFolderPath(path);
    held_.clear();
    moved_ = false;
    root_.Close();
    // The folder's own path is resolved here, once.
    identity_ = IdentityAt(path_, &root_);
    if (identity_.empty()) {
        const DWORD error = GetLastError();
        Log(error == ERROR_DIRECTORY ? L"refused: " + path_ + L" is not a folder of a file system"
                                     : L"can't open the folder " + path_ + L": " + ErrorText(error));
        SetLastError(error);
        return false;
    }
    return true;
}

bool HeldFolder::StillThere()
{
    if (!moved_ && IdentityAt(path_, nullptr) != identity_) {
        Log(L"refused: the folder " + path_ +
            L" is no longer where its path leads (renamed away, or a link put in its place): nothing more is done in it");
        moved_ = true;
    }
    return !moved_;
}

std::wstring HeldFolder::Below(const std::wstring& path) const
{
    const bool endsInSeparator = !path_.empty() && path_.back() == L'\\';
    const size_t start = path_.size() + (endsInSeparator ? 0 : 1);
    if (path.size() <= start || path.compare(0, path_.size(), path_) != 0 ||
        (!endsInSeparator && path[path_.size()] != L'\\')) {
        return std::wstring();
    }
    return path.substr(start);
}

std::wstring HeldFolder::PathOf(const std::wstring& relative) const
{
    return path_.back() == L'\\' ? path_ + relative : path_ + L"\\" + relative;
}

bool HeldFolder::RefuseLink(const std::wstring& path)
{
    Log(L"refused: " + path + L" is a link (a junction, symbolic link or mount point) below the folder " + path_);
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
}

HANDLE HeldFolder::Folder(const std::wstring& relative, bool create, bool* created)
{
    if (created != nullptr) {
        *created = false;
    }
    if (moved_) {
        SetLastError(ERROR_FILE_INVALID);
        return nullptr;
    }
    if (relative.empty()) {
        return root_.Get();
    }
    const std::wstring key = FileNameKey(relative);
    {
        CriticalSectionLocker locked(lock_);
        const auto found = held_.find(key);
        if (found != held_.end()) {
            return found->second.Get();
        }
    }
    const size_t slash = relative.find_last_of(L'\\');
    HANDLE parent = Folder(slash == std::wstring::npos ? std::wstring() : relative.substr(0, slash), false);
    if (parent == nullptr) {
        return nullptr;
    }
    const std::wstring name = slash == std::wstring::npos ? relative : relative.substr(slash + 1);
    bool made = false;
    ScopedHandle folder = OpenBelow(parent, name, kFolderAccess, kFolderShare,
                                    create ? Disposition::OpenOrCreate : Disposition::OpenExisting, Kind::Folder, false,
                                    &made);
    if (!folder.IsValid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_DIRECTORY) {
            Log(L"refused: a file stands where the folder " + PathOf(relative) + L" is");
        } else if (!IsMissing(error)) {
            // Not held, anyone could rename it away and put a link in its place.
            Log(L"refused: " + PathOf(relative) + L" can't be held open below the folder " + path_ + L": " + ErrorText(error));
        }
        SetLastError(IsMissing(error) ? ERROR_PATH_NOT_FOUND : error);
        return nullptr;
    }
    // Through the handle, and by its name in the folder held above it: some
    // systems (wine) open a link's target even when asked for the link.
    DWORD attributes = 0;
    if (IsReparsePoint(folder.Get(), attributes) ||
        (AttributesBelow(parent, name) & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        RefuseLink(PathOf(relative));
        return nullptr;
    }
    if (created != nullptr) {
        *created = made;
    }
    CriticalSectionLocker locked(lock_);
    // Another thread may have held it meanwhile: the first handle stays.
    auto held = held_.emplace(key, std::move(folder)).first;
    return held->second.Get();
}

HANDLE HeldFolder::ParentOf(const std::wstring& path, std::wstring& name)
{
    const std::wstring below = Below(path);
    if (below.empty()) {
        Log(L"refused: " + path + L" is not below the folder " + path_);
        SetLastError(ERROR_BAD_PATHNAME);
        return nullptr;
    }
    const size_t slash = below.find_last_of(L'\\');
    name = slash == std::wstring::npos ? below : below.substr(slash + 1);
    return Folder(slash == std::wstring::npos ? std::wstring() : below.substr(0, slash), false);
}

bool HeldFolder::HoldFoldersOf(const std::wstring& path)
{
    std::wstring name;
    return ParentOf(path, name) != nullptr || IsMissing(GetLastError());
}

bool HeldFolder::CreateFolder(const std::wstring& path, bool& created)
{
    created = false;
    const std::wstring below = Below(path);
    if (below.empty()) {
        Log(L"refused: " + path + L" is not below the folder " + path_);
        SetLastError(ERROR_BAD_PATHNAME);
        return false;
    }
    return Folder(below, true, &created) != nullptr;
}

void HeldFolder::Release(const std::wstring& path)
{
    const std::wstring below = Below(path);
    if (below.empty()) {
        return;
    }
    const std::wstring key = FileNameKey(below);
    CriticalSectionLocker locked(lock_);
    for (auto held = held_.lower_bound(key); held != held_.end() && held->first.compare(0, key.size(), key) == 0;) {
        if (held->first.size() == key.size() || held->first[key.size()] == L'\\') {
            held = held_.erase(held);
        } else {
            ++held;
        }
    }
}

void HeldFolder::ReleaseBelow()
{
    CriticalSectionLocker locked(lock_);
    held_.clear();
}

bool HeldFolder::RemoveFolder(const std::wstring& path)
{
    Release(path);
    std::wstring name;
    HANDLE parent = ParentOf(path, name);
    if (parent == nullptr) {
        return false;
    }
    return WaitOutHolds(
        path,
        [&] {
            ScopedHandle folder = OpenBelow(parent, name, DELETE | FILE_READ_ATTRIBUTES, kShareAll,
                                            Disposition::OpenExisting, Kind::Folder);
            DWORD attributes = 0;
            if (!folder.IsValid()) {
                return false;
            }
            if (IsReparsePoint(folder.Get(), attributes)) {
                return RefuseLink(path);
            }
            return MarkForDeletion(folder.Get()) && folder.Close();
        },
        [&] { return Exists(path); });
}

ScopedHandle HeldFolder::OpenItself(const std::wstring& path, DWORD access, DWORD share, Kind kind)
{
    std::wstring name;
    HANDLE parent = ParentOf(path, name);
    return parent == nullptr ? ScopedHandle()
                             : OpenBelow(parent, name, access, share, Disposition::OpenExisting, kind);
}

DWORD HeldFolder::Attributes(const std::wstring& path)
{
    std::wstring name;
    HANDLE parent = ParentOf(path, name);
    return parent == nullptr ? INVALID_FILE_ATTRIBUTES : AttributesBelow(parent, name);
}

bool HeldFolder::List(const std::wstring& path,
                      const std::function<void(const std::wstring& name, DWORD attributes)>& each)
{
    const std::wstring below = path == path_ ? std::wstring() : Below(path);
    if (below.empty() && path != path_) {
        SetLastError(ERROR_BAD_PATHNAME);
        return false;
    }
    HANDLE folder = Folder(below, false);
    if (folder == nullptr) {
        return false;
    }
    // One listing of a handle at a time.
    CriticalSectionLocker locked(lock_);
    return ListOpenFolder(folder, each);
}

ScopedHandle HeldFolder::OpenFile(const std::wstring& path, DWORD access, DWORD share, bool waiting, bool sequential)
{
    std::wstring name;
    HANDLE parent = ParentOf(path, name);
    if (parent == nullptr) {
        return ScopedHandle();
    }
    ScopedHandle file;
    const auto open = [&] {
        file = OpenBelow(parent, name, access | FILE_READ_ATTRIBUTES, share, Disposition::OpenExisting, Kind::File,
                         sequential);
        return file.IsValid();
    };
    if (!(waiting ? WaitOutHolds(path, open, [&] { return Exists(path); }) : open())) {
        return ScopedHandle();
    }
    DWORD attributes = 0;
    if (IsReparsePoint(file.Get(), attributes)) {
        RefuseLink(path);
        return ScopedHandle();
    }
    return file;
}

ScopedHandle HeldFolder::CreateNew(const std::wstring& path, DWORD access, DWORD share)
{
    std::wstring name;
    HANDLE parent = ParentOf(path, name);
    if (parent == nullptr) {
        return ScopedHandle();
    }
    ScopedHandle file;
    WaitOutHolds(
        path,
        [&] {
            file = OpenBelow(parent, name, access, share, Disposition::CreateNew, Kind::File);
            return file.IsValid();
        },
        [&] { return Exists(path); });
    return file;
}

ScopedHandle HeldFolder::OpenOwnFile(const std::wstring& path, DWORD access, DWORD share, bool keep, bool& kept)
{
    kept = false;
    if (keep) {
        ScopedHandle file;
        WaitOutHolds(
            path,
            [&] {
                file = OpenItself(path, access | FILE_READ_ATTRIBUTES, share, Kind::File);
                return file.IsValid();
            },
            [&] { return Exists(path); });
        // Not a link, and no other name of a file elsewhere: written through, it would change that file.
        if (file.IsValid() && !IsLinkedFile(file.Get())) {
            kept = true;
            return file;
        }
    }
    if (!Delete(path)) {
        return ScopedHandle();
    }
    return CreateNew(path, access, share);
}

bool HeldFolder::Delete(const std::wstring& path)
{
    std::wstring name;
    HANDLE parent = ParentOf(path, name);
    if (parent == nullptr) {
        return IsMissing(GetLastError());
    }
    return WaitOutHolds(
        path,
        [&] {
            ScopedHandle file = OpenBelow(parent, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                          kShareAll, Disposition::OpenExisting, Kind::Any);
            if (!file.IsValid()) {
                return IsMissing(GetLastError());
            }
            return DeleteOpened(file);
        },
        [&] { return Exists(path); });
}

bool HeldFolder::Move(const std::wstring& from, const std::wstring& to)
{
    std::wstring fromName, toName;
    HANDLE fromParent = ParentOf(from, fromName);
    HANDLE toParent = fromParent == nullptr ? nullptr : ParentOf(to, toName);
    if (toParent == nullptr) {
        return false;
    }
    return WaitOutHolds(
        from,
        [&] {
            // The name itself moves: a link there is renamed, never followed.
            ScopedHandle file =
                OpenBelow(fromParent, fromName, DELETE, kShareAll, Disposition::OpenExisting, Kind::File);
            return file.IsValid() && RenameInto(file.Get(), toParent, toName, false);
        },
        [&] { return Exists(from); });
}
