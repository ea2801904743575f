// The question box's button sets and the remembered "all" answers, apart from any window.
#pragma once

#include <windows.h>

#include <functional>

// Box types of the question box; every other type goes to the standard message box. They
// are ours, not Win32's (16 is also MB_ICONHAND there), hence the prefix: a type is one of
// these exactly, never combined with MB_ flags.
constexpr UINT KORVANE_MB_YESALLNOALL = 16;
constexpr UINT KORVANE_MB_YESALLNOALLCANCEL = 17;
constexpr UINT KORVANE_MB_ABORTIGNOREALL = 18;

// Answers beside the standard IDYES, IDNO, IDIGNORE, ...; ours too, numbered past Win32's.
constexpr int KORVANE_IDYESALL = 29;
constexpr int KORVANE_IDNOALL = 30;
constexpr int KORVANE_IDIGNOREALL = 31;

struct ChoiceButtons {
    const char* captions[6];  // in button order, ended by a null pointer
    int answers[5];
};

// The buttons of the three KORVANE_MB_ types; false for any other type.
bool GetChoiceButtons(UINT type, ChoiceButtons* buttons);

// How far the shown buttons move right so that they sit centred under the text, from the
// right edge of the fifth button and that of the last shown one.
int ChoiceButtonShift(int rightOfFifth, int rightOfLastShown);

// The answer when the box ends without a button: the one that ends the batch safely.
int ChoiceAnswerWithoutButton(UINT type);

// The to-all code that goes with a plain answer (IDIGNORE, IDYES, IDNO), or 0.
int ToAllAnswer(int plainAnswer);

// Two remembered answers in front of a question: a set flag answers at once; a to-all
// answer sets its flag and comes back as the plain answer. Null flags take no part.
int StickyAnswer(BOOL* sticky1, int answer1, BOOL* sticky2, int answer2, const std::function<int()>& ask);
