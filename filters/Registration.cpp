// DllRegisterServer, DllUnregisterServer and DllInstall.
//
// What registration writes, all under HKEY_CLASSES_ROOT:
//   CLSID\{class}                  (default) = filter name
//   CLSID\{class}\InprocServer32   (default) = path of this DLL, ThreadingModel = "Both"
//   Media Type\{MEDIATYPE_Stream}\{MEDIASUBTYPE_KorvaneTivoFile}
//                                  "0" = "0,4,,5469566F" ("TiVo" at offset 0),
//                                  "Source Filter" = {source class}
//   Media Type\Extensions\.tivo    "Source Filter" = {source class}
// AddSourceFilter matches files by those check bytes; Windows looks the extension up first,
// so that players and editors that open a .tivo by name find our source too. Not under Wine:
// once an extension has a key there, its AddSourceFilter gives the file to its own async
// reader and never looks at the check bytes (measured with Wine 8). Another vendor's source
// registered for the extension keeps it, as another vendor's class id is kept, unless
// "replace" is asked for.
//
// A class id whose InprocServer32 names another DLL belongs to another vendor: plain
// registration keeps it and registers the rest. `regsvr32 /i:replace KorvaneFilters.dll`
// (DllInstall with "replace") takes such class ids over. Unregistration removes only keys
// and values that name this DLL, and a key only once nothing else is left in it.
#include <windows.h>

#include <atomic>
#include <cwchar>
#include <string>

#include "base/ComGuard.h"
#include "Factories.h"
#include "base/Guids.h"
#include "base/ObjectCount.h"
#include "win32/Scoped.h"

namespace korvane::filters {
namespace {

std::atomic<int> g_extensionRegistration{-1};

bool RegistersExtension() {
    const int mode = g_extensionRegistration;
    if (mode >= 0) return mode == 1;
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
}

const wchar_t kStreamTypeKey[] = L"Media Type\\{e436eb83-524f-11ce-9f53-0020af0ba770}";
const wchar_t kCheckBytes[] = L"0,4,,5469566F";
const wchar_t kExtensionKey[] = L"Media Type\\Extensions\\.tivo";
const wchar_t kSourceFilterValue[] = L"Source Filter";

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring ModulePath() {
    wchar_t path[MAX_PATH * 2] = {};
    DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH * 2);
    return std::wstring(path, n);
}

std::wstring BaseName(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool ReadString(HKEY root, const std::wstring& subkey, const wchar_t* value, std::wstring* out) {
    wchar_t buffer[MAX_PATH * 2] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    DWORD type = 0;
    ScopedRegKey key;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE, key.Out()) != ERROR_SUCCESS) return false;
    LONG rc = RegQueryValueExW(key.Get(), value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    *out = buffer;
    return true;
}

LONG WriteString(HKEY root, const std::wstring& subkey, const wchar_t* value, const std::wstring& data) {
    ScopedRegKey key;
    LONG rc =
        RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Out(), nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    return RegSetValueExW(key.Get(), value, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

void DeleteValue(HKEY root, const std::wstring& subkey, const wchar_t* value) {
    ScopedRegKey key;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_SET_VALUE, key.Out()) == ERROR_SUCCESS)
        RegDeleteValueW(key.Get(), value);
}

// Deletes the key only when it has neither values nor subkeys left.
void DeleteKeyIfEmpty(HKEY root, const std::wstring& subkey) {
    DWORD subkeys = 0, values = 0;
    LONG rc;
    {
        ScopedRegKey key;
        if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE, key.Out()) != ERROR_SUCCESS) return;
        rc = RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                              nullptr, nullptr, nullptr, nullptr);
    }  // closed before the key is deleted
    if (rc == ERROR_SUCCESS && subkeys == 0 && values == 0) RegDeleteKeyW(root, subkey.c_str());
}

// True when the class id is registered to a DLL that is not this one (by file name, so a
// copy of the pack moved elsewhere still counts as ours).
bool OwnedByOtherVendor(const std::wstring& clsidKey) {
    std::wstring server;
    if (!ReadString(HKEY_CLASSES_ROOT, clsidKey + L"\\InprocServer32", nullptr, &server) || server.empty())
        return false;
    return lstrcmpiW(BaseName(server).c_str(), BaseName(ModulePath()).c_str()) != 0;
}

