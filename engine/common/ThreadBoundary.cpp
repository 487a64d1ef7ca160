#include "ThreadBoundary.h"

#include "CriticalSection.h"
#include "DiagnosticsLog.h"

#include <windows.h>

#include <cwchar>
#include <new>

void LogThreadFailure(const wchar_t* what, const wchar_t* why)
{
    try {
        Log(std::wstring(what) + L" failed: " + why);
    } catch (...) {
        // Logging allocates too: where even that fails, the failure itself still counts.
    }
}

#ifdef VNK_TEST_SEAMS
namespace {
CriticalSection seamLock;
}

void FailAllocationForTests(const wchar_t* where)
{
    // Once, as one allocation would fail: the first thread to get here takes it.
    CriticalSectionLocker locked(seamLock);
    wchar_t value[32] = {};
    if (GetEnvironmentVariableW(L"VNK_TEST_FAIL_ALLOCATION", value, 32) != 0 && wcscmp(value, where) == 0) {
        SetEnvironmentVariableW(L"VNK_TEST_FAIL_ALLOCATION", nullptr);
        throw std::bad_alloc();
    }
}
#endif
