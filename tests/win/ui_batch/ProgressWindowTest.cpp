// The progress window over real batches: the real engine and filter pack convert, and the
// test answers every question by its caption, in-process.
#include "ui/batch/ChoiceRules.h"
#include "engine/Conversion.h"
#include "DialogScript.h"
#include "ui/batch/ProgressDlg.h"
#include "engine/Run.h"
#include "TempFolder.h"
#include "res/resource.h"

#include "media/TivoWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
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

// While it lives, a write that would take any file of this process past `bytes` fails
// (EFBIG, through the process's file size limit): a real write failure part way through an
// output, with no mount and no root. prlimit changes the soft limit of this very process,
// whose Linux id allow-file-size-limit.sh hands down with SIGXFSZ ignored.
class FileSizeLimit {
public:
    explicit FileSizeLimit(unsigned long bytes) : m_set(Apply(std::to_string(bytes))) {}
    ~FileSizeLimit() {
        if (m_set) Apply("unlimited");
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool IsSet() const { return m_set; }

private:
    // Sets the soft limit only, so that it can be raised again.
    static bool Apply(const std::string& soft) {
        const std::string pid = Env("KORVANE_UNIX_PID");
        if (pid.empty()) return false;
        std::string command = "Z:\\usr\\bin\\prlimit --pid " + pid + " --fsize=" + soft + ":";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process))
            return false;
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
        // Wine hands back no exit code of a Linux program: watch the limit itself change.
        for (int waited = 0; waited < 10000; waited += 20) {
            if (SoftLimit(pid) == soft) return true;
            ::Sleep(20);
        }
        return false;
    }

    // The soft "Max file size" of /proc/PID/limits: a number of bytes or "unlimited".
    static std::string SoftLimit(const std::string& pid) {
        std::istringstream limits(ReadAll("Z:\\proc\\" + pid + "\\limits"));
        for (std::string line; std::getline(limits, line);) {
            if (line.rfind("Max file size", 0) != 0) continue;
            std::istringstream fields(line.substr(13));
            std::string soft;
            fields >> soft;
            return soft;
        }
        return "";
    }

    bool m_set;
};

// Outputs grow past this part way through the first file of the write-failure tests.
constexpr unsigned long kOutputRoom = 256 * 1024;

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

// Whether the progress window was ever shown, its texts when it went, and every text its
// spinner was given.
bool g_progressShown = false;
std::string g_finalOverallText, g_finalFileText;
std::vector<std::string> g_spinnerTexts;

