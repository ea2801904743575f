#include "engine/Run.h"

#include "engine/EngineState.h"
#include "engine/Graph.h"
#include "engine/Pins.h"
#include "engine/Progress.h"
#include "engine/Settings.h"

#include "win32/ComPtr.h"
#include "win32/Scoped.h"

#include <evcode.h>

#include <cstdio>

namespace {

MonitorThreadStarter monitorThreadStarter = StartDetachedThread;

void StopEveryFilter(IGraphBuilder* graph);

// What a conversion holds besides the graph's fixed interfaces, released with the graph: the
// source filter (removed from the graph first) and the two paths.
void ReleaseConversion() {
    ConversionEngineState& s = engineState;
    if (s.sourceFilter) {
        s.graph->RemoveFilter(s.sourceFilter);
        ReleaseAndClear(s.sourceFilter);
    }
    s.outputPathWide.reset();
    s.sourcePathWide.reset();
    ReleaseConversionGraph();
}

// Steps 6 to 10 of a start, and a monitor that cannot be started, all end here: the
// engine goes back to idle with nothing posted. The text is reported first; a graph that
// was asked to run (stopFilters) is then stopped filter by filter before any teardown.
int FailStart(int reportMode, const char** errorTextOut, const char* text, bool stopFilters = false) {
    ConversionEngineState& s = engineState;
    ReportFailure(reportMode, errorTextOut, text);
    if (stopFilters) StopEveryFilter(s.graph);
    ReleaseConversion();
    return 0;
}

// When one filter refuses to pause, Wine's graph leaves the ones it already paused paused
// and still counts itself stopped, so its own Stop does nothing; a filter that is not stopped
// refuses to disconnect, and the graph manager then never finishes removing it.
void StopEveryFilter(IGraphBuilder* graph) {
    engineState.mediaControl->Stop();
    ComPtr<IEnumFilters> filters;
    if (FAILED(graph->EnumFilters(filters.Out())) || !filters) return;
    for (;;) {
        ComPtr<IBaseFilter> filter;
        if (filters->Next(1, filter.Out(), nullptr) != S_OK || !filter) break;
        filter->Stop();
    }
}

bool EventCarriesResult(long eventCode) {
    return eventCode == EC_ERRORABORT || eventCode == EC_ERRORABORTEX ||
           eventCode == EC_STREAM_ERROR_STOPPED || eventCode == EC_STREAM_ERROR_STILLPLAYING ||
           eventCode == EC_ERROR_STILLPLAYING;
}

// The output is the only file a conversion creates, so failures to create or open a file
// count as the output's too.
bool IsWriteFailure(HRESULT hr) {
    return hr == HRESULT_FROM_WIN32(ERROR_DISK_FULL) || hr == HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL) ||
           hr == STG_E_MEDIUMFULL || hr == HRESULT_FROM_WIN32(ERROR_WRITE_FAULT) ||
           hr == HRESULT_FROM_WIN32(ERROR_WRITE_PROTECT) || hr == E_ACCESSDENIED ||
           hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_INVALID_NAME) ||
           hr == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
}

bool IsReadFailure(HRESULT hr) {
    return hr == HRESULT_FROM_WIN32(ERROR_READ_FAULT) || hr == HRESULT_FROM_WIN32(ERROR_HANDLE_EOF) ||
           hr == HRESULT_FROM_WIN32(ERROR_CRC) || hr == HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT) ||
           hr == HRESULT_FROM_WIN32(ERROR_IO_DEVICE) || hr == HRESULT_FROM_WIN32(ERROR_SECTOR_NOT_FOUND);
}

// Wine's WaitForCompletion ends only on EC_COMPLETE and merely queues error events
// (Windows returns the error code itself), so the queue is read in both cases.
ConversionOutcome JudgeEnd(long lastEventCode) {
    ConversionEngineState& s = engineState;
    bool failed = false;
    long code = 0;
    LONG_PTR param1 = 0;
    LONG_PTR param2 = 0;
    while (SUCCEEDED(s.mediaEvent->GetEvent(&code, &param1, &param2, 0))) {
        if (!failed && IsErrorEvent(code)) {
            CopyCappedText(s.endFailureText, DescribeErrorEvent(code, param1));
            failed = true;
        }
        s.mediaEvent->FreeEventParams(code, param1, param2);
    }
    if (!failed && lastEventCode != EC_COMPLETE) {
        CopyCappedText(s.endFailureText, DescribeErrorEvent(lastEventCode, 0));
        failed = true;
    }
    return failed ? CONVERSION_FAILED : CONVERSION_COMPLETED;
}

}  // namespace

bool StartDetachedThread(LPTHREAD_START_ROUTINE procedure, LPVOID parameter) {
    // The thread ends by itself; nobody waits for it, so its handle is closed at once.
    const ScopedHandle thread(CreateThread(nullptr, 0, procedure, parameter, 0, nullptr));
    return static_cast<bool>(thread);
}

void SetMonitorThreadStarter(MonitorThreadStarter starter) {
    monitorThreadStarter = starter ? starter : StartDetachedThread;
}

bool IsErrorEvent(long eventCode) {
    // A filter that posts one of the "still playing" errors goes on streaming, and the graph
    // can still complete: the output is whole.
    if (eventCode == EC_ERROR_STILLPLAYING || eventCode == EC_STREAM_ERROR_STILLPLAYING) return false;
    return EventCarriesResult(eventCode) || eventCode == EC_USERABORT || eventCode == EC_FILE_CLOSED;
}

