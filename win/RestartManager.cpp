#include "RestartManager.h"

#include "SystemLibrary.h"

#include <windows.h>

#include <vector>

namespace {

// The Restart Manager's own types (restartmanager.h), as its reference gives them.
constexpr DWORD kSessionKeyChars = 33;  // CCH_RM_SESSION_KEY + 1
constexpr DWORD kAppNameChars = 256;    // CCH_RM_MAX_APP_NAME
constexpr DWORD kServiceNameChars = 64;  // CCH_RM_MAX_SVC_NAME

struct ProcessUniqueId {
    DWORD processId;
    FILETIME startTime;
};

struct ProcessInfo {
    ProcessUniqueId process;
    WCHAR appName[kAppNameChars];
    WCHAR serviceShortName[kServiceNameChars];
    DWORD applicationType;
    ULONG appStatus;
    DWORD tsSessionId;
    BOOL restartable;
};

using StartSessionFn = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RegisterResourcesFn = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, ProcessUniqueId*, UINT, LPCWSTR*);
using GetListFn = DWORD(WINAPI*)(DWORD, UINT*, UINT*, ProcessInfo*, DWORD*);
using EndSessionFn = DWORD(WINAPI*)(DWORD);

}  // namespace

std::wstring ProgramsHolding(const std::wstring& path)
{
    const HMODULE library = SystemLibrary(L"rstrtmgr.dll");
    const auto start = LibraryFunction<StartSessionFn>(library, "RmStartSession");
    const auto registerResources = LibraryFunction<RegisterResourcesFn>(library, "RmRegisterResources");
    const auto getList = LibraryFunction<GetListFn>(library, "RmGetList");
    const auto end = LibraryFunction<EndSessionFn>(library, "RmEndSession");
    if (start == nullptr || registerResources == nullptr || getList == nullptr || end == nullptr) {
        return std::wstring();  // before Vista
    }
    DWORD session = 0;
    WCHAR key[kSessionKeyChars] = {};
    if (start(&session, 0, key) != ERROR_SUCCESS) {
        return std::wstring();
    }
    std::wstring programs;
    LPCWSTR files[] = {path.c_str()};
    UINT needed = 0;
    UINT count = 8;
    std::vector<ProcessInfo> found(count);
    DWORD reasons = 0;
    if (registerResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS &&
        getList(session, &needed, &count, found.data(), &reasons) == ERROR_SUCCESS) {
        for (UINT i = 0; i < count && i < found.size(); ++i) {
            found[i].appName[kAppNameChars - 1] = L'\0';
            programs += (programs.empty() ? L"" : L", ") + std::wstring(found[i].appName) + L" (process " +
                        std::to_wstring(found[i].process.processId) + L")";
        }
    }
    end(session);
    return programs;
}
