// The engine from start to teardown with the stand-in file dump (a test filter registered
// under the fixed file-dump class in this test's own prefix) and Wine's File Source (Async.)
// as the source: every failure text from a real cause, the monitor's messages, cancellation,
// and error events. Cancels at random moments are EndToEndTest's, on the real filters.
#include "engine/Graph.h"
#include "engine/Run.h"
#include "TestSupport.h"

#include <evcode.h>

#include <utility>

namespace {

const std::string kMissingClass = "6B0E5A10-4B2A-4C3E-9D6A-5B1E2F7C0AFF";  // registered nowhere
const std::string kDefaultDemuxer = "{731B8592-4001-46D4-B1A5-33EC792B4501}";
constexpr DWORD kSourceBytes = 100000;

void UseDemuxer(TestFilterKind kind) {
    SetSettingString("mpegDeMuxer", ClassText(TestFilterClass(kind)));
}
void UseMuxer(TestFilterKind kind) {
    SetSettingString("mpegMuxer", ClassText(TestFilterClass(kind)));
}

// The stand-in dump writes `chunks` pieces of 20,000 bytes, one every intervalMs, then ends.
void StandInStream(DWORD chunks, DWORD intervalMs) {
    SetStandInDump("chunks", chunks);
    SetStandInDump("chunkBytes", 20000);
    SetStandInDump("intervalMs", intervalMs);
}

// The events of the stand-in dump (see TestFilterIds.h), made before the dump is created.
class StandInEvents {
public:
    StandInEvents()
        : m_step(CreateEventA(nullptr, FALSE, FALSE, StandInEventName("Step").c_str())),
          m_written(CreateEventA(nullptr, FALSE, FALSE, StandInEventName("Written").c_str())),
          m_ended(CreateEventA(nullptr, TRUE, FALSE, StandInEventName("Ended").c_str())) {}
    ~StandInEvents() {
        CloseHandle(m_step);
        CloseHandle(m_written);
        CloseHandle(m_ended);
    }
    StandInEvents(const StandInEvents&) = delete;
    StandInEvents& operator=(const StandInEvents&) = delete;

    // Lets a stepped dump write one chunk and waits until it is on disk.
    bool WriteOneChunk() {
        SetEvent(m_step);
        return WaitForSingleObject(m_written, static_cast<DWORD>(kHangMilliseconds)) == WAIT_OBJECT_0;
    }
    HANDLE Ended() const { return m_ended; }

private:
    HANDLE m_step;
    HANDLE m_written;
    HANDLE m_ended;
};

class StandInTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearSettings();
        ClearStandInDump();
        UseDemuxer(kPass);
        UseMuxer(kMuxLike);
        StandInStream(3, 10);
        cancel = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        source = folder.Path("Show.TiVo");
        output = folder.Path("Show.mpg");
        WriteFileOfSize(source, kSourceBytes);
        ASSERT_NE(window.Handle(), nullptr) << "no window for the engine's messages";
        ASSERT_TRUE(EngineIsIdle());
        ASSERT_EQ(LiveTestObjects(), 0);
    }
    void TearDown() override {
        SetMonitorThreadStarter(nullptr);
        ClearSettings();
        ClearStandInDump();
        CloseHandle(cancel);
        EXPECT_TRUE(EngineIsIdle());
        EXPECT_EQ(LiveTestObjects(), 0);
    }

    // Starts with the window and the cancel event, expecting the failure text; afterwards
    // the engine must be idle with nothing alive and nothing posted.
    void ExpectStartFailure(const std::string& expected, const char* sourcePath = nullptr) {
        const char* text = nullptr;
        EXPECT_EQ(StartConversion(sourcePath ? sourcePath : source.c_str(), output.c_str(), window.Handle(),
                                  cancel, 1, &text),
                  0);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text), expected);
        EXPECT_TRUE(EngineIsIdle());
        EXPECT_EQ(LiveTestObjects(), 0);
        window.PumpFor(150);
        EXPECT_TRUE(window.messages.empty()) << "a failed start posted a message";
    }

    // The next file starts from scratch: fault removed, converted without a window.
    void ExpectNextFileConverts() {
        ClearSettings();
        ClearStandInDump();
        UseDemuxer(kPass);
        UseMuxer(kMuxLike);
        StandInStream(3, 10);
        const char* text = nullptr;
        EXPECT_EQ(StartConversion(source.c_str(), output.c_str(), nullptr, nullptr, 1, &text), 1)
            << (text ? text : "");
        EXPECT_EQ(SizeOf(output), 60000u);
        EXPECT_TRUE(EngineIsIdle());
    }

    ComApartment com;
    TempFolder folder;
    NotifyWindow window;
    HANDLE cancel = nullptr;
    std::string source;
    std::string output;
};

