// The progress window over real batches: the real engine and filter pack convert, and the
// test answers every question by its caption, in-process.
#include "ChoiceRules.h"
#include "Conversion.h"
#include "DialogScript.h"
#include "ProgressDlg.h"
#include "resource.h"

#include "media/TivoWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char kProgressCaption[] = "Converting TiVo to MPG";

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// As the window itself looks: a link to a device has no attributes under Wine, but is listed.
bool Exists(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
    return true;
}

long long SizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                ::DeleteFileA(child.c_str());
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(path.c_str());
}

// A valid conversion starts with an MPEG pack header and is not much smaller than its input.
void ExpectConverted(const std::string& output, long long inputSize) {
    const std::string head = ReadAll(output).substr(0, 4);
    EXPECT_EQ(std::string("\0\0\1\xBA", 4), head) << output;
    EXPECT_GT(SizeOf(output), inputSize / 2) << output;
}

// Messages the progress window takes from its queue, seen before they are handled.
struct QueueWatch {
    std::function<void(const MSG&)> onMessage;
};
QueueWatch* g_queueWatch = nullptr;

LRESULT CALLBACK GetMessageProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE && g_queueWatch && g_queueWatch->onMessage)
        g_queueWatch->onMessage(*reinterpret_cast<MSG*>(lParam));
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// Whether the progress window was ever shown.
bool g_progressShown = false;

LRESULT CALLBACK CallWndProc(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_SHOWWINDOW && call->wParam && WindowText(call->hwnd) == kProgressCaption)
        g_progressShown = true;
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

class ProgressWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::CoInitialize(nullptr); }
    static void TearDownTestSuite() { ::CoUninitialize(); }

    void SetUp() override {
        material = Env("KORVANE_MATERIAL");
        data = Env("KORVANE_BATCH_DATA");
        ASSERT_FALSE(material.empty());
        ASSERT_FALSE(data.empty());
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = std::string(temp) + "korvane-batch-" + info->name();
        RemoveTree(dir);
        ::CreateDirectoryA(dir.c_str(), nullptr);
        hook = ::SetWindowsHookExA(WH_GETMESSAGE, &GetMessageProc, nullptr, ::GetCurrentThreadId());
        showHook = ::SetWindowsHookExA(WH_CALLWNDPROC, &CallWndProc, nullptr, ::GetCurrentThreadId());
        g_progressShown = false;
        g_queueWatch = &queue;
    }

    void TearDown() override {
        g_queueWatch = nullptr;
        if (hook) ::UnhookWindowsHookEx(hook);
        if (showHook) ::UnhookWindowsHookEx(showHook);
        HKEY key;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Halvenor\\Korvane", 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            ::RegDeleteValueA(key, "mpegDeMuxer");
            ::RegCloseKey(key);
        }
    }

    // A .TiVo file in the test's folder made from one of the material streams.
    std::string TiVo(const std::string& name, const std::string& stream = "mp2.mpg") {
        const std::string path = dir + "\\" + name;
        std::string error;
        const std::string source = (stream == "big.mpg" ? data : material) + "\\" + stream;
        EXPECT_TRUE(korvane::media::WrapMpegInTivo(source, path, &error)) << error;
        return path;
    }

    std::string Plain(const std::string& name) {
        const std::string path = dir + "\\" + name;
        WriteAll(path, "not a recording");
        return path;
    }

    void SetBrokenDemuxer() {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Halvenor\\Korvane", 0, nullptr, 0,
                                                   KEY_SET_VALUE, nullptr, &key, nullptr));
        const char value[] = "{6B0E5A10-4B2A-4C3E-9D6A-5B1E2F7C0AFF}";  // registered nowhere
        ::RegSetValueExA(key, "mpegDeMuxer", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
        ::RegCloseKey(key);
    }

    struct Outcome {
        INT_PTR result;
        int index;
        bool windowShown;
    };

    Outcome Run(const std::vector<std::string>& sources, const std::string* folder = nullptr) {
        CStringArray files;
        for (const std::string& s : sources) files.Add(s.c_str());
        CString folderText(folder ? folder->c_str() : "");
        CProgressDlg dialog(&files, folder ? &folderText : nullptr, nullptr);
        script.Watch(kProgressCaption, [&](HWND window) {
            progress = window;
            if (onProgressShown) {
                auto action = std::move(onProgressShown);
                onProgressShown = nullptr;
                action(window);
            }
        });
        const INT_PTR result = dialog.DoModal();
        EXPECT_TRUE(script.unexpected.empty()) << script.unexpected.front();
        EXPECT_TRUE(script.AllAnswered());
        return {result, dialog.GetCurrentIndex(), g_progressShown};
    }

    std::string material, data, dir;
    HHOOK hook = nullptr;
    HHOOK showHook = nullptr;
    QueueWatch queue;
    DialogScript script;
    HWND progress = nullptr;
    std::function<void(HWND)> onProgressShown;
};