LRESULT CALLBACK CallWndProc(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_SETTEXT && ::GetDlgCtrlID(call->hwnd) == IDC_SPINNER &&
        WindowText(::GetParent(call->hwnd)) == kProgressCaption)
        g_spinnerTexts.push_back(reinterpret_cast<const char*>(call->lParam));
    if (code == HC_ACTION && call->message == WM_SHOWWINDOW && call->wParam &&
        WindowText(call->hwnd) == kProgressCaption)
        g_progressShown = true;
    if (code == HC_ACTION && call->message == WM_DESTROY && WindowText(call->hwnd) == kProgressCaption) {
        g_finalOverallText = WindowText(::GetDlgItem(call->hwnd, IDC_OVERALL_TEXT));
        g_finalFileText = WindowText(::GetDlgItem(call->hwnd, IDC_FILE_TEXT));
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// The engine's monitor threads start held at a gate that the test opens: until then the
// window sees a conversion that is still running, however fast the graph really is. The
// first g_freeMonitors monitors pass at once.
HANDLE g_gate = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
LONG g_freeMonitors = 0;

struct HeldMonitor {
    LPTHREAD_START_ROUTINE procedure;
    LPVOID parameter;
};

DWORD WINAPI GatedMonitor(LPVOID held) {
    const HeldMonitor monitor = *static_cast<HeldMonitor*>(held);
    delete static_cast<HeldMonitor*>(held);
    if (::InterlockedDecrement(&g_freeMonitors) < 0) ::WaitForSingleObject(g_gate, 30000);
    return monitor.procedure(monitor.parameter);
}

bool StartGatedMonitor(LPTHREAD_START_ROUTINE procedure, LPVOID parameter) {
    return StartDetachedThread(&GatedMonitor, new HeldMonitor{procedure, parameter});
}

class ProgressWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::CoInitialize(nullptr); }
    static void TearDownTestSuite() { ::CoUninitialize(); }

    void SetUp() override {
        material = Env("KORVANE_MATERIAL");
        ASSERT_FALSE(material.empty());
        // A folder named after the test, kept afterwards to look at; removed before it runs.
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        dir = std::string(temp) + "korvane-batch-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        TempFolder::RemoveTree(dir);
        ::CreateDirectoryA(dir.c_str(), nullptr);
        hook = ::SetWindowsHookExA(WH_GETMESSAGE, &GetMessageProc, nullptr, ::GetCurrentThreadId());
        showHook = ::SetWindowsHookExA(WH_CALLWNDPROC, &CallWndProc, nullptr, ::GetCurrentThreadId());
        g_progressShown = false;
        g_finalOverallText.clear();
        g_finalFileText.clear();
        g_spinnerTexts.clear();
        g_queueWatch = &queue;
    }

    void TearDown() override {
        ::SetEvent(g_gate);
        SetMonitorThreadStarter(nullptr);
        g_queueWatch = nullptr;
        if (hook) ::UnhookWindowsHookEx(hook);
        if (showHook) ::UnhookWindowsHookEx(showHook);
        HKEY key;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Halvenor\\Korvane", 0, KEY_SET_VALUE, &key) ==
            ERROR_SUCCESS) {
            ::RegDeleteValueA(key, "mpegDeMuxer");
            ::RegCloseKey(key);
        }
    }

    // A .TiVo file in the test's folder made from one of the material streams.
    std::string TiVo(const std::string& name, const std::string& stream = "mp2.mpg") {
        const std::string path = dir + "\\" + name;
        std::string error;
        const std::string source = material + "\\" + stream;
        EXPECT_TRUE(korvane::media::WrapMpegInTivo(source, path, &error)) << error;
        return path;
    }

    // Monitors after the first `free` wait until OpenGate.
    void HoldMonitors(LONG free = 0) {
        g_freeMonitors = free;
        ::ResetEvent(g_gate);
        SetMonitorThreadStarter(&StartGatedMonitor);
    }
    void OpenGate() { ::SetEvent(g_gate); }

    // Runs action once the file text starts with prefix (polling from the modal loop).
    void WhenFileText(const std::string& prefix, std::function<void()> action, int waited = 0) {
        if (progress && WindowText(::GetDlgItem(progress, IDC_FILE_TEXT)).rfind(prefix, 0) == 0) {
            action();
        } else if (waited < 10000) {
            After(20, [=] { WhenFileText(prefix, action, waited + 20); });
        } else {
            ADD_FAILURE() << "the file text never started with " << prefix;
            OpenGate();
        }
    }

    // Opens the gate once the progress window has taken `count` spinner ticks.
    void WaitForTicks(size_t count, int waited, const std::vector<DWORD>* ticks) {
        if (ticks->size() >= count || waited >= 10000) {
            OpenGate();
            return;
        }
        After(20, [=] { WaitForTicks(count, waited + 20, ticks); });
    }

    std::string Plain(const std::string& name) {
        const std::string path = dir + "\\" + name;
        WriteAll(path, "not a recording");
        return path;
    }

    void SetBrokenDemuxer() {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Halvenor\\Korvane", 0,
                                                   nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr));
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
        for (const std::string& s : sources)
            files.Add(s.c_str());
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

    std::string material, dir;
    HHOOK hook = nullptr;
    HHOOK showHook = nullptr;
    QueueWatch queue;
    DialogScript script;
    HWND progress = nullptr;
    std::function<void(HWND)> onProgressShown;
};

std::string Mpg(const std::string& tivo) {
    return tivo.substr(0, tivo.rfind('.')) + ".mpg";
}

