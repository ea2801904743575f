// Scoped owners for what Win32 hands out as plain values: a kernel handle (CloseHandle), an
// open file (CloseHandle, empty as INVALID_HANDLE_VALUE), a file search (FindClose), a registry key
// (RegCloseKey), and the thread's COM apartment. Not copyable; moves hand the ownership over.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

template <class Traits>
class ScopedValue {
public:
    using Value = typename Traits::Value;

    ScopedValue() = default;
    explicit ScopedValue(Value value) : m_value(value) {}
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;
    ScopedValue(ScopedValue&& other) noexcept : m_value(std::exchange(other.m_value, Traits::Empty())) {}
    ScopedValue& operator=(ScopedValue&& other) noexcept {
        if (this != &other) {
            Reset();
            m_value = std::exchange(other.m_value, Traits::Empty());
        }
        return *this;
    }
    ~ScopedValue() { Reset(); }

    void Reset() {
        if (m_value != Traits::Empty()) Traits::Close(std::exchange(m_value, Traits::Empty()));
    }
    Value Get() const { return m_value; }
    // Hands the value to the caller, who closes it (to see whether the close succeeded).
    Value Release() { return std::exchange(m_value, Traits::Empty()); }
    explicit operator bool() const { return m_value != Traits::Empty(); }

    // For out-parameters (RegOpenKeyA(..., key.Out())); closes what was held first.
    Value* Out() {
        Reset();
        return &m_value;
    }

private:
    Value m_value = Traits::Empty();
};

struct HandleTraits {
    using Value = HANDLE;
    // CreateThread, CreateEvent and the like fail with null; CreateFile's INVALID_HANDLE_VALUE
    // is not held here.
    static Value Empty() { return nullptr; }
    static void Close(Value handle) { ::CloseHandle(handle); }
};

struct FileTraits {
    using Value = HANDLE;
    static Value Empty() { return INVALID_HANDLE_VALUE; }  // what CreateFile fails with
    static void Close(Value file) { ::CloseHandle(file); }
};

struct FindTraits {
    using Value = HANDLE;
    static Value Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Value search) { ::FindClose(search); }
};

struct RegKeyTraits {
    using Value = HKEY;
    static Value Empty() { return nullptr; }
    static void Close(Value key) { ::RegCloseKey(key); }
};

using ScopedHandle = ScopedValue<HandleTraits>;
using ScopedFile = ScopedValue<FileTraits>;
using ScopedFind = ScopedValue<FindTraits>;
using ScopedRegKey = ScopedValue<RegKeyTraits>;

// A single-threaded apartment for this thread while the object lives; left only if entered.
class ScopedComApartment {
public:
    ScopedComApartment() : m_result(::CoInitialize(nullptr)) {}
    ScopedComApartment(const ScopedComApartment&) = delete;
    ScopedComApartment& operator=(const ScopedComApartment&) = delete;
    ~ScopedComApartment() {
        if (SUCCEEDED(m_result)) ::CoUninitialize();
    }
    HRESULT Result() const { return m_result; }

private:
    HRESULT m_result;
};
