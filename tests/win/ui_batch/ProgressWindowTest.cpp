// The progress window over real batches: the real engine and filter pack convert, and the
// test answers every question by its caption, in-process.
#include "engine/Conversion.h"
#include "DialogScript.h"
#include "ui/batch/ProgressDlg.h"
#include "engine/Run.h"
#include "TempFolder.h"
#include "res/resource.h"

#include "media/TivoWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

const char kProgressCaption[] = "Converting TiVo to MPG";

// -1 when there is no such file.
long long SizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool Exists(const std::string& path) {
    return SizeOf(path) >= 0;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Puts the soft file size limit of this very process at `soft` bytes ("unlimited" lifts it):
// past it a write fails (EFBIG), a real write failure part way through an output, with no
// mount and no root. allow-file-size-limit.sh hands down the Linux id with SIGXFSZ ignored.
bool SetFileSizeLimit(const std::string& soft) {
    const char* pid = std::getenv("KORVANE_UNIX_PID");
    if (!pid) return false;
    std::string command = "Z:\\usr\\bin\\prlimit --pid " + std::string(pid) + " --fsize=" + soft + ":";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process))
        return false;
    // Wine starts a Linux program without a Windows process: it hands back no process handle
    // and leaves stray bits in the thread handle, which must not be closed (that closed one
    // of this test's own handles).
    if (process.hProcess) {
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    // Wine hands back no exit code of a Linux program: watch the soft "Max file size" of
    // /proc/PID/limits change instead.
    for (int waited = 0; waited < 10000; waited += 20, ::Sleep(20)) {
        std::istringstream limits(ReadAll("Z:\\proc\\" + std::string(pid) + "\\limits"));
        for (std::string line, value; std::getline(limits, line);) {
            if (line.rfind("Max file size", 0) == 0 && std::istringstream(line.substr(13)) >> value &&
                value == soft)
                return true;
        }
    }
    return false;
}

// A valid conversion starts with an MPEG pack header and is not much smaller than its input.
void ExpectConverted(const std::string& output, long long inputSize) {
    EXPECT_EQ(std::string("\0\0\1\xBA", 4), ReadAll(output).substr(0, 4)) << output;
    EXPECT_GT(SizeOf(output), inputSize / 2) << output;
}

std::string Mpg(const std::string& tivo) {
    return tivo.substr(0, tivo.rfind('.')) + ".mpg";
}

// The window's texts and bars as one line: "<overall text>|<file text>|<overall position>/<range>|<file
// position>".
std::string Display(HWND window) {
    auto position = [window](int bar, UINT message) {
        return std::to_string(::SendDlgItemMessageA(window, bar, message, 0, 0));
    };
    return WindowText(::GetDlgItem(window, IDC_OVERALL_TEXT)) + "|" +
           WindowText(::GetDlgItem(window, IDC_FILE_TEXT)) + "|" +
           position(IDC_OVERALL_PROGRESS, PBM_GETPOS) + "/" + position(IDC_OVERALL_PROGRESS, PBM_GETRANGE) +
           "|" + position(IDC_FILE_PROGRESS, PBM_GETPOS);
}

// Messages the progress window takes from its queue, seen before they are handled.
std::function<void(const MSG&)> g_onQueuedMessage;

LRESULT CALLBACK GetMessageProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE && g_onQueuedMessage)
        g_onQueuedMessage(*reinterpret_cast<MSG*>(lParam));
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// Whether the progress window was ever shown, what it showed when it went, and every text
// its spinner was given.
bool g_progressShown = false;
std::string g_finalDisplay;
std::vector<std::string> g_spinnerTexts;

