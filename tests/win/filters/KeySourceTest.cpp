// Encrypted recordings through Wine's filter graph manager: the source picks a stored key,
// asks over the calling thread's active window when none fits, and never asks without one.
// The outputs of the lossless cases stay for the ffprobe checks that run after this test.
#include <gtest/gtest.h>

#include <evcode.h>

#include <random>
#include <string>
#include <vector>

#include "GraphSupport.h"
#include "KeyDialogIds.h"
#include "KeyStore.h"
#include "media/TivoWriter.h"
#include "DialogScript.h"

namespace korvane::test {
namespace {

using Keys = std::vector<std::string>;

const char kKey[] = "0123456789";
const char kOtherKey[] = "1111111111";
const char kDialogCaption[] = "TiVo Media Access Key";
// MPEG-1 packets have no scrambling bits, so no recording is encrypted that way
// (check-encrypted-outputs.sh leaves it out too).
const char kMpeg1Material[] = "mpeg1.mpg";

std::string Work(const std::string& name) {
    return WorkDir() + "\\" + name;
}

std::string VectorsDir() {
    return EnvOr("KORVANE_VECTORS", ".");
}

// A material stream encrypted with mak, as a TiVo would deliver it.
std::string EncryptedTivo(const std::string& materialName, const std::string& mak) {
    media::TivoWrapOptions options;
    options.mediaAccessKey = mak;
    options.title = "Encrypted " + materialName;
    const std::string tivo = Work(materialName + "." + mak + ".TiVo");
    std::string error;
    if (!media::WrapMpegInTivo(MaterialDir() + "\\" + materialName, tivo, &error, options)) {
        ADD_FAILURE() << error;
        return "";
    }
    return tivo;
}

// A plain top-level window of this thread, shown and active, as the program's progress window
// is while it converts.
class ActiveWindow {
public:
    ActiveWindow() {
        m_window = CreateWindowExW(0, L"STATIC", L"Korvane key test owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                   10, 10, 300, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetForegroundWindow(m_window);
        SetActiveWindow(m_window);
    }
    ~ActiveWindow() { DestroyWindow(m_window); }
    ActiveWindow(const ActiveWindow&) = delete;
    ActiveWindow& operator=(const ActiveWindow&) = delete;
    HWND Handle() const { return m_window; }

private:
    HWND m_window;
};

class KeySourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteKeyW(HKEY_CURRENT_USER, filters::kKeyStorePath);
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    }
    void TearDown() override {
        EXPECT_EQ(0, TotalLive(LiveObjects()));
        CoUninitialize();
        RegDeleteKeyW(HKEY_CURRENT_USER, filters::kKeyStorePath);
    }
    static void ExpectCompleted(const Conversion& c) {
        EXPECT_EQ(Step::None, c.failedStep) << std::hex << c.hr;
        EXPECT_EQ(EC_COMPLETE, c.completionCode);
        EXPECT_FALSE(c.HasEvent(EC_ERRORABORT));
    }
};

// Every material stream encrypted by our writer, and the known-answer recordings encrypted by
// an independent implementation: with the key stored they convert, and the ffprobe check
// after this test finds the streams of the clear originals.
TEST_F(KeySourceTest, EncryptedRecordingsWithAStoredKeyConvert) {
    ASSERT_EQ(S_OK, filters::RememberKey(kKey));
    CreateDirectoryA(Work("out-encrypted").c_str(), nullptr);
    for (const std::string& name : MaterialStreams()) {
        if (name == kMpeg1Material) continue;
        SCOPED_TRACE(name);
        const std::string tivo = EncryptedTivo(name, kKey);
        ASSERT_FALSE(tivo.empty());
        const std::string output = Work("out-encrypted\\" + name);
        ExpectCompleted(Convert(Widen(tivo), Widen(output)));
    }
    CreateDirectoryA(Work("out-vectors").c_str(), nullptr);
    for (const char* name : {"ps-mpeg2-ac3", "ps-mpeg2-mp2-large"}) {
        SCOPED_TRACE(name);
        const std::string tivo = VectorsDir() + "\\" + name + ".TiVo";
        ASSERT_TRUE(FileExists(tivo)) << tivo;
        ExpectCompleted(Convert(Widen(tivo), Widen(Work("out-vectors\\" + std::string(name) + ".mpg"))));
    }
}

// Two accounts' keys stored: each recording is opened with its own, whichever comes first.
TEST_F(KeySourceTest, OfTwoStoredKeysTheOneThatFitsIsUsed) {
    ASSERT_EQ(S_OK, filters::RememberKey(kOtherKey));
    ASSERT_EQ(S_OK, filters::RememberKey(kKey));
    DialogScript script;  // would catch a dialog: none may come
    for (const char* mak : {kKey, kOtherKey}) {
        SCOPED_TRACE(mak);
        const std::string tivo = EncryptedTivo("mp2.mpg", mak);
        ExpectCompleted(Convert(Widen(tivo), Widen(Work(std::string("two-keys-") + mak + ".mpg"))));
    }
    EXPECT_EQ(0, script.Shown());
}

// Without a fitting key and without an active window nobody is asked: the file fails to
// connect, as an encrypted file always did.
TEST_F(KeySourceTest, WithoutAnActiveWindowNoDialogAndTheFileFails) {
    ASSERT_EQ(S_OK, filters::RememberKey(kOtherKey));
    const std::string tivo = EncryptedTivo("mp2.mpg", kKey);
    DialogScript script;
    ASSERT_EQ(nullptr, GetActiveWindow());
    Conversion c = Convert(Widen(tivo), Widen(Work("no-window.mpg")));
    EXPECT_EQ(Step::SourceToDemux, c.failedStep);
    EXPECT_EQ(0, script.Shown());
}

// A wrong key is refused in the dialog, which says so and asks again; the right one opens
// the recording and, with "Remember this key" left checked, is stored.
TEST_F(KeySourceTest, TheDialogAsksAgainAfterAWrongKeyThenTheFileConverts) {
    const std::string tivo = EncryptedTivo("ac3.mpg", kKey);
    ActiveWindow owner;
    ASSERT_EQ(owner.Handle(), GetActiveWindow());
    HWND dialogOwner = nullptr;
    bool rememberChecked = false;
    std::string about, refusal;
    DialogScript script;
    script.Expect(kDialogCaption, [&](HWND dialog) {
        dialogOwner = GetWindow(dialog, GW_OWNER);
        rememberChecked = IsDlgButtonChecked(dialog, IDC_KEY_REMEMBER) == BST_CHECKED;
        about = WindowText(GetDlgItem(dialog, IDC_KEY_ABOUT));
        SetDlgItemTextA(dialog, IDC_KEY_EDIT, "1111-111-111");
        ClickButton(dialog, "OK");
        After(100, [&, dialog] {
            refusal = WindowText(GetDlgItem(dialog, IDC_KEY_MESSAGE));
            SetDlgItemTextA(dialog, IDC_KEY_EDIT, "0123 456 789");
            ClickButton(dialog, "OK");
        });
    });
    ExpectCompleted(Convert(Widen(tivo), Widen(Work("asked.mpg"))));
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_EQ(owner.Handle(), dialogOwner);
    EXPECT_TRUE(rememberChecked);
    EXPECT_NE(std::string::npos, about.find("10-digit"));
    EXPECT_NE(std::string::npos, about.find("Account & System Information"));
    EXPECT_NE(std::string::npos, refusal.find("does not open"));
    EXPECT_EQ(Keys{kKey}, filters::StoredKeys());

    // Remembered: the next recording of the account converts without a question.
    ExpectCompleted(Convert(Widen(EncryptedTivo("mp2.mpg", kKey)), Widen(Work("asked-again.mpg"))));
    EXPECT_EQ(1, script.Shown());
}

// Unchecking "Remember this key" opens this recording only.
TEST_F(KeySourceTest, AKeyNotToBeRememberedIsNotStored) {
    ActiveWindow owner;
    DialogScript script;
    script.Expect(kDialogCaption, [](HWND dialog) {
        CheckDlgButton(dialog, IDC_KEY_REMEMBER, BST_UNCHECKED);
        SetDlgItemTextA(dialog, IDC_KEY_EDIT, kKey);
        ClickButton(dialog, "OK");
    });
    ExpectCompleted(Convert(Widen(EncryptedTivo("mp2.mpg", kKey)), Widen(Work("not-remembered.mpg"))));
    EXPECT_EQ(Keys{}, filters::StoredKeys());
}

// Cancel leaves the file encrypted: it fails to connect, and nothing is stored.
TEST_F(KeySourceTest, TheDialogCancelledLeavesTheFileFailing) {
    const std::string tivo = EncryptedTivo("mp2.mpg", kKey);
    ActiveWindow owner;
    DialogScript script;
    script.Answer(kDialogCaption, "Cancel");
    Conversion c = Convert(Widen(tivo), Widen(Work("cancelled.mpg")));
    EXPECT_EQ(Step::SourceToDemux, c.failedStep);
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_EQ(Keys{}, filters::StoredKeys());
}

// Where a scrambled video packet's 16-byte record starts, walking its PES header per ISO/IEC
// 13818-1; 0 when the packet at i is not one.
size_t VideoRecordAt(const std::vector<uint8_t>& b, size_t i) {
    if (i + 9 >= b.size() || b[i] || b[i + 1] || b[i + 2] != 1 || b[i + 3] != 0xE0 ||
        (b[i + 6] & 0x30) != 0x30)
        return 0;
    const uint8_t flags = b[i + 7];
    size_t at = i + 9;
    at += (flags & 0xC0) == 0xC0 ? 10 : (flags & 0x80) ? 5 : 0;
    at += (flags & 0x20) ? 6 : 0;
    at += (flags & 0x10) ? 3 : 0;
    at += (flags & 0x08) ? 1 : 0;
    at += (flags & 0x04) ? 1 : 0;
    at += (flags & 0x02) ? 2 : 0;
    if (!(flags & 0x01) || at + 17 > b.size() || !(b[at] & 0x80)) return 0;
    return at + 1;
}

size_t ScrambledPackets(const std::vector<uint8_t>& b) {
    size_t n = 0;
    for (size_t i = 0; i + 7 < b.size(); ++i)
        if (!b[i] && !b[i + 1] && b[i + 2] == 1 && b[i + 3] >= 0xBD && (b[i + 6] & 0xF0) == 0xB0) ++n;
    return n;
}

// Damage inside an encrypted recording: packets whose record is invalid are dropped (never
// passed on scrambled), a stretch of garbage is skipped, and the conversion completes.
TEST_F(KeySourceTest, DamagedPacketsAreDroppedAndTheRestConverts) {
    ASSERT_EQ(S_OK, filters::RememberKey(kKey));
    const std::string tivo = EncryptedTivo("mp2.mpg", kKey);
    std::vector<uint8_t> bytes = ReadFileBytes(tivo);
    size_t spoiled = 0, seen = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        size_t record = VideoRecordAt(bytes, i);
        if (record && ++seen % 10 == 3) {
            bytes[record] &= 0x7F;  // the record's first marker bit
            ++spoiled;
        }
    }
    ASSERT_GT(spoiled, 5u);
    std::fill(bytes.begin() + static_cast<long>(bytes.size() / 2),
              bytes.begin() + static_cast<long>(bytes.size() / 2 + 5000), 0xFF);
    const std::string damaged = Work("damaged.TiVo");
    WriteFileBytes(damaged, bytes);

