// COM server plumbing of the test filter DLL: class objects, registration, live-object count.
#include "TestFilterIds.h"

#include <objbase.h>

#include <atomic>
#include <string>

extern std::atomic<long> liveObjects;
extern std::atomic<long> serverLocks;
extern HMODULE thisModule;
HRESULT CreateTestFilterFactory(const CLSID& classId, REFIID iid, void** out);
const CLSID& FileDumpClassId();

namespace {

std::wstring ClassKeyPath(const CLSID& classId) {
    wchar_t text[40] = {};
    StringFromGUID2(classId, text, 40);
    return std::wstring(L"CLSID\\") + text;
}

std::wstring ModulePath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(thisModule, path, MAX_PATH);
    return path;
}

HRESULT RegisterClass(const CLSID& classId, const wchar_t* name) {
    const std::wstring key = ClassKeyPath(classId);
    const std::wstring server = key + L"\\InprocServer32";
    const std::wstring path = ModulePath();
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
        return E_ACCESSDENIED;
    RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                   static_cast<DWORD>((wcslen(name) + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
        return E_ACCESSDENIED;
    RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    static const wchar_t model[] = L"Both";
    RegSetValueExW(handle, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(model), sizeof model);
    RegCloseKey(handle);
    return S_OK;
}

void UnregisterClass(const CLSID& classId) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKeyPath(classId).c_str());
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        thisModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID classId, REFIID iid, void** out) {
    return CreateTestFilterFactory(classId, iid, out);
}

extern "C" HRESULT __stdcall DllCanUnloadNow() {
    return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT __stdcall DllRegisterServer() {
    for (int kind = kFailCreate; kind <= kLastTestFilterKind; ++kind) {
        HRESULT hr =
            RegisterClass(TestFilterClass(static_cast<TestFilterKind>(kind)), L"Korvane test filter");
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
    for (int kind = kFailCreate; kind <= kLastTestFilterKind; ++kind)
        UnregisterClass(TestFilterClass(static_cast<TestFilterKind>(kind)));
    return S_OK;
}

// "regsvr32 /n /i:fixed": takes over the fixed file-dump class. Only for a prefix of its
// own, since it replaces whatever file dump was registered there.
extern "C" HRESULT __stdcall DllInstall(BOOL install, LPCWSTR command) {
    if (!command || wcscmp(command, L"fixed") != 0) return E_INVALIDARG;
    if (!install) {
        UnregisterClass(FileDumpClassId());
        return S_OK;
    }
    return RegisterClass(FileDumpClassId(), L"Korvane test file dump");
}

extern "C" long __stdcall KorvaneTestFiltersLiveObjects() {
    return liveObjects;
}
