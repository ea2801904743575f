#include "ModalDriver.h"

namespace {

thread_local ModalDriver* t_driver = nullptr;

// A scenario that never meets its dialog would hang its test in a modal loop: after this
// long every dialog still open is cancelled, so the test ends and reports what it missed.
constexpr DWORD kGiveUpMs = 20000;

}  // namespace

ModalDriver::ModalDriver(Handler handler) : m_handler(std::move(handler)), m_started(::GetTickCount()) {
    t_driver = this;
    m_hook = ::SetWindowsHookExA(WH_CBT, &ModalDriver::CbtHook, nullptr, ::GetCurrentThreadId());
    m_timer = ::SetTimer(nullptr, 0, 30, &ModalDriver::Tick);
}

ModalDriver::~ModalDriver() {
    if (m_timer) ::KillTimer(nullptr, m_timer);
    if (m_hook) ::UnhookWindowsHookEx(m_hook);
    t_driver = nullptr;
}

LRESULT CALLBACK ModalDriver::CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && t_driver) {
        HWND window = reinterpret_cast<HWND>(wParam);
        if (ClassName(window) == "#32770" && t_driver->m_known.insert(window).second)
            t_driver->m_pending.push_back(window);
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK ModalDriver::Tick(HWND, UINT, UINT_PTR, DWORD) {
    ModalDriver* driver = t_driver;
    if (!driver) return;
    if (::GetTickCount() - driver->m_started > kGiveUpMs) {
        HWND active = ::GetActiveWindow();
        if (active) ::PostMessageA(active, WM_COMMAND, IDCANCEL, 0);
        if (active) ::PostMessageA(active, WM_CLOSE, 0, 0);
        return;
    }
    while (!driver->m_pending.empty()) {
        HWND dialog = driver->m_pending.front();
        driver->m_pending.pop_front();
        if (!::IsWindow(dialog)) continue;
        ++driver->m_seen;
        driver->m_handler(dialog);
        if (t_driver != driver) return;
    }
}

CString WindowText(HWND window) {
    char text[1024] = "";
    ::GetWindowTextA(window, text, sizeof text);
    return text;
}

CString ClassName(HWND window) {
    char name[256] = "";
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

CString MessageBoxText(HWND box) {
    return WindowText(::GetDlgItem(box, 0xFFFF));
}

void Click(HWND dialog, int id) {
    ::PostMessageA(::GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void ClickNow(HWND dialog, int id) {
    ::SendMessageA(::GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void Pump(DWORD ms) {
    DWORD start = ::GetTickCount();
    MSG msg;
    while (::GetTickCount() - start < ms) {
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        ::Sleep(5);
    }
}