TEST_F(StandInTest, DemultiplexerCreationFailuresNameTheClassInBraces) {
    // How any setting gets its braces is RulesTest's; here the text reaches the user.
    SetSettingString("mpegDeMuxer", kMissingClass);
    ExpectStartFailure("Failed to create MPEG DeMuxer {" + kMissingClass + "} !");
    window.messages.clear();
    UseDemuxer(kFailCreate);
    ExpectStartFailure("Failed to create MPEG DeMuxer " + ClassText(TestFilterClass(kFailCreate)) + " !");
    ExpectNextFileConverts();
}

TEST_F(StandInTest, UnusableSettingsFallBackToTheDefaultClass) {
    // The default demultiplexer is not registered in this prefix, so its use shows in the text.
    const DWORD number = 1;
    SetSettingBytes("mpegDeMuxer", REG_DWORD, &number, sizeof number);
    ExpectStartFailure("Failed to create MPEG DeMuxer " + kDefaultDemuxer + " !");
    window.messages.clear();
    SetSettingString("mpegDeMuxer", "{" + std::string(300, '0') + "}");
    ExpectStartFailure("Failed to create MPEG DeMuxer " + kDefaultDemuxer + " !");
    ExpectNextFileConverts();
}

TEST_F(StandInTest, MultiplexerCreationFailureReleasesTheDemultiplexer) {
    UseMuxer(kFailCreate);
    ExpectStartFailure("Failed to create MPEG Muxer " + ClassText(TestFilterClass(kFailCreate)) + " !");
    ExpectNextFileConverts();
}

TEST_F(StandInTest, FileDumpFailures) {
    SetStandInDump("createFails", 1);
    ExpectStartFailure("Failed to create FileDump Filter!");
    ClearStandInDump();
    window.messages.clear();
    SetStandInDump("noSink", 1);
    ExpectStartFailure("Failed to get FileSinkFilter interface from FileDump Filter!");
    ClearStandInDump();
    window.messages.clear();
    SetStandInDump("joinFails", 1);
    ExpectStartFailure("Failed to add FileDump to Filter Graph!");
    ClearStandInDump();
    window.messages.clear();
    SetStandInDump("refuseInput", 1);
    ExpectStartFailure("Failed to connect Muxer to FileDump!");
    ExpectNextFileConverts();
}

// Points the filter graph manager's class at the test DLL, which serves it only when asked
// for one without IMediaControl.
class FilterGraphClassHidden {
public:
    FilterGraphClassHidden() {
        RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{E436EBB3-524F-11CE-9F53-0020AF0BA770}\\InprocServer32", 0,
                      KEY_READ | KEY_WRITE, &m_key);
        DWORD size = sizeof m_saved;
        RegQueryValueExA(m_key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(m_saved), &size);
        const std::string path = TestFiltersDllPath();
        RegSetValueExA(m_key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>(path.size() + 1));
    }
    ~FilterGraphClassHidden() {
        RegSetValueExA(m_key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(m_saved),
                       static_cast<DWORD>(strlen(m_saved) + 1));
        RegCloseKey(m_key);
    }
    FilterGraphClassHidden(const FilterGraphClassHidden&) = delete;
    FilterGraphClassHidden& operator=(const FilterGraphClassHidden&) = delete;

private:
    HKEY m_key = nullptr;
    char m_saved[MAX_PATH] = {};
};

TEST_F(StandInTest, FilterGraphManagerThatCannotBeCreated) {
    {
        FilterGraphClassHidden hidden;
        ExpectStartFailure("Failed to create Filter Graph!");
    }
    ExpectNextFileConverts();
}

TEST_F(StandInTest, FilterGraphManagerWithoutMediaControl) {
    {
        FilterGraphClassHidden hidden;
        SetStandInDump("graphWithoutControl", 1);
        ExpectStartFailure("Failed to get MediaControl interface from Filter Graph!");
    }
    ExpectNextFileConverts();
}

