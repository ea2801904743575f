// The engine from start to teardown with the stand-in file dump (a test filter registered
// under the fixed file-dump class in this test's own prefix) and Wine's File Source (Async.)
// as the source: every failure text from a real cause, the monitor's messages, cancellation,
// error events, and the joining of pins that break the rules in every way. Cancels at random moments are
// EndToEndTest's, on the real filters.
#include "engine/Graph.h"
#include "engine/Pins.h"
#include "engine/Progress.h"
#include "engine/Run.h"
#include "engine/Settings.h"
#include "DialogScript.h"
#include "TestSupport.h"
#include "win32/ClassIds.h"

#include <evcode.h>
#include <uuids.h>

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

namespace {

constexpr DWORD kSourceBytes = 100000;
constexpr char kDiskFull[] = "The conversion stopped because the output could not be written (0x80070070).";

// The stand-in dump writes `chunks` pieces of 20,000 bytes, one every intervalMs (or, when
// stepped, one each time the test says so), then ends.
void StandInStream(DWORD chunks, DWORD intervalMs, bool stepped = false) {
    SetStandInDump("chunks", chunks);
    SetStandInDump("intervalMs", intervalMs);
    SetStandInDump("stepped", stepped);
}

// The events of the stand-in dump (see TestFilterIds.h), made before the dump is created.
class StandInEvents {
public:
    // Lets a stepped dump write one chunk and waits until it is on disk.
    bool WriteOneChunk() {
        SetEvent(m_step.Get());
        return WaitForSingleObject(m_written.Get(), static_cast<DWORD>(kHangMilliseconds)) == WAIT_OBJECT_0;
    }
    HANDLE Ended() const { return m_ended.Get(); }

private:
    ScopedHandle m_step{CreateEventA(nullptr, FALSE, FALSE, StandInEventName("Step").c_str())};
    ScopedHandle m_written{CreateEventA(nullptr, FALSE, FALSE, StandInEventName("Written").c_str())};
    ScopedHandle m_ended{CreateEventA(nullptr, TRUE, FALSE, StandInEventName("Ended").c_str())};
};

// Points the filter graph manager's class at the test DLL, which serves it only when asked
// for one without IMediaControl; RestoreFilterGraphClass puts Wine's back.
const std::string kFilterGraphServer = "CLSID\\" + ClassText(CLSID_FilterGraph) + "\\InprocServer32";
std::string savedFilterGraphServer;
void SetFilterGraphServer(const std::string& path) {
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, kFilterGraphServer.c_str(), REG_SZ, path.c_str(), 0),
              ERROR_SUCCESS);
}
void HideFilterGraphClass() {
    char saved[MAX_PATH] = {};
    LONG size = sizeof saved;
    ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, kFilterGraphServer.c_str(), saved, &size), ERROR_SUCCESS);
    savedFilterGraphServer = saved;
    SetFilterGraphServer(TestFiltersDllPath());
}
void RestoreFilterGraphClass() {
    if (!savedFilterGraphServer.empty()) SetFilterGraphServer(std::exchange(savedFilterGraphServer, ""));
}

class StandInTest : public ::testing::Test {
protected:
    void SetUp() override {
        Reset();
        korvane::test::WriteFileBytes(m_source, std::vector<uint8_t>(kSourceBytes));
        ASSERT_NE(m_window.Handle(), nullptr) << "no window for the engine's messages";
        ASSERT_TRUE(EngineIsIdle());
        ASSERT_EQ(LiveTestObjects(), 0);
    }
    void TearDown() override {
        Reset();
        EXPECT_TRUE(EngineIsIdle());
        EXPECT_EQ(LiveTestObjects(), 0);
    }
    // Every fault removed: the stand-ins pass everything and the dump writes 60,000 bytes.
    void Reset() {
        RestoreFilterGraphClass();
        SetMonitorThreadStarter(nullptr);
        ClearSettingsAndStandInDump();
        UseTestFilter("mpegDeMuxer", kPass);
        UseTestFilter("mpegMuxer", kMuxLike);
        StandInStream(3, 10);
        ResetEvent(m_cancel.Get());
        m_window.messages.clear();
    }
    int Start(HWND window, HANDLE cancel, const char** text) {
        return StartConversion(m_source.c_str(), m_output.c_str(), window, cancel, 1, text);
    }
    // With a window: started, whileRunning done, pumped to its one end, which must be outcome
    // and come after everything was released.
    void ExpectEnd(
        ConversionOutcome outcome, HANDLE cancel, const std::function<void()>& whileRunning = [] {}) {
        const char* text = nullptr;
        ASSERT_EQ(Start(m_window.Handle(), cancel, &text), 1) << text;
        whileRunning();
        ASSERT_TRUE(m_window.PumpUntilDone());
        m_window.PumpFor(150);
        const auto done = m_window.Done();
        EXPECT_EQ(done.wParam, outcome);
        EXPECT_TRUE(done.engineIdle) << "WM_CONVERSION_DONE came before everything was released";
        EXPECT_EQ(done.liveObjects, 0);
    }

