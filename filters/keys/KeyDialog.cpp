#include "KeyDialog.h"

#include "KeyDialogIds.h"
#include "KeyStore.h"
#include "MediaAccessKeyText.h"
#include "Factories.h"

namespace korvane::filters {
namespace {

const wchar_t kNotTenDigits[] = L"A Media Access Key has 10 digits (spaces and dashes may stay in).";
const wchar_t kDoesNotFit[] = L"This key does not open the recording. Check the 10 digits and try again.";
const wchar_t kManageText[] =
    L"Stored keys are tried on every encrypted recording; the one that fits is used.";
const wchar_t kStoreFailed[] = L"The key could not be stored in the registry.";

enum class Mode { AskForFile, Manage };

struct DialogState {
    Mode mode;
    std::wstring fileName;
    const KeyFits* fits;
    std::string accepted;
};

std::wstring ItemText(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(item, &text[0], static_cast<int>(text.size()))));
    return text;
}

void ShowMessage(HWND dialog, const wchar_t* text) {
    SetDlgItemTextW(dialog, IDC_KEY_MESSAGE, text);
    HWND edit = GetDlgItem(dialog, IDC_KEY_EDIT);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SetFocus(edit);
}

void FillStoredList(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_KEY_STORED);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (const auto& key : StoredKeys()) {
        std::wstring text(key.begin(), key.end());
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    EnableWindow(GetDlgItem(dialog, IDC_KEY_FORGET), SendMessageW(list, LB_GETCOUNT, 0, 0) > 0);
}

// The asking dialog has no list of stored keys: the buttons move up over the list and the
// dialog shrinks by the same height.
void DropStoredKeysPart(HWND dialog) {
    for (int id : {IDC_KEY_STORED_LABEL, IDC_KEY_STORED, IDC_KEY_FORGET})
        ShowWindow(GetDlgItem(dialog, id), SW_HIDE);
    RECT label, ok;
    GetWindowRect(GetDlgItem(dialog, IDC_KEY_STORED_LABEL), &label);
    GetWindowRect(GetDlgItem(dialog, IDOK), &ok);
    const int lift = ok.top - label.top;
    for (int id : {IDOK, IDCANCEL}) {
        HWND button = GetDlgItem(dialog, id);
        RECT r;
        GetWindowRect(button, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        SetWindowPos(button, nullptr, r.left, r.top - lift, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT whole;
    GetWindowRect(dialog, &whole);
    SetWindowPos(dialog, nullptr, 0, 0, whole.right - whole.left, whole.bottom - whole.top - lift,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void InitDialog(HWND dialog, DialogState* state) {
    SendDlgItemMessageW(dialog, IDC_KEY_EDIT, EM_LIMITTEXT, 32, 0);
    if (state->mode == Mode::AskForFile) {
        std::wstring text = L"Recording: " + state->fileName;
        SetDlgItemTextW(dialog, IDC_KEY_FILE, text.c_str());
        CheckDlgButton(dialog, IDC_KEY_REMEMBER, BST_CHECKED);
        DropStoredKeysPart(dialog);
    } else {
        SetDlgItemTextW(dialog, IDC_KEY_FILE, kManageText);
        ShowWindow(GetDlgItem(dialog, IDC_KEY_REMEMBER), SW_HIDE);
        SetDlgItemTextW(dialog, IDOK, L"&Add");
        SetDlgItemTextW(dialog, IDCANCEL, L"Close");
        FillStoredList(dialog);
    }
    SetFocus(GetDlgItem(dialog, IDC_KEY_EDIT));
}

void OnOk(HWND dialog, DialogState* state) {
    std::string digits;
    if (!ParseMediaAccessKey(ItemText(dialog, IDC_KEY_EDIT), &digits)) {
        ShowMessage(dialog, kNotTenDigits);
        return;
    }
    if (state->mode == Mode::Manage) {
        if (FAILED(RememberKey(digits))) {
            ShowMessage(dialog, kStoreFailed);
            return;
        }
        SetDlgItemTextW(dialog, IDC_KEY_EDIT, L"");
        SetDlgItemTextW(dialog, IDC_KEY_MESSAGE, L"");
        FillStoredList(dialog);
        return;
    }
    if (!(*state->fits)(digits)) {
        ShowMessage(dialog, kDoesNotFit);
        return;
    }
    // The key opens the file whether or not it could be stored; a failed store only means
    // being asked again next time.
    if (IsDlgButtonChecked(dialog, IDC_KEY_REMEMBER) == BST_CHECKED) RememberKey(digits);
    state->accepted = digits;
    EndDialog(dialog, IDOK);
}

void OnForget(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_KEY_STORED);
    LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR) return;
    wchar_t text[64] = {};
    if (SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(selected), 0) >= 64) return;
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(text));
    std::wstring wide(text);
    ForgetKey(std::string(wide.begin(), wide.end()));
    FillStoredList(dialog);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
        switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            InitDialog(dialog, reinterpret_cast<DialogState*>(lParam));
            return FALSE;  // focus set on the key field
        case WM_COMMAND:
            if (!state) return FALSE;
            switch (LOWORD(wParam)) {
            case IDOK:
                OnOk(dialog, state);
                return TRUE;
            case IDCANCEL:
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            case IDC_KEY_FORGET:
                OnForget(dialog);
                return TRUE;
            }
            return FALSE;
        }
    } catch (...) {
        // Out of memory inside a handler: give up the dialog as if cancelled.
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

bool AskForMediaAccessKey(HWND owner, const std::wstring& fileName, const KeyFits& fits,
                          std::string* digits) {
    DialogState state{Mode::AskForFile, fileName, &fits, {}};
    INT_PTR result = DialogBoxParamW(g_module, MAKEINTRESOURCEW(IDD_MEDIA_ACCESS_KEY), owner, &DialogProc,
                                     reinterpret_cast<LPARAM>(&state));
    if (result != IDOK) return false;
    *digits = state.accepted;
    return true;
}

void ManageMediaAccessKeys(HWND owner) {
    const KeyFits none;
    DialogState state{Mode::Manage, {}, &none, {}};
    DialogBoxParamW(g_module, MAKEINTRESOURCEW(IDD_MEDIA_ACCESS_KEY), owner, &DialogProc,
                    reinterpret_cast<LPARAM>(&state));
}

}  // namespace korvane::filters
