// Times the engine with the filter pack, as the user interface drives it (a window that
// receives the engine's messages), and prints one line per figure:
//   convert_ms=<ms>                  StartConversion without a window, to its end
//   pacing_ms=<ms> progress_messages=<n> gap_ms_min=<ms> gap_ms_median=<ms> gap_ms_max=<ms>
//                                    a conversion paced by the pack's test hook so that it
//                                    lasts about two seconds (the source sends 256 KiB samples)
//   cancel_to_done_ms=<ms>           the cancel event set after three progress messages, to
//                                    WM_CONVERSION_DONE
//   bench_engine.exe INPUT.TiVo OUTPUT.mpg FILTERS.dll
#include "testing/LiveObjects.h"
#include "engine/Conversion.h"
#include "win32/Scoped.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Arrival {
    UINT message;
    double milliseconds;
};

std::vector<Arrival> arrivals;
Clock::time_point benchStart;

LRESULT CALLBACK RecordMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CONVERSION_PROGRESS || message == WM_CONVERSION_DONE) {
        arrivals.push_back({message, MillisecondsSince(benchStart)});
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool Done() {
    for (const Arrival& a : arrivals)
        if (a.message == WM_CONVERSION_DONE) return true;
    return false;
}

size_t ProgressCount() {
    return static_cast<size_t>(std::count_if(arrivals.begin(), arrivals.end(), [](const Arrival& a) {
        return a.message == WM_CONVERSION_PROGRESS;
    }));
}

// Dispatches messages until the condition holds; false after a minute.
template <class Condition>
bool PumpUntil(Condition condition) {
    const Clock::time_point start = Clock::now();
    while (!condition()) {
        if (MillisecondsSince(start) > 60000) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_engine INPUT.TiVo OUTPUT.mpg FILTERS.dll\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HMODULE pack = LoadLibraryA(argv[3]);
    const auto pace = pack ? reinterpret_cast<KorvaneFiltersSetSourcePacingProc>(reinterpret_cast<void*>(
                                 GetProcAddress(pack, "KorvaneFiltersSetSourcePacing")))
                           : nullptr;
    if (!pace) {
        std::fprintf(stderr, "bench_engine: no pacing hook in %s\n", argv[3]);
        return 1;
    }
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = RecordMessage;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KorvaneEngineBench";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("KorvaneEngineBench", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    const ScopedHandle cancel(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const char* text = nullptr;

    Clock::time_point start = Clock::now();
    if (!StartConversion(argv[1], argv[2], nullptr, nullptr, 1, &text)) {
        std::fprintf(stderr, "bench_engine: %s\n", text ? text : "the conversion did not start");
        return 1;
    }
    std::printf("convert_ms=%.1f\n", MillisecondsSince(start));

    WIN32_FILE_ATTRIBUTE_DATA input;
    if (!GetFileAttributesExA(argv[1], GetFileExInfoStandard, &input)) return 1;
    const unsigned long long samples =
        (((static_cast<unsigned long long>(input.nFileSizeHigh) << 32) | input.nFileSizeLow) >> 18) + 1;
    const DWORD pacing = static_cast<DWORD>(
        std::min<unsigned long long>(std::max<unsigned long long>(2000 / samples, 1), 1000));
    pace(pacing);
    arrivals.clear();
    benchStart = Clock::now();
    if (!StartConversion(argv[1], argv[2], window, cancel.Get(), 1, &text) || !PumpUntil(Done)) {
        std::fprintf(stderr, "bench_engine: the paced conversion did not end\n");
        return 1;
    }
    std::vector<double> gaps;
    double previous = -1;
    for (const Arrival& a : arrivals) {
        if (a.message != WM_CONVERSION_PROGRESS) continue;
        if (previous >= 0) gaps.push_back(a.milliseconds - previous);
        previous = a.milliseconds;
    }
    std::sort(gaps.begin(), gaps.end());
    if (gaps.empty()) gaps.push_back(0);
    std::printf("pacing_ms=%lu progress_messages=%zu gap_ms_min=%.1f gap_ms_median=%.1f gap_ms_max=%.1f\n",
                static_cast<unsigned long>(pacing), ProgressCount(), gaps.front(), gaps[gaps.size() / 2],
                gaps.back());

    arrivals.clear();
    benchStart = Clock::now();
    if (!StartConversion(argv[1], argv[2], window, cancel.Get(), 1, &text) ||
        !PumpUntil([] { return ProgressCount() >= 3 || Done(); })) {
        std::fprintf(stderr, "bench_engine: the conversion to cancel did not run\n");
        return 1;
    }
    const double cancelledAt = MillisecondsSince(benchStart);
    SetEvent(cancel.Get());
    PumpUntil(Done);
    std::printf("cancel_to_done_ms=%.1f\n", arrivals.back().milliseconds - cancelledAt);
    pace(0);
    DestroyWindow(window);
    CoUninitialize();
    return 0;
}
