// Converts one .TiVo file through Wine's filter graph manager and the filter pack, built the
// way the program's engine builds it, and prints the time from Run to completion and the
// process's peak memory as one line the bench script reads:
//   run_seconds=<s> total_seconds=<s> peak_working_set_mib=<MiB> output_bytes=<n>
//   bench_graph.exe INPUT.TiVo OUTPUT.mpg
#include <windows.h>
#include <dshow.h>
#include <psapi.h>

#include "engine/Pins.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace {

const CLSID kDemux = {0x731B8592, 0x4001, 0x46D4, {0xB1, 0xA5, 0x33, 0xEC, 0x79, 0x2B, 0x45, 0x01}};
const CLSID kMux = {0x1EE4C9C2, 0xD755, 0x11D5, {0x92, 0x02, 0x00, 0x00, 0x21, 0x02, 0x3C, 0x26}};
const CLSID kDump = {0x36A5F770, 0xFE4C, 0x11CE, {0xA8, 0xED, 0x00, 0xAA, 0x00, 0x2F, 0xEA, 0xB5}};

double Since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_graph INPUT.TiVo OUTPUT.mpg\n");
        return 2;
    }
    auto started = std::chrono::steady_clock::now();
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    IGraphBuilder* graph = nullptr;
    IBaseFilter *demux = nullptr, *mux = nullptr, *dump = nullptr, *source = nullptr;
    IFileSinkFilter* sink = nullptr;
    IMediaControl* control = nullptr;
    IMediaEvent* events = nullptr;
    const char* failed = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                reinterpret_cast<void**>(&graph))) ||
        FAILED(CoCreateInstance(kDemux, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(&demux))) ||
        FAILED(CoCreateInstance(kMux, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(&mux))) ||
        FAILED(CoCreateInstance(kDump, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(&dump))) ||
        FAILED(dump->QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void**>(&sink))) ||
        FAILED(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control))) ||
        FAILED(graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events))))
        failed = "creating the filters";
    else if (FAILED(graph->AddFilter(demux, L"DeMuxer")) || FAILED(graph->AddFilter(mux, L"Muxer")) ||
             FAILED(graph->AddFilter(dump, L"FileDump")) || FAILED(ConnectFilters(graph, mux, dump)))
        failed = "joining the multiplexer and the dump";
    else if (FAILED(graph->AddSourceFilter(argv[1], L"Tivo", &source)) || FAILED(ConnectFilters(graph, source, demux)))
        failed = "adding and connecting the source";
    else if (FAILED(sink->SetFileName(argv[2], nullptr)) || FAILED(ConnectFilters(graph, demux, mux)))
        failed = "connecting the demultiplexer";
    double runSeconds = 0;
    if (!failed) {
        auto run = std::chrono::steady_clock::now();
        if (FAILED(control->Run())) {
            failed = "running";
        } else {
            long code = 0;
            while (FAILED(events->WaitForCompletion(100, &code)) || code == 0) {
            }
            runSeconds = Since(run);
            long e;
            LONG_PTR p1, p2;
            while (events->GetEvent(&e, &p1, &p2, 0) == S_OK) {
                if (e == EC_ERRORABORT)
                    failed = "the graph reported EC_ERRORABORT";
                events->FreeEventParams(e, p1, p2);
            }
            control->Stop();
        }
    }
    for (IBaseFilter* f : {source, demux, mux, dump})
        if (f && graph)
            graph->RemoveFilter(f);
    for (IUnknown* u : std::initializer_list<IUnknown*>{events, control, sink, source, demux, mux, dump, graph})
        if (u)
            u->Release();
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
    std::printf("run_seconds=%.3f total_seconds=%.3f peak_working_set_mib=%.1f output_bytes=%llu\n", runSeconds,
                Since(started), memory.PeakWorkingSetSize / 1048576.0,
                (static_cast<unsigned long long>(out.nFileSizeHigh) << 32) | out.nFileSizeLow);
    return 0;
}
