// The question box with real buttons under Wine. The sticky answers are RulesTest's, and
// ProgressWindowTest's through the real batch.
#include "ui/batch/ChoiceDlg.h"
#include "DialogScript.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const int kButtonIds[5] = {IDC_CHOICE_B1, IDC_CHOICE_B2, IDC_CHOICE_B3, IDC_CHOICE_B4, IDC_CHOICE_B5};

struct ButtonState {
    std::string text;
    bool visible;
    bool enabled;
    RECT rect;  // in the dialog's client coordinates, pixels
};

struct BoxState {
    ButtonState buttons[5];
    RECT templateSlots[5];  // the template's x positions of B1..B5, in pixels
    int slotShift;          // 23 dialog units in pixels
    SIZE windowSize;
    std::string text;
};

BoxState ReadBox(HWND dialog) {
    BoxState state{};
    for (int i = 0; i < 5; ++i) {
        HWND button = ::GetDlgItem(dialog, kButtonIds[i]);
        state.buttons[i].text = WindowText(button);
        // The box itself is not shown yet when it activates: read the buttons' own style.
        state.buttons[i].visible = (::GetWindowLongA(button, GWL_STYLE) & WS_VISIBLE) != 0;
        state.buttons[i].enabled = ::IsWindowEnabled(button) != FALSE;
        ::GetWindowRect(button, &state.buttons[i].rect);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&state.buttons[i].rect), 2);
        state.templateSlots[i] = {7 + 46 * i, 66, 7 + 46 * i + 45, 80};
        ::MapDialogRect(dialog, &state.templateSlots[i]);
    }
    RECT shift = {0, 0, 23, 0};
    ::MapDialogRect(dialog, &shift);
    state.slotShift = shift.right;
    RECT window;
    ::GetWindowRect(dialog, &window);
    state.windowSize = {window.right - window.left, window.bottom - window.top};
    state.text = QuestionText(dialog);
    return state;
}

// Asks with the box and answers it with the button of that caption, keeping what it showed.
int AskAndAnswer(UINT type, const char* button, BoxState* state, const char* text = "Question?") {
    DialogScript script;
    script.Expect("Caption", [&](HWND dialog) {
        *state = ReadBox(dialog);
        ClickButton(dialog, button);
    });
    const int answer = ChoiceMessageBox(nullptr, text, "Caption", type);
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_TRUE(script.unexpected.empty());
    return answer;
}

void ExpectAt(const ButtonState& button, const RECT& slot, int shift) {
    EXPECT_NEAR(slot.left + shift, button.rect.left, 1) << button.text;
    EXPECT_EQ(slot.top, button.rect.top) << button.text;
    EXPECT_EQ(slot.right - slot.left, button.rect.right - button.rect.left) << button.text;
    EXPECT_EQ(slot.bottom - slot.top, button.rect.bottom - button.rect.top) << button.text;
}

TEST(ChoiceBox, YesAllNoAllShowsFourButtonsMovedHalfASlot) {
    BoxState box;
    EXPECT_EQ(KORVANE_IDNOALL, AskAndAnswer(KORVANE_MB_YESALLNOALL, "No A&ll", &box));
    const char* captions[4] = {"&Yes", "Yes &All", "&No", "No A&ll"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(captions[i], box.buttons[i].text);
        EXPECT_TRUE(box.buttons[i].visible);
        EXPECT_TRUE(box.buttons[i].enabled);
        ExpectAt(box.buttons[i], box.templateSlots[i], box.slotShift);
    }
    EXPECT_FALSE(box.buttons[4].visible);
    EXPECT_FALSE(box.buttons[4].enabled);
    ExpectAt(box.buttons[4], box.templateSlots[4], 0);  // hidden buttons stay put
    EXPECT_EQ("Question?", box.text);

    EXPECT_EQ(IDYES, AskAndAnswer(KORVANE_MB_YESALLNOALL, "&Yes", &box));
    EXPECT_EQ(KORVANE_IDYESALL, AskAndAnswer(KORVANE_MB_YESALLNOALL, "Yes &All", &box));
    EXPECT_EQ(IDNO, AskAndAnswer(KORVANE_MB_YESALLNOALL, "&No", &box));
}

