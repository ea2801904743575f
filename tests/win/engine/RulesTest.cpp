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

// Large files give the same percentages as small ones: no 32-bit step on the way.
TEST(ProgressPercent, TruncatesAndClampsToNinetyNineAtAnySize) {
    EXPECT_EQ(ProgressPercent(0, 12345), 0);
    for (std::uint64_t scale : {1ull, 2 * GiB, 4 * GiB + 1, 300 * GiB}) {
        EXPECT_EQ(ProgressPercent(100 * scale, 0), 0) << scale;
        EXPECT_EQ(ProgressPercent(3 * scale, scale), 33) << scale;
        EXPECT_EQ(ProgressPercent(3 * scale, 2 * scale), 66) << scale;
        EXPECT_EQ(ProgressPercent(1000 * scale, 1000 * scale - 1), 99) << scale;
        EXPECT_EQ(ProgressPercent(scale, scale), 99) << scale;
        EXPECT_EQ(ProgressPercent(scale, 3 * scale), 99) << scale;
    }
}

TEST(FileSizeOrZero, ReadsWholeSixtyFourBitSizesAndZeroForMissingFiles) {
    TempFolder folder;
    EXPECT_EQ(FileSizeOrZero(folder.Path("missing.mpg").c_str()), 0u);
    const std::string big = folder.Path("big.TiVo");
    ScopedHandle file(
        CreateFileA(big.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(5 * GiB + 7);  // sparse on the host: costs nothing
    ASSERT_TRUE(SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.Get()));
    file.Reset();
    EXPECT_EQ(FileSizeOrZero(big.c_str()), 5 * GiB + 7);
}

TEST(CreationText, ShowsTheIdentifierInOnePairOfBraces) {
    const char* format = "Failed to create MPEG DeMuxer %s%s%s !";
    for (const char* text : {"{ABC}", "ABC", "{ABC", "ABC}"})
        EXPECT_EQ(FormatCreationFailure(format, text), "Failed to create MPEG DeMuxer {ABC} !") << text;
    EXPECT_EQ(FormatCreationFailure(format, ""), "Failed to create MPEG DeMuxer {} !");
    EXPECT_EQ(FormatCreationFailure("Failed to create MPEG Muxer %s%s%s !", "}"),
              "Failed to create MPEG Muxer {} !");
}

// The fixed class is parsed from its text when the graph is built, so the text must be whole.
TEST(FileDumpClass, ParsesToTheFileDumpsClassId) {
    CLSID parsed = {};
    ASSERT_EQ(IIDFromString(kFileDumpClass.data(), &parsed), S_OK);
    EXPECT_TRUE(IsEqualGUID(parsed, classids::kFileDump));
}

// Through the registry; a value stored without its NUL is usable only if the terminator can
// still be added inside the buffer.
TEST(ReadSetting, UsesAStringValueOnlyWhenItFitsWithItsTerminator) {
    ClearSettingsAndStandInDump();
    EXPECT_EQ(ReadSetting("mpegDeMuxer", "{D}"), "{D}");
    SetSettingString("mpegMuxer", "{M}");
    EXPECT_EQ(ReadSetting("mpegDeMuxer", "{D}"), "{D}");
    EXPECT_EQ(ReadSetting("mpegMuxer", "{X}"), "{M}");
    const DWORD number = 7;
    const std::string a255(255, 'a'), b256(256, 'b');
    const auto stored = [](DWORD type, const void* data, DWORD size) {
        SetUserValue(kSettingsKey, "mpegDeMuxer", type, data, size);
        return ReadSetting("mpegDeMuxer", "{D}");
    };
    EXPECT_EQ(stored(REG_DWORD, &number, sizeof number), "{D}");
    EXPECT_EQ(stored(REG_EXPAND_SZ, "{E}", 4), "{D}");
    EXPECT_EQ(stored(REG_SZ, a255.c_str(), 256), a255);
    EXPECT_EQ(stored(REG_SZ, b256.c_str(), 257), "{D}");
    EXPECT_EQ(stored(REG_SZ, b256.data(), 256), "{D}");  // without its NUL
    EXPECT_EQ(stored(REG_SZ, a255.data(), 255), a255);
    EXPECT_EQ(stored(REG_SZ, "", 0), "");
    ClearSettingsAndStandInDump();
    // Wine asks for room to add the NUL, or adds it, so a value stored without one never
    // reaches the rule through the registry: only here.
    const std::string unterminated(256, 'x');
    EXPECT_EQ(SettingTextFromQuery(ERROR_SUCCESS, REG_SZ, unterminated.data(), 256, "{D}"), "{D}");
    EXPECT_EQ(SettingTextFromQuery(ERROR_SUCCESS, REG_SZ, unterminated.data(), 255, "{D}"),
              std::string(255, 'x'));
}

TEST(WidenString, AccentedBytesNameTheSameFile) {
    EXPECT_EQ(std::wstring(WidenString("").get()), L"");
    TempFolder folder;
    // In the ANSI code page, as the file dialog hands it over. The euro sign and the OE
    // ligature are where code page 1252 differs from taking each byte as a character.
    wchar_t wideName[] = L"\u0152uvre \u20AC Caf\u00E9.TiVo";
    char ansiName[64] = {};
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, 0, wideName, -1, ansiName, sizeof ansiName, nullptr, &lossy);
    ASSERT_FALSE(lossy) << "code page " << GetACP() << " cannot spell the name";
    const std::string path = folder.Path(ansiName);
    korvane::test::WriteFileBytes(path, {1, 2, 3});
    auto widened = WidenString(path);
    EXPECT_NE(GetFileAttributesW(widened.get()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(std::wstring(widened.get()).substr(std::wstring(widened.get()).size() - wcslen(wideName)),
              wideName);
}

TEST(ErrorEvents, AreNamedWithTheirResult) {
    EXPECT_EQ(DescribeErrorEvent(EC_ERRORABORT, static_cast<LONG_PTR>(HRESULT_FROM_WIN32(ERROR_READ_FAULT))),
              "The conversion stopped because the source could not be read (0x8007001E).");
    EXPECT_EQ(DescribeErrorEvent(EC_STREAM_ERROR_STOPPED, static_cast<LONG_PTR>(E_UNEXPECTED)),
              "The conversion stopped because a filter reported an error (0x8000FFFF).");
    EXPECT_EQ(DescribeErrorEvent(EC_USERABORT, 0),
              "The conversion stopped because the filter graph was aborted (event 0x2).");
    EXPECT_TRUE(IsErrorEvent(EC_ERRORABORTEX));
    EXPECT_FALSE(IsErrorEvent(EC_COMPLETE));
    EXPECT_FALSE(IsErrorEvent(EC_CLOCK_CHANGED));
}

// The box (report mode 0) is StandInTest's, seen from the failed Run.
TEST(FailureRule, HandsTheTextBackCutAtItsBuffer) {
    const char* handed = nullptr;
    ReportFormattedFailure(1, &handed, std::string(2000, 'L'));
    EXPECT_EQ(handed, engineState.errorText);
    EXPECT_EQ(std::strlen(handed), 1024u);
}

}  // namespace
