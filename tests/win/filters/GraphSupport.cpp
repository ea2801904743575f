#include "GraphSupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "media/TivoWriter.h"

namespace korvane::test {

const CLSID kDemuxClsid = {0x731B8592, 0x4001, 0x46D4, {0xB1, 0xA5, 0x33, 0xEC, 0x79, 0x2B, 0x45, 0x01}};
const CLSID kMuxClsid = {0x1EE4C9C2, 0xD755, 0x11D5, {0x92, 0x02, 0x00, 0x00, 0x21, 0x02, 0x3C, 0x26}};
const CLSID kDumpClsid = {0x36A5F770, 0xFE4C, 0x11CE, {0xA8, 0xED, 0x00, 0xAA, 0x00, 0x2F, 0xEA, 0xB5}};
const CLSID kSourceClsid = {0xF719A804, 0xE0A5, 0x48B7, {0xB2, 0x19, 0x20, 0x4C, 0x98, 0x02, 0x8C, 0x40}};

std::wstring Widen(const std::string& text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], n);
    return out;
}

std::string Narrow(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::string MaterialDir() {
    return EnvOr("KORVANE_MATERIAL", ".");
}

std::string WorkDir() {
    std::string dir = EnvOr("KORVANE_FILTERS_WORK", ".");
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

std::vector<std::string> MaterialStreams(const char* pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((MaterialDir() + "\\" + pattern).c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = found.cFileName;
        if (name.find(".part.") == std::string::npos) names.push_back(name);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return names;
}

namespace {
// The pack as COM loads it (the registered path); kept loaded for the whole test run.
FARPROC PackExport(const char* name) {
    static HMODULE dll = LoadLibraryA(EnvOr("KORVANE_FILTERS_DLL", "KorvaneFilters.dll").c_str());
    return dll ? GetProcAddress(dll, name) : nullptr;
}
}  // namespace

HRESULT SetSourcePacing(DWORD milliseconds) {
    static auto proc = reinterpret_cast<KorvaneFiltersSetSourcePacingProc>(
        reinterpret_cast<void*>(PackExport("KorvaneFiltersSetSourcePacing")));
    return proc ? proc(milliseconds) : E_NOTIMPL;
}

KorvaneLiveObjects LiveObjects() {
    static auto proc = reinterpret_cast<KorvaneFiltersLiveObjectsProc>(
        reinterpret_cast<void*>(PackExport("KorvaneFiltersLiveObjects")));
    KorvaneLiveObjects counts{-1, -1, -1, -1, -1, -1};
    if (proc) proc(&counts);
    return counts;
}

LONG TotalLive(const KorvaneLiveObjects& c) {
    return c.filters + c.pins + c.enumerators + c.allocators + c.samples + c.classFactories;
}

LONG RefCount(IUnknown* object) {
    object->AddRef();
    return static_cast<LONG>(object->Release());
}

std::vector<std::wstring> PinNames(IBaseFilter* filter, PIN_DIRECTION direction) {
    std::vector<std::wstring> names;
    IEnumPins* pins = nullptr;
    if (FAILED(filter->EnumPins(&pins))) return names;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_INFO info;
        if (SUCCEEDED(pin->QueryPinInfo(&info))) {
            if (info.dir == direction) names.push_back(info.achName);
            if (info.pFilter) info.pFilter->Release();
        }
        pin->Release();
    }
    pins->Release();
    return names;
}

bool Conversion::HasEvent(long code) const {
    for (long e : events)
        if (e == code) return true;
    return false;
}

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Removes every filter the way a careful teardown loop must under Wine: after RemoveFilter
// the enumerator is out of sync and has to be reset.
void RemoveAllFilters(IGraphBuilder* graph) {
    IEnumFilters* filters = nullptr;
    if (FAILED(graph->EnumFilters(&filters))) return;
    for (;;) {
        IBaseFilter* filter = nullptr;
        HRESULT hr = filters->Next(1, &filter, nullptr);
        if (hr == VFW_E_ENUM_OUT_OF_SYNC) {
            filters->Reset();
            continue;
        }
        if (hr != S_OK) break;
        graph->RemoveFilter(filter);
        filter->Release();
        filters->Reset();
    }
    filters->Release();
}

LONG CountFilters(IGraphBuilder* graph) {
    IEnumFilters* filters = nullptr;
    if (FAILED(graph->EnumFilters(&filters))) return -1;
    LONG n = 0;
    IBaseFilter* filter = nullptr;
    while (filters->Next(1, &filter, nullptr) == S_OK) {
        filter->Release();
        ++n;
    }
    filters->Release();
    return n;
}

}  // namespace

Conversion Convert(const std::wstring& source, const std::wstring& output, const RunOptions& options) {
    Conversion result;
    Ptr<IBaseFilter> demux, mux, dump, src;
    Ptr<IGraphBuilder> graph;
    Ptr<IFileSinkFilter> sink;
    Ptr<IMediaControl> control;
    Ptr<IMediaEvent> events;
    auto fail = [&](Step step, HRESULT hr) {
        result.failedStep = step;
        result.hr = hr;
        return FAILED(hr);
    };
    HRESULT hr = CoCreateInstance(kDemuxClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  reinterpret_cast<void**>(&demux));
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(kMuxClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&mux));
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(kDumpClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&dump));
    if (SUCCEEDED(hr)) hr = dump.As(&sink, IID_IFileSinkFilter);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                              reinterpret_cast<void**>(&graph));
    if (SUCCEEDED(hr)) hr = graph->AddFilter(demux, L"DeMuxer");
    if (SUCCEEDED(hr)) hr = graph->AddFilter(mux, L"Muxer");
    if (SUCCEEDED(hr)) hr = graph->AddFilter(dump, L"FileDump");
    if (SUCCEEDED(hr)) hr = ConnectFilters(graph, mux, dump);
    if (SUCCEEDED(hr)) hr = graph.As(&control, IID_IMediaControl);
    if (SUCCEEDED(hr)) hr = graph.As(&events, IID_IMediaEvent);
    if (!fail(Step::Build, hr) &&
        !fail(Step::AddSource, graph->AddSourceFilter(source.c_str(), L"Tivo", &src)) &&
        !fail(Step::SourceToDemux, ConnectFilters(graph, src, demux)) &&
        !fail(Step::SetFileName, sink->SetFileName(output.c_str(), nullptr)) &&
        !fail(Step::DemuxToMux, ConnectFilters(graph, demux, mux))) {
        auto started = std::chrono::steady_clock::now();
        if (!fail(Step::Run, control->Run())) {
            result.failedStep = Step::None;
            // The engine's monitor: a thread that never initialised COM waits, stops and
            // tears down.
            std::thread monitor([&] {
                for (;;) {
                    if (options.stopAfterMs >= 0) {
                        if (Seconds(started) * 1000 >= options.stopAfterMs) break;
                        Sleep(1);
                        continue;
                    }
                    long code = 0;
                    if (SUCCEEDED(events->WaitForCompletion(100, &code)) && code != 0) {
                        result.completionCode = code;
                        result.runSeconds = Seconds(started);
                        break;
                    }
                    if (Seconds(started) * 1000 > options.timeoutMs) {
                        result.timedOut = true;
                        break;
                    }
                }
                long code;
                LONG_PTR p1, p2;
                while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
                    result.events.push_back(code);
                    result.eventParams.push_back(p1);
                    events->FreeEventParams(code, p1, p2);
                }
                auto stopping = std::chrono::steady_clock::now();
                control->Stop();
                result.stopSeconds = Seconds(stopping);
                RemoveAllFilters(graph);
                src.Reset();
                demux.Reset();
                mux.Reset();
                sink.Reset();
                dump.Reset();
                control.Reset();
                events.Reset();
                graph.Reset();
            });
            monitor.join();
            return result;
        }
    }
    if (graph) {
        result.filtersInGraphAfterFailure = CountFilters(graph);
        RemoveAllFilters(graph);
    }
    return result;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0)
            bytes.insert(bytes.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return bytes;
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

uint64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string WrapAsTivo(const std::string& mpegPath, const std::string& tivoPath) {
    std::string error;
    if (!media::WrapMpegInTivo(mpegPath, tivoPath, &error)) return "";
    return tivoPath;
}

void WriteTivo(const std::string& tivoPath, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> bytes = media::BuildTivoHead(false);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    WriteFileBytes(tivoPath, bytes);
}

}  // namespace korvane::test