    ScopedComApartment m_com;
    TempFolder m_folder;
    NotifyWindow m_window;
    ScopedHandle m_cancel{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    const std::string m_source = m_folder.Path("Show.TiVo");
    const std::string m_output = m_folder.Path("Show.mpg");
};

// Each cause of a failed start, one after the other: the start fails with its text, leaves
// the engine idle with nothing alive and nothing posted, and the next file, fault removed,
// converts without a window (so no setting or state of the failed one lingers).
TEST_F(StandInTest, EveryFailedStartSaysWhyAndTheNextFileConverts) {
    const std::string testClass = ClassText(TestFilterClass(kFailCreate));
    // Registered nowhere, and without braces: the text adds them.
    const std::string missingClass = ClassText(TestFilterClass(TestFilterKind(0xFF))).substr(1, 36);
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { SetSettingString("mpegDeMuxer", missingClass); },
         "Failed to create MPEG DeMuxer {" + missingClass + "} !"},
        // A setting of the wrong type falls back to the default, not registered in this prefix.
        {[] { SetUserValue(kSettingsKey, "mpegDeMuxer", REG_DWORD, &kSourceBytes, 4); },
         "Failed to create MPEG DeMuxer " + std::string(classids::kDemultiplexerText) + " !"},
        {[] { UseTestFilter("mpegMuxer", kFailCreate); }, "Failed to create MPEG Muxer " + testClass + " !"},
        {[] { SetStandInDump("createFails", 1); }, "Failed to create FileDump Filter!"},
        {[] { SetStandInDump("noSink", 1); }, "Failed to get FileSinkFilter interface from FileDump Filter!"},
        {[] { SetStandInDump("joinFails", 1); }, "Failed to add FileDump to Filter Graph!"},
        {[] { SetStandInDump("refuseInput", 1); }, "Failed to connect Muxer to FileDump!"},
        {[] { SetStandInDump("nameFails", 1); }, "Failed to set output filename for FileDump Filter!"},
        {HideFilterGraphClass, "Failed to create Filter Graph!"},
        {[] {
             HideFilterGraphClass();
             SetStandInDump("graphWithoutControl", 1);
         },
         "Failed to get MediaControl interface from Filter Graph!"},
        {[] { UseTestFilter("mpegDeMuxer", kJoinFails); }, "Failed to add DeMuxer to Filter Graph!"},
        {[] { UseTestFilter("mpegMuxer", kJoinFails); }, "Failed to add Muxer to Filter Graph!"},
        {[&] { DeleteFileA(m_source.c_str()); }, "Failed to create Source!"},
        {[] { UseTestFilter("mpegDeMuxer", kRefuseInput); }, "Failed to connect Source to DeMuxer!"},
        {[] { UseTestFilter("mpegMuxer", kRefuseInput); }, "Failed to connect DeMuxer to Muxer!"},
        // Neighbours that break the rules: a connection reported made that leaves the pin free
        // (the join would find it free again for ever), a null pin or media type with S_OK.
        {[] { UseTestFilter("mpegDeMuxer", kLyingOutput); }, "Failed to connect DeMuxer to Muxer!"},
        {[] { UseTestFilter("mpegDeMuxer", kNullPin); }, "Failed to connect Source to DeMuxer!"},
        {[] { UseTestFilter("mpegDeMuxer", kNullMediaType); }, "Failed to connect DeMuxer to Muxer!"},
        {[] { UseTestFilter("mpegDeMuxer", kRunFails); }, "Could not run Filter Graph!"},
        // A graph left running would keep the dump alive, which LiveTestObjects shows.
        {[] {
             StandInStream(50, 20);
             SetMonitorThreadStarter([](LPTHREAD_START_ROUTINE, LPVOID) { return false; });
         },
         "Failed to start the conversion monitor thread!"},
    };
    for (const auto& [arrange, expected] : cases) {
        SCOPED_TRACE(expected);
        arrange();
        const char* text = nullptr;
        EXPECT_EQ(Start(m_window.Handle(), m_cancel.Get(), &text), 0);
        EXPECT_STREQ(text, expected.c_str());
        EXPECT_TRUE(EngineIsIdle());
        EXPECT_EQ(LiveTestObjects(), 0);
        m_window.PumpFor(150);
        EXPECT_TRUE(m_window.messages.empty()) << "a failed start posted a message";

        Reset();
        korvane::test::WriteFileBytes(m_source, std::vector<uint8_t>(kSourceBytes));
        EXPECT_EQ(Start(nullptr, nullptr, &text), 1) << text;
        EXPECT_EQ(FileSizeOrZero(m_output.c_str()), 60000u);
        EXPECT_TRUE(EngineIsIdle());
    }
}

