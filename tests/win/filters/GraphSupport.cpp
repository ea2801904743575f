#include "GraphSupport.h"

#include <evcode.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "media/TivoWriter.h"
#include "win32/Scoped.h"

namespace korvane::test {

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());  // every path and text of these tests is ASCII
}

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::string MaterialDir() {
    return EnvOr("KORVANE_MATERIAL", ".");
}

std::string KeptOutputs(const char* folder) {
    const std::string work = EnvOr("KORVANE_WORK", "."), path = work + "\\" + folder;
    CreateDirectoryA(work.c_str(), nullptr);
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

std::vector<std::string> MaterialStreams(const char* pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    ScopedFind search(FindFirstFileA((MaterialDir() + "\\" + pattern).c_str(), &found));
    for (bool more = bool(search); more; more = FindNextFileA(search.Get(), &found))
        if (!strstr(found.cFileName, ".part.")) names.push_back(found.cFileName);  // not one being made
    return names;
}

std::string PackPath() {
    return EnvOr("KORVANE_FILTERS_DLL", "KorvaneFilters.dll");
}

FARPROC Export(const std::string& dll, const char* name) {
    // Loaded for good: COM loads the same module by the same path, and must find it unchanged.
    return GetProcAddress(LoadLibraryA(dll.c_str()), name);
}

HRESULT SetSourcePacing(DWORD milliseconds) {
    const auto proc = reinterpret_cast<KorvaneFiltersSetSourcePacingProc>(
        reinterpret_cast<void*>(Export(PackPath(), "KorvaneFiltersSetSourcePacing")));
    return proc ? proc(milliseconds) : E_NOTIMPL;
}

LONG LiveObjectCount(const std::string& dll) {
    const auto proc = reinterpret_cast<KorvaneFiltersLiveObjectsProc>(
        reinterpret_cast<void*>(Export(dll, "KorvaneFiltersLiveObjects")));
    KorvaneLiveObjects c{};
    if (!proc || FAILED(proc(&c))) return -1;
    return c.filters + c.pins + c.enumerators + c.allocators + c.samples + c.classFactories;
}

LONG RefCount(IUnknown* object) {
    object->AddRef();
    return static_cast<LONG>(object->Release());
}

ComPtr<IPin> Pin(IBaseFilter* filter, const wchar_t* name) {
    ComPtr<IPin> pin;
    EXPECT_EQ(S_OK, filter->FindPin(name, pin.Out()));
    return pin;
}

std::vector<std::wstring> PinNames(IBaseFilter* filter, PIN_DIRECTION direction) {
    std::vector<std::wstring> names;
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.Out()))) return names;
    for (IPin* pin; pins->Next(1, &pin, nullptr) == S_OK; pin->Release()) {
        PIN_INFO info;
        if (FAILED(pin->QueryPinInfo(&info))) continue;
        if (info.dir == direction) names.push_back(info.achName);
        if (info.pFilter) info.pFilter->Release();
    }
    return names;
}

void ExpectCompleted(const Conversion& c) {
    EXPECT_EQ(Step::None, c.failedStep) << std::hex << c.hr;
    EXPECT_EQ(EC_COMPLETE, c.completionCode);
    EXPECT_FALSE(c.HasEvent(EC_ERRORABORT));
}

namespace {

// After RemoveFilter the enumerator is out of sync and has to be reset (Wine does as Windows).
void RemoveAllFilters(IGraphBuilder* graph) {
    ComPtr<IEnumFilters> filters;
    if (FAILED(graph->EnumFilters(filters.Out()))) return;
    for (IBaseFilter* filter;; filters->Reset()) {
        const HRESULT hr = filters->Next(1, &filter, nullptr);
        if (hr == VFW_E_ENUM_OUT_OF_SYNC) continue;
        if (hr != S_OK) break;
        graph->RemoveFilter(filter);
        filter->Release();
    }
}

}  // namespace

Conversion Convert(const std::string& source, const std::string& output, int stopAfterMs) {
    Conversion result;
    ComPtr<IBaseFilter> demux = Create<IBaseFilter>(classids::kDemultiplexer),
                        mux = Create<IBaseFilter>(classids::kMultiplexer),
                        dump = Create<IBaseFilter>(classids::kFileDump), src;
    ComPtr<IGraphBuilder> graph = Create<IGraphBuilder>(CLSID_FilterGraph);
    ComPtr<IFileSinkFilter> sink;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    auto fail = [&](Step step, HRESULT hr) {
        result.failedStep = step;
        result.hr = hr;
        return FAILED(hr);
    };
    HRESULT hr = demux && mux && dump && graph ? Query(dump.Get(), sink) : E_FAIL;
    if (SUCCEEDED(hr)) hr = graph->AddFilter(demux.Get(), L"DeMuxer");
    if (SUCCEEDED(hr)) hr = graph->AddFilter(mux.Get(), L"Muxer");
    if (SUCCEEDED(hr)) hr = graph->AddFilter(dump.Get(), L"FileDump");
    if (SUCCEEDED(hr)) hr = ConnectFilters(graph.Get(), mux.Get(), dump.Get());
    if (SUCCEEDED(hr)) hr = Query(graph.Get(), control);
    if (SUCCEEDED(hr))  // mingw gives IMediaEvent no __uuidof
        hr = graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(events.Out()));
    if (!fail(Step::Build, hr) &&
        !fail(Step::AddSource, graph->AddSourceFilter(Widen(source).c_str(), L"Tivo", src.Out())) &&
        !fail(Step::SourceToDemux, ConnectFilters(graph.Get(), src.Get(), demux.Get())) &&
        !fail(Step::SetFileName, sink->SetFileName(Widen(output).c_str(), nullptr)) &&
        !fail(Step::DemuxToMux, ConnectFilters(graph.Get(), demux.Get(), mux.Get())) &&
        !fail(Step::Run, control->Run())) {
        result.failedStep = Step::None;
        // The engine's monitor: a thread that never initialised COM waits, stops and tears down.
        std::thread monitor([&] {
            long code = 0;
            if (stopAfterMs >= 0)
                Sleep(static_cast<DWORD>(stopAfterMs));
            else  // a hang guard only: the test files convert in well under a second
                for (int waited = 0;
                     waited < 60000 && !(events->WaitForCompletion(100, &code) == S_OK && code);)
                    waited += 100;
            result.completionCode = code;
            LONG_PTR p1, p2;
            while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
                result.events.push_back(code);
                events->FreeEventParams(code, p1, p2);
            }
            control->Stop();
            RemoveAllFilters(graph.Get());
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
    } else if (graph) {
        RemoveAllFilters(graph.Get());
    }
    return result;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary);
    EXPECT_TRUE(file.write(reinterpret_cast<const char*>(bytes.data()), bytes.size())) << path;
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string WrapAsTivo(const std::string& materialName, const std::string& tivoPath, const char* mak) {
    media::TivoWrapOptions options;
    if (mak) {
        options.mediaAccessKey = mak;
        options.encryption.packetsPerBlock = 100;  // many key changes even in a short file
    }
    std::string error;
    const bool named = materialName.find('\\') == std::string::npos;
    EXPECT_TRUE(media::WrapMpegInTivo(named ? MaterialDir() + "\\" + materialName : materialName, tivoPath,
                                      &error, options))
        << error;
    return tivoPath;
}

}  // namespace korvane::test
