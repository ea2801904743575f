// The filter pack's key store, its rundll32 entry and its dialog for adding and forgetting
// keys. The test links the same store code as the pack, so what the pack (or rundll32) wrote
// is read back the way the source will read it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "GraphSupport.h"
#include "KeyDialogIds.h"
#include "KeyStore.h"
#include "RegistryKey.h"
#include "DialogScript.h"

namespace korvane::test {
namespace {

using filters::ForgetKey;
using filters::RememberKey;
using filters::StoredKeys;
using Keys = std::vector<std::string>;

const char kDialogCaption[] = "TiVo Media Access Key";

void ClearKeyStore() {
    RegDeleteKeyW(HKEY_CURRENT_USER, filters::kKeyStorePath);
}

// Every value's raw bytes under the store's key.
std::vector<std::vector<BYTE>> RawValues() {
    filters::RegistryKey key;
    std::vector<std::vector<BYTE>> values;
    if (key.Open(HKEY_CURRENT_USER, filters::kKeyStorePath, KEY_QUERY_VALUE) != ERROR_SUCCESS) return values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[64];
        DWORD nameLength = 64, size = 4096;
        std::vector<BYTE> data(size);
        if (RegEnumValueW(key.Get(), i, name, &nameLength, nullptr, nullptr, data.data(), &size) !=
            ERROR_SUCCESS)
            break;
        data.resize(size);
        values.push_back(data);
    }
    return values;
}

using EntryProc = void(CALLBACK*)(HWND, HINSTANCE, LPWSTR, int);

EntryProc MediaAccessKeyEntry() {
    HMODULE dll = LoadLibraryA(EnvOr("KORVANE_FILTERS_DLL", "KorvaneFilters.dll").c_str());
    return dll ? reinterpret_cast<EntryProc>(reinterpret_cast<void*>(GetProcAddress(dll, "MediaAccessKeyW")))
               : nullptr;
}

// rundll32 in its own process, as an installer runs it; the exit code of rundll32 itself.
DWORD RunDll32(const std::string& arguments) {
    std::wstring command = L"rundll32.exe \"" + Widen(EnvOr("KORVANE_FILTERS_DLL", "KorvaneFilters.dll")) +
                           L"\",MediaAccessKey " + Widen(arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return GetLastError() | 0x80000000u;
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

void SetKeyText(HWND dialog, const char* text) {
    SetDlgItemTextA(dialog, IDC_KEY_EDIT, text);
}

std::vector<std::string> ListedKeys(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_KEY_STORED);
    std::vector<std::string> keys;
    for (LRESULT i = 0, n = SendMessageA(list, LB_GETCOUNT, 0, 0); i < n; ++i) {
        char text[64] = {};
        SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        keys.push_back(text);
    }
    return keys;
}

class KeyStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ClearKeyStore(); }
    void TearDown() override { ClearKeyStore(); }
};

TEST_F(KeyStoreTest, KeysRoundTripSealedUnderThePacksOwnKey) {
    EXPECT_EQ(Keys{}, StoredKeys());
    EXPECT_EQ(S_OK, RememberKey("0123456789"));
    EXPECT_EQ(S_OK, RememberKey("9876543210"));
    EXPECT_EQ(S_FALSE, RememberKey("0123456789"));
    EXPECT_EQ(E_INVALIDARG, RememberKey("012345678"));
    EXPECT_EQ((Keys{"0123456789", "9876543210"}), StoredKeys());

    // Sealed: the digits appear nowhere in what the registry holds.
    auto raw = RawValues();
    ASSERT_EQ(2u, raw.size());
    for (const auto& value : raw) {
        std::string bytes(value.begin(), value.end());
        EXPECT_EQ(std::string::npos, bytes.find("0123456789"));
        EXPECT_EQ(std::string::npos, bytes.find("9876543210"));
    }
    // The program's own settings key is not where keys go.
    EXPECT_NE(std::wstring(filters::kKeyStorePath).find(L"Korvane Filters\\"), std::wstring::npos);

    EXPECT_EQ(S_OK, ForgetKey("0123456789"));
    EXPECT_EQ(S_FALSE, ForgetKey("0123456789"));
    EXPECT_EQ(Keys{"9876543210"}, StoredKeys());
}