// A failed Run is reported in the "Error Occurred!" box (the failure rule without report
// mode) before anything is taken down: while the box shows, the source is still in the graph
// and the filters the graph paused before the refusal are still paused.
TEST_F(StandInTest, AFailedRunIsReportedBeforeTheGraphIsStopped) {
    UseTestFilter("mpegDeMuxer", kRunFails);
    int pausedAtBox = -1;
    bool sourceInGraphAtBox = false;
    DialogScript script;
    script.Expect("Error Occurred!", [&](HWND box) {
        sourceInGraphAtBox = engineState.sourceFilter != nullptr;
        pausedAtBox = 0;
        ComPtr<IEnumFilters> filters;
        if (engineState.graph && SUCCEEDED(engineState.graph->EnumFilters(filters.Out()))) {
            for (ComPtr<IBaseFilter> filter; filters->Next(1, filter.Out(), nullptr) == S_OK;
                 filter.Reset()) {
                FILTER_STATE state = State_Stopped;
                pausedAtBox += SUCCEEDED(filter->GetState(0, &state)) && state != State_Stopped;
            }
        }
        ClickButton(box, "OK");
    });
    const char* untouched = "before";
    EXPECT_EQ(
        StartConversion(m_source.c_str(), m_output.c_str(), m_window.Handle(), m_cancel.Get(), 0, &untouched),
        0);
    ASSERT_EQ(script.Shown(), 1);
    EXPECT_EQ(script.seen[0].text, "Could not run Filter Graph!");
    EXPECT_STREQ(untouched, "before") << "the text went back as well as into the box";
    EXPECT_TRUE(sourceInGraphAtBox);
    EXPECT_GT(pausedAtBox, 0) << "the graph was stopped before the box";
}

// The dump writes only when told to, so between two steps the output has one known size and
// every pass of the monitor must show exactly its percentage. Passes made while a chunk was
// being written may show part of it, but never more than the step's end. No cancel event:
// the monitor still posts its passes. Meanwhile a second start is refused and leaves this
// conversion alone: it goes on to its end.
TEST_F(StandInTest, ProgressIsThePercentageOfTheOutputSizeOnEveryPass) {
    StandInEvents events;
    StandInStream(7, 0, true);  // 7 pieces of 20,000 bytes against a 100,000-byte source
    ExpectEnd(CONVERSION_COMPLETED, nullptr, [&] {
        for (DWORD written = 0; written < 7; ++written) {
            ASSERT_TRUE(written == 0 || events.WriteOneChunk()) << written;
            // 100,000 bytes and beyond show 99: the end of a file is told by WM_CONVERSION_DONE.
            const WPARAM expected = std::min<WPARAM>(written * 20, 99);
            const auto shown = [&] {
                const auto progress = m_window.Progress();
                return !progress.empty() && progress.back().wParam >= expected;
            };
            ASSERT_TRUE(m_window.PumpUntil(shown)) << "no progress pass showed " << expected;
            const size_t settled = m_window.Progress().size();
            ASSERT_TRUE(m_window.PumpUntil([&] { return m_window.Progress().size() >= settled + 2; }));
            const auto progress = m_window.Progress();
            for (size_t i = settled - 1; i < progress.size(); ++i)
                EXPECT_EQ(progress[i].wParam, expected) << "pass " << i << " after chunk " << written;
        }
        IGraphBuilder* runningGraph = engineState.graph;
        const char* untouched = "before";
        EXPECT_EQ(StartConversion(m_folder.Path("Other.TiVo").c_str(), m_folder.Path("Other.mpg").c_str(),
                                  m_window.Handle(), m_cancel.Get(), 1, &untouched),
                  0);
        EXPECT_STREQ(untouched, "before");
        EXPECT_EQ(engineState.graph, runningGraph);
        EXPECT_EQ(engineState.sourcePath, m_source);
        ASSERT_TRUE(events.WriteOneChunk());
    });
    EXPECT_EQ(FileSizeOrZero(m_output.c_str()), 140000u);
}

