// The filter pack's key store, its rundll32 entry and its dialog for adding and forgetting
// keys. The test links the same store code as the pack, so what the pack (or rundll32) wrote
// is read back the way the source will read it.
#include <algorithm>
#include <memory>
#include <thread>

#include "DialogScript.h"
#include "GraphSupport.h"
#include "keys/KeyDialogIds.h"
#include "keys/KeyStore.h"
#include "win32/Scoped.h"

namespace korvane::test {
namespace {

using filters::ForgetKey;
using filters::RememberKey;
using filters::StoredKeys;
using Keys = std::vector<std::string>;

// A value's raw bytes under the store's key; empty when there is no such value.
std::string RawValue(const wchar_t* name) {
    char data[4096];
    DWORD size = sizeof(data);
    return RegGetValueW(HKEY_CURRENT_USER, filters::kKeyStorePath, name, RRF_RT_REG_BINARY, nullptr, data,
                        &size) == ERROR_SUCCESS
               ? std::string(data, size)
               : "";
}

using EntryProc = void(CALLBACK*)(HWND, HINSTANCE, LPWSTR, int);

// The pack's rundll32 entry, called in this process as rundll32 would call it.
void MediaAccessKeyEntry(const std::string& arguments) {
    auto entry = reinterpret_cast<EntryProc>(reinterpret_cast<void*>(Export(PackPath(), "MediaAccessKeyW")));
    ASSERT_NE(nullptr, entry);
    std::wstring wide = Widen(arguments);
    entry(nullptr, nullptr, &wide[0], SW_SHOWNORMAL);
}

std::vector<std::string> ListedKeys(HWND dialog) {
    std::vector<std::string> keys;
    for (LRESULT i = 0, n = SendDlgItemMessageA(dialog, IDC_KEY_STORED, LB_GETCOUNT, 0, 0); i < n; ++i) {
        char text[64] = {};
        SendDlgItemMessageA(dialog, IDC_KEY_STORED, LB_GETTEXT, static_cast<WPARAM>(i),
                            reinterpret_cast<LPARAM>(text));
        keys.push_back(text);
    }
    return keys;
}

class KeyStoreTest : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteKeyW(HKEY_CURRENT_USER, filters::kKeyStorePath); }
    void TearDown() override { RegDeleteKeyW(HKEY_CURRENT_USER, filters::kKeyStorePath); }
};

TEST_F(KeyStoreTest, KeysRoundTripSealed) {
    EXPECT_EQ(Keys{}, StoredKeys());
    EXPECT_EQ(S_OK, RememberKey("0123456789"));
    EXPECT_EQ(S_OK, RememberKey("9876543210"));
    EXPECT_EQ(S_FALSE, RememberKey("0123456789"));
    EXPECT_EQ(E_INVALIDARG, RememberKey("012345678"));
    EXPECT_EQ((Keys{"0123456789", "9876543210"}), StoredKeys());
    // Sealed: the digits appear nowhere in what the registry holds.
    EXPECT_EQ("", RawValue(L"Key 3"));
    for (const wchar_t* name : {L"Key 1", L"Key 2"}) {
        const std::string value = RawValue(name);
        EXPECT_GT(value.size(), 10u);
        for (const char* key : {"0123456789", "9876543210"})
            EXPECT_EQ(std::string::npos, value.find(key));
    }
    EXPECT_EQ(S_OK, ForgetKey("0123456789"));
    EXPECT_EQ(S_FALSE, ForgetKey("0123456789"));
    EXPECT_EQ(Keys{"9876543210"}, StoredKeys());
}

// A value this user cannot unseal (another account's, or damaged) is neither read as a key
// nor overwritten by a new one.
TEST_F(KeyStoreTest, AValueThatDoesNotUnsealIsSkippedAndKept) {
    ScopedRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, filters::kKeyStorePath, 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, key.Out(), nullptr));
    const BYTE noise[] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.Get(), L"Key 1", 0, REG_BINARY, noise, sizeof(noise)));
    EXPECT_EQ(Keys{}, StoredKeys());
    EXPECT_EQ(S_OK, RememberKey("5555555555"));
    EXPECT_EQ(Keys{"5555555555"}, StoredKeys());
    EXPECT_EQ(std::string(noise, noise + sizeof(noise)), RawValue(L"Key 1"));
    EXPECT_NE("", RawValue(L"Key 2"));
}

// A store deleted while it is read (the dialog open in one program, another forgetting every
// key) ends the reading instead of asking for the next value for ever.
TEST_F(KeyStoreTest, AStoreDeletedUnderTheReaderEndsTheReading) {
    ASSERT_EQ(S_OK, RememberKey("0123456789"));
    ScopedRegKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_CURRENT_USER, filters::kKeyStorePath, 0, KEY_QUERY_VALUE, key.Out()));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CURRENT_USER, filters::kKeyStorePath));
    // On a thread of its own, which is abandoned should it never end.
    struct Reading {
        HKEY key;
        Keys found{"not read"};
        ScopedHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    };
    auto reading = std::make_shared<Reading>();
    reading->key = key.Get();
    std::thread([reading] {
        reading->found = filters::KeysIn(reading->key);
        SetEvent(reading->done.Get());
    }).detach();
    // Generous: the reading takes milliseconds, or never ends.
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(reading->done.Get(), 60000))
        << "reading a deleted store did not end";
    EXPECT_EQ(Keys{}, reading->found);
}

