// The engine's pure rules and its reading of the registry.
#include "engine/Graph.h"
#include "engine/Progress.h"
#include "engine/Run.h"
#include "engine/Settings.h"
#include "TestSupport.h"

#include <evcode.h>

#include <cstring>

namespace {

constexpr std::uint64_t GiB = 1024ull * 1024 * 1024;

TEST(ProgressPercent, ZeroInputGivesZero) {
    EXPECT_EQ(ProgressPercent(0, 0), 0);
    EXPECT_EQ(ProgressPercent(0, 12345), 0);
}

TEST(ProgressPercent, TruncatesAndClampsToNinetyNine) {
    EXPECT_EQ(ProgressPercent(100, 0), 0);
    EXPECT_EQ(ProgressPercent(3, 1), 33);
    EXPECT_EQ(ProgressPercent(3, 2), 66);
    EXPECT_EQ(ProgressPercent(1000, 999), 99);
    EXPECT_EQ(ProgressPercent(1000, 1000), 99);
    EXPECT_EQ(ProgressPercent(1000, 5000), 99);
}

TEST(ProgressPercent, LargeFilesGiveTheSamePercentagesAsSmallOnes) {
    for (std::uint64_t scale : {2 * GiB, 4 * GiB + 1, 300 * GiB}) {
        EXPECT_EQ(ProgressPercent(3 * scale, scale), 33) << scale;
        EXPECT_EQ(ProgressPercent(4 * scale, scale), 25) << scale;
        EXPECT_EQ(ProgressPercent(scale, scale - 1), 99) << scale;
        EXPECT_EQ(ProgressPercent(scale, 3 * scale), 99) << scale;
    }
}

TEST(FileSizeOrZero, ReadsWholeSixtyFourBitSizesAndZeroForMissingFiles) {
    TempFolder folder;
    EXPECT_EQ(FileSizeOrZero(folder.Path("missing.mpg").c_str()), 0u);
    const std::string big = folder.Path("big.TiVo");
    HANDLE file =
        CreateFileA(big.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(5 * GiB + 7);  // sparse on the host: costs nothing
    ASSERT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);
    EXPECT_EQ(FileSizeOrZero(big.c_str()), 5 * GiB + 7);
}

TEST(CreationText, ShowsTheIdentifierInOnePairOfBraces) {
    const char* format = "Failed to create MPEG DeMuxer %s%s%s !";
    EXPECT_EQ(FormatCreationFailure(format, "{ABC}"), "Failed to create MPEG DeMuxer {ABC} !");
    EXPECT_EQ(FormatCreationFailure(format, "ABC"), "Failed to create MPEG DeMuxer {ABC} !");
    EXPECT_EQ(FormatCreationFailure(format, "{ABC"), "Failed to create MPEG DeMuxer {ABC} !");
    EXPECT_EQ(FormatCreationFailure(format, "ABC}"), "Failed to create MPEG DeMuxer {ABC} !");
    EXPECT_EQ(FormatCreationFailure(format, ""), "Failed to create MPEG DeMuxer {} !");
    EXPECT_EQ(FormatCreationFailure("Failed to create MPEG Muxer %s%s%s !", "}"),
              "Failed to create MPEG Muxer {} !");
}

TEST(SettingText, UsesOnlyTerminatedStringsThatFit) {
    const char* fallback = "{DEFAULT}";
    char data[kSettingBufferSize];
    std::memset(data, 'x', sizeof data);
    EXPECT_EQ(SettingTextFromQuery(ERROR_FILE_NOT_FOUND, REG_SZ, data, 0, fallback), fallback);
    EXPECT_EQ(SettingTextFromQuery(ERROR_MORE_DATA, REG_SZ, data, 256, fallback), fallback);
    EXPECT_EQ(SettingTextFromQuery(ERROR_SUCCESS, REG_DWORD, data, 4, fallback), fallback);
    EXPECT_EQ(SettingTextFromQuery(ERROR_SUCCESS, REG_EXPAND_SZ, data, 4, fallback), fallback);
    // Filling the whole buffer without a terminator: where it ends is unknown.
    EXPECT_EQ(SettingTextFromQuery(ERROR_SUCCESS, REG_SZ, data, 256, fallback), fallback);
    // Shorter unterminated data is terminated after its last byte, not read beyond.
    EXPECT_EQ(SettingTextFromQuery(ERROR_SUCCESS, REG_SZ, data, 255, fallback), std::string(255, 'x'));
    EXPECT_EQ(SettingTextFromQuery(ERROR_SUCCESS, REG_SZ, data, 3, fallback), "xxx");
    data[255] = '\0';
    EXPECT_EQ(SettingTextFromQuery(ERROR_SUCCESS, REG_SZ, data, 256, fallback), std::string(255, 'x'));
    data[4] = '\0';
    EXPECT_EQ(SettingTextFromQuery(ERROR_SUCCESS, REG_SZ, data, 256, fallback), "xxxx");
    EXPECT_EQ(SettingTextFromQuery(ERROR_SUCCESS, REG_SZ, data, 0, fallback), "");
}

class ReadSettingTest : public ::testing::Test {
protected:
    void SetUp() override { ClearSettings(); }
    void TearDown() override { ClearSettings(); }
};

TEST_F(ReadSettingTest, FallsBackForMissingKeyValueAndWrongType) {
    EXPECT_EQ(ReadSetting("mpegDeMuxer", "{D}"), "{D}");
    SetSettingString("mpegMuxer", "{M}");
    EXPECT_EQ(ReadSetting("mpegDeMuxer", "{D}"), "{D}");
    EXPECT_EQ(ReadSetting("mpegMuxer", "{X}"), "{M}");
    const DWORD number = 7;
    SetSettingBytes("mpegDeMuxer", REG_DWORD, &number, sizeof number);
    EXPECT_EQ(ReadSetting("mpegDeMuxer", "{D}"), "{D}");
}

TEST_F(ReadSettingTest, UsesAValueOnlyWhenItFitsWithItsTerminator) {
    SetSettingString("mpegDeMuxer", std::string(255, 'a'));
    EXPECT_EQ(ReadSetting("mpegDeMuxer", "{D}"), std::string(255, 'a'));
    SetSettingString("mpegDeMuxer", std::string(256, 'b'));
    EXPECT_EQ(ReadSetting("mpegDeMuxer", "{D}"), "{D}");
    SetSettingString("mpegDeMuxer", std::string(300, 'c'));
    EXPECT_EQ(ReadSetting("mpegDeMuxer", "{D}"), "{D}");
}

TEST_F(ReadSettingTest, NeverReadsPastAnUnterminatedValue) {
    const std::string full(256, 'u');
    SetSettingBytes("mpegDeMuxer", REG_SZ, full.data(), 256);
    EXPECT_EQ(ReadSetting("mpegDeMuxer", "{D}"), "{D}");
    const std::string shorter(40, 'v');
    SetSettingBytes("mpegDeMuxer", REG_SZ, shorter.data(), 40);
    EXPECT_EQ(ReadSetting("mpegDeMuxer", "{D}"), shorter);
}

TEST(WidenString, AsciiWidensUnitForUnit) {
    auto wide = WidenString("C:\\Videos\\Show 1.TiVo");
    EXPECT_EQ(std::wstring(wide.get()), L"C:\\Videos\\Show 1.TiVo");
    EXPECT_EQ(std::wstring(WidenString("").get()), L"");
}

TEST(WidenString, AccentedBytesNameTheSameFile) {
    TempFolder folder;
    // In the ANSI code page, as the file dialog hands it over. The euro sign and the OE
    // ligature are where code page 1252 differs from taking each byte as a character.
    wchar_t wideName[] = L"\u0152uvre \u20AC Caf\u00E9.TiVo";
    char ansiName[64] = {};
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, 0, wideName, -1, ansiName, sizeof ansiName, nullptr, &lossy);
    ASSERT_FALSE(lossy) << "code page " << GetACP() << " cannot spell the name";
    const std::string path = folder.Path(ansiName);
    WriteFileOfSize(path, 3);
    auto widened = WidenString(path);
    EXPECT_NE(GetFileAttributesW(widened.get()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(std::wstring(widened.get()).find(wideName), std::wstring::npos);
}

TEST(ErrorEvents, AreNamedWithTheirResult) {
    EXPECT_EQ(DescribeErrorEvent(EC_ERRORABORT, static_cast<LONG_PTR>(static_cast<HRESULT>(0x80070070))),
              "The conversion stopped because the output could not be written (0x80070070).");
    EXPECT_EQ(DescribeErrorEvent(EC_ERRORABORT, static_cast<LONG_PTR>(HRESULT_FROM_WIN32(ERROR_READ_FAULT))),
              "The conversion stopped because the source could not be read (0x8007001E).");
    EXPECT_EQ(DescribeErrorEvent(EC_STREAM_ERROR_STOPPED, static_cast<LONG_PTR>(E_UNEXPECTED)),
              "The conversion stopped because a filter reported an error (0x8000FFFF).");
    EXPECT_EQ(DescribeErrorEvent(EC_USERABORT, 0),
              "The conversion stopped because the filter graph was aborted (event 0x2).");
    EXPECT_TRUE(IsErrorEvent(EC_ERRORABORT));
    EXPECT_TRUE(IsErrorEvent(EC_ERRORABORTEX));
    EXPECT_FALSE(IsErrorEvent(EC_COMPLETE));
    EXPECT_FALSE(IsErrorEvent(EC_CLOCK_CHANGED));
}

// Answers the "Error Occurred!" box from inside its modal loop and keeps its text.
std::string boxText;
void CALLBACK AnswerErrorBox(HWND, UINT, UINT_PTR, DWORD) {
    HWND box = FindWindowA("#32770", "Error Occurred!");
    if (!box) return;
    char text[1100] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    boxText = text;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

TEST(FailureRule, HandsTextBackOrShowsItInABox) {
    const char* handed = nullptr;
    ReportFailure(1, &handed, "Failed to create Source!");
    EXPECT_STREQ(handed, "Failed to create Source!");

    const std::string longText(2000, 'L');
    ReportFormattedFailure(1, &handed, longText);
    EXPECT_EQ(handed, engineState.errorText);
    EXPECT_EQ(std::strlen(handed), 1024u);

    const char* untouched = "before";
    boxText.clear();
    UINT_PTR timer = SetTimer(nullptr, 0, 50, AnswerErrorBox);
    ReportFailure(0, &untouched, "Failed to create Filter Graph!");
    KillTimer(nullptr, timer);
    EXPECT_STREQ(untouched, "before");
    EXPECT_EQ(boxText, "Failed to create Filter Graph!");
}

}  // namespace
