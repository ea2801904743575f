// Converts one .TiVo file through Wine's filter graph manager and the filter pack, built the
// way the program's engine builds it, and prints the time from Run to completion and the
// process's peak memory as one line the bench script reads:
//   run_seconds=<s> total_seconds=<s> peak_working_set_mib=<MiB> output_bytes=<n>
//   bench_graph.exe INPUT.TiVo OUTPUT.mpg
#include <windows.h>
#include <dshow.h>
#include <psapi.h>

#include "engine/Pins.h"
#include "win32/ClassIds.h"
#include "win32/ComPtr.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace {

double Since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

HRESULT CreateFilter(const CLSID& classId, ComPtr<IBaseFilter>* filter) {
    return CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                            reinterpret_cast<void**>(filter->Out()));
}

// Builds and runs the graph; every reference is gone when it returns, before COM is left.
// Returns what failed, or null.
const char* ConvertThroughGraph(const wchar_t* input, const wchar_t* output, double* runSeconds) {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> demux, mux, dump, source;
    ComPtr<IFileSinkFilter> sink;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    const char* failed = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                reinterpret_cast<void**>(graph.Out()))) ||
        FAILED(CreateFilter(classids::kDemultiplexer, &demux)) ||
        FAILED(CreateFilter(classids::kMultiplexer, &mux)) ||
        FAILED(CreateFilter(classids::kFileDump, &dump)) ||
        FAILED(dump->QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void**>(sink.Out()))) ||
        FAILED(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(control.Out()))) ||
        FAILED(graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(events.Out()))))
        failed = "creating the filters";
    else if (FAILED(graph->AddFilter(demux.Get(), L"DeMuxer")) ||
             FAILED(graph->AddFilter(mux.Get(), L"Muxer")) ||
             FAILED(graph->AddFilter(dump.Get(), L"FileDump")) ||
             FAILED(ConnectFilters(graph.Get(), mux.Get(), dump.Get())))
        failed = "joining the multiplexer and the dump";
    else if (FAILED(graph->AddSourceFilter(input, L"Tivo", source.Out())) ||
             FAILED(ConnectFilters(graph.Get(), source.Get(), demux.Get())))
        failed = "adding and connecting the source";
    else if (FAILED(sink->SetFileName(output, nullptr)) ||
             FAILED(ConnectFilters(graph.Get(), demux.Get(), mux.Get())))
        failed = "connecting the demultiplexer";
    if (!failed) {
        auto run = std::chrono::steady_clock::now();
        if (FAILED(control->Run())) {
            failed = "running";
        } else {
            long code = 0;
            while (FAILED(events->WaitForCompletion(100, &code)) || code == 0) {
            }
            *runSeconds = Since(run);
            long e;
            LONG_PTR p1, p2;
            while (events->GetEvent(&e, &p1, &p2, 0) == S_OK) {
                if (e == EC_ERRORABORT) failed = "the graph reported EC_ERRORABORT";
                events->FreeEventParams(e, p1, p2);
            }
            control->Stop();
        }
    }
    if (graph)
        for (IBaseFilter* f : {source.Get(), demux.Get(), mux.Get(), dump.Get()})
            if (f) graph->RemoveFilter(f);
    return failed;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_graph INPUT.TiVo OUTPUT.mpg\n");
        return 2;
    }
    auto started = std::chrono::steady_clock::now();
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    double runSeconds = 0;
    const char* failed = ConvertThroughGraph(argv[1], argv[2], &runSeconds);
    CoUninitialize();
    if (failed) {
        std::fprintf(stderr, "bench_graph: failed while %s\n", failed);
        return 1;
    }
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    WIN32_FILE_ATTRIBUTE_DATA out{};
    GetFileAttributesExW(argv[2], GetFileExInfoStandard, &out);
    std::printf("run_seconds=%.3f total_seconds=%.3f peak_working_set_mib=%.1f output_bytes=%llu\n",
                runSeconds, Since(started), memory.PeakWorkingSetSize / 1048576.0,
                (static_cast<unsigned long long>(out.nFileSizeHigh) << 32) | out.nFileSizeLow);
    return 0;
}
