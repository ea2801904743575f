// DllRegisterServer / DllUnregisterServer / DllInstall in the test prefix: respectful of
// another vendor's keys. What an install and an uninstall write and remove, twice over, is
// checked by the installer tests (tests/installer/support.sh).
#include "GraphSupport.h"
#include "testing/LiveObjects.h"
#include "win32/Scoped.h"

namespace korvane::test {
namespace {

const wchar_t kVendorDump[] = L"C:\\Program Files\\Vendor\\dump.ax";

std::wstring Server(const char* classText) {
    return L"CLSID\\" + Widen(classText) + L"\\InprocServer32";
}

// The value's text, or "(none)" when the key or the value is missing.
std::wstring Read(const std::wstring& key, const wchar_t* value) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    return RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value, RRF_RT_REG_SZ, nullptr, buffer, &size) ==
                   ERROR_SUCCESS
               ? buffer
               : L"(none)";
}

bool KeyExists(const std::wstring& key) {
    ScopedRegKey opened;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, opened.Out()) == ERROR_SUCCESS;
}

void Write(const std::wstring& key, const wchar_t* value, const std::wstring& data) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), value, REG_SZ, data.c_str(),
                                             static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))));
}

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dll = LoadLibraryA(PackPath().c_str());
        ASSERT_NE(nullptr, m_dll);
        m_register =
            reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(m_dll, "DllRegisterServer")));
        m_unregister =
            reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(m_dll, "DllUnregisterServer")));
        m_install = reinterpret_cast<HRESULT(WINAPI*)(BOOL, LPCWSTR)>(
            reinterpret_cast<void*>(GetProcAddress(m_dll, "DllInstall")));
        ASSERT_TRUE(m_register && m_unregister && m_install);
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(m_dll, path, MAX_PATH);
        m_path = path;
    }
    // Whatever a test did, the prefix ends with the pack registered as the other tests need.
    void TearDown() override {
        // Wine gives a file whose extension has a key to its own reader: none may stay.
        const auto registerExtension = reinterpret_cast<KorvaneFiltersRegisterExtensionProc>(
            reinterpret_cast<void*>(GetProcAddress(m_dll, "KorvaneFiltersRegisterExtension")));
        if (registerExtension) registerExtension(-1);
        RegDeleteKeyW(HKEY_CLASSES_ROOT, L"Media Type\\Extensions\\.tivo");
        EXPECT_EQ(S_OK, m_install(TRUE, L"replace"));
        FreeLibrary(m_dll);
    }
    void ExpectOurs(const char* classText) {
        EXPECT_EQ(0, lstrcmpiW(m_path.c_str(), Read(Server(classText), nullptr).c_str())) << classText;
        EXPECT_EQ(L"Both", Read(Server(classText), L"ThreadingModel"));
    }

    using Entry = HRESULT(WINAPI*)();
    HMODULE m_dll = nullptr;
    Entry m_register = nullptr, m_unregister = nullptr;
    HRESULT(WINAPI* m_install)(BOOL, LPCWSTR) = nullptr;
    std::wstring m_path;
};

// What the installer tests cannot see: a neighbour under the check-bytes parent key, and
// another vendor's filter under one of our class ids, stay through registering twice and
// unregistering; only DllInstall with "replace" takes the class over. (What a plain install
// and uninstall write and remove is theirs.)
TEST_F(RegistrationTest, AnotherVendorsKeysStayUnlessReplacing) {
    const std::wstring neighbour =
        L"Media Type\\{e436eb83-524f-11ce-9f53-0020af0ba770}\\{00000000-1111-2222-3333-444444444444}";
    Write(neighbour, L"0", L"0,2,,FFFF");
    Write(Server(classids::kFileDumpText), nullptr, kVendorDump);
    ASSERT_EQ(S_OK, m_register());
    ASSERT_EQ(S_OK, m_register());
    EXPECT_EQ(kVendorDump, Read(Server(classids::kFileDumpText), nullptr));
    ExpectOurs(classids::kMultiplexerText);
    ASSERT_EQ(S_OK, m_unregister());
    EXPECT_EQ(kVendorDump, Read(Server(classids::kFileDumpText), nullptr));
    EXPECT_FALSE(KeyExists(L"CLSID\\" + Widen(classids::kMultiplexerText)));
    EXPECT_EQ(L"0,2,,FFFF", Read(neighbour, L"0"));
    RegDeleteKeyW(HKEY_CLASSES_ROOT, neighbour.c_str());
    ASSERT_EQ(S_OK, m_install(TRUE, L"replace"));
    ExpectOurs(classids::kFileDumpText);
}

// Players and editors on Windows find a source by the file's extension first: ours is
// registered for .tivo, but a source another vendor registered for it keeps the extension
// until "replace" is asked for, and unregistering removes only our own. Under Wine, whose
// AddSourceFilter stops at an extension key, none is written and the check bytes pick ours.
TEST_F(RegistrationTest, TheTivoExtensionNamesOurSourceUnlessAnotherVendorsIsThere) {
    const std::wstring extension = L"Media Type\\Extensions\\.tivo";
    const std::wstring vendorSource = L"{0B0B0B0B-1111-2222-3333-444444444444}";
    const auto registerExtension = reinterpret_cast<KorvaneFiltersRegisterExtensionProc>(
        reinterpret_cast<void*>(GetProcAddress(m_dll, "KorvaneFiltersRegisterExtension")));
    ASSERT_TRUE(registerExtension);
    ASSERT_EQ(S_OK, m_register());
    EXPECT_FALSE(KeyExists(extension));

    ASSERT_EQ(S_OK, registerExtension(1));
    ASSERT_EQ(S_OK, m_register());
    EXPECT_EQ(Widen(classids::kTivoSourceText), Read(extension, L"Source Filter"));
    ASSERT_EQ(S_OK, m_unregister());
    EXPECT_FALSE(KeyExists(extension));
    Write(extension, L"Source Filter", vendorSource);
    ASSERT_EQ(S_OK, m_register());
    EXPECT_EQ(vendorSource, Read(extension, L"Source Filter"));
    ASSERT_EQ(S_OK, m_unregister());
    EXPECT_EQ(vendorSource, Read(extension, L"Source Filter"));
    ASSERT_EQ(S_OK, m_install(TRUE, L"replace"));
    EXPECT_EQ(Widen(classids::kTivoSourceText), Read(extension, L"Source Filter"));
    ASSERT_EQ(S_OK, m_unregister());
    EXPECT_FALSE(KeyExists(extension));
    ASSERT_EQ(S_OK, registerExtension(-1));
}

}  // namespace
}  // namespace korvane::test
