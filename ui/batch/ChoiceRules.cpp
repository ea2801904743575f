#include "ui/batch/ChoiceRules.h"

bool GetChoiceButtons(UINT type, ChoiceButtons* buttons) {
    switch (type) {
    case KORVANE_MB_YESALLNOALL:
        *buttons = {{"&Yes", "Yes &All", "&No", "No A&ll", nullptr, nullptr},
                    {IDYES, KORVANE_IDYESALL, IDNO, KORVANE_IDNOALL, 0}};
        return true;
    case KORVANE_MB_YESALLNOALLCANCEL:
        *buttons = {{"&Yes", "Yes &All", "&No", "No A&ll", "&Cancel", nullptr},
                    {IDYES, KORVANE_IDYESALL, IDNO, KORVANE_IDNOALL, IDCANCEL}};
        return true;
    case KORVANE_MB_ABORTIGNOREALL:
        *buttons = {{"&Abort", "&Ignore", "Ignore A&ll", nullptr, nullptr, nullptr},
                    {IDABORT, IDIGNORE, KORVANE_IDIGNOREALL, 0, 0}};
        return true;
    default:
        return false;
    }
}

int ChoiceButtonShift(int rightOfFifth, int rightOfLastShown) {
    return (rightOfFifth - rightOfLastShown) / 2;
}

int ChoiceAnswerWithoutButton(UINT type) {
    switch (type) {
    case KORVANE_MB_ABORTIGNOREALL:
        return IDABORT;
    case KORVANE_MB_YESALLNOALLCANCEL:
        return IDCANCEL;
    default:
        return IDNO;  // neither overwrites nor goes on
    }
}

int ToAllAnswer(int plainAnswer) {
    switch (plainAnswer) {
    case IDIGNORE:
        return KORVANE_IDIGNOREALL;
    case IDYES:
        return KORVANE_IDYESALL;
    case IDNO:
        return KORVANE_IDNOALL;
    default:
        return 0;
    }
}

int StickyAnswer(BOOL* sticky1, int answer1, BOOL* sticky2, int answer2, const std::function<int()>& ask) {
    if (sticky1 && *sticky1) return answer1;
    if (sticky2 && *sticky2) return answer2;
    int r = ask();
    if (sticky1 && r != 0 && r == ToAllAnswer(answer1)) {
        *sticky1 = TRUE;
        r = answer1;
    }
    if (sticky2 && r != 0 && r == ToAllAnswer(answer2)) {
        *sticky2 = TRUE;
        return answer2;
    }
    return r;
}