HRESULT Register(bool replaceOthers) {
    const std::wstring module = ModulePath();
    if (module.empty()) return HRESULT_FROM_WIN32(GetLastError());
    size_t count = 0;
    const FilterClass* classes = FilterClasses(&count);
    for (size_t i = 0; i < count; ++i) {
        const std::wstring key = L"CLSID\\" + GuidText(*classes[i].clsid);
        if (!replaceOthers && OwnedByOtherVendor(key)) continue;
        LONG rc = WriteString(HKEY_CLASSES_ROOT, key, nullptr, classes[i].name);
        if (rc == ERROR_SUCCESS)
            rc = WriteString(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", nullptr, module);
        if (rc == ERROR_SUCCESS)
            rc = WriteString(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel", L"Both");
        if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    }
    const std::wstring checkKey =
        std::wstring(kStreamTypeKey) + L"\\" + GuidText(MEDIASUBTYPE_KorvaneTivoFile);
    const std::wstring ourSource = GuidText(CLSID_KorvaneTivoSource);
    LONG rc = WriteString(HKEY_CLASSES_ROOT, checkKey, L"0", kCheckBytes);
    if (rc == ERROR_SUCCESS) rc = WriteString(HKEY_CLASSES_ROOT, checkKey, kSourceFilterValue, ourSource);
    std::wstring extensionSource;
    const bool othersExtension =
        ReadString(HKEY_CLASSES_ROOT, kExtensionKey, kSourceFilterValue, &extensionSource) &&
        !extensionSource.empty() && lstrcmpiW(extensionSource.c_str(), ourSource.c_str()) != 0;
    if (rc == ERROR_SUCCESS && RegistersExtension() && (replaceOthers || !othersExtension))
        rc = WriteString(HKEY_CLASSES_ROOT, kExtensionKey, kSourceFilterValue, ourSource);
    return HRESULT_FROM_WIN32(rc);
}

HRESULT Unregister() {
    size_t count = 0;
    const FilterClass* classes = FilterClasses(&count);
    for (size_t i = 0; i < count; ++i) {
        const std::wstring key = L"CLSID\\" + GuidText(*classes[i].clsid);
        const std::wstring serverKey = key + L"\\InprocServer32";
        std::wstring server;
        if (!ReadString(HKEY_CLASSES_ROOT, serverKey, nullptr, &server) || OwnedByOtherVendor(key)) continue;
        DeleteValue(HKEY_CLASSES_ROOT, serverKey, nullptr);
        DeleteValue(HKEY_CLASSES_ROOT, serverKey, L"ThreadingModel");
        DeleteKeyIfEmpty(HKEY_CLASSES_ROOT, serverKey);
        std::wstring name;
        if (ReadString(HKEY_CLASSES_ROOT, key, nullptr, &name) && name == classes[i].name)
            DeleteValue(HKEY_CLASSES_ROOT, key, nullptr);
        DeleteKeyIfEmpty(HKEY_CLASSES_ROOT, key);
    }
    const std::wstring checkKey =
        std::wstring(kStreamTypeKey) + L"\\" + GuidText(MEDIASUBTYPE_KorvaneTivoFile);
    std::wstring source;
    if (ReadString(HKEY_CLASSES_ROOT, checkKey, L"Source Filter", &source) &&
        lstrcmpiW(source.c_str(), GuidText(CLSID_KorvaneTivoSource).c_str()) == 0) {
        DeleteValue(HKEY_CLASSES_ROOT, checkKey, kSourceFilterValue);
        std::wstring bytes;
        if (ReadString(HKEY_CLASSES_ROOT, checkKey, L"0", &bytes) && bytes == kCheckBytes)
            DeleteValue(HKEY_CLASSES_ROOT, checkKey, L"0");
        DeleteKeyIfEmpty(HKEY_CLASSES_ROOT, checkKey);
    }
    if (ReadString(HKEY_CLASSES_ROOT, kExtensionKey, kSourceFilterValue, &source) &&
        lstrcmpiW(source.c_str(), GuidText(CLSID_KorvaneTivoSource).c_str()) == 0) {
        DeleteValue(HKEY_CLASSES_ROOT, kExtensionKey, kSourceFilterValue);
        DeleteKeyIfEmpty(HKEY_CLASSES_ROOT, kExtensionKey);
    }
    return S_OK;
}

}  // namespace
}  // namespace korvane::filters

using korvane::filters::GuardedCall;

extern "C" HRESULT WINAPI DllRegisterServer() {
    return GuardedCall("DllRegisterServer", [] { return korvane::filters::Register(false); });
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    return GuardedCall("DllUnregisterServer", [] { return korvane::filters::Unregister(); });
}

// regsvr32 /i:replace registers over another vendor's filters that use our class ids.
extern "C" HRESULT WINAPI DllInstall(BOOL install, LPCWSTR commandLine) {
    return GuardedCall("DllInstall", [&] {
        const bool replace = commandLine && _wcsicmp(commandLine, L"replace") == 0;
        if (!install) return korvane::filters::Unregister();
        return korvane::filters::Register(replace);
    });
}

// Exported by the test build only (testing/KorvaneFiltersTesting.def, testing/LiveObjects.h):
// 1 writes the extension key, 0 does not, -1 decides by the system as the shipped DLL does.
extern "C" HRESULT WINAPI KorvaneFiltersRegisterExtension(int mode) {
    if (mode < -1 || mode > 1) return E_INVALIDARG;
    korvane::filters::g_extensionRegistration = mode;
    return S_OK;
}
