// The main window's frame: template, data exchange, system menu, icon, fonts and closing.
#include "ui/main/ConverterDlg.h"

#include "AboutDlg.h"
#include "res/resource.h"
#include "ui/main/OutputOptions.h"
#include "ui/main/SourceList.h"

BEGIN_MESSAGE_MAP(CConverterDlg, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_BN_CLICKED(IDC_ADD, OnAdd)
    ON_BN_CLICKED(IDC_REMOVE, OnRemove)
    ON_NOTIFY(LVN_ITEMCHANGED, IDC_FILE_LIST, OnItemChangedFileList)
    ON_BN_CLICKED(IDC_EXIT, OnExit)
    ON_WM_CLOSE()
    ON_BN_CLICKED(IDC_BROWSE, OnBrowse)
    ON_BN_CLICKED(IDC_SAME_FOLDER, OnSameFolder)
END_MESSAGE_MAP()

CConverterDlg::CConverterDlg(CWnd* parent)
    : CDialog(IDD_CONVERTER, parent),
      m_bSameFolder(FALSE),
      m_hIcon(::LoadIconA(AfxGetApp() ? AfxGetApp()->m_hInstance : ::GetModuleHandleA(nullptr),
                          MAKEINTRESOURCEA(IDI_CONVERTER))) {}

CConverterDlg::~CConverterDlg() = default;

void CConverterDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_OUTPUT_FOLDER, m_editOutputFolder);
    DDX_Control(pDX, IDC_OUTPUT_FOLDER_LABEL, m_labelOutputFolder);
    DDX_Control(pDX, IDC_OUTPUT_GROUP, m_groupOutput);
    DDX_Control(pDX, IDC_INPUT_GROUP, m_groupInput);
    DDX_Control(pDX, IDC_BROWSE, m_btnBrowse);
    DDX_Control(pDX, IDC_REMOVE, m_btnRemove);
    DDX_Control(pDX, IDC_FILE_LIST, m_listFiles);
    DDX_Text(pDX, IDC_COUNT_LABEL, m_strCount);
    DDX_Check(pDX, IDC_SAME_FOLDER, m_bSameFolder);
}

BOOL CConverterDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    if (HMENU systemMenu = GetSystemMenu(FALSE)) {
        ::AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuA(systemMenu, MF_STRING, IDM_ABOUT, "&About Korvane...");
        ::AppendMenuA(systemMenu, MF_STRING, IDM_HELP, "&Help\tF1");
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_listFiles.InsertColumn(0, "File Name", LVCFMT_LEFT, 130);
    m_listFiles.InsertColumn(1, "Path", LVCFMT_LEFT, 120);
    m_listFiles.InsertColumn(2, "Size", LVCFMT_RIGHT, 100);

    m_editOutputFolder.SetWindowText(GetCurrentDir());

    // Semi-bold caption of the two group boxes.
    LOGFONTA groupFont = DialogFontDescription("MS Sans Serif", -11, 600);
    m_groupFont.CreateFontIndirect(&groupFont);
    m_groupInput.SetFont(&m_groupFont, TRUE);
    m_groupOutput.SetFont(&m_groupFont, TRUE);

    m_strCount = FormatCountText(m_listFiles);
    m_bSameFolder = TRUE;
    UpdateData(FALSE);
    return TRUE;
}

void CConverterDlg::OnCancel() {}

void CConverterDlg::OnSysCommand(UINT command, LPARAM) {
    switch (command & 0xFFF0) {
    case IDM_ABOUT: {
        CAboutDlg about;
        about.DoModal();
        break;
    }
    case IDM_HELP:
        SendMessage(WM_COMMAND, ID_HELP);
        break;
    default:
        Default();
        break;
    }
}

void CConverterDlg::OnPaint() {
    if (!IsIconic()) {
        Default();
        return;
    }
    ScopedPaintDC dc(m_hWnd);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.get()), 0);
    int iconWidth = ::GetSystemMetrics(SM_CXICON);
    int iconHeight = ::GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(&client);
    int x = (client.right - client.left - iconWidth + 1) / 2;
    int y = (client.bottom - client.top - iconHeight + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
}

HCURSOR CConverterDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

void CConverterDlg::OnExit() {
    CDialog::OnCancel();
}

void CConverterDlg::OnClose() {
    CDialog::OnCancel();
}

void CConverterDlg::RefreshListState() {
    AutoSizeColumns(m_listFiles);
    m_strCount = FormatCountText(m_listFiles);
    UpdateData(FALSE);
    UpdateRemoveButton();
}

void CConverterDlg::UpdateRemoveButton() {
    m_btnRemove.EnableWindow(m_listFiles.GetNextItem(-1, LVNI_SELECTED) >= 0);
}
