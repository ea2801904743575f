// Small owners for Win32 synchronisation objects. Critical sections rather than std::mutex:
// under Wine an uncontended critical section never reaches the wineserver.
#pragma once

#include <windows.h>

namespace korvane::filters {

class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&m_cs); }
    ~CriticalSection() { DeleteCriticalSection(&m_cs); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Enter() { EnterCriticalSection(&m_cs); }
    void Leave() { LeaveCriticalSection(&m_cs); }
    CRITICAL_SECTION* Native() { return &m_cs; }

private:
    CRITICAL_SECTION m_cs;
};

class AutoLock {
public:
    explicit AutoLock(CriticalSection& cs) : m_cs(cs) { m_cs.Enter(); }
    ~AutoLock() { m_cs.Leave(); }
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;

private:
    CriticalSection& m_cs;
};

}  // namespace korvane::filters
