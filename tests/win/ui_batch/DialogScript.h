// Answers the dialogs and message boxes that appear on this thread, in-process: a
// thread-local CBT hook sees each one activate, and the test's handler posts its answer.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

std::string WindowText(HWND window);
// The question's text: the choice box's static, or a message box's.
std::string QuestionText(HWND dialog);
// The first child window of dialog whose text is text; null when there is none.
HWND FindChildByText(HWND dialog, const char* text);
// Posts a click to the child button with that text (fails the test when there is none).
void ClickButton(HWND dialog, const char* text);
// Runs action once, after delayMs, from whatever message loop is running on this thread.
void After(UINT delayMs, std::function<void()> action);

class DialogScript {
public:
    using Handler = std::function<void(HWND dialog)>;

    DialogScript();
    ~DialogScript();
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    // The next new dialog must carry this caption; handler answers it.
    void Expect(const std::string& caption, Handler handler);
    // Shorthand: the next dialog with this caption is answered with the button of that text.
    void Answer(const std::string& caption, const std::string& button);
    // Dialogs with this caption go to handler every time they activate (the progress window).
    void Watch(const std::string& caption, Handler handler);

    int Shown() const { return static_cast<int>(seen.size()); }
    bool AllAnswered() const { return m_expected.empty(); }

    struct Seen {
        std::string caption;
        std::string text;
    };
    std::vector<Seen> seen;               // every question, in order
    std::vector<std::string> unexpected;  // captions that came with no handler waiting

private:
    static LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam);
    void OnActivate(HWND window);

    HHOOK m_hook = nullptr;
    std::deque<std::pair<std::string, Handler>> m_expected;
    std::vector<std::pair<std::string, Handler>> m_watched;
    std::set<HWND> m_handled;
};