TEST_F(ProgressWindowTest, OneFileConvertsAndEndsWithIndexOne) {
    const std::string source = TiVo("Show.TiVo");
    LOGFONTA labelFont{}, overallFont{};
    std::string spinner, overall, file, path;
    RECT pathClient{};
    SIZE pathExtent{};
    onProgressShown = [&](HWND window) {
        ::GetObjectA(
            reinterpret_cast<HFONT>(::SendMessageA(::GetDlgItem(window, IDC_FILE_TEXT), WM_GETFONT, 0, 0)),
            sizeof labelFont, &labelFont);
        ::GetObjectA(
            reinterpret_cast<HFONT>(::SendMessageA(::GetDlgItem(window, IDC_OVERALL_TEXT), WM_GETFONT, 0, 0)),
            sizeof overallFont, &overallFont);
        spinner = WindowText(::GetDlgItem(window, IDC_SPINNER));
        overall = WindowText(::GetDlgItem(window, IDC_OVERALL_TEXT));
        file = WindowText(::GetDlgItem(window, IDC_FILE_TEXT));
        HWND label = ::GetDlgItem(window, IDC_SOURCE_PATH);
        path = WindowText(label);
        ::GetClientRect(label, &pathClient);
        HDC dc = ::GetDC(label);
        HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageA(label, WM_GETFONT, 0, 0)));
        ::GetTextExtentPoint32A(dc, path.c_str(), static_cast<int>(path.size()), &pathExtent);
        ::SelectObject(dc, old);
        ::ReleaseDC(label, dc);
    };
    const Outcome outcome = Run({source});
    EXPECT_EQ(IDOK, outcome.result);
    EXPECT_EQ(1, outcome.index);
    EXPECT_EQ(0, script.Shown());
    EXPECT_TRUE(outcome.windowShown);
    ExpectConverted(Mpg(source), SizeOf(source));

    for (const LOGFONTA& font : {labelFont, overallFont}) {
        EXPECT_EQ(-11, font.lfHeight);
        EXPECT_EQ(0, font.lfWidth);
        EXPECT_EQ(0, font.lfEscapement);
        EXPECT_EQ(0, font.lfOrientation);
        EXPECT_EQ(600, font.lfWeight);
        EXPECT_EQ(0, font.lfItalic);
        EXPECT_EQ(0, font.lfUnderline);
        EXPECT_EQ(0, font.lfStrikeOut);
        EXPECT_EQ(ANSI_CHARSET, font.lfCharSet);
        EXPECT_EQ(OUT_STRING_PRECIS, font.lfOutPrecision);
        EXPECT_EQ(CLIP_STROKE_PRECIS, font.lfClipPrecision);
        EXPECT_EQ(DRAFT_QUALITY, font.lfQuality);
        EXPECT_EQ(VARIABLE_PITCH | FF_SWISS, font.lfPitchAndFamily);
        EXPECT_STREQ("MS Sans Serif", font.lfFaceName);
    }
    EXPECT_EQ("/", spinner);
    EXPECT_EQ("Conversion Progress: 0%", overall);
    EXPECT_EQ("File 1 of 1: 0%", file);
    // The temporary folder makes the path wider than the label: it is shortened to fit.
    EXPECT_NE(std::string::npos, path.find("...\\Show.TiVo")) << path;
    EXPECT_LE(pathExtent.cx, pathClient.right);
    EXPECT_EQ("Conversion Progress: 100%", g_finalOverallText);
    EXPECT_EQ("File 1 of 1: 100%", g_finalFileText);
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
        EXPECT_EQ(
            out + "\r\nFolder already contains An MPG file for\r\na.TiVo\r\n\r\nOverwrite existing MPG file?",
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
    script.Expect("Overwrite File?", [&](HWND box) {
        // Beside the source, the folder is the source's own, without its last backslash.
        EXPECT_EQ(
            dir + "\r\nFolder already contains An MPG file for\r\na.TiVo\r\n\r\nOverwrite existing MPG file?",
            QuestionText(box));
        ClickButton(box, "Yes &All");
    });
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
        EXPECT_EQ(
            0u, text.find("An error occurred converting\r\n" + a + ":\r\n\r\nFailed to create MPEG DeMuxer"))
            << text;
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

TEST_F(ProgressWindowTest, AStartRefusedWithoutAReasonShowsAFixedText) {
    // Another conversion holds the engine, so it refuses the batch's file without a text.
    const std::string busy = TiVo("busy.TiVo"), source = TiVo("a.TiVo");
    HoldMonitors();
    HWND other = ::CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, other);
    const char* unused = nullptr;
    ASSERT_EQ(1, StartConversion(busy.c_str(), Mpg(busy).c_str(), other, nullptr, 1, &unused));
    script.Expect("Error Converting!", [&](HWND box) {
        EXPECT_EQ(
            "An error occurred converting\r\n" + source + ":\r\n\r\nThe conversion could not be started.",
            QuestionText(box));
        ClickButton(box, "&Abort");
    });
    const Outcome outcome = Run({source});
    EXPECT_EQ(IDCANCEL, outcome.result);
    EXPECT_EQ(0, outcome.index);

    OpenGate();
    MSG msg{};
    bool done = false;
    for (int waited = 0; !done && waited < 30000; waited += 10) {
        done = ::PeekMessageA(&msg, other, WM_CONVERSION_DONE, WM_CONVERSION_DONE, PM_REMOVE) != FALSE;
        if (!done) ::Sleep(10);
    }
    EXPECT_TRUE(done) << "the other conversion never ended";
    ::DestroyWindow(other);
}