LRESULT CALLBACK CallWndProc(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    const UINT message = code == HC_ACTION ? call->message : 0;
    if (message == WM_SETTEXT && ::GetDlgCtrlID(call->hwnd) == IDC_SPINNER &&
        WindowText(::GetParent(call->hwnd)) == kProgressCaption)
        g_spinnerTexts.push_back(reinterpret_cast<const char*>(call->lParam));
    if (message == WM_SHOWWINDOW && call->wParam && WindowText(call->hwnd) == kProgressCaption)
        g_progressShown = true;
    if (message == WM_DESTROY && WindowText(call->hwnd) == kProgressCaption)
        g_finalDisplay = Display(call->hwnd);
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
        ASSERT_NE(nullptr, std::getenv("KORVANE_MATERIAL"));
        m_hooks[0] = ::SetWindowsHookExA(WH_GETMESSAGE, &GetMessageProc, nullptr, ::GetCurrentThreadId());
        m_hooks[1] = ::SetWindowsHookExA(WH_CALLWNDPROC, &CallWndProc, nullptr, ::GetCurrentThreadId());
        g_spinnerTexts.clear();
        script.Watch(kProgressCaption, [this](HWND window) {
            progress = window;
            auto action = std::move(onProgressShown);
            onProgressShown = nullptr;
            if (action) action(window);
        });
    }

    void TearDown() override {
        ::SetEvent(g_gate);
        SetMonitorThreadStarter(nullptr);
        g_onQueuedMessage = nullptr;
        for (HHOOK hook : m_hooks)
            ::UnhookWindowsHookEx(hook);
        ::RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\Halvenor\\Korvane", "mpegDeMuxer");
        if (m_limited) SetFileSizeLimit("unlimited");
    }

    // Until the test ends, outputs cannot grow past 256 KiB: part way through the first file.
    bool LimitOutputs() { return m_limited = SetFileSizeLimit(std::to_string(256 * 1024)); }

    // A .TiVo file in the test's folder made from one of the material streams.
    std::string TiVo(const std::string& name, const std::string& stream = "mp2.mpg") {
        std::string error;
        EXPECT_TRUE(korvane::media::WrapMpegInTivo(std::getenv("KORVANE_MATERIAL") + ("\\" + stream),
                                                   folder.Path(name), &error))
            << error;
        return folder.Path(name);
    }
    std::string Plain(const std::string& name) { return Write(folder.Path(name), "not a recording"); }
    static std::string Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::string Subfolder(const std::string& name) {
        ::CreateDirectoryA(folder.Path(name).c_str(), nullptr);
        return folder.Path(name);
    }

    // Monitors after the first `free` wait until OpenGate.
    void HoldMonitors(LONG free = 0) {
        g_freeMonitors = free;
        ::ResetEvent(g_gate);
        SetMonitorThreadStarter(&StartGatedMonitor);
    }
    void OpenGate() { ::SetEvent(g_gate); }

    // Runs action once the file text starts with prefix.
    void WhenFileText(const std::string& prefix, std::function<void()> action) {
        When([=] { return WindowText(::GetDlgItem(progress, IDC_FILE_TEXT)).rfind(prefix, 0) == 0; }, action);
    }

    // How the batch ended: "ok at <index>" or "cancelled at <index>".
    std::string Run(const std::vector<std::string>& sources, const std::string* outputFolder = nullptr) {
        CStringArray files;
        for (const std::string& s : sources)
            files.Add(s.c_str());
        CString folderText(outputFolder ? outputFolder->c_str() : "");
        CProgressDlg dialog(&files, outputFolder ? &folderText : nullptr, nullptr);
        g_progressShown = false;
        progress = nullptr;
        const INT_PTR result = dialog.DoModal();
        CancelPending();  // nothing meant for this batch may reach the next
        EXPECT_TRUE(script.unexpected.empty()) << script.unexpected.front();
        EXPECT_TRUE(script.AllAnswered());
        return (result == IDOK       ? "ok at "
                : result == IDCANCEL ? "cancelled at "
                                     : "ended at ") +
               std::to_string(dialog.GetCurrentIndex());
    }

    TempFolder folder{"batch"};
    HHOOK m_hooks[2] = {};
    bool m_limited = false;
    DialogScript script;
    HWND progress = nullptr;
    std::function<void(HWND)> onProgressShown;
};

