// What the engine tests share besides the graph support: the engine's state, settings, the
// test filters and a notify window.
#pragma once

#include "engine/Conversion.h"
#include "engine/EngineState.h"
#include "GraphSupport.h"
#include "TestFilterIds.h"
#include "win32/Scoped.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

// How long a wait may last before the test calls it a hang. Only a broken engine comes near
// it: a loaded machine stretches a conversion of these sizes to a second or two at most.
inline constexpr double kHangMilliseconds = 30000;

// Z:\...\KorvaneTestFilters.dll
std::string TestFiltersDllPath();

// Filters, pins and enumerators of the test filter DLL alive now.
long LiveTestObjects();

// Every interface pointer and wide path of the engine is null and nothing runs.
::testing::AssertionResult EngineIsIdle();

std::string ClassText(const CLSID& classId);  // "{...}"

// A value under HKCU\<key>, which the tests remove again with RegDeleteTreeA.
void SetUserValue(const char* key, const char* name, DWORD type, const void* data, DWORD size);
// The engine's settings (HKCU\Software\Halvenor\Korvane).
void SetSettingString(const char* name, const std::string& value);
inline void UseTestFilter(const char* setting, TestFilterKind kind) {
    SetSettingString(setting, ClassText(TestFilterClass(kind)));
}
// The stand-in dump's behaviour (see TestFilterIds.h).
void SetStandInDump(const char* name, DWORD value);
// Both of the above back to nothing.
void ClearSettingsAndStandInDump();

// A hidden window whose messages from the engine are recorded as they are pumped.
class NotifyWindow {
public:
    struct Message {
        UINT message;
        WPARAM wParam;
        bool engineIdle;  // the engine's state when WM_CONVERSION_DONE arrived
        long liveObjects;
    };

    NotifyWindow();
    ~NotifyWindow() { DestroyWindow(m_window); }
    NotifyWindow(const NotifyWindow&) = delete;
    NotifyWindow& operator=(const NotifyWindow&) = delete;

    HWND Handle() const { return m_window; }
    // Dispatches messages until condition holds (looked at after each batch) or the time is up.
    bool PumpUntil(const std::function<bool()>& condition, double timeoutMilliseconds = kHangMilliseconds);
    bool PumpUntilDone() {
        return PumpUntil([this] { return !Of(WM_CONVERSION_DONE).empty(); });
    }
    void PumpFor(double milliseconds) {
        PumpUntil([] { return false; }, milliseconds);
    }
    std::vector<Message> Of(UINT message) const;
    std::vector<Message> Progress() const { return Of(WM_CONVERSION_PROGRESS); }
    // The one end posted, which every test expects: any other number fails the test.
    Message Done() const;

    std::vector<Message> messages;

private:
    HWND m_window;
};