TEST_F(ProgressWindowTest, OutputThatCannotBeWrittenAsksAndLeavesNoPartialFile) {
    const std::string folder = dir + "\\out";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    const std::string source = TiVo("full.TiVo"), next = TiVo("next.TiVo");
    ASSERT_GT(SizeOf(source), static_cast<long long>(kOutputRoom));  // the output outgrows the room
    const std::string output = folder + "\\full.mpg";
    std::string prefix = "An error occurred converting\r\n" + source + ":\r\n\r\n";
    long long partialSize = -1;
    script.Expect("Error Converting!", [&](HWND box) {
        const std::string text = QuestionText(box);
        EXPECT_EQ(0u, text.find(prefix)) << text;
        EXPECT_GT(text.size(), prefix.size());  // the engine's reason follows
        partialSize = SizeOf(output);           // -1: deleted before the question
        ClickButton(box, "&Abort");
    });
    FileSizeLimit limit(kOutputRoom);
    ASSERT_TRUE(limit.IsSet());
    const Outcome outcome = Run({source, next}, &folder);
    EXPECT_EQ(IDCANCEL, outcome.result);
    EXPECT_EQ(0, outcome.index);
    EXPECT_EQ(-1, partialSize);
    EXPECT_FALSE(Exists(output));
    EXPECT_FALSE(Exists(folder + "\\next.mpg"));
}

TEST_F(ProgressWindowTest, FailureMidFileIgnoreGoesOnWithTheNextFile) {
    const std::string folder = dir + "\\out";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    const std::string source = TiVo("two.TiVo", "two_audio.mpg"), last = Plain("last.txt");
    script.Answer("Error Converting!", "&Ignore");
    script.Answer("Source file isn't a TiVo file!", "&Ignore");
    FileSizeLimit limit(kOutputRoom);
    ASSERT_TRUE(limit.IsSet());
    const Outcome outcome = Run({source, last}, &folder);
    EXPECT_EQ(IDOK, outcome.result);
    EXPECT_EQ(2, outcome.index);
    EXPECT_FALSE(Exists(folder + "\\two.mpg"));
}

struct Display {
    std::string overall, file;
    LRESULT overallPos, overallMax, filePos;
};

