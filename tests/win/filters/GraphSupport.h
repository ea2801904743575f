// What the filter-pack tests share: COM setup, the pack's live-object hook, the connection
// rules the program's engine uses, and a conversion run the way the engine runs one.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <string>
#include <vector>

#include "LiveObjects.h"
#include "engine/Pins.h"

namespace korvane::test {

// Class ids the program names, and our source's.
extern const CLSID kDemuxClsid;
extern const CLSID kMuxClsid;
extern const CLSID kDumpClsid;
extern const CLSID kSourceClsid;

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);
std::string EnvOr(const char* name, const std::string& fallback);
std::string MaterialDir();  // KORVANE_MATERIAL
std::string WorkDir();      // KORVANE_FILTERS_WORK: files the tests make and keep
std::vector<std::string> MaterialStreams(
    const char* pattern = "*.mpg");  // every *.mpg in the material folder

// The pack's object counts, through its exported hook.
KorvaneLiveObjects LiveObjects();
// The pack's pacing hook for tests (milliseconds after each source sample).
HRESULT SetSourcePacing(DWORD milliseconds);
LONG TotalLive(const KorvaneLiveObjects& c);

// Owning COM pointer for the tests.
template <class T>
class Ptr {
public:
    Ptr() = default;
    ~Ptr() { Reset(); }
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
    T** operator&() {
        Reset();
        return &m_p;
    }
    T* operator->() const { return m_p; }
    operator T*() const { return m_p; }
    T* Get() const { return m_p; }
    void Reset() {
        if (m_p) m_p->Release();
        m_p = nullptr;
    }
    template <class U>
    HRESULT As(U** out, REFIID iid) const {
        return m_p->QueryInterface(iid, reinterpret_cast<void**>(out));
    }

private:
    T* m_p = nullptr;
};

LONG RefCount(IUnknown* object);
inline void FreeMediaType(AM_MEDIA_TYPE* mt) {
    DeleteEnumeratedMediaType(mt);
}

// The engine's own connection toolkit: the filters are joined exactly as a conversion joins them.
using ::ConnectFilters;
using ::ConnectPinToFilter;
using ::FindFreePin;

std::vector<std::wstring> PinNames(IBaseFilter* filter, PIN_DIRECTION direction);

// Where a conversion stopped, numbered like the engine's steps.
enum class Step { None, Build, AddSource, SourceToDemux, SetFileName, DemuxToMux, Run, Done };

// The longest a Stop may take before a test calls it stuck. A Stop that fails to wake the
// streaming thread hangs for good, or for the rest of a paced source's 10 s wait; a loaded
// machine takes well under a second.
inline constexpr double kStopBoundSeconds = 5.0;

struct RunOptions {
    DWORD timeoutMs = 60000;  // how long the monitor waits for completion
    int stopAfterMs = -1;     // >= 0: stop the graph this long after Run instead
};

struct Conversion {
    Step failedStep = Step::None;  // Step::None when the graph ran
    HRESULT hr = S_OK;             // the failing call's result
    long completionCode = 0;       // what WaitForCompletion returned
    bool timedOut = false;
    std::vector<long> events;           // codes drained from the queue after completion
    std::vector<LONG_PTR> eventParams;  // their first parameters
    double runSeconds = 0;              // Run to completion
    double stopSeconds = 0;             // the Stop call alone
    LONG filtersInGraphAfterFailure = -1;
    bool HasEvent(long code) const;
};

// Builds the graph exactly in the engine's order, runs it, waits from a thread that never
// initialised COM, stops, removes every filter and releases everything.
Conversion Convert(const std::wstring& source, const std::wstring& output, const RunOptions& options = {});

// Test files.
std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
uint64_t FileSize(const std::string& path);
// Wraps an MPEG file as .TiVo with media's tool code; returns the .TiVo path.
std::string WrapAsTivo(const std::string& mpegPath, const std::string& tivoPath);
// A .TiVo file with the given payload bytes.
void WriteTivo(const std::string& tivoPath, const std::vector<uint8_t>& payload);

}  // namespace korvane::test