// The dump waits for a step that never comes: only the cancellation can end this conversion.
TEST_F(StandInTest, CancellingMidStreamEndsTheConversionAndKeepsThePartialOutput) {
    StandInEvents events;
    StandInStream(10, 0, true);
    ExpectEnd(CONVERSION_CANCELLED, m_cancel.Get(), [&] {
        ASSERT_TRUE(events.WriteOneChunk());
        ASSERT_TRUE(events.WriteOneChunk());
        ASSERT_TRUE(m_window.PumpUntil([&] { return !m_window.Progress().empty(); }));
        SetEvent(m_cancel.Get());
    });
    EXPECT_EQ(FileSizeOrZero(m_output.c_str()), 40000u) << "the partial output must stay on disk as it was";
}

// The monitor is held back until the dump has posted its end, so its first pass sees it.
HANDLE standInEnded = nullptr;
DWORD WINAPI MonitorAfterTheEnd(LPVOID start) {
    WaitForSingleObject(standInEnded, static_cast<DWORD>(kHangMilliseconds));
    const std::unique_ptr<std::pair<LPTHREAD_START_ROUTINE, LPVOID>> monitor(
        static_cast<std::pair<LPTHREAD_START_ROUTINE, LPVOID>*>(start));
    return monitor->first(monitor->second);
}
bool StartMonitorAfterTheEnd(LPTHREAD_START_ROUTINE procedure, LPVOID parameter) {
    return StartDetachedThread(MonitorAfterTheEnd,
                               new std::pair<LPTHREAD_START_ROUTINE, LPVOID>(procedure, parameter));
}

// Each way a graph can end, with a window and without. The text of a failure stays until
// the next conversion, which clears it.
TEST_F(StandInTest, EachEndIsTheOutcomeItsEventsMean) {
    StandInEvents events;
    standInEnded = events.Ended();
    const DWORD diskFull = static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    const struct {
        std::function<void()> arrange;
        ConversionOutcome outcome;
        const char* failure;
        bool noProgress;
        std::uint64_t written;  // by a completed conversion
    } cases[] = {
        // The end seen in the monitor's first pass: no progress is posted.
        {[] {
             StandInStream(0, 0);
             SetMonitorThreadStarter(StartMonitorAfterTheEnd);
         },
         CONVERSION_COMPLETED, "", true, 0},
        // A cancel and an end in the same pass: the cancel wins.
        {[&] {
             StandInStream(0, 0);
             SetStandInDump("errorHr", diskFull);
             SetEvent(m_cancel.Get());
         },
         CONVERSION_CANCELLED, "", true, 0},
        {[&] { SetStandInDump("errorHr", diskFull); }, CONVERSION_FAILED, kDiskFull, false, 0},
        // A filter that posts a "still playing" error goes on, and the graph completes: the
        // output is whole and the conversion has not failed.
        {[] { SetStandInDump("stillPlaying", EC_ERROR_STILLPLAYING); }, CONVERSION_COMPLETED, "", false,
         60000},
        {[] { SetStandInDump("stillPlaying", EC_STREAM_ERROR_STILLPLAYING); }, CONVERSION_COMPLETED, "",
         false, 60000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        Reset();
        c.arrange();
        ExpectEnd(c.outcome, m_cancel.Get());
        EXPECT_STREQ(GetConversionFailureText(), c.failure);
        EXPECT_TRUE(!c.noProgress || m_window.Progress().empty());
        if (c.outcome == CONVERSION_COMPLETED) {
            EXPECT_EQ(FileSizeOrZero(m_output.c_str()), c.written);
        }
        if (c.outcome == CONVERSION_CANCELLED) continue;
        // Without a window the same end, and a failure is a failed start with the same words.
        const char* text = nullptr;
        EXPECT_EQ(Start(nullptr, nullptr, &text), c.outcome == CONVERSION_COMPLETED ? 1 : 0);
        EXPECT_STREQ(c.outcome == CONVERSION_FAILED ? text : c.failure, c.failure);
        EXPECT_TRUE(EngineIsIdle());
    }
}

// Joining filters pin by pin, in a graph of their own: every output of `from` joined to `to`
// in turn. Pins named Out* are from's, the others to's. What ends each join (a connection
// reported made that leaves its pin free, a null pin or media type) is the start table's.
TEST_F(StandInTest, ConnectFiltersJoinsEveryFreeOutputToAnInputThatAcceptsIt) {
    struct Case {
        TestFilterKind from, to;
        HRESULT result;
        std::vector<const wchar_t*> connected, free;
    };
    const Case cases[] = {
        {kNoPins, kPass, E_FAIL, {}, {L"In0"}},
        {kPass, kMuxLike, S_OK, {L"Out1", L"In0"}, {}},
        // A pin that cannot tell its direction is skipped like one of the other direction.
        {kPass, kNoDirection, S_OK, {L"In1"}, {L"In0"}},
        // S_FALSE from QueryAccept is no refusal.
        {kPass, kSFalseInput, S_OK, {L"In0"}, {}},
        {kPass, kSecondInput, S_OK, {L"In1"}, {L"In0"}},
        {kPass, kRefuseInput, E_FAIL, {}, {L"Out1", L"In0"}},
        {kNoTypesOutput, kPass, E_FAIL, {}, {L"Out0", L"In0"}},
        // Pin 1 of the multiplexer is its output; the new inputs follow it.
        {kTwoOutputs, kMuxLike, S_OK, {L"Out1", L"Out2", L"In0", L"In2"}, {}},
        // A first output that cannot be joined ends the loop; a later one does not undo the first.
        {kTwoOutputs, kAcceptsOnlyB, E_FAIL, {}, {L"Out1", L"Out2"}},
        {kTwoOutputs, kAcceptsOnlyA, S_OK, {L"Out1"}, {L"Out2"}},
        // The output's type list, which chose the input, is let go before the two are joined.
        {kTypesHeld, kPass, S_OK, {L"Out1", L"In0"}, {}},
    };
    ComPtr<IGraphBuilder> graph = korvane::test::Create<IGraphBuilder>(CLSID_FilterGraph);
    ASSERT_TRUE(graph);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "from kind " << int(c.from) << " to kind " << int(c.to));
        ComPtr<IBaseFilter> filters[2];
        for (int i = 0; i < 2; ++i) {
            filters[i] = korvane::test::Create<IBaseFilter>(TestFilterClass(i ? c.to : c.from));
            ASSERT_TRUE(filters[i]);
            ASSERT_HRESULT_SUCCEEDED(graph->AddFilter(filters[i].Get(), i ? L"to" : L"from"));
        }
        EXPECT_EQ(ConnectFilters(graph.Get(), filters[0].Get(), filters[1].Get()), c.result);
        for (const auto& [pins, connected] : {std::pair{&c.connected, true}, std::pair{&c.free, false}}) {
            for (const wchar_t* name : *pins) {
                ComPtr<IPin> pin, peer;
                ASSERT_HRESULT_SUCCEEDED(filters[name[0] == L'O' ? 0 : 1]->FindPin(name, pin.Out()));
                EXPECT_EQ(SUCCEEDED(pin->ConnectedTo(peer.Out())), connected) << name;
            }
        }
        // Every pin looked at and passed over was handed back: the filters go with the graph.
        for (auto& filter : filters)
            graph->RemoveFilter(filter.Get());
    }
    graph.Reset();
    EXPECT_EQ(LiveTestObjects(), 0);
}

