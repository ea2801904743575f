// DllRegisterServer / DllUnregisterServer in the test prefix: idempotent, exact, and
// respectful of another vendor's filter under one of our class ids.
#include <gtest/gtest.h>

#include "GraphSupport.h"

namespace korvane::test {
namespace {

const wchar_t kCheckKey[] =
    L"Media Type\\{e436eb83-524f-11ce-9f53-0020af0ba770}\\{7AFCCE7B-3DED-45CB-812D-A51EEBB64D40}";

std::wstring ClsidKey(const CLSID& clsid) {
    wchar_t text[40];
    StringFromGUID2(clsid, text, 40);
    return std::wstring(L"CLSID\\") + text;
}

bool Read(const std::wstring& key, const wchar_t* value, std::wstring* out) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS)
        return false;
    *out = buffer;
    return true;
}

bool KeyExists(const std::wstring& key) {
    HKEY h;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

void Write(const std::wstring& key, const wchar_t* value, const std::wstring& data) {
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, &h, nullptr));
    RegSetValueExW(h, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
}

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dll = LoadLibraryA(EnvOr("KORVANE_FILTERS_DLL", "KorvaneFilters.dll").c_str());
        ASSERT_NE(nullptr, m_dll);
        m_registerServer = reinterpret_cast<HRESULT(WINAPI*)()>(
            reinterpret_cast<void*>(GetProcAddress(m_dll, "DllRegisterServer")));
        m_unregisterServer = reinterpret_cast<HRESULT(WINAPI*)()>(
            reinterpret_cast<void*>(GetProcAddress(m_dll, "DllUnregisterServer")));
        m_install = reinterpret_cast<HRESULT(WINAPI*)(BOOL, LPCWSTR)>(
            reinterpret_cast<void*>(GetProcAddress(m_dll, "DllInstall")));
        ASSERT_TRUE(m_registerServer && m_unregisterServer && m_install);
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(m_dll, path, MAX_PATH);
        m_path = path;
    }
    // Whatever a test did, the prefix ends with the pack registered as the other tests need.
    void TearDown() override {
        EXPECT_EQ(S_OK, m_install(TRUE, L"replace"));
        FreeLibrary(m_dll);
    }
    void ExpectRegistered(const CLSID& clsid) {
        std::wstring server, model;
        ASSERT_TRUE(Read(ClsidKey(clsid) + L"\\InprocServer32", nullptr, &server));
        EXPECT_EQ(0, lstrcmpiW(m_path.c_str(), server.c_str()));
        ASSERT_TRUE(Read(ClsidKey(clsid) + L"\\InprocServer32", L"ThreadingModel", &model));
        EXPECT_EQ(L"Both", model);
    }

    HMODULE m_dll = nullptr;
    HRESULT(WINAPI* m_registerServer)() = nullptr;
    HRESULT(WINAPI* m_unregisterServer)() = nullptr;
    HRESULT(WINAPI* m_install)(BOOL, LPCWSTR) = nullptr;
    std::wstring m_path;
};

TEST_F(RegistrationTest, RegisteringTwiceWritesTheSameKeys) {
    ASSERT_EQ(S_OK, m_registerServer());
    ASSERT_EQ(S_OK, m_registerServer());
    for (const CLSID* c : {&kDemuxClsid, &kMuxClsid, &kDumpClsid, &kSourceClsid})
        ExpectRegistered(*c);
    std::wstring bytes, source;
    ASSERT_TRUE(Read(kCheckKey, L"0", &bytes));
    EXPECT_EQ(L"0,4,,5469566F", bytes);
    ASSERT_TRUE(Read(kCheckKey, L"Source Filter", &source));
    EXPECT_EQ(L"{F719A804-E0A5-48B7-B219-204C98028C40}", source);
}

TEST_F(RegistrationTest, UnregisteringRemovesExactlyWhatRegisteringAdded) {
    // Something of someone else's under the same parent key stays.
    const std::wstring parent = L"Media Type\\{e436eb83-524f-11ce-9f53-0020af0ba770}";
    const std::wstring neighbour = parent + L"\\{00000000-1111-2222-3333-444444444444}";
    Write(neighbour, L"0", L"0,2,,FFFF");
    ASSERT_EQ(S_OK, m_unregisterServer());
    for (const CLSID* c : {&kDemuxClsid, &kMuxClsid, &kDumpClsid, &kSourceClsid})
        EXPECT_FALSE(KeyExists(ClsidKey(*c)));
    EXPECT_FALSE(KeyExists(kCheckKey));
    EXPECT_TRUE(KeyExists(neighbour));
    EXPECT_EQ(S_OK, m_unregisterServer());  // nothing left to remove is no failure
    RegDeleteKeyW(HKEY_CLASSES_ROOT, neighbour.c_str());
    ASSERT_EQ(S_OK, m_registerServer());
    ExpectRegistered(kDumpClsid);
}

TEST_F(RegistrationTest, AnotherVendorsFilterIsKeptUnlessReplacing) {
    const std::wstring server = ClsidKey(kDumpClsid) + L"\\InprocServer32";
    Write(server, nullptr, L"C:\\Program Files\\Vendor\\dump.ax");
    ASSERT_EQ(S_OK, m_registerServer());
    std::wstring value;
    ASSERT_TRUE(Read(server, nullptr, &value));
    EXPECT_EQ(L"C:\\Program Files\\Vendor\\dump.ax", value);
    ExpectRegistered(kMuxClsid);  // the others are ours as before
    ASSERT_EQ(S_OK, m_unregisterServer());
    ASSERT_TRUE(Read(server, nullptr, &value));  // theirs survives our unregistration
    EXPECT_EQ(L"C:\\Program Files\\Vendor\\dump.ax", value);
    ASSERT_EQ(S_OK, m_install(TRUE, L"replace"));
    ExpectRegistered(kDumpClsid);
}

}  // namespace
}  // namespace korvane::test