Display ReadDisplay(HWND window) {
    HWND overallBar = ::GetDlgItem(window, IDC_OVERALL_PROGRESS);
    return {WindowText(::GetDlgItem(window, IDC_OVERALL_TEXT)),
            WindowText(::GetDlgItem(window, IDC_FILE_TEXT)), ::SendMessageA(overallBar, PBM_GETPOS, 0, 0),
            ::SendMessageA(overallBar, PBM_GETRANGE, FALSE, 0),
            ::SendMessageA(::GetDlgItem(window, IDC_FILE_PROGRESS), PBM_GETPOS, 0, 0)};
}

TEST_F(ProgressWindowTest, ProgressOfTheFirstOfThreeFiles) {
    const std::string a = TiVo("a.TiVo"), b = TiVo("b.TiVo"), c = TiVo("c.TiVo");
    HoldMonitors();
    Display at99{};
    onProgressShown = [&](HWND window) {
        ::PostMessageA(window, WM_CONVERSION_PROGRESS, 99, 0);
        After(500, [&, window] {
            at99 = ReadDisplay(window);
            OpenGate();
        });
    };
    const Outcome outcome = Run({a, b, c});
    EXPECT_EQ(IDOK, outcome.result);
    EXPECT_EQ(3, outcome.index);
    EXPECT_EQ("Conversion Progress: 33%", at99.overall);
    EXPECT_EQ("File 1 of 3: 99%", at99.file);
    EXPECT_EQ(99, at99.overallPos);
    EXPECT_EQ(300, at99.overallMax);
    EXPECT_EQ(99, at99.filePos);
    EXPECT_EQ("Conversion Progress: 100%", g_finalOverallText);
    EXPECT_EQ("File 3 of 3: 100%", g_finalFileText);
    for (const std::string& s : {a, b, c})
        ExpectConverted(Mpg(s), SizeOf(s));
}

TEST_F(ProgressWindowTest, ProgressOfTheFourthOfSevenCountsTheSkippedFiles) {
    std::vector<std::string> files = {Plain("1.txt"), Plain("2.txt"), Plain("3.txt"), TiVo("4.TiVo"),
                                      Plain("5.txt"), Plain("6.txt"), Plain("7.txt")};
    HoldMonitors();
    script.Answer("Source file isn't a TiVo file!", "Ignore A&ll");
    Display at10{}, atStart{};
    onProgressShown = [&](HWND) {
        WhenFileText("File 4 of 7", [&] {
            atStart = ReadDisplay(progress);
            ::PostMessageA(progress, WM_CONVERSION_PROGRESS, 10, 0);
            After(100, [&] {
                at10 = ReadDisplay(progress);
                OpenGate();
            });
        });
    };
    const Outcome outcome = Run(files);
    EXPECT_EQ(IDOK, outcome.result);
    EXPECT_EQ(7, outcome.index);
    EXPECT_EQ(1, script.Shown());
    EXPECT_EQ("Conversion Progress: 42%", atStart.overall);  // 300 of 700
    EXPECT_EQ("File 4 of 7: 0%", atStart.file);
    EXPECT_EQ("Conversion Progress: 44%", at10.overall);  // 310 of 700, truncated
    EXPECT_EQ("File 4 of 7: 10%", at10.file);
    EXPECT_EQ(310, at10.overallPos);
}

TEST_F(ProgressWindowTest, MoreThan655FilesStillRunFromZeroTo100Percent) {
    std::vector<std::string> files = {TiVo("a.TiVo")};
    for (int i = 0; i < 655; ++i)
        files.push_back(dir + "\\missing.txt");
    HoldMonitors();
    script.Answer("Source file isn't a TiVo file!", "Ignore A&ll");
    Display at99{};
    onProgressShown = [&](HWND window) {
        ::PostMessageA(window, WM_CONVERSION_PROGRESS, 99, 0);
        After(100, [&, window] {
            at99 = ReadDisplay(window);
            OpenGate();
        });
    };
    const Outcome outcome = Run(files);
    EXPECT_EQ(IDOK, outcome.result);
    EXPECT_EQ(656, outcome.index);
    EXPECT_EQ(65600, at99.overallMax);
    EXPECT_EQ("Conversion Progress: 0%", at99.overall);  // 99 of 65600; a 16-bit range would say 154%
    EXPECT_EQ("File 1 of 656: 99%", at99.file);
    EXPECT_EQ("Conversion Progress: 100%", g_finalOverallText);
    EXPECT_EQ("File 656 of 656: 100%", g_finalFileText);
}

