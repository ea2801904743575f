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
        return RegOpenKeyExW(root, path, 0, access, &key_);
    }
    LONG Create(HKEY root, const wchar_t* path, REGSAM access) {
        Close();
        return RegCreateKeyExW(root, path, 0, nullptr, 0, access, nullptr, &key_, nullptr);
    }
    HKEY Get() const { return key_; }

private:
    void Close() {
        if (key_)
            RegCloseKey(key_);
        key_ = nullptr;
    }
    HKEY key_ = nullptr;
};

}  // namespace korvane::filters
