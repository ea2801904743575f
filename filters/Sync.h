// Small owners for Win32 synchronisation objects. Critical sections rather than std::mutex:
// under Wine an uncontended critical section never reaches the wineserver.
#pragma once

#include <windows.h>

namespace korvane::filters {

class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&cs_); }
    ~CriticalSection() { DeleteCriticalSection(&cs_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Enter() { EnterCriticalSection(&cs_); }
    void Leave() { LeaveCriticalSection(&cs_); }
    CRITICAL_SECTION* Native() { return &cs_; }

private:
    CRITICAL_SECTION cs_;
};

class AutoLock {
public:
    explicit AutoLock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
    ~AutoLock() { cs_.Leave(); }
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;

private:
    CriticalSection& cs_;
};

}  // namespace korvane::filters
