// Drives modal dialogs in-process: a thread-local WH_CBT hook notes every dialog or message
// box (class "#32770") that becomes active, and a thread timer, which keeps firing inside
// the modal loops, hands each new one to the test's handler once, outside the hook.
// A handler may itself open a modal dialog (press a button that does): the timer goes on
// firing inside that loop and handles the next dialog, so scenarios nest naturally.
#pragma once

#include "framework/String.h"

#include <windows.h>

#include <deque>
#include <functional>
#include <set>

class ModalDriver {
public:
    using Handler = std::function<void(HWND dialog)>;

    explicit ModalDriver(Handler handler);
    ~ModalDriver();
    ModalDriver(const ModalDriver&) = delete;
    ModalDriver& operator=(const ModalDriver&) = delete;

    int DialogsSeen() const { return m_seen; }

private:
    static LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);

    Handler m_handler;
    HHOOK m_hook = nullptr;
    UINT_PTR m_timer = 0;
    std::deque<HWND> m_pending;
    std::set<HWND> m_known;
    int m_seen = 0;
    DWORD m_started = 0;
};

// Window text helpers.
CString WindowText(HWND window);
CString ClassName(HWND window);
// The text of a message box (its static, id 0xFFFF).
CString MessageBoxText(HWND box);
// Presses a push button or check box as a click would (posted BM_CLICK).
void Click(HWND dialog, int id);
// Like Click, but waits for the button's handler to finish (and any dialog it opens).
void ClickNow(HWND dialog, int id);
// Runs the message loop of this thread for about ms milliseconds.
void Pump(DWORD ms);
