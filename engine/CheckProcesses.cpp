#include "RepairEngine.h"

#include "AsciiCase.h"
#include "ScopedHandle.h"

#include <psapi.h>
#include <tlhelp32.h>

namespace {

// A listed program blocks when it runs from `folder` - a plain prefix test on the
// path, as typed - or when we can't see where it runs from.
bool RunsFromFolder(DWORD processId, const std::wstring& folder)
{
    ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process.IsValid()) {
        return true;
    }
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameExW(process.Get(), nullptr, path, MAX_PATH);
    if (length == 0) {
        return true;
    }
    return length >= folder.size() && EqualAsciiNoCase(path, folder.c_str(), folder.size());
}

}  // namespace

bool RepairEngine::CheckProcesses(const std::wstring& folder, std::wstring& name)
{
    if (config.processNames.empty()) {
        return true;
    }
    ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid()) {
        return true;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);  // 556 in the 32-bit build, 568 in the 64-bit one
    if (!Process32FirstW(snapshot.Get(), &entry)) {
        return true;
    }

    bool nothingBlocks = true;
    do {
        bool blocks = false;
        for (const std::wstring& listed : config.processNames) {
            if (SameAsciiNoCase(listed, entry.szExeFile) && RunsFromFolder(entry.th32ProcessID, folder)) {
                blocks = true;
                break;
            }
        }
        if (blocks) {
            name = entry.szExeFile;  // the last blocking process in snapshot order wins
            nothingBlocks = false;
        }
    } while (Process32NextW(snapshot.Get(), &entry));
    return nothingBlocks;
}