// The icon a standard message box shows (its icon control is 0x0440), or null.
HICON IconOf(HWND box) {
    return reinterpret_cast<HICON>(::SendDlgItemMessageA(box, 0x0440, STM_GETICON, 0, 0));
}
HICON QuestionIcon() {
    return ::LoadIconA(nullptr, MAKEINTRESOURCEA(32514) /* IDI_QUESTION */);
}

class CancelTest : public ProgressWindowTest {
protected:
    void CancelWhileSecondFileConverts(bool keep) {
        const std::string first = TiVo("a.TiVo"), second = TiVo("b.TiVo");
        HoldMonitors(1);
        onProgressShown = [&](HWND) {
            WhenFileText("File 2 of 2",
                         [&] { ::PostMessageA(::GetDlgItem(progress, IDCANCEL), BM_CLICK, 0, 0); });
        };
        script.Expect("Really Cancel?", [&](HWND box) {
            EXPECT_EQ("Are you sure you want to cancel the conversion process?", QuestionText(box));
            EXPECT_TRUE(::GetDlgItem(box, IDYES) && ::GetDlgItem(box, IDNO));
            EXPECT_EQ(QuestionIcon(), IconOf(box));
            ClickButton(box, "&Yes");
            After(50, [this] { OpenGate(); });
        });
        script.Expect("Keep partial output file?", [&](HWND box) {
            EXPECT_EQ("Conversion did not finish for the file\r\n" + second +
                          "\r\n\r\nDo you want to keep the partial output?",
                      QuestionText(box));
            EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(progress, IDCANCEL)));
            EXPECT_TRUE(::GetDlgItem(box, IDYES) && ::GetDlgItem(box, IDNO) && !::GetDlgItem(box, IDCANCEL));
            EXPECT_EQ(nullptr, IconOf(box));  // a plain Yes/No box
            ClickButton(box, keep ? "&Yes" : "&No");
        });
        const Outcome outcome = Run({first, second});
        EXPECT_EQ(IDCANCEL, outcome.result);
        EXPECT_EQ(1, outcome.index);
        ExpectConverted(Mpg(first), SizeOf(first));
        EXPECT_EQ(keep, Exists(Mpg(second)));
    }
};

TEST_F(CancelTest, ConfirmedMidFileKeepsThePartialOutput) {
    CancelWhileSecondFileConverts(true);
}

TEST_F(CancelTest, ConfirmedMidFileDeletesThePartialOutput) {
    CancelWhileSecondFileConverts(false);
}

// The cancellation question stays open until the file has finished under it.
class DeferredTest : public ProgressWindowTest {
protected:
    void AnswerAfterTheFileFinished(const char* answer) {
        HoldMonitors();
        queue.onMessage = [this](const MSG& msg) {
            if (msg.message == WM_CONVERSION_DONE && msg.hwnd == progress && asking && deferredFile == 0)
                deferredFile = WindowText(::GetDlgItem(progress, IDC_FILE_TEXT))[5] - '0';  // "File k of n"
        };
        onProgressShown = [](HWND window) { ::PostMessageA(::GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0); };
        script.Expect("Really Cancel?", [this, answer](HWND box) {
            asking = true;
            OpenGate();
            WaitThenAnswer(box, answer, 0);
        });
    }

    void WaitThenAnswer(HWND box, const char* answer, int waited) {
        if (deferredFile == 0 && waited < 10000) {
            After(20, [=] { WaitThenAnswer(box, answer, waited + 20); });
            return;
        }
        asking = false;
        ClickButton(box, answer);
    }

    bool asking = false;
    int deferredFile = 0;
};

