// Encrypted recordings through Wine's filter graph manager: the source picks a stored key,
// asks over the calling thread's shown window when none fits, and never asks without one.
// The outputs of the lossless cases stay for the ffprobe checks that run after this test.
#include <memory>

#include "DialogScript.h"
#include "EmptyKeyStoreTest.h"
#include "GraphSupport.h"
#include "keys/KeyDialogIds.h"
#include "keys/KeyStore.h"

namespace korvane::test {
namespace {

using Keys = std::vector<std::string>;

const char kKey[] = "0123456789";
const char kOtherKey[] = "1111111111";
const char kDialogCaption[] = "TiVo Media Access Key";
const char kRefused[] = "Failed to connect Source to DeMuxer!";

std::string Vector(const std::string& name) {
    return EnvOr("KORVANE_VECTORS", ".") + "\\" + name;
}

// A shown and active top-level window of this thread, as the program's progress window is
// while it converts.
std::unique_ptr<HWND__, BOOL(WINAPI*)(HWND)> ActiveWindow() {
    HWND window = CreateWindowExW(0, L"STATIC", L"Korvane key test owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  10, 10, 300, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(window);
    SetActiveWindow(window);
    return {window, DestroyWindow};
}

class KeySourceTest : public EmptyKeyStoreTest {
protected:
    std::string Encrypted(const std::string& materialName, const char* mak) {
        return WrapAsTivo(materialName, m_scratch.Path(materialName + "." + mak + ".TiVo"), mak);
    }
};

// The known-answer recordings encrypted by an independent implementation, and every material
// stream encrypted by our writer (but the MPEG-1 one, whose packets cannot be scrambled, and
// the transport stream with garbage before its first packet): with the key stored they
// convert, and the checks after this test find the streams of the clear originals.
TEST_F(KeySourceTest, EncryptedRecordingsWithAStoredKeyConvert) {
    ASSERT_EQ(S_OK, filters::RememberKey(kKey));
    const std::string vectors = KeptOutputs("out-vectors"), encrypted = KeptOutputs("out-encrypted");
    for (const std::string name :
         {"ps-mpeg2-ac3.mpg", "ps-mpeg2-mp2-large.mpg", "ts-mpeg2-ac3.ts.mpg", "ts-h264-ac3.ts.mpg"}) {
        SCOPED_TRACE(name);
        const std::string tivo = Vector(name.substr(0, name.find('.')) + ".TiVo");
        ASSERT_TRUE(FileExists(tivo)) << tivo;
        EXPECT_EQ("", Convert(tivo, vectors + "\\" + name));
    }
    for (const std::string pattern : {"*.mpg", "*.ts"}) {
        for (const std::string& name : MaterialStreams(pattern.c_str())) {
            if (name == "mpeg1.mpg" || name == "ts_garbage.ts") continue;
            SCOPED_TRACE(name);
            EXPECT_EQ("", Convert(Encrypted(name, kKey),
                                  encrypted + "\\" + name + (pattern == "*.ts" ? ".mpg" : "")));
        }
    }
}

// Two accounts' keys stored: each recording is opened with its own, whichever comes first.
TEST_F(KeySourceTest, OfTwoStoredKeysTheOneThatFitsIsUsed) {
    ASSERT_EQ(S_OK, filters::RememberKey(kOtherKey));
    ASSERT_EQ(S_OK, filters::RememberKey(kKey));
    DialogScript script;  // would catch a dialog: none may come
    for (const char* mak : {kKey, kOtherKey})
        EXPECT_EQ("", Convert(Encrypted("mp2.mpg", mak), m_scratch.Path("two-keys.mpg")));
    EXPECT_EQ(0, script.Shown());
}

// A wrong key is refused in the dialog, which says so and asks again; the right one opens
// the recording and, with "Remember this key" left checked, is stored.
TEST_F(KeySourceTest, TheDialogAsksAgainAfterAWrongKeyThenTheFileConverts) {
    const auto owner = ActiveWindow();
    ASSERT_EQ(owner.get(), GetActiveWindow());
    HWND dialogOwner = nullptr;
    bool rememberChecked = false;
    std::string refusal;
    DialogScript script;
    script.Expect(kDialogCaption, [&](HWND dialog) {
        dialogOwner = GetWindow(dialog, GW_OWNER);
        rememberChecked = IsDlgButtonChecked(dialog, IDC_KEY_REMEMBER) == BST_CHECKED;
        SetDlgItemTextA(dialog, IDC_KEY_EDIT, "1111-111-111");
        ClickButton(dialog, "OK");
        After(100, [&, dialog] {
            refusal = WindowText(GetDlgItem(dialog, IDC_KEY_MESSAGE));
            SetDlgItemTextA(dialog, IDC_KEY_EDIT, "0123 456 789");
            ClickButton(dialog, "OK");
        });
    });
    EXPECT_EQ("", Convert(Encrypted("ac3.mpg", kKey), m_scratch.Path("asked.mpg")));
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_EQ(owner.get(), dialogOwner);
    EXPECT_TRUE(rememberChecked);
    EXPECT_NE(std::string::npos, refusal.find("does not open"));
    EXPECT_EQ(Keys{kKey}, filters::StoredKeys());
    // Remembered: the next recording of the account converts without a question.
    EXPECT_EQ("", Convert(Encrypted("mp2.mpg", kKey), m_scratch.Path("asked-again.mpg")));
    EXPECT_EQ(1, script.Shown());
}

// Without a fitting key and without an active window nobody is asked: the file fails to
// connect, as an encrypted file always did. Over a window, unchecking "Remember this key"
// opens this recording only, and Cancel leaves it failing. Neither stores a key.
TEST_F(KeySourceTest, NoKeyIsStoredWithoutAWindowUncheckedOrCancelled) {
    ASSERT_EQ(S_OK, filters::RememberKey(kOtherKey));
    DialogScript script;
    ASSERT_EQ(nullptr, GetActiveWindow());
    EXPECT_EQ(kRefused, Convert(Encrypted("mp2.mpg", kKey), m_scratch.Path("no-window.mpg")));
    EXPECT_EQ(0, script.Shown());
    const auto owner = ActiveWindow();
    script.Expect(kDialogCaption, [](HWND dialog) {
        CheckDlgButton(dialog, IDC_KEY_REMEMBER, BST_UNCHECKED);
        SetDlgItemTextA(dialog, IDC_KEY_EDIT, kKey);
        ClickButton(dialog, "OK");
    });
    EXPECT_EQ("", Convert(Encrypted("mp2.mpg", kKey), m_scratch.Path("not-remembered.mpg")));
    script.Answer(kDialogCaption, "Cancel");
    EXPECT_EQ(kRefused, Convert(Encrypted("mp2.mpg", kKey), m_scratch.Path("cancelled.mpg")));
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_EQ(Keys{kOtherKey}, filters::StoredKeys());
}

// The user has switched to another program while the batch runs: the progress window is shown
// and enabled but no longer active (GetActiveWindow is null, as Windows makes it for a program
// in the background). The question still comes, over that window, or over a shown window that
// is disabled when there is no other. A thread whose only window is hidden (a player's message
// window) still asks nothing.
TEST_F(KeySourceTest, TheKeyIsAskedOverTheThreadsWindowWhileAnotherProgramIsInFront) {
    std::unique_ptr<HWND__, BOOL(WINAPI*)(HWND)> hidden(
        CreateWindowExW(0, L"STATIC", L"Korvane hidden window", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                        nullptr, GetModuleHandleW(nullptr), nullptr),
        DestroyWindow);
    DialogScript script;
    EXPECT_EQ(kRefused, Convert(Encrypted("mp2.mpg", kKey), m_scratch.Path("hidden-window.mpg")));
    EXPECT_EQ(0, script.Shown());

    const auto owner = ActiveWindow();
    SetActiveWindow(nullptr);
    ASSERT_EQ(nullptr, GetActiveWindow());
    HWND askedOver = nullptr;
    script.Expect(kDialogCaption, [&](HWND dialog) {
        askedOver = GetWindow(dialog, GW_OWNER);
        SetDlgItemTextA(dialog, IDC_KEY_EDIT, kKey);
        ClickButton(dialog, "OK");
    });
    EXPECT_EQ("", Convert(Encrypted("mp2.mpg", kKey), m_scratch.Path("in-the-background.mpg")));
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_EQ(owner.get(), askedOver);
    EXPECT_EQ(Keys{kKey}, filters::StoredKeys());

    // The program's first file loads while its progress window is still being made, under the
    // main window it has disabled already: the question comes over that one.
    ASSERT_EQ(S_OK, filters::ForgetKey(kKey));
    EnableWindow(owner.get(), FALSE);
    askedOver = nullptr;
    script.Expect(kDialogCaption, [&](HWND dialog) {
        askedOver = GetWindow(dialog, GW_OWNER);
        SetDlgItemTextA(dialog, IDC_KEY_EDIT, kKey);
        ClickButton(dialog, "OK");
    });
    EXPECT_EQ("", Convert(Encrypted("mp2.mpg", kKey), m_scratch.Path("first-file.mpg")));
    EXPECT_EQ(owner.get(), askedOver);
}

// A transport stream whose key packets never come cannot be decrypted: every scrambled packet
// is dropped, nothing is left to carry, and the source fails to connect; no output is made.
TEST_F(KeySourceTest, AnEncryptedTransportStreamWithoutItsKeyPidFailsToConnect) {
    ASSERT_EQ(S_OK, filters::RememberKey(kKey));
    const std::vector<uint8_t> original = ReadFileBytes(Vector("ts-h264-ac3.TiVo"));
    const size_t offset = 1024;  // the vectors' MPEG offset
    ASSERT_GT(original.size(), 100000u);
    ASSERT_EQ(0x47, original[offset]);
    std::vector<uint8_t> bytes(original.begin(), original.begin() + offset);
    for (size_t i = offset; i + 188 <= original.size(); i += 188) {
        const unsigned pid = (original[i + 1] & 0x1F) << 8 | original[i + 2];
        if (pid != 0x0FF0) bytes.insert(bytes.end(), original.begin() + i, original.begin() + i + 188);
    }
    const std::string path = m_scratch.Path("no-key-pid.TiVo"), output = m_scratch.Path("no-key-pid.mpg");
    WriteFileBytes(path, bytes);
    EXPECT_EQ(kRefused, Convert(path, output));
    EXPECT_FALSE(FileExists(output));
}

}  // namespace
}  // namespace korvane::test
