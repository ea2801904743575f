// Reads one .TiVo through the source filter's IAsyncReader, as a player's parser would, and
// prints what it took, one "name=value" per line for the bench script:
//   load_ms            IFileSourceFilter::Load (the key from the store)
//   first_end_ms       a 64 KiB read at the end right after loading (parsers read it first)
//   sequential_s       the whole payload from start to end, 64 KiB to 1 MiB per SyncRead
//   random_max_ms / random_p99_ms / random_median_ms
//                      64 KiB reads at N random offsets
//   backward_ms        a read at 10% right after one at 90%
//   peak_working_set_mib
//   bench_reader.exe INPUT.TiVo [--random N] [--no-sequential]
#include <windows.h>
#include <dshow.h>
#include <psapi.h>

#include "win32/ClassIds.h"
#include "win32/ComPtr.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

ComPtr<IPin> OutputPin(IBaseFilter* filter) {
    ComPtr<IPin> pin;
    filter->FindPin(L"Output", pin.Out());
    return pin;
}

// Every reference is gone when it returns, before COM is left. Returns what failed, or null.
const char* Measure(const wchar_t* input, int randomReads, bool sequential) {
    ComPtr<IBaseFilter> source;
    ComPtr<IFileSourceFilter> file;
    if (FAILED(CoCreateInstance(classids::kTivoSource, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(source.Out()))) ||
        FAILED(source->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(file.Out()))))
        return "creating the source";
    auto t = Clock::now();
    if (FAILED(file->Load(input, nullptr))) return "loading";
    std::printf("load_ms=%.2f\n", MillisecondsSince(t));
    ComPtr<IPin> pin = OutputPin(source.Get());
    ComPtr<IAsyncReader> reader;
    if (!pin || FAILED(pin->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(reader.Out()))))
        return "no IAsyncReader (is a key stored?)";
    LONGLONG total = 0, available = 0;
    if (FAILED(reader->Length(&total, &available))) return "Length";
    std::printf("payload_bytes=%lld\n", total);

    constexpr LONG kRandomSize = 64 << 10;
    std::vector<BYTE> buffer(1 << 20);
    t = Clock::now();
    if (FAILED(reader->SyncRead(total - kRandomSize, kRandomSize, buffer.data()))) return "reading the end";
    std::printf("first_end_ms=%.2f\n", MillisecondsSince(t));

    if (sequential) {
        const LONG sizes[] = {64 << 10, 128 << 10, 256 << 10, 512 << 10, 1 << 20};
        t = Clock::now();
        LONGLONG at = 0;
        for (int i = 0; at < total; ++i) {
            const LONG size = static_cast<LONG>(std::min<LONGLONG>(sizes[i % 5], total - at));
            if (FAILED(reader->SyncRead(at, size, buffer.data()))) return "reading on";
            at += size;
        }
        std::printf("sequential_s=%.3f\n", MillisecondsSince(t) / 1000);
    }

    if (randomReads > 0) {
        std::mt19937_64 random(12345);
        std::vector<double> times;
        for (int i = 0; i < randomReads; ++i) {
            const LONGLONG at = std::uniform_int_distribution<LONGLONG>(0, total - kRandomSize)(random);
            t = Clock::now();
            if (FAILED(reader->SyncRead(at, kRandomSize, buffer.data()))) return "reading at random";
            times.push_back(MillisecondsSince(t));
        }
        std::sort(times.begin(), times.end());
        std::printf("random_reads=%d\nrandom_max_ms=%.2f\nrandom_p99_ms=%.2f\nrandom_median_ms=%.2f\n",
                    randomReads, times.back(), times[times.size() * 99 / 100], times[times.size() / 2]);
        if (FAILED(reader->SyncRead(total / 10 * 9, kRandomSize, buffer.data()))) return "reading at 90%";
        t = Clock::now();
        if (FAILED(reader->SyncRead(total / 10, kRandomSize, buffer.data()))) return "reading at 10%";
        std::printf("backward_ms=%.2f\n", MillisecondsSince(t));
    }
    return nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_reader INPUT.TiVo [--random N] [--no-sequential]\n");
        return 2;
    }
    int randomReads = 0;
    bool sequential = true;
    for (int i = 2; i < argc; ++i) {
        if (std::wstring(argv[i]) == L"--random" && i + 1 < argc)
            randomReads = _wtoi(argv[++i]);
        else if (std::wstring(argv[i]) == L"--no-sequential")
            sequential = false;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    const char* failed = Measure(argv[1], randomReads, sequential);
    PROCESS_MEMORY_COUNTERS memory{};
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    std::printf("peak_working_set_mib=%.1f\n", memory.PeakWorkingSetSize / 1048576.0);
    CoUninitialize();
    if (failed) {
        std::fprintf(stderr, "bench_reader: %s failed\n", failed);
        return 1;
    }
    return 0;
}