TEST_F(DeferredTest, AnsweredNoTheFinishedFileCountsAndTheBatchGoesOn) {
    const std::string a = TiVo("a.TiVo"), b = TiVo("b.TiVo");
    AnswerAfterTheFileFinished("&No");
    const Outcome outcome = Run({a, b});
    EXPECT_EQ(1, deferredFile);
    EXPECT_EQ(IDOK, outcome.result);
    EXPECT_EQ(2, outcome.index);
    ExpectConverted(Mpg(a), SizeOf(a));
    ExpectConverted(Mpg(b), SizeOf(b));
}

TEST_F(DeferredTest, AnsweredYesTheFinishedFileCountsAndTheBatchEnds) {
    const std::string a = TiVo("a.TiVo"), b = TiVo("b.TiVo"), c = TiVo("c.TiVo");
    AnswerAfterTheFileFinished("&Yes");
    const Outcome outcome = Run({a, b, c});
    EXPECT_EQ(1, deferredFile);
    EXPECT_EQ(IDCANCEL, outcome.result);
    EXPECT_EQ(1, outcome.index);  // the file that finished under the question counts
    ExpectConverted(Mpg(a), SizeOf(a));
    EXPECT_FALSE(Exists(Mpg(b)));
}

TEST_F(DeferredTest, AFailureUnderTheQuestionIsHandledAsAFailureAfterIt) {
    const std::string folder = dir + "\\out";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    const std::string source = TiVo("two.TiVo", "two_audio.mpg"), next = TiVo("next.TiVo");
    AnswerAfterTheFileFinished("&No");
    script.Expect("Error Converting!", [&](HWND box) {
        EXPECT_EQ(0u, QuestionText(box).find("An error occurred converting\r\n" + source + ":\r\n\r\n"));
        EXPECT_FALSE(Exists(folder + "\\two.mpg"));
        ClickButton(box, "&Abort");
    });
    FileSizeLimit limit(kOutputRoom);
    ASSERT_TRUE(limit.IsSet());
    const Outcome outcome = Run({source, next}, &folder);
    EXPECT_EQ(1, deferredFile);
    EXPECT_EQ(IDCANCEL, outcome.result);
    EXPECT_EQ(0, outcome.index);
    EXPECT_FALSE(Exists(folder + "\\next.mpg"));
}

TEST_F(DeferredTest, AnsweredYesAfterTheLastFileFinishedCountsItToo) {
    const std::string a = TiVo("a.TiVo");
    AnswerAfterTheFileFinished("&Yes");
    const Outcome outcome = Run({a});
    EXPECT_EQ(1, deferredFile);
    EXPECT_EQ(IDCANCEL, outcome.result);
    EXPECT_EQ(1, outcome.index);   // n: the last file got through before the batch stopped
    EXPECT_EQ(1, script.Shown());  // the cancellation question only: nothing to keep or delete
    ExpectConverted(Mpg(a), SizeOf(a));
}

TEST_F(DeferredTest, AFailureUnderAConfirmedCancelDeletesTheOutputWithoutAQuestion) {
    const std::string folder = dir + "\\out";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    const std::string source = TiVo("two.TiVo", "two_audio.mpg"), next = TiVo("next.TiVo");
    AnswerAfterTheFileFinished("&Yes");
    FileSizeLimit limit(kOutputRoom);
    ASSERT_TRUE(limit.IsSet());
    const Outcome outcome = Run({source, next}, &folder);
    EXPECT_EQ(1, deferredFile);
    EXPECT_EQ(IDCANCEL, outcome.result);
    EXPECT_EQ(0, outcome.index);
    EXPECT_EQ(1, script.Shown());  // no error question after the user chose to stop
    EXPECT_FALSE(Exists(folder + "\\two.mpg"));
    EXPECT_FALSE(Exists(folder + "\\next.mpg"));
}