TEST_F(StandInTest, FiltersThatCannotJoinTheGraph) {
    UseDemuxer(kJoinFails);
    ExpectStartFailure("Failed to add DeMuxer to Filter Graph!");
    window.messages.clear();
    UseDemuxer(kPass);
    UseMuxer(kJoinFails);
    ExpectStartFailure("Failed to add Muxer to Filter Graph!");
    window.messages.clear();
    UseMuxer(kNoPins);
    ExpectStartFailure("Failed to connect Muxer to FileDump!");
    ExpectNextFileConverts();
}

// Neighbours that break the rules of pins and enumerators: a connection reported made that
// leaves the pin free (the join would find it free again for ever), a null pin or a null
// media type handed out with S_OK. Each start fails with the usual words.
TEST_F(StandInTest, PinsAndEnumeratorsThatBreakTheRulesFailTheStart) {
    UseDemuxer(kLyingOutput);
    ExpectStartFailure("Failed to connect DeMuxer to Muxer!");
    window.messages.clear();
    UseDemuxer(kNullPin);
    ExpectStartFailure("Failed to connect Source to DeMuxer!");
    window.messages.clear();
    UseDemuxer(kNullMediaType);
    ExpectStartFailure("Failed to connect DeMuxer to Muxer!");
    ExpectNextFileConverts();
}

TEST_F(StandInTest, StartStepFailures) {
    ExpectStartFailure("Failed to create Source!", folder.Path("missing.TiVo").c_str());
    window.messages.clear();
    UseDemuxer(kRefuseInput);
    ExpectStartFailure("Failed to connect Source to DeMuxer!");
    window.messages.clear();
    UseDemuxer(kPass);
    SetStandInDump("nameFails", 1);
    ExpectStartFailure("Failed to set output filename for FileDump Filter!");
    ClearStandInDump();
    window.messages.clear();
    UseMuxer(kRefuseInput);
    ExpectStartFailure("Failed to connect DeMuxer to Muxer!");
    window.messages.clear();
    UseMuxer(kMuxLike);
    UseDemuxer(kRunFails);
    ExpectStartFailure("Could not run Filter Graph!");
    ExpectNextFileConverts();
}

TEST_F(StandInTest, AMonitorThatCannotStartLeavesNothingRunning) {
    StandInStream(50, 20);
    SetMonitorThreadStarter([](LPTHREAD_START_ROUTINE, LPVOID) { return false; });
    ExpectStartFailure("Failed to start the conversion monitor thread!");
    // A graph left running would keep the dump writing.
    const std::uint64_t size = SizeOf(output);
    Sleep(100);
    EXPECT_EQ(SizeOf(output), size);
    SetMonitorThreadStarter(nullptr);
    ExpectNextFileConverts();
}

