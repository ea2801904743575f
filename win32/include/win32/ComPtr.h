// ComPtr<T>: owns one COM reference. Not copyable (moves hand the reference over).
// Reset() releases and nulls; taking the address of a pointer that is still set is an
// error (it would leak the old reference), caught by an assertion in debug builds and
// turned into a Reset() otherwise.
#pragma once

#include <cassert>
#include <utility>

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Takes over a reference the caller already owns (no AddRef).
    static ComPtr Adopt(T* p) {
        ComPtr result;
        result.m_p = p;
        return result;
    }

    void Reset() {
        if (m_p) std::exchange(m_p, nullptr)->Release();
    }
    // Hands the reference to the caller, for an out-parameter of our own.
    T* Detach() { return std::exchange(m_p, nullptr); }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    // For out-parameters: CoCreateInstance(..., reinterpret_cast<void**>(ptr.Out())).
    T** Out() {
        assert(m_p == nullptr && "ComPtr::Out on a pointer that is still set");
        Reset();
        return &m_p;
    }

private:
    T* m_p = nullptr;
};