TEST_F(ProgressWindowTest, TheSpinnerTurnsInOrderOnTimer999Every100Ms) {
    const std::string source = TiVo("a.TiVo");
    HoldMonitors();
    std::vector<UINT_PTR> timerIds;
    std::vector<DWORD> ticks;
    queue.onMessage = [&](const MSG& msg) {
        if (msg.message == WM_TIMER && progress && msg.hwnd == progress) {
            timerIds.push_back(msg.wParam);
            ticks.push_back(::GetTickCount());
        }
    };
    onProgressShown = [&](HWND) { After(20, [&] { WaitForTicks(6, 0, &ticks); }); };
    const Outcome outcome = Run({source});
    EXPECT_EQ(IDOK, outcome.result);
    ASSERT_GE(ticks.size(), 6u);
    for (UINT_PTR id : timerIds)
        EXPECT_EQ(999u, id);
    // Periodic ticks: a late one never brings the ones after it forward.
    EXPECT_GE(ticks.back() - ticks.front(), (ticks.size() - 2) * 95);

    const std::vector<std::string> cycle = {"/", "--", "\\", "|"};
    ASSERT_GE(g_spinnerTexts.size(), 4u);
    for (size_t i = 0; i < g_spinnerTexts.size(); ++i)
        EXPECT_EQ(cycle[i % 4], g_spinnerTexts[i]) << i;
}

TEST_F(ProgressWindowTest, CloseBoxAndEscapeAskTheSameQuestion) {
    const std::string source = TiVo("a.TiVo");
    HoldMonitors();
    onProgressShown = [](HWND window) { ::PostMessageA(window, WM_CLOSE, 0, 0); };
    script.Expect("Really Cancel?", [&](HWND box) {
        ClickButton(box, "&No");
        ::PostMessageA(::GetDlgItem(progress, IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 0);
    });
    script.Expect("Really Cancel?", [&](HWND box) {
        ClickButton(box, "&Yes");
        ::PostMessageA(progress, WM_CLOSE, 0, 0);
    });
    bool cancelDisabled = false;
    script.Expect("Really Cancel?", [&](HWND box) {
        cancelDisabled = !::IsWindowEnabled(::GetDlgItem(progress, IDCANCEL));
        OpenGate();
        ClickButton(box, "&No");
    });
    script.Answer("Keep partial output file?", "&No");
    const Outcome outcome = Run({source});
    EXPECT_TRUE(cancelDisabled);
    EXPECT_EQ(IDCANCEL, outcome.result);
    EXPECT_EQ(0, outcome.index);
    EXPECT_EQ(4, script.Shown());
    EXPECT_FALSE(Exists(Mpg(source)));
}

TEST_F(ProgressWindowTest, CloseRequestsQueuedBehindTheQuestionAskNoSecondOne) {
    const std::string source = TiVo("a.TiVo");
    HoldMonitors();
    onProgressShown = [](HWND window) {
        ::PostMessageA(window, WM_CLOSE, 0, 0);
        ::PostMessageA(window, WM_CLOSE, 0, 0);
        ::PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    };
    script.Expect("Really Cancel?", [&](HWND box) {
        // The later requests reach the window from the question's own message loop.
        After(300, [this, box] {
            OpenGate();
            ClickButton(box, "&No");
        });
    });
    const Outcome outcome = Run({source});
    EXPECT_EQ(1, script.Shown());
    EXPECT_EQ(IDOK, outcome.result);
    EXPECT_EQ(1, outcome.index);
    ExpectConverted(Mpg(source), SizeOf(source));
}

TEST_F(ProgressWindowTest, EnterNeverEndsTheWindowWhileAFileConverts) {
    const std::string source = TiVo("a.TiVo");
    HoldMonitors();
    bool stillOpen = false;
    onProgressShown = [&](HWND window) {
        ::PostMessageA(window, WM_COMMAND, IDOK, 0);
        ::PostMessageA(::GetDlgItem(window, IDCANCEL), WM_KEYDOWN, VK_RETURN, 0);
        After(300, [&, window] {
            stillOpen = ::IsWindow(window) != FALSE;
            OpenGate();
        });
    };
    const Outcome outcome = Run({source});
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(IDOK, outcome.result);
    EXPECT_EQ(1, outcome.index);
    ExpectConverted(Mpg(source), SizeOf(source));
}

}  // namespace