TEST_F(ProgressWindowTest, OneFileConvertsAndEndsWithIndexOne) {
    const std::string source = TiVo("Show.TiVo");
    std::vector<std::string> shown;
    onProgressShown = [&](HWND window) {
        shown = {FontText(::GetDlgItem(window, IDC_FILE_TEXT)),
                 FontText(::GetDlgItem(window, IDC_OVERALL_TEXT)),
                 WindowText(::GetDlgItem(window, IDC_SPINNER)),
                 WindowText(::GetDlgItem(window, IDC_SOURCE_PATH)), Display(window)};
    };
    EXPECT_EQ("ok at 1", Run({source}));
    EXPECT_EQ(0, script.Shown());
    EXPECT_TRUE(g_progressShown);
    ExpectConverted(Mpg(source), SizeOf(source));
    ASSERT_EQ(5u, shown.size());
    EXPECT_EQ("MS Sans Serif -11 600", shown[0]);  // semi-bold labels
    EXPECT_EQ("MS Sans Serif -11 600", shown[1]);
    EXPECT_EQ("/", shown[2]);
    // The temporary folder makes the path wider than the label: it is shortened to fit.
    EXPECT_NE(std::string::npos, shown[3].find("...\\Show.TiVo")) << shown[3];
    EXPECT_EQ("Conversion Progress: 0%|File 1 of 1: 0%|0/100|0", shown[4]);
    EXPECT_EQ("Conversion Progress: 100%|File 1 of 1: 100%|100/100|100", g_finalDisplay);
}

TEST_F(ProgressWindowTest, AbortToTheFirstQuestionEndsBeforeTheWindowShows) {
    const std::string clip = Plain("clip.mpeg"), show = TiVo("show.TiVo");
    script.Expect("Source file isn't a TiVo file!", [&](HWND box) {
        EXPECT_EQ("The file " + clip + " is not a TiVo movie file.", QuestionText(box));
        ClickButton(box, "&Abort");
    });
    EXPECT_EQ("cancelled at 0", Run({clip, show}));
    EXPECT_FALSE(g_progressShown);
    EXPECT_FALSE(Exists(Mpg(show)));
}

TEST_F(ProgressWindowTest, OverwriteAnswersNoAllYesAllAndCancel) {
    const std::vector<std::string> sources = {TiVo("a.TiVo"), TiVo("b.TiVo"), TiVo("c.TiVo")};
    const struct {
        const char* answer;
        bool beside;  // outputs beside the sources, else in a folder of their own
        const char* outcome;
        bool overwritten;
    } cases[] = {{"No A&ll", false, "ok at 3", false},
                 {"Yes &All", true, "ok at 3", true},
                 {"&Cancel", false, "cancelled at 0", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        const std::string out = c.beside ? folder.Path() : Subfolder("out" + std::to_string(&c - cases));
        Write(out + "\\a.mpg", "old");
        Write(out + "\\b.mpg", "old");
        script.Expect("Overwrite File?", [&](HWND box) {
            // Beside the source, the folder is the source's own, without its last backslash.
            EXPECT_EQ(out +
                          "\r\nFolder already contains An MPG file for\r\na.TiVo\r\n\r\n"
                          "Overwrite existing MPG file?",
                      QuestionText(box));
            ClickButton(box, c.answer);
        });
        const int questionsBefore = script.Shown();
        EXPECT_EQ(c.outcome, Run(sources, c.beside ? nullptr : &out));
        EXPECT_EQ(questionsBefore + 1, script.Shown());  // a to-all answer asks no more
        for (const char* name : {"\\a.mpg", "\\b.mpg"}) {
            if (c.overwritten)
                ExpectConverted(out + name, SizeOf(sources[0]));
            else
                EXPECT_EQ("old", ReadAll(out + name));
        }
        EXPECT_EQ(c.outcome[0] == 'o', Exists(out + "\\c.mpg"));
    }
}

TEST_F(ProgressWindowTest, StartFailureIgnoreThenIgnoreAllSkipsTheRestWithoutABox) {
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Halvenor\\Korvane", "mpegDeMuxer", REG_SZ,
                                "{6B0E5A10-4B2A-4C3E-9D6A-5B1E2F7C0AFF}", 39));  // nowhere
    const std::string a = TiVo("a.TiVo"), b = TiVo("b.TiVo"), c = TiVo("c.TiVo");
    script.Expect("Error Converting!", [&](HWND box) {
        EXPECT_EQ(0u, QuestionText(box).find("An error occurred converting\r\n" + a +
                                             ":\r\n\r\nFailed to create MPEG DeMuxer"))
            << QuestionText(box);
        ClickButton(box, "&Ignore");
    });
    script.Answer("Error Converting!", "Ignore A&ll");
    EXPECT_EQ("ok at 4", Run({a, b, c, c}));
    EXPECT_EQ(2, script.Shown());
}