std::string Mpg(const std::string& tivo) { return tivo.substr(0, tivo.rfind('.')) + ".mpg"; }

TEST_F(ProgressWindowTest, OneFileConvertsAndEndsWithIndexOne) {
    const std::string source = TiVo("Show.TiVo");
    std::vector<std::string> texts;
    queue.onMessage = [&](const MSG& msg) {
        if (msg.message == WM_CONVERSION_DONE && msg.hwnd == progress) texts.push_back(WindowText(::GetDlgItem(progress, IDC_FILE_TEXT)));
    };
    const Outcome outcome = Run({source});
    EXPECT_EQ(IDOK, outcome.result);
    EXPECT_EQ(1, outcome.index);
    EXPECT_EQ(0, script.Shown());
    EXPECT_TRUE(outcome.windowShown);
    ExpectConverted(Mpg(source), SizeOf(source));
}

TEST_F(ProgressWindowTest, AbortToTheFirstQuestionEndsBeforeTheWindowShows) {
    const std::string clip = Plain("clip.mpeg");
    const std::string show = TiVo("show.TiVo");
    script.Expect("Source file isn't a TiVo file!", [&](HWND box) {
        EXPECT_EQ("The file " + clip + " is not a TiVo movie file.", QuestionText(box));
        ClickButton(box, "&Abort");
    });
    const Outcome outcome = Run({clip, show});
    EXPECT_EQ(IDCANCEL, outcome.result);
    EXPECT_EQ(0, outcome.index);
    EXPECT_FALSE(outcome.windowShown);
    EXPECT_FALSE(Exists(Mpg(show)));
}

TEST_F(ProgressWindowTest, IgnoreAllSkipsEveryLaterNonTiVoWithoutABox) {
    const std::string a = Plain("a.mpeg"), b = Plain("b.txt"), c = TiVo("c.TiVo"), d = Plain("d.mpg.bak");
    script.Answer("Source file isn't a TiVo file!", "Ignore A&ll");
    const Outcome outcome = Run({a, b, c, d});
    EXPECT_EQ(IDOK, outcome.result);
    EXPECT_EQ(4, outcome.index);
    EXPECT_EQ(1, script.Shown());
    ExpectConverted(Mpg(c), SizeOf(c));
    EXPECT_FALSE(Exists(dir + "\\a.mpg"));
}

TEST_F(ProgressWindowTest, OverwriteNoAllKeepsEveryExistingOutput) {
    const std::string out = dir + "\\out";
    ::CreateDirectoryA(out.c_str(), nullptr);
    const std::string a = TiVo("a.TiVo"), b = TiVo("b.TiVo"), c = TiVo("c.TiVo");
    WriteAll(out + "\\a.mpg", "old a");
    WriteAll(out + "\\b.mpg", "old b");
    script.Expect("Overwrite File?", [&](HWND box) {
        EXPECT_EQ(out + "\r\nFolder already contains An MPG file for\r\na.TiVo\r\n\r\nOverwrite existing MPG file?",
                  QuestionText(box));
        ClickButton(box, "No A&ll");
    });
    const Outcome outcome = Run({a, b, c}, &out);
    EXPECT_EQ(IDOK, outcome.result);
    EXPECT_EQ(3, outcome.index);
    EXPECT_EQ(1, script.Shown());
    EXPECT_EQ("old a", ReadAll(out + "\\a.mpg"));
    EXPECT_EQ("old b", ReadAll(out + "\\b.mpg"));
    ExpectConverted(out + "\\c.mpg", SizeOf(c));
}

TEST_F(ProgressWindowTest, OverwriteYesAllWritesOverEveryExistingOutput) {
    const std::string a = TiVo("a.TiVo"), b = TiVo("b.TiVo");
    WriteAll(Mpg(a), "old a");
    WriteAll(Mpg(b), "old b");
    script.Answer("Overwrite File?", "Yes &All");
    const Outcome outcome = Run({a, b});
    EXPECT_EQ(IDOK, outcome.result);
    EXPECT_EQ(2, outcome.index);
    EXPECT_EQ(1, script.Shown());
    ExpectConverted(Mpg(a), SizeOf(a));
    ExpectConverted(Mpg(b), SizeOf(b));
}