std::string boxText;
void CALLBACK AnswerErrorBox(HWND, UINT, UINT_PTR, DWORD) {
    HWND box = FindWindowA("#32770", "Error Occurred!");
    if (!box) return;
    char text[1100] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    boxText = text;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

TEST_F(StandInTest, WithoutReportModeTheFailureIsShownInABox) {
    UseDemuxer(kRefuseInput);
    const char* untouched = "before";
    boxText.clear();
    UINT_PTR timer = SetTimer(nullptr, 0, 50, AnswerErrorBox);
    EXPECT_EQ(StartConversion(source.c_str(), output.c_str(), window.Handle(), cancel, 0, &untouched), 0);
    KillTimer(nullptr, timer);
    EXPECT_STREQ(untouched, "before");
    EXPECT_EQ(boxText, "Failed to connect Source to DeMuxer!");
}

// A failed Run is reported before anything is taken down: while the box shows, the source
// is still in the graph and the filters the graph paused before the refusal are still paused.
int filtersPausedAtBox = -1;
bool sourceInGraphAtBox = false;
void CALLBACK LookAtGraphThenAnswerBox(HWND, UINT, UINT_PTR, DWORD) {
    HWND box = FindWindowA("#32770", "Error Occurred!");
    if (!box || filtersPausedAtBox >= 0) return;
    filtersPausedAtBox = 0;
    sourceInGraphAtBox = engineState.sourceFilter != nullptr;
    IEnumFilters* filters = nullptr;
    if (engineState.graph && SUCCEEDED(engineState.graph->EnumFilters(&filters))) {
        IBaseFilter* filter = nullptr;
        while (filters->Next(1, &filter, nullptr) == S_OK) {
            FILTER_STATE state = State_Stopped;
            if (SUCCEEDED(filter->GetState(0, &state)) && state != State_Stopped) ++filtersPausedAtBox;
            filter->Release();
        }
        filters->Release();
    }
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

TEST_F(StandInTest, AFailedRunIsReportedBeforeTheGraphIsStopped) {
    UseDemuxer(kRunFails);
    filtersPausedAtBox = -1;
    sourceInGraphAtBox = false;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, LookAtGraphThenAnswerBox);
    EXPECT_EQ(StartConversion(source.c_str(), output.c_str(), window.Handle(), cancel, 0, nullptr), 0);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(sourceInGraphAtBox);
    EXPECT_GT(filtersPausedAtBox, 0);
    EXPECT_TRUE(EngineIsIdle());
    EXPECT_EQ(LiveTestObjects(), 0);
}

TEST_F(StandInTest, WithoutAWindowTheConversionRunsToItsEnd) {
    StandInStream(5, 20);
    const char* text = nullptr;
    EXPECT_EQ(StartConversion(source.c_str(), output.c_str(), nullptr, cancel, 1, &text), 1);
    EXPECT_EQ(SizeOf(output), 100000u);
    EXPECT_TRUE(EngineIsIdle());
    EXPECT_EQ(engineState.sourcePath, source);
    EXPECT_EQ(engineState.outputPath, output);
    window.PumpFor(150);
    EXPECT_TRUE(window.messages.empty());
}

// The dump writes only when told to, so between two steps the output has one known size and
// every pass of the monitor must show exactly its percentage. Passes made while a chunk was
// being written may show part of it, but never more than the step's end.
TEST_F(StandInTest, ProgressIsThePercentageOfTheOutputSizeOnEveryPass) {
    StandInEvents events;
    StandInStream(7, 0);  // 7 pieces of 20,000 bytes against a 100,000-byte source
    SetStandInDump("stepped", 1);
    const char* text = nullptr;
    ASSERT_EQ(StartConversion(source.c_str(), output.c_str(), window.Handle(), cancel, 1, &text), 1);
    for (DWORD written = 0; written < 7; ++written) {
        if (written > 0) {
            ASSERT_TRUE(events.WriteOneChunk()) << written;
        }
        // 100,000 bytes and beyond show 99: the end of a file is told by WM_CONVERSION_DONE.
        const WPARAM expected = written * 20 < 99 ? written * 20 : 99;
        const auto progressed = [&] {
            const auto progress = window.Progress();
            return !progress.empty() && progress.back().wParam >= expected;
        };
        ASSERT_TRUE(window.PumpUntil(progressed)) << "no progress pass showed " << expected;
        const size_t settled = window.Progress().size();
        ASSERT_TRUE(window.PumpUntil([&] { return window.Progress().size() >= settled + 2; }));
        const auto progress = window.Progress();
        for (size_t i = settled - 1; i < progress.size(); ++i)
            EXPECT_EQ(progress[i].wParam, expected) << "pass " << i << " after chunk " << written;
    }
    ASSERT_TRUE(events.WriteOneChunk());
    ASSERT_TRUE(window.PumpUntilDone());
    window.PumpFor(150);

    const auto done = window.Done();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].wParam, CONVERSION_COMPLETED);
    EXPECT_TRUE(done[0].engineIdle) << "WM_CONVERSION_DONE came before everything was released";
    EXPECT_EQ(done[0].liveObjects, 0);
    EXPECT_EQ(window.messages.back().message, static_cast<UINT>(WM_CONVERSION_DONE));
    EXPECT_STREQ(GetConversionFailureText(), "");
    WPARAM previous = 0;
    for (const auto& m : window.Progress()) {
        EXPECT_EQ(m.lParam, 0);
        EXPECT_LE(m.wParam, 99u);
        EXPECT_GE(m.wParam, previous);
        previous = m.wParam;
    }
    EXPECT_EQ(SizeOf(output), 140000u);
}

// The monitor is held back until the dump has posted its end, so its first pass sees it.
HANDLE standInEnded = nullptr;
DWORD WINAPI MonitorAfterTheEnd(LPVOID start) {
    WaitForSingleObject(standInEnded, static_cast<DWORD>(kHangMilliseconds));
    auto* held = static_cast<std::pair<LPTHREAD_START_ROUTINE, LPVOID>*>(start);
    const auto monitor = *held;
    delete held;
    return monitor.first(monitor.second);
}