TEST_F(ProgressWindowTest, AStartRefusedWithoutAReasonShowsAFixedText) {
    // Another conversion holds the engine, so it refuses the batch's file without a text.
    const std::string busy = TiVo("busy.TiVo"), source = TiVo("a.TiVo");
    HoldMonitors();
    HWND other = ::CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    const char* unused = nullptr;
    ASSERT_EQ(1, StartConversion(busy.c_str(), Mpg(busy).c_str(), other, nullptr, 1, &unused));
    script.Expect("Error Converting!", [&](HWND box) {
        EXPECT_EQ(
            "An error occurred converting\r\n" + source + ":\r\n\r\nThe conversion could not be started.",
            QuestionText(box));
        ClickButton(box, "&Abort");
    });
    EXPECT_EQ("cancelled at 0", Run({source}));
    OpenGate();
    MSG msg{};
    bool done = false;
    for (int waited = 0; !done && waited < 30000; waited += 10, ::Sleep(10))
        done = ::PeekMessageA(&msg, other, WM_CONVERSION_DONE, WM_CONVERSION_DONE, PM_REMOVE) != FALSE;
    EXPECT_TRUE(done) << "the other conversion never ended";
    ::DestroyWindow(other);
}

// Abort at this question is AFileThatFinishesUnderTheCancelQuestion's.
TEST_F(ProgressWindowTest, OutputThatCannotBeWrittenAsksLeavesNoPartialFileAndIgnoreGoesOn) {
    const std::string source = TiVo("full.TiVo"), last = Plain("last.txt");
    const std::string out = Subfolder("out"), output = out + "\\full.mpg";
    ASSERT_GT(SizeOf(source), 256 * 1024);  // the output outgrows the room
    ASSERT_TRUE(LimitOutputs());
    long long partialSize = 0;
    script.Expect("Error Converting!", [&](HWND box) {
        const std::string text = QuestionText(box),
                          prefix = "An error occurred converting\r\n" + source + ":\r\n\r\n";
        EXPECT_EQ(0u, text.find(prefix)) << text;
        EXPECT_GT(text.size(), prefix.size());  // the engine's reason follows
        partialSize = SizeOf(output);           // -1: deleted before the question
        ClickButton(box, "&Ignore");
    });
    script.Answer("Source file isn't a TiVo file!", "&Ignore");
    EXPECT_EQ("ok at 2", Run({source, last}, &out));
    EXPECT_EQ(-1, partialSize);
    EXPECT_FALSE(Exists(output));
}

TEST_F(ProgressWindowTest, ProgressCountsTheSkippedFilesOnA32BitRangePast655Files) {
    std::vector<std::string> files = {Plain("1.txt"), Plain("2.txt"), Plain("3.txt"), TiVo("4.TiVo")};
    files.resize(657, folder.Path("missing.txt"));
    HoldMonitors();
    script.Answer("Source file isn't a TiVo file!", "Ignore A&ll");
    std::string atStart, at10;
    onProgressShown = [&](HWND) {
        WhenFileText("File 4 of", [&] {
            atStart = Display(progress);
            ::PostMessageA(progress, WM_CONVERSION_PROGRESS, 10, 0);
            After(100, [&] {
                at10 = Display(progress);
                OpenGate();
            });
        });
    };
    EXPECT_EQ("ok at 657", Run(files));
    EXPECT_EQ(1, script.Shown());  // Ignore All: no box for the later files
    ExpectConverted(Mpg(files[3]), SizeOf(files[3]));
    // 100 per file, the skipped ones included; a 16-bit range would end at 164 and show 189%.
    EXPECT_EQ("Conversion Progress: 0%|File 4 of 657: 0%|300/65700|0", atStart);
    EXPECT_EQ("Conversion Progress: 0%|File 4 of 657: 10%|310/65700|10", at10);
    EXPECT_EQ("Conversion Progress: 100%|File 657 of 657: 100%|65700/65700|100", g_finalDisplay);
}

