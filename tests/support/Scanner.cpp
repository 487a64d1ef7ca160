// Helper program of the tests: a virus scanner as players' machines run one.
//   vnk_scanner.exe FOLDER HOLD_MS [NAME]
// Every file that appears or changes below FOLDER is opened as soon as it
// can be, sharing read access only, held for HOLD_MS and closed; one pending
// hold a file, as a flood of change notices would otherwise start a thread
// each. With NAME (a path below FOLDER), only that file is held, from the
// start if it is there already. Prints "held <path>" for each hold.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <set>
#include <string>

namespace {

CRITICAL_SECTION lock;
std::set<std::wstring> pending;
std::set<std::wstring> holding;  // opened now
DWORD holdMs = 0;

bool Held(const std::wstring& path)
{
    EnterCriticalSection(&lock);
    const bool held = holding.count(path) != 0;
    LeaveCriticalSection(&lock);
    return held;
}

DWORD WINAPI Hold(LPVOID parameter)
{
    std::wstring* path = static_cast<std::wstring*>(parameter);
    // Written by its program until it closes it: a scanner opens it then.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int tries = 0; tries < 250 && file == INVALID_HANDLE_VALUE; ++tries) {
        file = CreateFileW(path->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
                break;
            }
            Sleep(20);
        }
    }
    if (file != INVALID_HANDLE_VALUE) {
        EnterCriticalSection(&lock);
        holding.insert(*path);
        LeaveCriticalSection(&lock);
        wprintf(L"held %ls\n", path->c_str());
        fflush(stdout);
        Sleep(holdMs);
        CloseHandle(file);
    }
    EnterCriticalSection(&lock);
    pending.erase(*path);
    LeaveCriticalSection(&lock);
    delete path;
    return 0;
}

// Holds `path` on a thread of its own, unless it is held already.
void StartHold(const std::wstring& path)
{
    EnterCriticalSection(&lock);
    const bool started = pending.insert(path).second;
    LeaveCriticalSection(&lock);
    if (started) {
        HANDLE thread = CreateThread(nullptr, 0, Hold, new std::wstring(path), 0, nullptr);
        if (thread != nullptr) {
            CloseHandle(thread);
        }
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        return 2;
    }
    const std::wstring folder = argv[1];
    holdMs = static_cast<DWORD>(wcstoul(argv[2], nullptr, 10));
    const wchar_t* only = argc > 3 ? argv[3] : nullptr;
    InitializeCriticalSection(&lock);
    HANDLE watched = CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (watched == INVALID_HANDLE_VALUE) {
        return 2;
    }
    if (only != nullptr && GetFileAttributesW((folder + L"\\" + only).c_str()) != INVALID_FILE_ATTRIBUTES) {
        StartHold(folder + L"\\" + only);
        while (!Held(folder + L"\\" + only)) {
            Sleep(10);
        }
    }
    wprintf(L"watching %ls\n", folder.c_str());
    fflush(stdout);
    alignas(DWORD) BYTE buffer[64 * 1024];
    for (;;) {
        DWORD bytes = 0;
        if (!ReadDirectoryChangesW(watched, buffer, sizeof(buffer), TRUE,
                                   FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE |
                                       FILE_NOTIFY_CHANGE_SIZE,
                                   &bytes, nullptr, nullptr)) {
            return 3;
        }
        for (DWORD offset = 0; bytes != 0;) {
            const FILE_NOTIFY_INFORMATION* notice = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer + offset);
            const std::wstring name(notice->FileName, notice->FileNameLength / sizeof(WCHAR));
            const bool changed = notice->Action == FILE_ACTION_ADDED || notice->Action == FILE_ACTION_MODIFIED ||
                                 notice->Action == FILE_ACTION_RENAMED_NEW_NAME;
            if (changed && (only == nullptr || _wcsicmp(name.c_str(), only) == 0)) {
                StartHold(folder + L"\\" + name);
            }
            if (notice->NextEntryOffset == 0) {
                break;
            }
            offset += notice->NextEntryOffset;
        }
    }
}