TEST_F(ProgressWindowTest, OverwriteCancelEndsAtThatFile) {
    const std::string a = TiVo("a.TiVo"), b = TiVo("b.TiVo");
    WriteAll(Mpg(b), "old b");
    script.Answer("Overwrite File?", "&Cancel");
    const Outcome outcome = Run({a, b});
    EXPECT_EQ(IDCANCEL, outcome.result);
    EXPECT_EQ(1, outcome.index);
    ExpectConverted(Mpg(a), SizeOf(a));
    EXPECT_EQ("old b", ReadAll(Mpg(b)));
}

TEST_F(ProgressWindowTest, StartFailureIgnoreThenAbort) {
    SetBrokenDemuxer();
    const std::string a = TiVo("a.TiVo"), b = TiVo("b.TiVo"), c = TiVo("c.TiVo");
    script.Expect("Error Converting!", [&](HWND box) {
        const std::string text = QuestionText(box);
        EXPECT_EQ(0u, text.find("An error occurred converting\r\n" + a + ":\r\n\r\nFailed to create MPEG DeMuxer")) << text;
        ClickButton(box, "&Ignore");
    });
    script.Answer("Error Converting!", "&Abort");
    const Outcome outcome = Run({a, b, c});
    EXPECT_EQ(IDCANCEL, outcome.result);
    EXPECT_EQ(1, outcome.index);
    EXPECT_EQ(2, script.Shown());
}

TEST_F(ProgressWindowTest, StartFailureIgnoreAllSkipsTheRestWithoutABox) {
    SetBrokenDemuxer();
    const std::string a = TiVo("a.TiVo"), b = TiVo("b.TiVo"), c = TiVo("c.TiVo");
    script.Answer("Error Converting!", "Ignore A&ll");
    const Outcome outcome = Run({a, b, c});
    EXPECT_EQ(IDOK, outcome.result);
    EXPECT_EQ(3, outcome.index);
    EXPECT_EQ(1, script.Shown());
}

TEST_F(ProgressWindowTest, OutputThatCannotBeWrittenAsksAndLeavesNoPartialFile) {
    // A 256 KiB file system runs out of room part way through the file. Where none can be
    // mounted, a link to /dev/full fails every write instead; Wine cannot delete that link,
    // so only the question is checked then.
    const bool tiny = Exists(data + "\\tiny\\mounted");
    const std::string folder = data + (tiny ? "\\tiny" : "\\diskfull");
    const std::string source = TiVo("full.TiVo"), next = TiVo("next.TiVo");
    const std::string output = folder + "\\full.mpg";
    if (!tiny) script.Answer("Overwrite File?", "&Yes");
    std::string prefix = "An error occurred converting\r\n" + source + ":\r\n\r\n";
    script.Expect("Error Converting!", [&](HWND box) {
        const std::string text = QuestionText(box);
        EXPECT_EQ(0u, text.find(prefix)) << text;
        EXPECT_GT(text.size(), prefix.size());  // the engine's reason follows
        if (tiny) {
            EXPECT_FALSE(Exists(output));  // deleted before the question
        }
        ClickButton(box, "&Abort");
    });
    const Outcome outcome = Run({source, next}, &folder);
    EXPECT_EQ(IDCANCEL, outcome.result);
    EXPECT_EQ(0, outcome.index);
    if (tiny) {
        EXPECT_FALSE(Exists(output));
    }
    EXPECT_FALSE(Exists(folder + "\\next.mpg"));
    if (!tiny) std::printf("note: no tmpfs mounted; the partial file's deletion was not checked\n");
}

TEST_F(ProgressWindowTest, FailureMidFileIgnoreGoesOnWithTheNextFile) {
    const bool tiny = Exists(data + "\\tiny\\mounted");
    if (!tiny) GTEST_SKIP() << "needs the tmpfs of the test data fixture";
    const std::string folder = data + "\\tiny";
    const std::string source = TiVo("big.TiVo", "big.mpg"), last = Plain("last.txt");
    script.Answer("Error Converting!", "&Ignore");
    script.Answer("Source file isn't a TiVo file!", "&Ignore");
    const Outcome outcome = Run({source, last}, &folder);
    EXPECT_EQ(IDOK, outcome.result);
    EXPECT_EQ(2, outcome.index);
    EXPECT_FALSE(Exists(folder + "\\big.mpg"));
}

}  // namespace