    ExpectCompleted(Convert(Widen(tivo), Widen(Work("undamaged.mpg"))));
    ExpectCompleted(Convert(Widen(damaged), Widen(Work("damaged.mpg"))));
    const std::vector<uint8_t> whole = ReadFileBytes(Work("undamaged.mpg"));
    const std::vector<uint8_t> output = ReadFileBytes(Work("damaged.mpg"));
    EXPECT_EQ(0u, ScrambledPackets(whole));
    EXPECT_EQ(0u, ScrambledPackets(output));
    EXPECT_LT(output.size(), whole.size());
    EXPECT_GT(output.size(), whole.size() * 3 / 4);
}

// Stopped at random moments, paced so that many stops land mid-stream: every conversion ends
// and leaves no object of the pack alive.
TEST_F(KeySourceTest, EncryptedConversionsStoppedAtRandomMomentsLeaveNothingAlive) {
    ASSERT_EQ(S_OK, filters::RememberKey(kKey));
    const std::string tivo = EncryptedTivo("large_packets.mpg", kKey);
    ASSERT_EQ(S_OK, SetSourcePacing(2));
    std::mt19937 random(7102026);
    std::uniform_int_distribution<int> delay(0, 60);
    int stoppedEarly = 0;
    for (int i = 0; i < 200; ++i) {
        RunOptions options;
        options.stopAfterMs = delay(random);
        Conversion c = Convert(Widen(tivo), Widen(Work("random-stop.mpg")), options);
        ASSERT_EQ(Step::None, c.failedStep) << i << std::hex << " " << c.hr;
        ASSERT_EQ(0, TotalLive(LiveObjects())) << "after conversion " << i;
        stoppedEarly += c.completionCode == 0;
    }
    SetSourcePacing(0);
    EXPECT_GT(stoppedEarly, 0);
}

}  // namespace
}  // namespace korvane::test
