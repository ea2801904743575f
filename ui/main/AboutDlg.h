// The About box: icon, name, version and a short notice.
#pragma once

#include "framework/Framework.h"

class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(CWnd* parent = nullptr);
    ~CAboutDlg() override;

protected:
    DECLARE_MESSAGE_MAP()
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    // F1 shows nothing here.
    BOOL OnHelpInfo(HELPINFO* info);

    CStatic m_version;
    CStatic m_title;
    // Created in OnInitDialog, deleted with the object, after the window is gone.
    CFont m_titleFont;
    CFont m_versionFont;
};
