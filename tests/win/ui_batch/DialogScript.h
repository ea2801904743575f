// Answers the dialogs and message boxes that appear on this thread, in-process: a
// thread-local CBT hook sees each one ("#32770") as it activates and hands it to the test's
// handler at once, so that a handler sees a window that has only just come up. A scenario
// that opens modal dialogs itself (ClickNow on a button that does) cannot run inside the
// hook: with Scenarios::Nest the handlers run from a thread timer, which keeps firing inside
// modal loops and so answers the next dialog too.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

std::string WindowText(HWND window);
std::string ClassName(HWND window);
// The question's text: the choice box's static, or a message box's.
std::string QuestionText(HWND dialog);
// The first window inside parent (at any depth) that `match` accepts, or the one with that text.
HWND FindChild(HWND parent, const std::function<bool(HWND)>& match);
HWND FindChildByText(HWND dialog, const char* text);
// A control's font as "<face> <height> <weight>[ italic]", to compare whole.
std::string FontText(HWND control);
// Posts a click to the child button with that text (fails the test when there is none).
void ClickButton(HWND dialog, const char* text);
// Presses a button or check box by id: posted, or sent (returns once its handler, and any
// dialog that opens, has finished).
void Click(HWND dialog, int id);
void ClickNow(HWND dialog, int id);
// Runs action once, after delayMs, from whatever message loop is running on this thread;
// unless CancelPending (also when a DialogScript goes) drops it first.
void After(UINT delayMs, std::function<void()> action);
void CancelPending();
// Runs action once ready() holds, polling from the message loop; after 10 s the test fails
// and action runs all the same, so that the scenario still ends.
void When(std::function<bool()> ready, std::function<void()> action, int waitedMs = 0);

class DialogScript {
public:
    using Handler = std::function<void(HWND dialog)>;

    enum class Scenarios { Answer, Nest };
    explicit DialogScript(Scenarios scenarios = Scenarios::Answer);
    ~DialogScript();
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    // The next new dialog must carry this caption; handler answers it.
    void Expect(const std::string& caption, Handler handler);
    // Shorthand: the next dialog with this caption is answered with the button of that text.
    void Answer(const std::string& caption, const std::string& button);
    // Dialogs with this caption go to handler every time they activate (the progress window).
    void Watch(const std::string& caption, Handler handler);
    // Dialogs that no expectation waits for go here instead of counting as unexpected.
    void Otherwise(Handler handler) { m_otherwise = std::move(handler); }

    int Shown() const { return static_cast<int>(seen.size()); }
    bool AllAnswered() const { return m_expected.empty(); }
    bool GaveUp() const { return m_gaveUp; }

    struct Seen {
        std::string caption;
        std::string text;
    };
    std::vector<Seen> seen;               // every dialog but the watched ones, in order
    std::vector<std::string> unexpected;  // captions that came with no handler waiting

private:
    static LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void Handle(HWND window);

    HHOOK m_hook = nullptr;
    UINT_PTR m_timer = 0;  // with Scenarios::Nest
    DWORD m_lastActivity = 0;
    bool m_gaveUp = false;
    std::deque<HWND> m_pending;
    std::deque<std::pair<std::string, Handler>> m_expected;
    std::vector<std::pair<std::string, Handler>> m_watched;
    Handler m_otherwise;
    std::set<HWND> m_handled;
};
