#include "TestSupport.h"

#include "engine/Settings.h"

#include <objbase.h>

std::string TestFiltersDllPath() {
    std::string path = "Z:" KORVANE_TEST_FILTERS_DLL;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

long LiveTestObjects() {
    return korvane::test::LiveObjectCount(TestFiltersDllPath());
}

::testing::AssertionResult EngineIsIdle() {
    const ConversionEngineState& s = engineState;
    const std::pair<bool, const char*> fields[] = {{!!s.graph, "graph"},
                                                   {!!s.mediaControl, "mediaControl"},
                                                   {!!s.mediaEvent, "mediaEvent"},
                                                   {!!s.demuxer, "demuxer"},
                                                   {!!s.muxer, "muxer"},
                                                   {!!s.dumpFilter, "dumpFilter"},
                                                   {!!s.sourceFilter, "source"},
                                                   {!!s.fileSink, "fileSink"},
                                                   {!!s.sourcePathWide, "sourceWide"},
                                                   {!!s.running, "running"},
                                                   {!!s.outputPathWide, "outputWide"}};
    std::string set;
    for (const auto& field : fields)
        if (field.first) set += std::string(" ") + field.second;
    if (set.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "still set:" << set;
}

std::string ClassText(const CLSID& classId) {
    wchar_t wide[40] = {};
    StringFromGUID2(classId, wide, 40);
    return std::string(wide, wide + 38);  // the digits and braces are ASCII
}

void SetUserValue(const char* key, const char* name, DWORD type, const void* data, DWORD size) {
    ScopedRegKey opened;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_WRITE, nullptr, opened.Out(), nullptr),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(opened.Get(), name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
}

void SetSettingString(const char* name, const std::string& value) {
    SetUserValue(kSettingsKey, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void SetStandInDump(const char* name, DWORD value) {
    SetUserValue(kStandInDumpKey, name, REG_DWORD, &value, sizeof value);
}

void ClearSettingsAndStandInDump() {
    RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
    RegDeleteTreeA(HKEY_CURRENT_USER, kStandInDumpKey);
}

NotifyWindow::NotifyWindow()
    : m_window(
          CreateWindowA("STATIC", "engine test", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr)) {}

bool NotifyWindow::PumpUntil(const std::function<bool()>& condition, double timeoutMilliseconds) {
    for (const DWORD start = GetTickCount(); !condition();) {
        if (GetTickCount() - start >= timeoutMilliseconds) return false;
        // Conditions on files or events change without a message: look again every 10 ms.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        for (MSG msg; PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);) {
            if (msg.hwnd != m_window ||
                (msg.message != WM_CONVERSION_PROGRESS && msg.message != WM_CONVERSION_DONE)) {
                DispatchMessageA(&msg);
                continue;
            }
            // Every message says lParam 0; the engine's state is this thread's again only at the end.
            EXPECT_EQ(msg.lParam, 0);
            const bool done = msg.message == WM_CONVERSION_DONE;
            messages.push_back(
                {msg.message, msg.wParam, done && bool(EngineIsIdle()), done ? LiveTestObjects() : -1});
        }
    }
    return true;
}

std::vector<NotifyWindow::Message> NotifyWindow::Of(UINT message) const {
    std::vector<Message> found;
    for (const Message& m : messages)
        if (m.message == message) found.push_back(m);
    return found;
}

NotifyWindow::Message NotifyWindow::Done() const {
    const auto done = Of(WM_CONVERSION_DONE);
    EXPECT_EQ(done.size(), 1u) << "WM_CONVERSION_DONE must come exactly once";
    if (done.size() != 1) return {0, ~WPARAM(0), false, -1};
    EXPECT_EQ(messages.back().message, static_cast<UINT>(WM_CONVERSION_DONE))
        << "a message came after the end";
    return done[0];
}