// Handed an object of its own and a format block, as a real enumerator may.
TEST_F(StandInTest, FreeingAnEnumeratedTypeReleasesFormatAndObject) {
    ComPtr<IBaseFilter> filter = korvane::test::Create<IBaseFilter>(TestFilterClass(kPass));
    ComPtr<IPin> out;
    ComPtr<IEnumMediaTypes> types;
    ASSERT_TRUE(filter);
    ASSERT_EQ(FindFreePin(filter.Get(), nullptr, PINDIR_OUTPUT, out.Out()), S_OK);
    ASSERT_HRESULT_SUCCEEDED(out->EnumMediaTypes(types.Out()));
    AM_MEDIA_TYPE* type = nullptr;
    ASSERT_EQ(types->Next(1, &type, nullptr), S_OK);
    types->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&type->pUnk));
    types.Reset();
    type->cbFormat = 64;
    type->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(64));
    const long before = LiveTestObjects();
    DeleteEnumeratedMediaType(type);
    EXPECT_EQ(LiveTestObjects(), before - 1) << "pUnk was not released";
}

TEST_F(StandInTest, TeardownRemovesEveryFilterFromTheGraph) {
    const char* text = nullptr;
    ASSERT_EQ(BuildConversionGraph(1, &text), 1);
    engineState.graph->AddRef();
    const auto graph = ComPtr<IGraphBuilder>::Adopt(engineState.graph);
    ReleaseConversionGraph();
    EXPECT_TRUE(EngineIsIdle());
    ComPtr<IEnumFilters> filters;
    ASSERT_HRESULT_SUCCEEDED(graph->EnumFilters(filters.Out()));
    ComPtr<IBaseFilter> left;
    EXPECT_EQ(filters->Next(1, left.Out(), nullptr), S_FALSE) << "a filter stayed in the graph";
}

}  // namespace