std::string DescribeErrorEvent(long eventCode, LONG_PTR param1) {
    char text[200];
    if (EventCarriesResult(eventCode)) {
        const HRESULT hr = static_cast<HRESULT>(param1);
        const char* what = IsWriteFailure(hr)  ? "the output could not be written"
                           : IsReadFailure(hr) ? "the source could not be read"
                                               : "a filter reported an error";
        std::snprintf(text, sizeof text, "The conversion stopped because %s (0x%08lX).", what,
                      static_cast<unsigned long>(hr));
    } else if (eventCode == EC_USERABORT) {
        std::snprintf(text, sizeof text,
                      "The conversion stopped because the filter graph was aborted (event 0x%lX).",
                      static_cast<unsigned long>(eventCode));
    } else if (eventCode == EC_FILE_CLOSED) {
        std::snprintf(text, sizeof text,
                      "The conversion stopped because the source file was closed (event 0x%lX).",
                      static_cast<unsigned long>(eventCode));
    } else {
        std::snprintf(text, sizeof text,
                      "The conversion stopped with graph event 0x%lX instead of completing.",
                      static_cast<unsigned long>(eventCode));
    }
    return text;
}

int StartConversion(const char* sourcePath, const char* outputPath, HWND notifyWindow, HANDLE cancelEvent,
                    int reportMode, const char** errorTextOut) {
    ConversionEngineState& s = engineState;
    if (s.running) return 0;
    if (!BuildConversionGraph(reportMode, errorTextOut)) return 0;
    s.notifyWindow = notifyWindow;
    s.sourcePath = sourcePath;
    s.outputPath = outputPath;
    s.sourcePathWide = WidenString(s.sourcePath);
    s.outputPathWide = WidenString(s.outputPath);
    s.endFailureText[0] = '\0';

    if (FAILED(s.graph->AddSourceFilter(s.sourcePathWide.get(), L"Tivo", &s.sourceFilter)))
        return FailStart(reportMode, errorTextOut, "Failed to create Source!");
    if (FAILED(ConnectFilters(s.graph, s.sourceFilter, s.demuxer)))
        return FailStart(reportMode, errorTextOut, "Failed to connect Source to DeMuxer!");
    if (FAILED(s.fileSink->SetFileName(s.outputPathWide.get(), nullptr)))
        return FailStart(reportMode, errorTextOut, "Failed to set output filename for FileDump Filter!");
    if (FAILED(ConnectFilters(s.graph, s.demuxer, s.muxer)))
        return FailStart(reportMode, errorTextOut, "Failed to connect DeMuxer to Muxer!");
    if (FAILED(s.mediaControl->Run()))
        return FailStart(reportMode, errorTextOut, "Could not run Filter Graph!", true);
    s.running = 1;

    if (notifyWindow) {
        if (!monitorThreadStarter(ConversionMonitorThread, cancelEvent)) {
            // Nothing else would ever stop this graph or post the end.
            s.mediaControl->Stop();
            s.running = 0;
            return FailStart(reportMode, errorTextOut, "Failed to start the conversion monitor thread!");
        }
        return 1;
    }
    if (ConversionMonitorThread(cancelEvent) == CONVERSION_FAILED) {
        ReportFormattedFailure(reportMode, errorTextOut, s.endFailureText);
        return 0;
    }
    return 1;
}

DWORD WINAPI ConversionMonitorThread(LPVOID cancelEvent) {
    ConversionEngineState& s = engineState;
    long result = 0;
    bool cancelled = false;
    for (;;) {
        long eventCode = 0;
        if (!cancelEvent) {
            if (SUCCEEDED(s.mediaEvent->WaitForCompletion(100, &eventCode))) result = eventCode;
        } else if (WaitForSingleObject(static_cast<HANDLE>(cancelEvent), 100) == WAIT_TIMEOUT) {
            if (SUCCEEDED(s.mediaEvent->WaitForCompletion(0, &eventCode))) result = eventCode;
        } else {
            // The event is looked at before the graph: a cancel in the pass that also
            // completes still counts as a cancel. A failed wait cancels too.
            cancelled = true;
            result = 1;
        }
        if (result != 0) break;
        if (s.notifyWindow) {
            const int percent =
                ProgressPercent(FileSizeOrZero(s.sourcePath.c_str()), FileSizeOrZero(s.outputPath.c_str()));
            PostMessageA(s.notifyWindow, WM_CONVERSION_PROGRESS, static_cast<WPARAM>(percent), 0);
        }
    }
    ConversionOutcome outcome = CONVERSION_CANCELLED;
    if (!cancelled) {
        // Nothing may escape a thread procedure, and the end must be posted whatever happens.
        try {
            outcome = JudgeEnd(result);
        } catch (...) {
            OutputDebugStringA(
                "Korvane engine: reading the end of the conversion threw; reported as a failure\n");
            std::snprintf(s.endFailureText, sizeof s.endFailureText,
                          "The conversion ended, but its result could not be read (out of memory).");
            outcome = CONVERSION_FAILED;
        }
    }
    FinishConversion(outcome);
    return static_cast<DWORD>(outcome);
}

void FinishConversion(ConversionOutcome outcome) {
    ConversionEngineState& s = engineState;
    s.mediaControl->Stop();
    s.running = 0;
    ReleaseConversion();
    if (s.notifyWindow) PostMessageA(s.notifyWindow, WM_CONVERSION_DONE, outcome, 0);
}

const char* GetConversionFailureText() {
    return engineState.endFailureText;
}