// The icon a standard message box shows (its icon control is 0x0440), or null.
HICON IconOf(HWND box) {
    return reinterpret_cast<HICON>(::SendDlgItemMessageA(box, 0x0440, STM_GETICON, 0, 0));
}

// An output not kept is deleted: CloseEscapeAndEnterNeverEndTheWindowUnaskedNorAskTwiceAtOnce.
TEST_F(ProgressWindowTest, ACancelConfirmedMidFileAsksAndKeepsThePartialOutput) {
    const std::string first = TiVo("a.TiVo"), second = TiVo("b.TiVo"), out = Subfolder("out");
    HoldMonitors(1);
    onProgressShown = [&](HWND) { WhenFileText("File 2 of 2", [&] { Click(progress, IDCANCEL); }); };
    script.Expect("Really Cancel?", [&](HWND box) {
        EXPECT_EQ("Are you sure you want to cancel the conversion process?", QuestionText(box));
        EXPECT_TRUE(::GetDlgItem(box, IDYES) && ::GetDlgItem(box, IDNO));
        EXPECT_EQ(::LoadIconA(nullptr, MAKEINTRESOURCEA(32514) /* IDI_QUESTION */), IconOf(box));
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
        ClickButton(box, "&Yes");
    });
    EXPECT_EQ("cancelled at 1", Run({first, second}, &out));
    ExpectConverted(out + "\\a.mpg", SizeOf(first));
    EXPECT_TRUE(Exists(out + "\\b.mpg"));
}

TEST_F(ProgressWindowTest, AFileThatFinishesUnderTheCancelQuestionIsHandledOnceItIsAnswered) {
    const std::string a = TiVo("a.TiVo"), b = TiVo("b.TiVo"), full = TiVo("full.TiVo");
    const struct {
        const char* answer;
        bool fails;  // the file finishes with a write failure
        const char* outcome;
        int questions;
    } cases[] = {
        {"&No", false, "ok at 2", 1},          // the finished file counts and the batch goes on
        {"&Yes", false, "cancelled at 1", 1},  // it counts, the batch ends: nothing to keep or delete
        {"&No", true, "cancelled at 0", 2},    // the failure's own question follows
        {"&Yes", true, "cancelled at 0", 1},   // the user chose to stop: the output goes unasked
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(&c - cases));
        const std::string out = Subfolder("out" + std::to_string(&c - cases));
        const std::string first = c.fails ? full : a,
                          firstOutput = out + (c.fails ? "\\full.mpg" : "\\a.mpg");
        HoldMonitors();
        bool asking = false;
        std::string finishedUnderTheQuestion;
        g_onQueuedMessage = [&](const MSG& msg) {
            if (msg.message == WM_CONVERSION_DONE && msg.hwnd == progress && asking)
                finishedUnderTheQuestion = WindowText(::GetDlgItem(progress, IDC_FILE_TEXT)).substr(0, 9);
        };
        onProgressShown = [](HWND window) { Click(window, IDCANCEL); };
        script.Expect("Really Cancel?", [&](HWND box) {
            asking = true;
            OpenGate();
            // Answered once the file has finished under the question.
            When([&] { return !finishedUnderTheQuestion.empty(); },
                 [&, box] {
                     asking = false;
                     ClickButton(box, c.answer);
                 });
        });
        if (c.questions == 2) {
            script.Expect("Error Converting!", [&](HWND box) {
                EXPECT_EQ(0u,
                          QuestionText(box).find("An error occurred converting\r\n" + full + ":\r\n\r\n"));
                EXPECT_FALSE(Exists(firstOutput));
                ClickButton(box, "&Abort");
            });
        }
        const int questionsBefore = script.Shown();
        ASSERT_TRUE(!c.fails || LimitOutputs());
        EXPECT_EQ(c.outcome, Run({first, b}, &out));
        EXPECT_EQ("File 1 of", finishedUnderTheQuestion);
        EXPECT_EQ(questionsBefore + c.questions, script.Shown());
        if (c.fails)
            EXPECT_FALSE(Exists(firstOutput));
        else
            ExpectConverted(firstOutput, SizeOf(a));
        EXPECT_EQ(c.outcome[0] == 'o', Exists(out + "\\b.mpg"));
        g_onQueuedMessage = nullptr;
    }
}

