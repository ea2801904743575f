#include "DialogScript.h"

#include <gtest/gtest.h>

#include <map>

namespace {

DialogScript* g_script = nullptr;

// A scenario that never meets its dialog, or a dialog that ignores its answer, would hang
// the test in a modal loop: after this long without a new dialog, the active window is
// cancelled so that the test ends, and GaveUp() says so.
constexpr DWORD kGiveUpMs = 30000;

std::map<UINT_PTR, std::function<void()>> g_pending;  // After's actions by timer id

void CALLBACK RunPending(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    auto it = g_pending.find(id);
    if (it == g_pending.end()) return;
    std::function<void()> action = std::move(it->second);
    g_pending.erase(it);
    action();
}

}  // namespace

std::string WindowText(HWND window) {
    char text[2048] = {};
    ::GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ClassName(HWND window) {
    char name[256] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

std::string QuestionText(HWND dialog) {
    HWND choiceButton = ::GetDlgItem(dialog, 1006);
    const bool choice = choiceButton && ClassName(choiceButton) == "Button";
    return WindowText(::GetDlgItem(dialog, choice ? 1007 : 0xFFFF));
}

using ChildSearch = std::pair<const std::function<bool(HWND)>*, HWND>;

// A named callback: a lambda does not convert to a stdcall pointer in the 32-bit build.
BOOL CALLBACK MatchChild(HWND child, LPARAM data) {
    auto* s = reinterpret_cast<ChildSearch*>(data);
    if (!(*s->first)(child)) return TRUE;
    s->second = child;
    return FALSE;
}

HWND FindChild(HWND parent, const std::function<bool(HWND)>& match) {
    ChildSearch search{&match, nullptr};
    ::EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

HWND FindChildByText(HWND dialog, const char* text) {
    return FindChild(dialog, [text](HWND child) { return WindowText(child) == text; });
}

std::string FontText(HWND control) {
    LOGFONTA f{};
    ::GetObjectA(reinterpret_cast<HFONT>(::SendMessageA(control, WM_GETFONT, 0, 0)), sizeof f, &f);
    return std::string(f.lfFaceName) + " " + std::to_string(f.lfHeight) + " " + std::to_string(f.lfWeight) +
           (f.lfItalic ? " italic" : "");
}

void ClickButton(HWND dialog, const char* text) {
    HWND button = FindChildByText(dialog, text);
    if (!button) {
        ADD_FAILURE() << "no button \"" << text << "\" in \"" << WindowText(dialog) << "\"";
        return;
    }
    ::PostMessageA(button, BM_CLICK, 0, 0);
}

void Click(HWND dialog, int id) {
    ::PostMessageA(::GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void ClickNow(HWND dialog, int id) {
    ::SendMessageA(::GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void After(UINT delayMs, std::function<void()> action) {
    const UINT_PTR id = ::SetTimer(nullptr, 0, delayMs, &RunPending);
    ASSERT_NE(0u, id);
    g_pending[id] = std::move(action);
}

void When(std::function<bool()> ready, std::function<void()> action, int waitedMs) {
    if (!ready() && waitedMs < 10000) return After(20, [=] { When(ready, action, waitedMs + 20); });
    EXPECT_LT(waitedMs, 10000) << "the awaited state never came";
    action();
}

void CancelPending() {
    for (const auto& pending : g_pending)
        ::KillTimer(nullptr, pending.first);
    g_pending.clear();
}

DialogScript::DialogScript(Scenarios scenarios) : m_lastActivity(::GetTickCount()) {
    g_script = this;
    m_hook = ::SetWindowsHookExA(WH_CBT, &DialogScript::CbtProc, nullptr, ::GetCurrentThreadId());
    EXPECT_NE(nullptr, m_hook);
    if (scenarios == Scenarios::Nest) m_timer = ::SetTimer(nullptr, 0, 30, &DialogScript::Tick);
}

DialogScript::~DialogScript() {
    if (m_timer) ::KillTimer(nullptr, m_timer);
    if (m_hook) ::UnhookWindowsHookEx(m_hook);
    g_script = nullptr;
    CancelPending();
}

void DialogScript::Expect(const std::string& caption, Handler handler) {
    m_expected.emplace_back(caption, std::move(handler));
}

void DialogScript::Answer(const std::string& caption, const std::string& button) {
    Expect(caption, [button](HWND dialog) { ClickButton(dialog, button.c_str()); });
}

void DialogScript::Watch(const std::string& caption, Handler handler) {
    m_watched.emplace_back(caption, std::move(handler));
}

LRESULT CALLBACK DialogScript::CbtProc(int code, WPARAM wParam, LPARAM lParam) {
    HWND window = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE && g_script && ClassName(window) == "#32770")
        g_script->m_timer ? g_script->m_pending.push_back(window) : g_script->Handle(window);
    // A later window may get the same handle value.
    if (code == HCBT_DESTROYWND && g_script) g_script->m_handled.erase(window);
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK DialogScript::Tick(HWND, UINT, UINT_PTR, DWORD) {
    DialogScript* script = g_script;
    if (!script) return;
    if (script->m_pending.empty() && ::GetTickCount() - script->m_lastActivity > kGiveUpMs) {
        script->m_lastActivity = ::GetTickCount();
        script->m_gaveUp = true;
        if (HWND active = ::GetActiveWindow()) {
            ::PostMessageA(active, WM_COMMAND, IDCANCEL, 0);
            ::PostMessageA(active, WM_CLOSE, 0, 0);
        }
        return;
    }
    while (!script->m_pending.empty() && g_script == script) {
        HWND window = script->m_pending.front();
        script->m_pending.pop_front();
        if (::IsWindow(window)) script->Handle(window);
    }
}

void DialogScript::Handle(HWND window) {
    m_lastActivity = ::GetTickCount();
    const std::string caption = WindowText(window);
    for (auto& watched : m_watched)
        if (watched.first == caption) return watched.second(window);
    // A dialog activates again whenever a box on top of it closes: answer each one once.
    if (!m_handled.insert(window).second) return;
    seen.push_back({caption, QuestionText(window)});
    if (!m_expected.empty() && m_expected.front().first == caption) {
        Handler handler = std::move(m_expected.front().second);
        m_expected.pop_front();
        return handler(window);
    }
    if (m_otherwise) return m_otherwise(window);
    unexpected.push_back(caption);
    // Get out of the box the way that ends a batch soonest, so the test fails instead of hanging.
    for (const char* button : {"&Abort", "&Cancel", "&No", "No", "OK"})
        if (HWND b = FindChildByText(window, button)) return (void)::PostMessageA(b, BM_CLICK, 0, 0);
}
