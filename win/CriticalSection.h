// A critical section, and a lock on it held for a scope.
#pragma once

#include <windows.h>

class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&section_); }
    ~CriticalSection() { DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() { EnterCriticalSection(&section_); }
    void Leave() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

class CriticalSectionLocker {
public:
    explicit CriticalSectionLocker(CriticalSection& section) : section_(section) { section_.Enter(); }
    ~CriticalSectionLocker() { section_.Leave(); }
    CriticalSectionLocker(const CriticalSectionLocker&) = delete;
    CriticalSectionLocker& operator=(const CriticalSectionLocker&) = delete;

private:
    CriticalSection& section_;
};
