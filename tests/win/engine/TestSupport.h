// What the engine tests share: COM, the engine's state, settings, a notify window, files.
#pragma once

#include "engine/Conversion.h"
#include "engine/EngineState.h"
#include "TempFolder.h"
#include "TestFilterIds.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// How long a wait may last before the test calls it a hang. Only a broken engine comes near
// it: a loaded machine stretches a conversion of these sizes to a second or two at most.
inline constexpr double kHangMilliseconds = 30000;

struct ComApartment {
    ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComApartment() { CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};

// Z:\...\KorvaneTestFilters.dll
std::string TestFiltersDllPath();

// Filters, pins and enumerators of the test filter DLL alive now.
long LiveTestObjects();

// Every interface pointer and wide path of the engine is null and nothing runs.
::testing::AssertionResult EngineIsIdle();

std::string ClassText(const CLSID& classId);  // "{...}"

// HKCU\Software\Halvenor\Korvane, removed again by ClearSettings.
void SetSettingString(const char* name, const std::string& value);
void SetSettingBytes(const char* name, DWORD type, const void* data, DWORD size);
void ClearSettings();

// The stand-in dump's behaviour (see TestFilterIds.h); ClearStandInDump resets it.
void SetStandInDump(const char* name, DWORD value);
void ClearStandInDump();

void WriteFileOfSize(const std::string& path, std::uint64_t size);
std::uint64_t SizeOf(const std::string& path);  // 0 when missing

// A hidden window that records the engine's messages with their arrival times.
class NotifyWindow {
public:
    struct Message {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        double milliseconds;  // since the window was made
        bool engineIdle;      // the engine's state when the message arrived
        long liveObjects;
    };

    NotifyWindow();
    ~NotifyWindow();
    NotifyWindow(const NotifyWindow&) = delete;
    NotifyWindow& operator=(const NotifyWindow&) = delete;

    HWND Handle() const { return m_window; }
    // Dispatches messages until WM_CONVERSION_DONE has arrived or the time is up.
    bool PumpUntilDone(double timeoutMilliseconds = kHangMilliseconds);
    // Dispatches messages until condition holds (looked at after each batch) or the time is up.
    bool PumpUntil(const std::function<bool()>& condition, double timeoutMilliseconds = kHangMilliseconds);
    void PumpFor(double milliseconds);
    double Now() const;

    std::vector<Message> messages;
    std::vector<Message> Progress() const;
    std::vector<Message> Done() const;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND m_window = nullptr;
    LARGE_INTEGER m_start = {};
    LARGE_INTEGER m_frequency = {};
};