// Writers storing different keys at once each get a value of their own: none overwrites
// another's "Key n".
TEST_F(KeyStoreTest, WritersAtOnceEachKeepTheirKey) {
    constexpr int kWriters = 8;
    ScopedHandle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HRESULT results[kWriters];
    std::vector<std::thread> writers;
    for (int i = 0; i < kWriters; ++i)
        writers.emplace_back([&, i] {
            WaitForSingleObject(go.Get(), INFINITE);
            results[i] = RememberKey(std::string(10, static_cast<char>('0' + i)));
        });
    SetEvent(go.Get());
    for (auto& writer : writers)
        writer.join();
    Keys expected;
    for (int i = 0; i < kWriters; ++i) {
        expected.push_back(std::string(10, static_cast<char>('0' + i)));
        EXPECT_EQ(S_OK, results[i]) << expected.back();
    }
    Keys stored = StoredKeys();
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(expected, stored);
}

// Given a key, the entry stores it without a word; given anything but 10 digits (spaces and
// dashes aside), a message box names what was given and nothing is stored. Setup stores its
// key through StoreMediaAccessKeyW instead (below; installer_stored_key_* run it in setup).
TEST_F(KeyStoreTest, TheEntryStoresTenDigitsAndRefusesAnythingElse) {
    {
        DialogScript quiet;  // would catch a box: none may come
        for (const char* key : {"0123-456-789", "\"1111 222 333\"", "0123456789"})
            MediaAccessKeyEntry(key);
        EXPECT_EQ(0, quiet.Shown());
    }
    EXPECT_EQ((Keys{"0123456789", "1111222333"}), StoredKeys());
    for (const char* argument : {"12345", "01234567890", "012345678x", "0123456789 0", "MAK=0123456789"}) {
        SCOPED_TRACE(argument);
        DialogScript script;
        script.Answer("Korvane Filters", "OK");
        MediaAccessKeyEntry(argument);
        ASSERT_EQ(1, script.Shown());
        EXPECT_NE(std::string::npos, script.seen[0].text.find(std::string("\"") + argument + "\""));
        EXPECT_EQ((Keys{"0123456789", "1111222333"}), StoredKeys());
    }
}

// Setup's way in: the key passed in-process, never on a command line, and an HRESULT back
// instead of a message box, whatever it is given.
TEST_F(KeyStoreTest, TheInProcessEntryAnswersWithAResultAndNoWindow) {
    using StoreProc = HRESULT(WINAPI*)(LPCWSTR);
    auto store =
        reinterpret_cast<StoreProc>(reinterpret_cast<void*>(Export(PackPath(), "StoreMediaAccessKeyW")));
    ASSERT_NE(nullptr, store);
    DialogScript quiet;
    EXPECT_EQ(S_OK, store(L"0123-456-789"));
    EXPECT_EQ(S_FALSE, store(L"0123456789"));
    for (const wchar_t* text : {L"12345", L"012345678x", L"", static_cast<const wchar_t*>(nullptr)})
        EXPECT_EQ(E_INVALIDARG, store(text));
    EXPECT_EQ(0, quiet.Shown());
    EXPECT_EQ(Keys{"0123456789"}, StoredKeys());
}

// Without an argument the dialog lists the stored keys; Add refuses a short key and stores a
// right one, Forget removes the selected one.
TEST_F(KeyStoreTest, TheDialogAddsAndForgetsKeys) {
    ASSERT_EQ(S_OK, RememberKey("1111111111"));
    std::vector<std::string> listedAtStart, listedAfterAdd, listedAfterForget;
    std::string refusal;
    DialogScript script;
    script.Expect("TiVo Media Access Key", [&](HWND dialog) {
        listedAtStart = ListedKeys(dialog);
        SetDlgItemTextA(dialog, IDC_KEY_EDIT, "12 34");
        ClickButton(dialog, "&Add");
        After(100, [&, dialog] {
            refusal = WindowText(GetDlgItem(dialog, IDC_KEY_MESSAGE));
            SetDlgItemTextA(dialog, IDC_KEY_EDIT, "2222-333-444");
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
    MediaAccessKeyEntry("");
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_EQ(Keys{"1111111111"}, listedAtStart);
    EXPECT_NE(std::string::npos, refusal.find("10 digits"));
    EXPECT_EQ((Keys{"1111111111", "2222333444"}), listedAfterAdd);
    EXPECT_EQ(Keys{"2222333444"}, listedAfterForget);
    EXPECT_EQ(Keys{"2222333444"}, StoredKeys());
}

}  // namespace
}  // namespace korvane::test