TEST(ChoiceBox, YesAllNoAllCancelShowsFiveButtonsInPlace) {
    BoxState box;
    EXPECT_EQ(IDCANCEL, AskAndAnswer(KORVANE_MB_YESALLNOALLCANCEL, "&Cancel", &box));
    const char* captions[5] = {"&Yes", "Yes &All", "&No", "No A&ll", "&Cancel"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(captions[i], box.buttons[i].text);
        EXPECT_TRUE(box.buttons[i].visible && box.buttons[i].enabled);
        ExpectAt(box.buttons[i], box.templateSlots[i], 0);
    }
    EXPECT_EQ(KORVANE_IDYESALL, AskAndAnswer(KORVANE_MB_YESALLNOALLCANCEL, "Yes &All", &box));
    EXPECT_EQ(KORVANE_IDNOALL, AskAndAnswer(KORVANE_MB_YESALLNOALLCANCEL, "No A&ll", &box));
}

TEST(ChoiceBox, AbortIgnoreAllSitsOnTheMiddleSlots) {
    BoxState box;
    EXPECT_EQ(KORVANE_IDIGNOREALL, AskAndAnswer(KORVANE_MB_ABORTIGNOREALL, "Ignore A&ll", &box));
    const char* captions[3] = {"&Abort", "&Ignore", "Ignore A&ll"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(captions[i], box.buttons[i].text);
        EXPECT_TRUE(box.buttons[i].visible && box.buttons[i].enabled);
        // B1 to B3 land on the places of B2 to B4
        EXPECT_NEAR(box.templateSlots[i + 1].left, box.buttons[i].rect.left, 1);
    }
    for (int i = 3; i < 5; ++i)
        EXPECT_FALSE(box.buttons[i].visible || box.buttons[i].enabled);
    EXPECT_EQ(IDIGNORE, AskAndAnswer(KORVANE_MB_ABORTIGNOREALL, "&Ignore", &box));
}

// What the unused buttons are told while the box sets itself up, in order.
std::vector<std::string> g_unusedButtonCalls;

