#include "LinkFreeTree.h"

#include "FileNameCase.h"
#include "DiagnosticsLog.h"
#include "FileLinks.h"

#include <cwchar>

namespace {

bool HeldFolderIsLink(HANDLE folder)
{
    DWORD attributes = 0;
    return !AttributesOf(folder, attributes) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A folder opened to be held: reading it (a handle without data access would
// not take part in sharing), no delete sharing (nobody may rename or remove
// it), the name itself if it is a link.
ScopedHandle OpenFolder(const std::wstring& path, DWORD flags)
{
    return ScopedHandle(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
}

}  // namespace

std::wstring GameFolderPath(const std::wstring& folder)
{
    std::wstring path = folder;
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    while (path.size() > 1 && path.back() == L'\\' && path[path.size() - 2] != L':') {
        path.pop_back();
    }
    return path;
}

std::wstring LinkFreeTree::Below(const std::wstring& path) const
{
    const bool endsInSeparator = !root_.empty() && root_.back() == L'\\';
    const size_t start = root_.size() + (endsInSeparator ? 0 : 1);
    if (path.size() <= start || path.compare(0, root_.size(), root_) != 0 ||
        (!endsInSeparator && path[root_.size()] != L'\\')) {
        return std::wstring();
    }
    return path.substr(start);
}

bool LinkFreeTree::Open()
{
    // The root's own path may pass links: it is opened as it resolves.
    rootHandle_ = OpenFolder(root_, 0);
    BY_HANDLE_FILE_INFORMATION facts;
    if (!rootHandle_.IsValid() || !GetFileInformationByHandle(rootHandle_.Get(), &facts)) {
        Log(L"can't open the game folder " + root_ + L": " + ErrorText(GetLastError()));
        rootHandle_.Close();
        return false;
    }
    wchar_t text[64];
    swprintf(text, 64, L"volume %08lX file %08lX%08lX", static_cast<unsigned long>(facts.dwVolumeSerialNumber),
             static_cast<unsigned long>(facts.nFileIndexHigh), static_cast<unsigned long>(facts.nFileIndexLow));
    identity_ = text;
    return true;
}

bool LinkFreeTree::Refuse(const std::wstring& link) const
{
    Log(L"refused: " + link + L" is a link (a junction, symbolic link or mount point) below the game folder");
    return false;
}

bool LinkFreeTree::Hold(const std::wstring& path, const std::wstring& key)
{
    if (IsLink(path)) {
        return Refuse(path);
    }
    ScopedHandle folder = OpenFolder(path, FILE_FLAG_OPEN_REPARSE_POINT);
    if (!folder.IsValid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return true;  // nothing there to follow; what acts on it will fail
        }
        // Not held, anyone could rename it away and put a link in its place.
        Log(L"refused: " + path + L" can't be held open below the game folder: " + ErrorText(error));
        return false;
    }
    DWORD attributes = 0;
    if (!AttributesOf(folder.Get(), attributes)) {
        Log(L"refused: the attributes of " + path + L" can't be read: " + ErrorText(GetLastError()));
        return false;
    }
    // Checked again through the handle, and by name once it is held: a link
    // put there in between is found either way.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || IsLink(path)) {
        return Refuse(path);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        held_.emplace(key, std::move(folder));
    }
    return true;  // a file in a folder's place is left to fail what acts on it
}

bool LinkFreeTree::CheckFolders(const std::wstring& path)
{
    const std::wstring below = Below(path);
    if (below.empty()) {
        Log(L"refused: " + path + L" is not below the game folder " + root_);
        return false;
    }
    const std::wstring key = FileNameKey(below);
    const size_t start = path.size() - below.size();
    HANDLE parent = rootHandle_.Get();
    for (size_t slash = key.find(L'\\'); slash != std::wstring::npos; slash = key.find(L'\\', slash + 1)) {
        const std::wstring folderKey = key.substr(0, slash);
        auto held = held_.find(folderKey);
        if (held == held_.end()) {
            if (!Hold(path.substr(0, start + slash), folderKey)) {
                return false;
            }
            held = held_.find(folderKey);
            if (held == held_.end()) {
                return true;  // it doesn't exist: neither does anything below it
            }
        }
        parent = held->second.Get();
    }
    // The folder the act happens in: an empty one could have become a link in
    // place since it was held.
    if (parent != rootHandle_.Get() && HeldFolderIsLink(parent)) {
        return Refuse(path.substr(0, path.find_last_of(L'\\')));
    }
    return true;
}

bool LinkFreeTree::CreateFolder(const std::wstring& path, bool& created)
{
    created = false;
    if (!CheckFolders(path)) {
        return false;
    }
    created = CreateDirectoryW(path.c_str(), nullptr) != FALSE;
    const std::wstring key = FileNameKey(Below(path));
    return held_.count(key) != 0 || Hold(path, key);
}

void LinkFreeTree::Release(const std::wstring& path) { held_.erase(FileNameKey(Below(path))); }
