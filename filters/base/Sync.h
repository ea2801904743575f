// Small owners for Win32 synchronisation objects. Critical sections and slim reader/writer
// locks rather than std::mutex: under Wine neither reaches the wineserver when uncontended.
// Every lock is taken through a scoped guard, so an exception thrown under it (an allocation
// that fails) never leaves it held.
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

// Holds an SRW lock exclusively for its scope; Wait sleeps on a condition variable with it.
class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : m_lock(lock) { AcquireSRWLockExclusive(&m_lock); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&m_lock); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
    void Wait(CONDITION_VARIABLE& changed) { SleepConditionVariableSRW(&changed, &m_lock, INFINITE, 0); }
    // False when the time ran out first.
    bool Wait(CONDITION_VARIABLE& changed, DWORD milliseconds) {
        return SleepConditionVariableSRW(&changed, &m_lock, milliseconds, 0) != FALSE;
    }

private:
    SRWLOCK& m_lock;
};

class SharedLock {
public:
    explicit SharedLock(SRWLOCK& lock) : m_lock(lock) { AcquireSRWLockShared(&m_lock); }
    ~SharedLock() { ReleaseSRWLockShared(&m_lock); }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    SRWLOCK& m_lock;
};

}  // namespace korvane::filters
