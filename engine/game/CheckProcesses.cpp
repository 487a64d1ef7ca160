#include "CheckProcesses.h"

#include "AsciiCase.h"
#include "DiagnosticsLog.h"
#include "KernelFunction.h"
#include "ScopedHandle.h"
#include "SystemLibrary.h"

#include <tlhelp32.h>

#include <vector>

namespace {

// Not declared for Windows XP, which lacks it.
constexpr DWORD kQueryLimitedInformation = 0x1000;  // PROCESS_QUERY_LIMITED_INFORMATION

using QueryImageNameFn = BOOL(WINAPI*)(HANDLE process, DWORD flags, LPWSTR path, PDWORD size);
using ModuleFileNameFn = DWORD(WINAPI*)(HANDLE process, HMODULE module, LPWSTR path, DWORD size);

// GetModuleFileNameExW: kernel32's from Windows 7 on, else psapi's from the
// system folder (psapi is not imported: see SystemLibrary.h).
ModuleFileNameFn ModuleFileNameFunction()
{
    if (const auto inKernel = KernelFunction<ModuleFileNameFn>("K32GetModuleFileNameExW")) {
        return inKernel;
    }
    return LibraryFunction<ModuleFileNameFn>(SystemLibrary(L"psapi.dll"), "GetModuleFileNameExW");
}

// The path of a process's executable; false when it can't be read either way.
bool ProcessImagePath(DWORD processId, std::wstring& path)
{
    // QueryFullProcessImageNameW (Vista and later) reads the path of any
    // process, a 64-bit one too when we run as 32-bit on 64-bit Windows, where
    // GetModuleFileNameExW fails.
    static const QueryImageNameFn query = KernelFunction<QueryImageNameFn>("QueryFullProcessImageNameW");
    if (query != nullptr) {
        ScopedHandle process(OpenProcess(kQueryLimitedInformation, FALSE, processId));
        if (process.IsValid()) {
            std::vector<wchar_t> buffer(32768);
            DWORD size = static_cast<DWORD>(buffer.size());
            if (query(process.Get(), 0, buffer.data(), &size) && size > 0) {
                path.assign(buffer.data(), size);
                return true;
            }
        }
    }
    // Windows XP, or a process the first way could not read.
    ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process.IsValid()) {
        return false;
    }
    static const ModuleFileNameFn moduleFileName = ModuleFileNameFunction();
    if (moduleFileName == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return false;
    }
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = moduleFileName(process.Get(), nullptr, buffer, MAX_PATH);
    if (length == 0) {
        return false;
    }
    path.assign(buffer, length);
    return true;
}

// A listed program blocks when it runs from `folder` - a plain prefix test on the
// path, as typed - or when we can't see where it runs from.
bool RunsFromFolder(DWORD processId, const std::wstring& folder, std::wstring& path)
{
    if (!ProcessImagePath(processId, path)) {
        path = L"(path unreadable: " + ErrorText(GetLastError()) + L")";
        return true;
    }
    return path.size() >= folder.size() && EqualAsciiNoCase(path.c_str(), folder.c_str(), folder.size());
}

}  // namespace

bool CheckProcesses(const std::vector<std::wstring>& listed, const std::wstring& folder, std::wstring& name)
{
    if (listed.empty()) {
        Log(L"process check: no programs listed");
        return true;
    }
    ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid()) {
        Log(L"process check: no process list: " + ErrorText(GetLastError()));
        return true;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);  // 556 in the 32-bit build, 568 in the 64-bit one
    if (!Process32FirstW(snapshot.Get(), &entry)) {
        Log(L"process check: no process list: " + ErrorText(GetLastError()));
        return true;
    }

    bool nothingBlocks = true;
    do {
        bool blocks = false;
        std::wstring path;
        for (const std::wstring& program : listed) {
            if (SameAsciiNoCase(program, entry.szExeFile) && RunsFromFolder(entry.th32ProcessID, folder, path)) {
                blocks = true;
                break;
            }
        }
        if (blocks) {
            Log(L"process check: " + std::wstring(entry.szExeFile) + L" (process " + Num(entry.th32ProcessID) +
                L") runs from the game folder: " + path);
            name = entry.szExeFile;  // the last blocking process in snapshot order wins
            nothingBlocks = false;
        }
    } while (Process32NextW(snapshot.Get(), &entry));
    if (nothingBlocks) {
        Log(L"process check: no listed program runs from the game folder");
    }
    return nothingBlocks;
}