TEST_F(StandInTest, AGraphThatCompletesInTheFirstPassPostsNoProgress) {
    StandInEvents events;
    standInEnded = events.Ended();
    StandInStream(0, 0);
    SetMonitorThreadStarter([](LPTHREAD_START_ROUTINE procedure, LPVOID parameter) {
        return StartDetachedThread(MonitorAfterTheEnd,
                                   new std::pair<LPTHREAD_START_ROUTINE, LPVOID>(procedure, parameter));
    });
    const char* text = nullptr;
    ASSERT_EQ(StartConversion(source.c_str(), output.c_str(), window.Handle(), cancel, 1, &text), 1);
    ASSERT_TRUE(window.PumpUntilDone());
    window.PumpFor(150);
    EXPECT_TRUE(window.Progress().empty());
    ASSERT_EQ(window.Done().size(), 1u);
    EXPECT_EQ(window.Done()[0].wParam, CONVERSION_COMPLETED);
}

TEST_F(StandInTest, WithoutACancelEventProgressIsStillPosted) {
    StandInEvents events;
    StandInStream(1, 0);
    SetStandInDump("stepped", 1);
    const char* text = nullptr;
    ASSERT_EQ(StartConversion(source.c_str(), output.c_str(), window.Handle(), nullptr, 1, &text), 1);
    EXPECT_TRUE(window.PumpUntil([&] { return window.Progress().size() >= 2; }));
    ASSERT_TRUE(events.WriteOneChunk());
    ASSERT_TRUE(window.PumpUntilDone());
    window.PumpFor(150);
    ASSERT_EQ(window.Done().size(), 1u);
    EXPECT_EQ(window.Done()[0].wParam, CONVERSION_COMPLETED);
    EXPECT_TRUE(window.Done()[0].engineIdle);
}

// The dump waits for a step that never comes: only the cancellation can end this conversion.
TEST_F(StandInTest, CancellingMidStreamEndsTheConversionAndKeepsThePartialOutput) {
    StandInEvents events;
    StandInStream(10, 0);
    SetStandInDump("stepped", 1);
    const char* text = nullptr;
    ASSERT_EQ(StartConversion(source.c_str(), output.c_str(), window.Handle(), cancel, 1, &text), 1);
    ASSERT_TRUE(events.WriteOneChunk());
    ASSERT_TRUE(events.WriteOneChunk());
    ASSERT_TRUE(window.PumpUntil([&] { return !window.Progress().empty(); }));
    SetEvent(cancel);
    ASSERT_TRUE(window.PumpUntilDone());
    window.PumpFor(150);
    const auto done = window.Done();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].wParam, CONVERSION_CANCELLED);
    EXPECT_TRUE(done[0].engineIdle);
    EXPECT_EQ(done[0].liveObjects, 0);
    EXPECT_EQ(SizeOf(output), 40000u) << "the partial output must stay on disk as it was";
}

TEST_F(StandInTest, CancelWinsOverCompletionInTheSamePass) {
    StandInStream(0, 0);
    SetStandInDump("errorHr", static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_DISK_FULL)));
    SetEvent(cancel);
    const char* text = nullptr;
    ASSERT_EQ(StartConversion(source.c_str(), output.c_str(), window.Handle(), cancel, 1, &text), 1);
    ASSERT_TRUE(window.PumpUntilDone());
    ASSERT_EQ(window.Done().size(), 1u);
    EXPECT_EQ(window.Done()[0].wParam, CONVERSION_CANCELLED);
    EXPECT_TRUE(window.Progress().empty());
}

TEST_F(StandInTest, AnErrorEventEndsTheConversionAsFailed) {
    StandInStream(3, 20);
    SetStandInDump("errorHr", static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_DISK_FULL)));
    const char* text = nullptr;
    ASSERT_EQ(StartConversion(source.c_str(), output.c_str(), window.Handle(), cancel, 1, &text), 1);
    ASSERT_TRUE(window.PumpUntilDone());
    window.PumpFor(200);
    ASSERT_EQ(window.Done().size(), 1u);
    EXPECT_EQ(window.Done()[0].wParam, CONVERSION_FAILED);
    EXPECT_TRUE(window.Done()[0].engineIdle);
    EXPECT_STREQ(GetConversionFailureText(),
                 "The conversion stopped because the output could not be written (0x80070070).");

    // Without a window the same end is a failed start, with the same words.
    window.messages.clear();
    EXPECT_EQ(StartConversion(source.c_str(), output.c_str(), nullptr, nullptr, 1, &text), 0);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "The conversion stopped because the output could not be written (0x80070070).");
    EXPECT_TRUE(EngineIsIdle());

    // The next clean file completes and clears the text.
    ClearStandInDump();
    StandInStream(2, 10);
    ASSERT_EQ(StartConversion(source.c_str(), output.c_str(), window.Handle(), cancel, 1, &text), 1);
    ASSERT_TRUE(window.PumpUntilDone());
    EXPECT_EQ(window.Done()[0].wParam, CONVERSION_COMPLETED);
    EXPECT_STREQ(GetConversionFailureText(), "");
}

