#include "engine/Graph.h"

#include "engine/EngineState.h"
#include "engine/Pins.h"
#include "engine/Settings.h"

#include "win32/ComPtr.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <cstring>

ConversionEngineState engineState = {};

void CopyCappedText(char (&buffer)[1025], const std::string& text) {
    const size_t length = text.size() < 1024 ? text.size() : 1024;
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

void ReportFailure(int reportMode, const char** errorTextOut, const char* text) {
    if (reportMode) {
        if (errorTextOut) *errorTextOut = text;
    } else {
        MessageBoxA(nullptr, text, "Error Occurred!", MB_ICONEXCLAMATION);
    }
}

void ReportFormattedFailure(int reportMode, const char** errorTextOut, const std::string& text) {
    CopyCappedText(engineState.errorText, text);
    ReportFailure(reportMode, errorTextOut, engineState.errorText);
}

namespace {

HRESULT CreateFilter(const CLSID& classId, IBaseFilter** filter) {
    return CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                            reinterpret_cast<void**>(filter));
}

HRESULT CreateFilterFromText(const wchar_t* classText, IBaseFilter** filter) {
    CLSID classId;
    // IIDFromString takes a non-const pointer in older headers; it does not write through it.
    HRESULT hr = IIDFromString(const_cast<wchar_t*>(classText), &classId);
    if (FAILED(hr)) return hr;
    return CreateFilter(classId, filter);
}

// Reads one setting and creates the filter it names; on failure reports the creation text
// with the identifier in braces.
bool CreateConfiguredFilter(const char* settingName, const char* defaultClass, const char* failureFormat,
                            IBaseFilter** filter, int reportMode, const char** errorTextOut) {
    const std::string classText = ReadSetting(settingName, defaultClass);
    HRESULT hr = CreateFilterFromText(WidenString(classText).get(), filter);
    if (FAILED(hr)) {
        ReportFormattedFailure(reportMode, errorTextOut, FormatCreationFailure(failureFormat, classText));
        return false;
    }
    return true;
}

int FailBuild(int reportMode, const char** errorTextOut, const char* text) {
    ReportFailure(reportMode, errorTextOut, text);
    ReleaseConversionGraph();
    return 0;
}

}  // namespace

int BuildConversionGraph(int reportMode, const char** errorTextOut) {
    ConversionEngineState& s = engineState;
    if (!CreateConfiguredFilter("mpegDeMuxer", kDefaultDemuxerClass, "Failed to create MPEG DeMuxer %s%s%s !",
                                &s.demuxer, reportMode, errorTextOut)) {
        ReleaseConversionGraph();
        return 0;
    }
    if (!CreateConfiguredFilter("mpegMuxer", kDefaultMuxerClass, "Failed to create MPEG Muxer %s%s%s !",
                                &s.muxer, reportMode, errorTextOut)) {
        ReleaseConversionGraph();
        return 0;
    }
    if (FAILED(CreateFilterFromText(kFileDumpClass.data(), &s.dumpFilter)))
        return FailBuild(reportMode, errorTextOut, "Failed to create FileDump Filter!");
    if (FAILED(s.dumpFilter->QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void**>(&s.fileSink))))
        return FailBuild(reportMode, errorTextOut,
                         "Failed to get FileSinkFilter interface from FileDump Filter!");
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                reinterpret_cast<void**>(&s.graph))))
        return FailBuild(reportMode, errorTextOut, "Failed to create Filter Graph!");
    if (FAILED(s.graph->AddFilter(s.demuxer, L"DeMuxer")))
        return FailBuild(reportMode, errorTextOut, "Failed to add DeMuxer to Filter Graph!");
    if (FAILED(s.graph->AddFilter(s.muxer, L"Muxer")))
        return FailBuild(reportMode, errorTextOut, "Failed to add Muxer to Filter Graph!");
    if (FAILED(s.graph->AddFilter(s.dumpFilter, L"Dump")))
        return FailBuild(reportMode, errorTextOut, "Failed to add FileDump to Filter Graph!");
    if (FAILED(ConnectFilters(s.graph, s.muxer, s.dumpFilter)))
        return FailBuild(reportMode, errorTextOut, "Failed to connect Muxer to FileDump!");
    if (FAILED(s.graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&s.mediaControl))) ||
        FAILED(s.graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&s.mediaEvent))))
        return FailBuild(reportMode, errorTextOut, "Failed to get MediaControl interface from Filter Graph!");
    return 1;
}

namespace {

void RemoveEveryFilter(IGraphBuilder* graph) {
    ComPtr<IEnumFilters> filters;
    if (FAILED(graph->EnumFilters(filters.Out())) || !filters) return;
    // Removing a filter invalidates the enumerator; without the rewind only the first filter
    // would leave the graph. A rewind is taken only after a removal that worked, so a filter
    // that cannot be removed ends the loop instead of being met again for ever.
    bool removedSinceRewind = false;
    for (;;) {
        ComPtr<IBaseFilter> filter;
        HRESULT hr = filters->Next(1, filter.Out(), nullptr);
        if (hr == VFW_E_ENUM_OUT_OF_SYNC) {
            if (!removedSinceRewind || FAILED(filters->Reset())) break;
            removedSinceRewind = false;
            continue;
        }
        if (hr != S_OK || !filter) break;
        if (SUCCEEDED(graph->RemoveFilter(filter.Get()))) removedSinceRewind = true;
    }
}

}  // namespace

void ReleaseConversionGraph() {
    ConversionEngineState& s = engineState;
    ReleaseAndClear(s.mediaEvent);
    ReleaseAndClear(s.mediaControl);
    if (s.graph) {
        RemoveEveryFilter(s.graph);
        ReleaseAndClear(s.graph);
    }
    ReleaseAndClear(s.fileSink);
    ReleaseAndClear(s.dumpFilter);
    ReleaseAndClear(s.muxer);
    ReleaseAndClear(s.demuxer);
}
