// CDialog: a modal dialog run from a numbered template with DialogBoxParamA, and dialog
// data exchange (DDX_Control, DDX_Text, DDX_Check).
//
// The dialog procedure finds the object, calls OnInitDialog for WM_INITDIALOG and sends
// every other message through the class's message map; unhandled commands go on to the
// application's map. No exception leaves the dialog procedure: one that escapes a handler
// ends the dialog with -1 (what DoModal also returns when the dialog cannot be created).
#pragma once

#include "framework/Wnd.h"

#include <vector>

// Which way a data exchange runs.
enum class DataDirection {
    ToControls,    // members -> controls (UpdateData(FALSE))
    FromControls,  // controls -> members (UpdateData(TRUE))
};

class CDataExchange {
public:
    CDataExchange(CWnd* dlgWnd, DataDirection direction) : m_pDlgWnd(dlgWnd), m_direction(direction) {}
    bool Saving() const { return m_direction == DataDirection::FromControls; }

    CWnd* m_pDlgWnd;
    DataDirection m_direction;

    // The control's handle; a missing control is a template error and throws.
    HWND ControlHandle(int id) const;
};

// Binds the control object to the dialog's control `id` (once; later exchanges keep it).
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
// Window text of control `id` <-> value.
void DDX_Text(CDataExchange* pDX, int id, CString& value);
// Check state of check box `id` <-> value (BST_UNCHECKED 0, BST_CHECKED 1, BST_INDETERMINATE 2).
void DDX_Check(CDataExchange* pDX, int id, int& value);

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Runs the dialog; returns the EndDialog code, or -1 when it could not be created.
    // A dialog without a parent is owned by the application's main window (its most
    // recently active popup), if there is one.
    virtual INT_PTR DoModal();
    void EndDialog(int result);

    UINT GetTemplateId() const { return m_templateId; }

    // Exchanges data towards the controls, then shows the "&Help" button (ID_HELP) when
    // the application handles ID_HELP and hides it otherwise. Returns TRUE.
    virtual BOOL OnInitDialog();
    // Exchanges data from the controls, then ends the dialog with IDOK.
    virtual void OnOK();
    // Ends the dialog with IDCANCEL.
    virtual void OnCancel();

    // WM_COMMANDHELP: the dialog's help context, HID_BASE_RESOURCE + template number.
    LRESULT OnCommandHelp(WPARAM wParam, LPARAM lParam);

    // Called by DDX_Control: controls bound during this run, released when it ends.
    void RememberBoundControl(CWnd* control);

protected:
    CWnd* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void ReleaseControls();
    void CenterIfPlacedAtOrigin();

    UINT m_templateId;
    std::vector<CWnd*> m_boundControls;

    DECLARE_MESSAGE_MAP()
};
