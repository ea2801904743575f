// The main window: a modal dialog that lives as long as the program.
#pragma once

#include "framework/Framework.h"

class CConverterDlg : public CDialog {
public:
    explicit CConverterDlg(CWnd* parent = nullptr);
    ~CConverterDlg() override;

protected:
    DECLARE_MESSAGE_MAP()
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;      // the Convert command (ConvertCommand.cpp)
    void OnCancel() override;  // empty: Escape must not close the main window

    // Frame
    void OnSysCommand(UINT command, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnExit();
    void OnClose();

    // Source list
    void OnAdd();
    void OnRemove();
    void OnItemChangedFileList(NMHDR* header, LRESULT* result);

    // Output options
    void OnSameFolder();
    void OnBrowse();

    // After the rows changed: fits the columns, shows the count and enables "&Remove"
    // exactly when rows are selected.
    void RefreshListState();
    void UpdateRemoveButton();

    CEdit m_editOutputFolder;
    CStatic m_labelOutputFolder;
    CButton m_groupOutput;
    CButton m_groupInput;
    CButton m_btnBrowse;
    CButton m_btnRemove;
    CListCtrl m_listFiles;
    CString m_strCount;
    BOOL m_bSameFolder;
    HICON m_hIcon;
    CFont m_groupFont;
};
