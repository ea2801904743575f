#include "AboutDlg.h"

#include "res/resource.h"

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
    ON_WM_HELPINFO()
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg(CWnd* parent) : CDialog(IDD_ABOUT, parent) {}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_ABOUT_VERSION, m_version);
    DDX_Control(pDX, IDC_ABOUT_TITLE, m_title);
}

BOOL CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // A font that cannot be created leaves a null handle: the static then uses the system font.
    LOGFONTA title = DialogFontDescription("Arial", -21, FW_BOLD, OUT_STROKE_PRECIS, 255);
    m_titleFont.CreateFontIndirect(&title);
    m_title.SetFont(&m_titleFont, TRUE);
    LOGFONTA version = DialogFontDescription("Arial", -19, FW_BOLD, OUT_STROKE_PRECIS);
    m_versionFont.CreateFontIndirect(&version);
    m_version.SetFont(&m_versionFont, TRUE);
    return TRUE;
}

BOOL CAboutDlg::OnHelpInfo(HELPINFO*) {
    return FALSE;
}
