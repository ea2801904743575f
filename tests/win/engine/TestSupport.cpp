#include "TestSupport.h"

#include "engine/Settings.h"

#include <objbase.h>

#include <cstdio>

std::string TestFiltersDllPath() {
    std::string path = "Z:" KORVANE_TEST_FILTERS_DLL;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

namespace {

LiveObjectsFunction LoadLiveObjectsFunction() {
    // Pinned for the life of the test: COM loads the same module by the same path.
    HMODULE module = LoadLibraryA(TestFiltersDllPath().c_str());
    if (!module) return nullptr;
    return reinterpret_cast<LiveObjectsFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, kLiveObjectsExport)));
}

}  // namespace

long LiveTestObjects() {
    static LiveObjectsFunction function = LoadLiveObjectsFunction();
    return function ? function() : -1;
}

::testing::AssertionResult EngineIsIdle() {
    const ConversionEngineState& s = engineState;
    std::string set;
    if (s.graph) set += " graph";
    if (s.mediaControl) set += " mediaControl";
    if (s.mediaEvent) set += " mediaEvent";
    if (s.demuxer) set += " demuxer";
    if (s.muxer) set += " muxer";
    if (s.dumpFilter) set += " dumpFilter";
    if (s.sourceFilter) set += " sourceFilter";
    if (s.fileSink) set += " fileSink";
    if (s.sourcePathWide) set += " sourcePathWide";
    if (s.outputPathWide) set += " outputPathWide";
    if (s.running) set += " running";
    if (set.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "still set:" << set;
}

std::string ClassText(const CLSID& classId) {
    wchar_t wide[40] = {};
    StringFromGUID2(classId, wide, 40);
    char text[40] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    return text;
}

void SetSettingBytes(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
}

void SetSettingString(const char* name, const std::string& value) {
    SetSettingBytes(name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void ClearSettings() {
    RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
}

void SetStandInDump(const char* name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, kStandInDumpKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void ClearStandInDump() {
    RegDeleteTreeA(HKEY_CURRENT_USER, kStandInDumpKey);
}

void WriteFileOfSize(const std::string& path, std::uint64_t size) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    std::vector<char> block(64 * 1024, 'S');
    while (size > 0) {
        DWORD piece = static_cast<DWORD>(size < block.size() ? size : block.size());
        DWORD written = 0;
        WriteFile(file, block.data(), piece, &written, nullptr);
        size -= piece;
    }
    CloseHandle(file);
}

std::uint64_t SizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA status;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &status)) return 0;
    return (static_cast<std::uint64_t>(status.nFileSizeHigh) << 32) | status.nFileSizeLow;
}

NotifyWindow::NotifyWindow() {
    static const char className[] = "KorvaneEngineTestWindow";
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);  // fails harmlessly when already registered
    QueryPerformanceFrequency(&m_frequency);
    QueryPerformanceCounter(&m_start);
    m_window = CreateWindowA(className, "engine test", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                             GetModuleHandleA(nullptr), this);
}

NotifyWindow::~NotifyWindow() {
    DestroyWindow(m_window);
}

double NotifyWindow::Now() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - m_start.QuadPart) * 1000.0 /
           static_cast<double>(m_frequency.QuadPart);
}

LRESULT CALLBACK NotifyWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<NotifyWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && (message == WM_CONVERSION_PROGRESS || message == WM_CONVERSION_DONE)) {
        // The engine's state belongs to this thread again only once the end has been posted.
        const bool done = message == WM_CONVERSION_DONE;
        self->messages.push_back({message, wParam, lParam, self->Now(), done && bool(EngineIsIdle()),
                                  done ? LiveTestObjects() : -1});
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool NotifyWindow::PumpUntilDone(double timeoutMilliseconds) {
    return PumpUntil([this] { return !Done().empty(); }, timeoutMilliseconds);
}

bool NotifyWindow::PumpUntil(const std::function<bool()>& condition, double timeoutMilliseconds) {
    const double end = Now() + timeoutMilliseconds;
    while (!condition()) {
        const double left = end - Now();
        if (left <= 0) return false;
        // Conditions on files or events change without a message: look again every 10 ms.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left < 10 ? left : 10) + 1,
                                  QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

void NotifyWindow::PumpFor(double milliseconds) {
    const double end = Now() + milliseconds;
    for (double left = milliseconds; left > 0; left = end - Now()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left) + 1, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

std::vector<NotifyWindow::Message> NotifyWindow::Progress() const {
    std::vector<Message> found;
    for (const Message& m : messages)
        if (m.message == WM_CONVERSION_PROGRESS) found.push_back(m);
    return found;
}

std::vector<NotifyWindow::Message> NotifyWindow::Done() const {
    std::vector<Message> found;
    for (const Message& m : messages)
        if (m.message == WM_CONVERSION_DONE) found.push_back(m);
    return found;
}
