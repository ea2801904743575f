#include "ChoiceRules.h"

bool GetChoiceButtons(UINT type, ChoiceButtons* buttons) {
    switch (type) {
    case MB_YESALLNOALL:
        *buttons = {{"&Yes", "Yes &All", "&No", "No A&ll", nullptr, nullptr},
                    {IDYES, IDYESALL, IDNO, IDNOALL, 0}};
        return true;
    case MB_YESALLNOALLCANCEL:
        *buttons = {{"&Yes", "Yes &All", "&No", "No A&ll", "&Cancel", nullptr},
                    {IDYES, IDYESALL, IDNO, IDNOALL, IDCANCEL}};
        return true;
    case MB_ABORTIGNOREALL:
        *buttons = {{"&Abort", "&Ignore", "Ignore A&ll", nullptr, nullptr, nullptr},
                    {IDABORT, IDIGNORE, IDIGNOREALL, 0, 0}};
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
    case MB_ABORTIGNOREALL: return IDABORT;
    case MB_YESALLNOALLCANCEL: return IDCANCEL;
    default: return IDNO;  // neither overwrites nor goes on
    }
}

int ToAllAnswer(int plainAnswer) {
    switch (plainAnswer) {
    case IDIGNORE: return IDIGNOREALL;
    case IDYES: return IDYESALL;
    case IDNO: return IDNOALL;
    default: return 0;
    }
}

int StickyAnswer(BOOL* sticky1, int answer1, BOOL* sticky2, int answer2,
                 const std::function<int()>& ask) {
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
