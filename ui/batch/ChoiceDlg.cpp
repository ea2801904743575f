#include "ui/batch/ChoiceDlg.h"

#include "res/resource.h"

namespace {

const int kButtonIds[5] = {IDC_CHOICE_B1, IDC_CHOICE_B2, IDC_CHOICE_B3, IDC_CHOICE_B4, IDC_CHOICE_B5};

RECT PlacementOf(const CWnd& control) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    ::GetWindowPlacement(control.GetSafeHwnd(), &placement);
    return placement.rcNormalPosition;
}

}  // namespace

BEGIN_MESSAGE_MAP(CChoiceDlg, CDialog)
    ON_BN_CLICKED(IDC_CHOICE_B1, OnButton1)
    ON_BN_CLICKED(IDC_CHOICE_B2, OnButton2)
    ON_BN_CLICKED(IDC_CHOICE_B3, OnButton3)
    ON_BN_CLICKED(IDC_CHOICE_B4, OnButton4)
    ON_BN_CLICKED(IDC_CHOICE_B5, OnButton5)
    ON_WM_CLOSE()
    ON_WM_HELPINFO()
END_MESSAGE_MAP()

CChoiceDlg::CChoiceDlg(const char* text, const char* caption, const char* const* captions, const int* results,
                       CWnd* parent)
    : CDialog(IDD_CHOICE, parent),
      m_pResults(results),
      m_pCaptions(captions),
      m_pszText(text),
      m_pszCaption(caption) {}

CChoiceDlg::~CChoiceDlg() = default;

void CChoiceDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_CHOICE_TEXT, m_text);
    for (int i = 0; i < 5; ++i)
        DDX_Control(pDX, kButtonIds[i], m_buttons[i]);
}

BOOL CChoiceDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetWindowText(m_pszCaption);
    m_text.SetWindowText(m_pszText);

    int shown = 0;
    while (shown < 5 && m_pCaptions[shown]) {
        m_buttons[shown].SetWindowText(m_pCaptions[shown]);
        ++shown;
    }
    for (int i = shown; i < 5; ++i) {
        m_buttons[i].ShowWindow(SW_HIDE);
        m_buttons[i].EnableWindow(FALSE);
    }

    if (shown > 0) {
        const int shift =
            ChoiceButtonShift(PlacementOf(m_buttons[4]).right, PlacementOf(m_buttons[shown - 1]).right);
        for (int i = 0; i < shown; ++i) {
            const RECT r = PlacementOf(m_buttons[i]);
            m_buttons[i].MoveWindow(r.left + shift, r.top, r.right - r.left, r.bottom - r.top, TRUE);
        }
    }
    return TRUE;
}

void CChoiceDlg::OnChoice(int index) {
    m_nResult = m_pResults[index];
    CDialog::OnOK();
}

void CChoiceDlg::OnButton1() {
    OnChoice(0);
}
void CChoiceDlg::OnButton2() {
    OnChoice(1);
}
void CChoiceDlg::OnButton3() {
    OnChoice(2);
}
void CChoiceDlg::OnButton4() {
    OnChoice(3);
}
void CChoiceDlg::OnButton5() {
    OnChoice(4);
}

void CChoiceDlg::OnClose() {
    ::MessageBeep(MB_OK);
}

void CChoiceDlg::OnCancel() {
    ::MessageBeep(MB_OK);
}

BOOL CChoiceDlg::OnHelpInfo(HELPINFO*) {
    return FALSE;
}

int ChoiceMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    ChoiceButtons buttons;
    if (!GetChoiceButtons(type, &buttons)) return ::MessageBoxA(owner, text, caption, type);

    CChoiceDlg dialog(text, caption, buttons.captions, buttons.answers,
                      owner ? CWnd::FromHandle(owner) : nullptr);
    dialog.DoModal();
    const int answer = dialog.GetResult();
    return answer != 0 ? answer : ChoiceAnswerWithoutButton(type);
}
