// An owner for an open registry key, so every early return closes it.
#pragma once

#include <windows.h>

namespace korvane::filters {

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() { Close(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    LONG Open(HKEY root, const wchar_t* path, REGSAM access) {
        Close();
        return RegOpenKeyExW(root, path, 0, access, &m_key);
    }
    LONG Create(HKEY root, const wchar_t* path, REGSAM access) {
        Close();
        return RegCreateKeyExW(root, path, 0, nullptr, 0, access, nullptr, &m_key, nullptr);
    }
    HKEY Get() const { return m_key; }

private:
    void Close() {
        if (m_key) RegCloseKey(m_key);
        m_key = nullptr;
    }
    HKEY m_key = nullptr;
};

}  // namespace korvane::filters
