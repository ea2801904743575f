// The question box with real buttons under Wine. The sticky answers are RulesTest's, and
// ProgressWindowTest's through the real batch.
#include "ui/batch/ChoiceDlg.h"
#include "DialogScript.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

namespace {

const int kButtonIds[5] = {IDC_CHOICE_B1, IDC_CHOICE_B2, IDC_CHOICE_B3, IDC_CHOICE_B4, IDC_CHOICE_B5};

TEST(ChoiceBox, EachTypeShowsItsButtonsCentredUnderTheTextInABoxOfOneSizeAndAnswersWithEach) {
    std::string words;  // far more than the box's text has room for
    for (int i = 0; i < 200; ++i)
        words += "overwrite ";
    std::set<std::pair<LONG, LONG>> sizes;  // the box never grows or shrinks to the text
    const struct {
        const char* text;
        UINT type;
        std::vector<std::string> captions;
        std::vector<int> answers;
        int slotsShifted;  // in halves of a slot
    } types[] = {
        {"Question?",
         KORVANE_MB_YESALLNOALL,
         {"&Yes", "Yes &All", "&No", "No A&ll"},
         {IDYES, KORVANE_IDYESALL, IDNO, KORVANE_IDNOALL},
         1},
        {words.c_str(),
         KORVANE_MB_YESALLNOALLCANCEL,
         {"&Yes", "Yes &All", "&No", "No A&ll", "&Cancel"},
         {IDYES, KORVANE_IDYESALL, IDNO, KORVANE_IDNOALL, IDCANCEL},
         0},
        {"Short.",
         KORVANE_MB_ABORTIGNOREALL,
         {"&Abort", "&Ignore", "Ignore A&ll"},
         {IDABORT, IDIGNORE, KORVANE_IDIGNOREALL},
         2},
    };
    for (const auto& t : types) {
        bool first = true;  // the layout is read once per type
        auto check = [&](HWND dialog) {
            if (!std::exchange(first, false)) return;
            EXPECT_EQ(t.text, QuestionText(dialog));
            RECT box;
            ::GetWindowRect(dialog, &box);
            sizes.insert({box.right - box.left, box.bottom - box.top});
            for (int i = 0; i < 5; ++i) {
                SCOPED_TRACE("type " + std::to_string(t.type) + ", button " + std::to_string(i + 1));
                HWND button = ::GetDlgItem(dialog, kButtonIds[i]);
                const bool used = i < static_cast<int>(t.captions.size());
                // The box is not shown yet when it activates: read the buttons' own style.
                EXPECT_EQ(used, (::GetWindowLongA(button, GWL_STYLE) & WS_VISIBLE) != 0);
                EXPECT_EQ(used, ::IsWindowEnabled(button) != FALSE);
                EXPECT_EQ(used ? t.captions[i] : std::string("B") + std::to_string(i + 1),
                          WindowText(button));
                // The template's slot (7 + 46 i, 66, 45 x 14), moved by halves of a slot (23 units)
                // when used; hidden ones stay.
                RECT slot = {7 + 46 * i, 66, 52 + 46 * i, 80},
                     shift = {0, 0, used ? 23 * t.slotsShifted : 0, 0};
                ::MapDialogRect(dialog, &slot);
                ::MapDialogRect(dialog, &shift);
                RECT at;
                ::GetWindowRect(button, &at);
                ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&at), 2);
                EXPECT_NEAR(slot.left + shift.right, at.left, 1);
                EXPECT_EQ(slot.top, at.top);
                EXPECT_EQ(slot.right - slot.left, at.right - at.left);
                EXPECT_EQ(slot.bottom - slot.top, at.bottom - at.top);
            }
        };
        for (size_t answer = 0; answer < t.captions.size(); ++answer) {
            DialogScript script;
            script.Expect("Caption", [&](HWND dialog) {
                check(dialog);
                ClickButton(dialog, t.captions[answer].c_str());
            });
            EXPECT_EQ(t.answers[answer], ChoiceMessageBox(nullptr, t.text, "Caption", t.type));
            EXPECT_TRUE(script.AllAnswered() && script.unexpected.empty());
        }
    }
    EXPECT_EQ(1u, sizes.size());
}

TEST(ChoiceBox, CloseBoxEscapeAndF1LeaveTheQuestionOpenAndEnterAnswersWithTheFirstButton) {
    DialogScript script;
    bool openAfterwards = false;
    HWND focused = nullptr, first = nullptr;
    script.Expect("Caption", [&](HWND dialog) {
        first = ::GetDlgItem(dialog, IDC_CHOICE_B1);
        ::PostMessageA(dialog, WM_CLOSE, 0, 0);
        ::PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        ::PostMessageA(first, WM_KEYDOWN, VK_ESCAPE, 0);
        After(300, [&, dialog] {
            HELPINFO help{sizeof help, HELPINFO_WINDOW, 0, dialog, 0, {0, 0}};
            ::SendMessageA(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
        });
        After(500, [&, dialog] {
            openAfterwards = ::IsWindow(dialog) && ::IsWindowVisible(dialog);
            focused = ::GetFocus();
            ::PostMessageA(focused ? focused : dialog, WM_KEYDOWN, VK_RETURN, 0);
            ::PostMessageA(focused ? focused : dialog, WM_KEYUP, VK_RETURN, 0xC0000001);
        });
    });
    EXPECT_EQ(IDABORT, ChoiceMessageBox(nullptr, "Question?", "Caption", KORVANE_MB_ABORTIGNOREALL));
    EXPECT_TRUE(openAfterwards);
    EXPECT_EQ(first, focused);     // the default button has the focus
    EXPECT_EQ(1, script.Shown());  // no help box or anything else appeared
}

TEST(ChoiceBox, OtherTypesGoToTheStandardMessageBox) {
    const struct {
        UINT type;
        int button;
    } types[] = {{MB_YESNO, IDYES},
                 {KORVANE_MB_YESALLNOALL | MB_DEFBUTTON2, IDOK},
                 {KORVANE_MB_ABORTIGNOREALL | MB_SETFOREGROUND, IDABORT}};
    for (const auto& t : types) {
        DialogScript script;
        bool choiceBox = true;
        script.Expect("Standard", [&](HWND dialog) {
            choiceBox = ::GetDlgItem(dialog, IDC_CHOICE_B5) != nullptr;
            Click(dialog, t.button);
        });
        EXPECT_EQ(t.button, ChoiceMessageBox(nullptr, "Plain?", "Standard", t.type)) << t.type;
        EXPECT_FALSE(choiceBox) << t.type;
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
