// A system DLL loaded on its first use, rather than with the module that calls it.
//
// The filter pack needs bcrypt.dll (CNG hashes for key derivation) and crypt32.dll (DPAPI for
// the key store) only for encrypted recordings, and loading either maps Wine's crypto back
// ends into every process that loads the pack (several MiB of working set). Binding at run
// time with GetProcAddress works the same in the i686 and x86_64 builds, where mingw's
// delay-import libraries do not (dlltool's i386 thunks came out unresolved).
//
//   static const SystemLibrary bcrypt(L"bcrypt.dll");
//   auto open = bcrypt.Find<decltype(&::BCryptOpenAlgorithmProvider)>("BCryptOpenAlgorithmProvider");
//
// Only System32 is searched, so a DLL of the same name beside the program or in the current
// folder is never loaded. The module stays loaded for the life of the process: unloading it
// from a static destructor would run under the loader lock.
#pragma once

#include <windows.h>

class SystemLibrary {
public:
    explicit SystemLibrary(const wchar_t* name)
        : m_module(::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {}
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;

    // The export, or null when the DLL or the export is missing (GetLastError says which).
    template <class Function>
    Function Find(const char* name) const {
        if (!m_module) return nullptr;
        return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(m_module, name)));
    }

private:
    HMODULE m_module;
};