TEST_F(ProgressWindowTest, TheSpinnerTurnsInOrderOnTimer999Every100Ms) {
    const std::string source = TiVo("a.TiVo");
    HoldMonitors();
    std::vector<UINT_PTR> timerIds;
    std::vector<DWORD> ticks;
    g_onQueuedMessage = [&](const MSG& msg) {
        if (msg.message != WM_TIMER || !progress || msg.hwnd != progress) return;
        timerIds.push_back(msg.wParam);
        ticks.push_back(::GetTickCount());
        if (ticks.size() == 6) OpenGate();
    };
    EXPECT_EQ("ok at 1", Run({source}));
    ASSERT_GE(ticks.size(), 6u);
    EXPECT_EQ(std::vector<UINT_PTR>(timerIds.size(), 999), timerIds);
    // Periodic ticks: a late one never brings the ones after it forward.
    EXPECT_GE(ticks.back() - ticks.front(), (ticks.size() - 2) * 95);
    const std::vector<std::string> cycle = {"/", "--", "\\", "|"};
    ASSERT_GE(g_spinnerTexts.size(), 4u);
    for (size_t i = 0; i < g_spinnerTexts.size(); ++i)
        EXPECT_EQ(cycle[i % 4], g_spinnerTexts[i]) << i;
}

// It ends with a confirmed cancel whose partial output is not kept, and so deleted.
TEST_F(ProgressWindowTest, CloseEscapeAndEnterNeverEndTheWindowUnaskedNorAskTwiceAtOnce) {
    const std::string source = TiVo("a.TiVo");
    HoldMonitors();
    onProgressShown = [](HWND window) {
        ::PostMessageA(window, WM_CLOSE, 0, 0);
        ::PostMessageA(window, WM_CLOSE, 0, 0);
        ::PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        // Enter, as a command and as a key: the window must not end while a file converts.
        ::PostMessageA(window, WM_COMMAND, IDOK, 0);
        ::PostMessageA(::GetDlgItem(window, IDCANCEL), WM_KEYDOWN, VK_RETURN, 0);
    };
    bool stillOpen = false, cancelDisabled = false;
    script.Expect("Really Cancel?", [&](HWND box) {
        // The later requests reach the window from the question's own message loop.
        After(300, [&, box] {
            stillOpen = ::IsWindow(progress) != FALSE;
            ClickButton(box, "&No");
            ::PostMessageA(::GetDlgItem(progress, IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 0);
        });
    });
    script.Expect("Really Cancel?", [&](HWND box) {
        ClickButton(box, "&Yes");
        ::PostMessageA(progress, WM_CLOSE, 0, 0);
    });
    script.Expect("Really Cancel?", [&](HWND box) {
        cancelDisabled = !::IsWindowEnabled(::GetDlgItem(progress, IDCANCEL));
        OpenGate();
        ClickButton(box, "&No");
    });
    script.Answer("Keep partial output file?", "&No");
    EXPECT_EQ("cancelled at 0", Run({source}));
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(cancelDisabled);
    EXPECT_EQ(4, script.Shown());  // one question for the five requests queued at once
    EXPECT_FALSE(Exists(Mpg(source)));
}

}  // namespace