LRESULT CALLBACK WatchUnusedButtons(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    const int id = ::GetDlgCtrlID(call->hwnd);
    if (code == HC_ACTION && (id == IDC_CHOICE_B4 || id == IDC_CHOICE_B5)) {
        const std::string name = id == IDC_CHOICE_B4 ? "B4 " : "B5 ";
        if (call->message == WM_SHOWWINDOW && !call->wParam) g_unusedButtonCalls.push_back(name + "hidden");
        if (call->message == WM_ENABLE && !call->wParam) g_unusedButtonCalls.push_back(name + "disabled");
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(ChoiceBox, UnusedButtonsAreHiddenThenDisabled) {
    g_unusedButtonCalls.clear();
    HHOOK hook = ::SetWindowsHookExA(WH_CALLWNDPROC, &WatchUnusedButtons, nullptr, ::GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);
    BoxState box;
    EXPECT_EQ(IDABORT, AskAndAnswer(KORVANE_MB_ABORTIGNOREALL, "&Abort", &box));
    ::UnhookWindowsHookEx(hook);
    EXPECT_EQ((std::vector<std::string>{"B4 hidden", "B4 disabled", "B5 hidden", "B5 disabled"}),
              g_unusedButtonCalls);
}

TEST(ChoiceBox, EnterAnswersAbortFromTheFocusedDefaultButton) {
    DialogScript script;
    HWND focused = nullptr, first = nullptr;
    script.Expect("Caption", [&](HWND dialog) {
        first = ::GetDlgItem(dialog, IDC_CHOICE_B1);
        After(100, [&, dialog] {
            focused = ::GetFocus();
            HWND target = focused ? focused : dialog;
            ::PostMessageA(target, WM_KEYDOWN, VK_RETURN, 0);
            ::PostMessageA(target, WM_KEYUP, VK_RETURN, 0xC0000001);
        });
    });
    EXPECT_EQ(IDABORT, ChoiceMessageBox(nullptr, "Question?", "Caption", KORVANE_MB_ABORTIGNOREALL));
    EXPECT_EQ(first, focused);
}

TEST(ChoiceBox, CloseBoxEscapeAndF1LeaveTheQuestionOpen) {
    DialogScript script;
    bool openAfterwards = false;
    script.Expect("Caption", [&](HWND dialog) {
        ::PostMessageA(dialog, WM_CLOSE, 0, 0);
        ::PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        ::PostMessageA(::GetDlgItem(dialog, IDC_CHOICE_B1), WM_KEYDOWN, VK_ESCAPE, 0);
        After(300, [&, dialog] {
            HELPINFO help{};
            help.cbSize = sizeof help;
            help.iContextType = HELPINFO_WINDOW;
            help.hItemHandle = dialog;
            ::SendMessageA(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
        });
        After(500, [&, dialog] {
            openAfterwards = ::IsWindow(dialog) && ::IsWindowVisible(dialog);
            ClickButton(dialog, "&Ignore");
        });
    });
    EXPECT_EQ(IDIGNORE, ChoiceMessageBox(nullptr, "Question?", "Caption", KORVANE_MB_ABORTIGNOREALL));
    EXPECT_TRUE(openAfterwards);
    EXPECT_EQ(1, script.Shown());  // no help box or anything else appeared
}

TEST(ChoiceBox, LongTextNeverChangesTheBoxSize) {
    BoxState shortBox, longBox;
    AskAndAnswer(KORVANE_MB_YESALLNOALLCANCEL, "&Yes", &shortBox, "Short.");
    std::string words;
    for (int i = 0; i < 200; ++i)
        words += "overwrite ";
    AskAndAnswer(KORVANE_MB_YESALLNOALLCANCEL, "&Yes", &longBox, words.c_str());
    EXPECT_EQ(shortBox.windowSize.cx, longBox.windowSize.cx);
    EXPECT_EQ(shortBox.windowSize.cy, longBox.windowSize.cy);
}

TEST(ChoiceBox, OtherTypesGoToTheStandardMessageBox) {
    for (UINT type : {static_cast<UINT>(MB_YESNO), static_cast<UINT>(KORVANE_MB_YESALLNOALL | MB_DEFBUTTON2),
                      static_cast<UINT>(KORVANE_MB_ABORTIGNOREALL | MB_SETFOREGROUND)}) {
        DialogScript script;
        bool choiceBox = true;
        script.Expect("Standard", [&](HWND dialog) {
            choiceBox = ::GetDlgItem(dialog, IDC_CHOICE_B5) != nullptr;
            HWND yes = ::GetDlgItem(dialog, IDYES);
            HWND ok = ::GetDlgItem(dialog, IDOK);
            HWND abort = ::GetDlgItem(dialog, IDABORT);
            ::PostMessageA(yes ? yes : ok ? ok : abort, BM_CLICK, 0, 0);
        });
        const int answer = ChoiceMessageBox(nullptr, "Plain?", "Standard", type);
        EXPECT_FALSE(choiceBox) << type;
        EXPECT_EQ((type & MB_TYPEMASK) == MB_YESNO ? IDYES
                  : (type & MB_TYPEMASK) == MB_OK  ? IDOK
                                                   : IDABORT,
                  answer)
            << type;
    }
}

TEST(ChoiceBox, ABoxThatCannotBeCreatedAnswersToStopTheBatch) {
    // A window handle that names no window: the dialog cannot be created.
    HWND gone = ::CreateWindowA("STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ::DestroyWindow(gone);
    DialogScript script;
    EXPECT_EQ(IDABORT, ChoiceMessageBox(gone, "Question?", "Caption", KORVANE_MB_ABORTIGNOREALL));
    EXPECT_EQ(IDCANCEL, ChoiceMessageBox(gone, "Question?", "Caption", KORVANE_MB_YESALLNOALLCANCEL));
    EXPECT_EQ(IDNO, ChoiceMessageBox(gone, "Question?", "Caption", KORVANE_MB_YESALLNOALL));
    EXPECT_EQ(0, script.Shown());
}

}  // namespace
