// The question box: a text and up to five answer buttons whose captions and answers are
// chosen per question, called like the standard message box.
#pragma once

#include "ui/batch/ChoiceRules.h"
#include "framework/Framework.h"

class CChoiceDlg : public CDialog {
public:
    // Borrows all four pointers until the modal run has ended. captions ends with a null
    // pointer; results has one answer per caption.
    CChoiceDlg(const char* text, const char* caption, const char* const* captions, const int* results,
               CWnd* parent = nullptr);
    ~CChoiceDlg() override;

    // The answer of the pressed button; 0 while none has been pressed.
    int GetResult() const { return m_nResult; }
    void OnChoice(int index);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // Escape is refused like the close box: the question stays until a button answers it.
    void OnCancel() override;

    void OnButton1();
    void OnButton2();
    void OnButton3();
    void OnButton4();
    void OnButton5();
    void OnClose();
    BOOL OnHelpInfo(HELPINFO* info);

    CStatic m_text;
    CButton m_buttons[5];
    int m_nResult = 0;
    const int* m_pResults;
    const char* const* m_pCaptions;
    const char* m_pszText;
    const char* m_pszCaption;

    DECLARE_MESSAGE_MAP()
};

// The three KORVANE_MB_ types show the question box and return one of that type's answers (when the
// box cannot be shown at all: the answer that stops the batch, see ChoiceAnswerWithoutButton);
// every other type is MessageBoxA's.
int ChoiceMessageBox(HWND owner, const char* text, const char* caption, UINT type);
