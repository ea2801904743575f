// What the filter-pack and engine tests share: a COM apartment per test with nothing of the
// pack left alive after it, the test hooks, files, and a conversion through the engine.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/LiveObjects.h"
#include "engine/Pins.h"
#include "engine/Settings.h"
#include "TempFolder.h"
#include "win32/ClassIds.h"
#include "win32/ComPtr.h"

namespace korvane::test {

std::wstring Widen(const std::string& text);
std::string EnvOr(const char* name, const std::string& fallback);
std::string MaterialDir();                    // KORVANE_MATERIAL
std::string KeptOutputs(const char* folder);  // KORVANE_WORK\folder, read by the native checks
std::vector<std::string> MaterialStreams(const char* pattern);  // in the material folder

std::string PackPath();  // KORVANE_FILTERS_DLL, the pack as COM loads it
FARPROC Export(const std::string& dll, const char* name);
// The test hooks: the objects alive now (all kinds together) of the pack, or of another DLL
// on its base (the test filters), and a pause in milliseconds after each source sample.
LONG LiveObjectCount(const std::string& dll = PackPath());
HRESULT SetSourcePacing(DWORD milliseconds);

class PackTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);  // the engine's defaults: the pack
    }
    void TearDown() override {
        EXPECT_EQ(0, LiveObjectCount());
        CoUninitialize();
    }
    TempFolder m_scratch{"filters"};
};

template <class T>
ComPtr<T> Create(const CLSID& clsid) {
    ComPtr<T> object;
    EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T),
                                     reinterpret_cast<void**>(object.Out())));
    return object;
}
template <class T>
HRESULT Query(IUnknown* object, ComPtr<T>& out) {
    return object->QueryInterface(__uuidof(T), reinterpret_cast<void**>(out.Out()));
}
LONG RefCount(IUnknown* object);
ComPtr<IPin> Pin(IBaseFilter* filter, const wchar_t* name);
std::vector<std::wstring> PinNames(IBaseFilter* filter, PIN_DIRECTION direction);

// A conversion as the program makes one without a window: through the engine, to its end
// on this thread. "" when it completed, else the engine's failure text.
std::string Convert(const std::string& source, const std::string& output);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
// Wraps a material stream (a name in the material folder, or a path) as .TiVo, encrypted
// with mak when one is given; the .TiVo path.
std::string WrapAsTivo(const std::string& materialName, const std::string& tivoPath,
                       const char* mak = nullptr);

}  // namespace korvane::test
