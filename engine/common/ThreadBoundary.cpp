#include "ThreadBoundary.h"

#include "CriticalSection.h"
#include "DiagnosticsLog.h"

#include <windows.h>

#include <cwchar>
#include <exception>
#include <new>

namespace {

// Logging allocates too: where even that fails, the failure itself still counts.
void LogFailure(const wchar_t* what, const wchar_t* why)
{
    try {
        Log(std::wstring(what) + L" failed: " + why);
    } catch (...) {
    }
}

}  // namespace

bool RunGuarded(const wchar_t* what, const std::function<void()>& work)
{
    try {
        work();
        return true;
    } catch (const std::bad_alloc&) {
        LogFailure(what, L"out of memory");
    } catch (const std::exception&) {
        LogFailure(what, L"an internal error");
    } catch (...) {
        LogFailure(what, L"an unknown error");
    }
    return false;
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
