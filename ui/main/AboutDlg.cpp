#include "AboutDlg.h"

#include "res/resource.h"

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
    ON_WM_HELPINFO()
END_MESSAGE_MAP()

namespace {

LOGFONTA ArialBold(LONG height, BYTE italic) {
    LOGFONTA font{};
    font.lfHeight = height;
    font.lfWeight = FW_BOLD;
    font.lfItalic = italic;
    font.lfCharSet = ANSI_CHARSET;
    font.lfOutPrecision = OUT_STROKE_PRECIS;
    font.lfClipPrecision = CLIP_STROKE_PRECIS;
    font.lfQuality = DRAFT_QUALITY;
    font.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    lstrcpynA(font.lfFaceName, "Arial", LF_FACESIZE);
    return font;
}

}  // namespace

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
    LOGFONTA title = ArialBold(-21, 255);
    m_titleFont.CreateFontIndirect(&title);
    m_title.SetFont(&m_titleFont, TRUE);
    LOGFONTA version = ArialBold(-19, 0);
    m_versionFont.CreateFontIndirect(&version);
    m_version.SetFont(&m_versionFont, TRUE);
    return TRUE;
}

BOOL CAboutDlg::OnHelpInfo(HELPINFO*) {
    return FALSE;
}