// A value this user cannot unseal (another account's, or damaged) is neither read as a key
// nor overwritten by a new one.
TEST_F(KeyStoreTest, AValueThatDoesNotUnsealIsSkippedAndKept) {
    filters::RegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, filters::kKeyStorePath, KEY_SET_VALUE));
    const BYTE noise[] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.Get(), L"Key 1", 0, REG_BINARY, noise, sizeof(noise)));
    EXPECT_EQ(Keys{}, StoredKeys());
    EXPECT_EQ(S_OK, RememberKey("5555555555"));
    EXPECT_EQ(Keys{"5555555555"}, StoredKeys());
    auto raw = RawValues();
    ASSERT_EQ(2u, raw.size());
    EXPECT_EQ(std::vector<BYTE>(noise, noise + sizeof(noise)), raw[0]);
}

TEST_F(KeyStoreTest, Rundll32StoresAKeySilently) {
    EXPECT_EQ(0u, RunDll32("0123-456-789"));
    EXPECT_EQ(0u, RunDll32("\"1111 222 333\""));
    EXPECT_EQ(0u, RunDll32("0123456789"));
    EXPECT_EQ((Keys{"0123456789", "1111222333"}), StoredKeys());
}

// Anything but 10 digits: a message box says so and no key is stored.
TEST_F(KeyStoreTest, Rundll32RefusesAnythingButTenDigits) {
    EntryProc entry = MediaAccessKeyEntry();
    ASSERT_NE(nullptr, entry);
    ASSERT_EQ(S_OK, RememberKey("0123456789"));
    for (const char* argument : {"12345", "01234567890", "012345678x", "0123456789 0", "MAK=0123456789"}) {
        SCOPED_TRACE(argument);
        DialogScript script;
        script.Answer("Korvane Filters", "OK");
        std::wstring wide = Widen(argument);
        entry(nullptr, nullptr, &wide[0], SW_SHOWNORMAL);
        ASSERT_EQ(1, script.Shown());
        EXPECT_NE(std::string::npos, script.seen[0].text.find(std::string("\"") + argument + "\""));
        EXPECT_NE(std::string::npos, script.seen[0].text.find("10 digits"));
        EXPECT_EQ(Keys{"0123456789"}, StoredKeys());
    }
}

// Without an argument the dialog lists the stored keys; Add refuses a short key and stores a
// right one, Forget removes the selected one.
TEST_F(KeyStoreTest, TheDialogAddsAndForgetsKeys) {
    EntryProc entry = MediaAccessKeyEntry();
    ASSERT_NE(nullptr, entry);
    ASSERT_EQ(S_OK, RememberKey("1111111111"));
    std::vector<std::string> listedAtStart, listedAfterAdd, listedAfterForget;
    std::string refusal;
    DialogScript script;
    script.Expect(kDialogCaption, [&](HWND dialog) {
        listedAtStart = ListedKeys(dialog);
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IDC_KEY_REMEMBER)));
        SetKeyText(dialog, "12 34");
        ClickButton(dialog, "&Add");
        After(100, [&, dialog] {
            refusal = WindowText(GetDlgItem(dialog, IDC_KEY_MESSAGE));
            SetKeyText(dialog, "2222-333-444");
            ClickButton(dialog, "&Add");
            After(100, [&, dialog] {
                listedAfterAdd = ListedKeys(dialog);
                SendDlgItemMessageA(dialog, IDC_KEY_STORED, LB_SETCURSEL, 0, 0);
                ClickButton(dialog, "&Forget");
                After(100, [&, dialog] {
                    listedAfterForget = ListedKeys(dialog);
                    ClickButton(dialog, "Close");
                });
            });
        });
    });
    std::wstring none;
    entry(nullptr, nullptr, &none[0], SW_SHOWNORMAL);
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_EQ(Keys{"1111111111"}, listedAtStart);
    EXPECT_NE(std::string::npos, refusal.find("10 digits"));
    EXPECT_EQ((Keys{"1111111111", "2222333444"}), listedAfterAdd);
    EXPECT_EQ(Keys{"2222333444"}, listedAfterForget);
    EXPECT_EQ(Keys{"2222333444"}, StoredKeys());
}

}  // namespace
}  // namespace korvane::test
