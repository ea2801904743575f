#include "GraphSupport.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "engine/Run.h"
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

std::string Convert(const std::string& source, const std::string& output) {
    const char* text = nullptr;
    return StartConversion(source.c_str(), output.c_str(), nullptr, nullptr, 1, &text) ? ""
           : text                                                                      ? text
                                                                                       : "?";
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