// A filter that posts a "still playing" error goes on, and the graph completes: the output
// is whole and the conversion has not failed.
TEST_F(StandInTest, StillPlayingErrorsDoNotFailTheConversion) {
    for (const long code : {EC_ERROR_STILLPLAYING, EC_STREAM_ERROR_STILLPLAYING}) {
        SetStandInDump("stillPlaying", static_cast<DWORD>(code));
        window.messages.clear();
        const char* text = nullptr;
        ASSERT_EQ(StartConversion(source.c_str(), output.c_str(), window.Handle(), cancel, 1, &text), 1)
            << code;
        ASSERT_TRUE(window.PumpUntilDone()) << code;
        ASSERT_EQ(window.Done().size(), 1u) << code;
        EXPECT_EQ(window.Done()[0].wParam, CONVERSION_COMPLETED) << code;
        EXPECT_STREQ(GetConversionFailureText(), "") << code;
        EXPECT_EQ(SizeOf(output), 60000u) << code;

        // Without a window it is a conversion that worked.
        EXPECT_EQ(StartConversion(source.c_str(), output.c_str(), nullptr, nullptr, 1, &text), 1) << code;
        EXPECT_EQ(SizeOf(output), 60000u) << code;
    }
}

TEST_F(StandInTest, StartingWhileRunningIsRefusedAndLeavesTheConversionAlone) {
    StandInEvents events;
    StandInStream(10, 0);
    SetStandInDump("stepped", 1);
    const char* text = nullptr;
    ASSERT_EQ(StartConversion(source.c_str(), output.c_str(), window.Handle(), cancel, 1, &text), 1);
    IGraphBuilder* runningGraph = engineState.graph;
    const char* untouched = "before";
    const std::string other = folder.Path("Other.TiVo");
    EXPECT_EQ(StartConversion(other.c_str(), folder.Path("Other.mpg").c_str(), window.Handle(), cancel, 1,
                              &untouched),
              0);
    EXPECT_STREQ(untouched, "before");
    EXPECT_EQ(engineState.graph, runningGraph);
    EXPECT_EQ(engineState.sourcePath, source);
    for (int chunk = 0; chunk < 10; ++chunk)
        ASSERT_TRUE(events.WriteOneChunk()) << chunk;
    ASSERT_TRUE(window.PumpUntilDone());
    window.PumpFor(200);
    ASSERT_EQ(window.Done().size(), 1u);
    EXPECT_EQ(window.Done()[0].wParam, CONVERSION_COMPLETED);
    EXPECT_EQ(SizeOf(output), 200000u);
}

TEST_F(StandInTest, AChangedSettingTakesEffectWithTheNextFile) {
    const char* text = nullptr;
    EXPECT_EQ(StartConversion(source.c_str(), output.c_str(), nullptr, nullptr, 1, &text), 1);
    UseDemuxer(kRefuseInput);
    ExpectStartFailure("Failed to connect Source to DeMuxer!");
    UseDemuxer(kSecondInput);
    EXPECT_EQ(StartConversion(source.c_str(), output.c_str(), nullptr, nullptr, 1, &text), 1);
}

TEST_F(StandInTest, TeardownRemovesEveryFilterFromTheGraph) {
    const char* text = nullptr;
    ASSERT_EQ(BuildConversionGraph(1, &text), 1);
    IGraphBuilder* graph = engineState.graph;
    graph->AddRef();
    ReleaseConversionGraph();
    EXPECT_TRUE(EngineIsIdle());
    IEnumFilters* filters = nullptr;
    ASSERT_HRESULT_SUCCEEDED(graph->EnumFilters(&filters));
    IBaseFilter* left = nullptr;
    EXPECT_EQ(filters->Next(1, &left, nullptr), S_FALSE) << "a filter stayed in the graph";
    if (left) left->Release();
    filters->Release();
    graph->Release();
}

}  // namespace
