// The boundary of every thread the engine starts. Its threads allocate buffers
// of a few MiB in a 32-bit process that may be near its limits: an allocation
// that fails there must end that thread's work as a failure of its own, logged,
// never the whole program (which would vanish without a word, its usage report
// unsent, a commit maybe cut short).
#pragma once

#include <exception>
#include <new>

// Logs "`what` failed: `why`", even where logging can't allocate.
void LogThreadFailure(const wchar_t* what, const wchar_t* why);

// Runs `work`; false, logged as "`what` failed: ...", when it threw.
// (A template rather than a std::function: making one may allocate too.)
template <typename Work>
bool RunGuarded(const wchar_t* what, Work&& work)
{
    try {
        work();
        return true;
    } catch (const std::bad_alloc&) {
        LogThreadFailure(what, L"out of memory");
    } catch (const std::exception&) {
        LogThreadFailure(what, L"an internal error");
    } catch (...) {
        LogThreadFailure(what, L"an unknown error");
    }
    return false;
}

#ifdef VNK_TEST_SEAMS
// Throws std::bad_alloc, as a failed allocation would, where the environment
// variable VNK_TEST_FAIL_ALLOCATION names `where`; once, clearing the variable.
void FailAllocationForTests(const wchar_t* where);
#define VNK_ALLOCATION_SEAM(where) FailAllocationForTests(where)
#else
#define VNK_ALLOCATION_SEAM(where) ((void)0)
#endif
