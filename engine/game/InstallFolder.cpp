#include "InstallFolder.h"

#include "ComRef.h"
#include "DiagnosticsLog.h"
#include "RegistryKey.h"

#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

namespace {

const wchar_t* const kDefaultFolders[] = {
    L"C:\\Program Files\\Qelvan游戏\\Varnok",
    L"C:\\Program Files (x86)\\Qelvan游戏\\Varnok",
    L"D:\\Program Files\\Qelvan游戏\\Varnok",
    L"D:\\Program Files (x86)\\Qelvan游戏\\Varnok",
};

// The game folder a "Varnok.lnk" on the desktop points into: the shortcut's
// target with its file name and the folder holding it removed.
bool FolderFromDesktopShortcut(std::wstring& folder)
{
    wchar_t path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, path, CSIDL_DESKTOPDIRECTORY, FALSE)) {
        return false;
    }
    if (!PathAppendW(path, L"Varnok.lnk") || !PathFileExistsW(path)) {
        return false;
    }
    ComRef<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link.ptr)))) {
        return false;
    }
    ComRef<IPersistFile> file;
    if (FAILED(link.ptr->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.ptr)))) {
        return false;
    }
    if (FAILED(file.ptr->Load(path, STGM_READ))) {
        return false;
    }
    wchar_t target[MAX_PATH] = {};
    if (FAILED(link.ptr->GetPath(target, MAX_PATH, nullptr, 0))) {
        return false;
    }
    PathRemoveFileSpecW(target);
    PathRemoveFileSpecW(target);
    folder = target;
    return true;
}

}  // namespace

bool IsInstallFolder(const std::wstring& folder)
{
    // A file named Cross counts too; a trailing "\" in the folder is harmless.
    return PathFileExistsW((folder + L"\\Cross").c_str()) != FALSE;
}

bool FindInstallFolder(std::wstring& folder)
{
    {
        RegistryKey key(HKEY_CURRENT_USER, L"Software\\Qelvan\\VNK", true);
        std::wstring value;
        if (key.QueryString(L"InstallPath", value) && !value.empty()) {
            if (IsInstallFolder(value)) {
                Log(L"game folder from the registry value InstallPath: " + value);
                folder = value;
                return true;
            }
            Log(L"the registry value InstallPath is no game folder: " + value);
        }
    }
    std::wstring fromShortcut;
    if (FolderFromDesktopShortcut(fromShortcut) && IsInstallFolder(fromShortcut)) {
        Log(L"game folder from the desktop shortcut Varnok.lnk: " + fromShortcut);
        folder = fromShortcut;
        return true;
    }
    for (const wchar_t* candidate : kDefaultFolders) {
        if (IsInstallFolder(candidate)) {
            Log(L"game folder from a default folder: " + std::wstring(candidate));
            folder = candidate;
            return true;
        }
    }
    Log(L"no game folder found");
    return false;
}
