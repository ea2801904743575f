// COM server plumbing of the test filter DLL: class objects, registration, live-object count.
#include "TestFilterIds.h"
#include "TestFilters.h"

#include "base/ObjectCount.h"

#include "win32/ClassIds.h"
#include "win32/ComObject.h"

#include <uuids.h>

#include <cwchar>
#include <string>

using namespace korvane::filters;

namespace {

HMODULE g_thisModule = nullptr;

using CreateFunction = HRESULT (*)(int kind, REFIID iid, void** out);

class Factory final : public ComObject<IClassFactory>, private Counted<ObjectKind::ClassFactory> {
public:
    Factory(CreateFunction create, int kind) : m_create(create), m_kind(kind) {}
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return outer ? CLASS_E_NOAGGREGATION : m_create(m_kind, iid, out);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        korvane::filters::LockServer(lock != FALSE);
        return S_OK;
    }

private:
    CreateFunction m_create;
    int m_kind;
};

LONG WriteText(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
    return RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, text.c_str(),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::wstring ClassKeyPath(const CLSID& classId) {
    wchar_t text[40] = {};
    StringFromGUID2(classId, text, 40);
    return std::wstring(L"CLSID\\") + text;
}

HRESULT RegisterClass(const CLSID& classId, const wchar_t* name) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(g_thisModule, path, MAX_PATH);
    const std::wstring key = ClassKeyPath(classId), server = key + L"\\InprocServer32";
    const bool written = WriteText(key, nullptr, name) == ERROR_SUCCESS &&
                         WriteText(server, nullptr, path) == ERROR_SUCCESS &&
                         WriteText(server, L"ThreadingModel", L"Both") == ERROR_SUCCESS;
    return written ? S_OK : E_ACCESSDENIED;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_thisModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

// CLSID_FilterGraph is served only while the stand-in settings ask for a graph without
// IMediaControl; otherwise its creation fails, as if the graph manager were missing.
extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID classId, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (classId == CLSID_FilterGraph) {
        if (!ReadStandInSetting("graphWithoutControl")) return CLASS_E_CLASSNOTAVAILABLE;
        return HandOut(new Factory(CreateGraphWithoutControl, 0), iid, out);
    }
    const int kind = classId.Data4[7];
    if (classId != classids::kFileDump && (kind < kFailCreate || kind > kLastTestFilterKind ||
                                           classId != TestFilterClass(static_cast<TestFilterKind>(kind))))
        return CLASS_E_CLASSNOTAVAILABLE;
    return HandOut(new Factory(CreateTestFilter, classId == classids::kFileDump ? 0 : kind), iid, out);
}

extern "C" HRESULT __stdcall DllCanUnloadNow() {
    return AllLiveObjects() == 0 && ServerLocks() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT __stdcall DllRegisterServer() {
    for (int kind = kFailCreate; kind <= kLastTestFilterKind; ++kind) {
        const HRESULT hr =
            RegisterClass(TestFilterClass(static_cast<TestFilterKind>(kind)), L"Korvane test filter");
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

// "regsvr32 /n /i:fixed": takes over the fixed file-dump class. Only for a prefix of its
// own, since it replaces whatever file dump was registered there.
extern "C" HRESULT __stdcall DllInstall(BOOL install, LPCWSTR command) {
    if (!install || !command || std::wcscmp(command, L"fixed") != 0) return E_INVALIDARG;
    return RegisterClass(classids::kFileDump, L"Korvane test file dump");
}
