#include "ui/batch/ProgressDlg.h"

#include "engine/Conversion.h"
#include "res/resource.h"
#include "ui/batch/ChoiceDlg.h"
#include "ui/batch/ChoiceRules.h"
#include "ui/batch/FitPathToLabel.h"
#include "ui/batch/OutputNaming.h"
#include "ui/batch/ProgressMath.h"

#include "framework/CaughtException.h"

namespace {

const char* const g_spinnerTexts[4] = {"/", "--", "\\", "|"};

const UINT_PTR kSpinnerTimerId = 999;
const UINT kSpinnerInterval = 100;

// Shown in the error question when the engine gives no reason of its own, for instance
// when it refuses to start because a conversion is still running.
const char kNoFailureText[] = "The conversion could not be started.";

bool PathExists(const char* path) {
    WIN32_FIND_DATAA found;
    const ScopedFind search(::FindFirstFileA(path, &found));
    return static_cast<bool>(search);
}

}  // namespace

BEGIN_MESSAGE_MAP(CProgressDlg, CDialog)
    ON_WM_DESTROY()
    ON_WM_CLOSE()
    ON_MESSAGE(WM_CONVERSION_PROGRESS, OnConversionProgress)
    ON_MESSAGE(WM_CONVERSION_DONE, OnConversionDone)
END_MESSAGE_MAP()

CProgressDlg::CProgressDlg(CStringArray* files, const CString* outputFolder, CWnd* parent)
    : CDialog(IDD_PROGRESS, parent),
      m_pFiles(files),
      m_pOutputFolder(outputFolder),
      m_hCancelEvent(::CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

CProgressDlg::~CProgressDlg() = default;

void CProgressDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDCANCEL, m_cancelButton);
    DDX_Control(pDX, IDC_OVERALL_TEXT, m_overallText);
    DDX_Control(pDX, IDC_SOURCE_PATH, m_sourcePath);
    DDX_Control(pDX, IDC_SPINNER, m_spinner);
    DDX_Control(pDX, IDC_FILE_TEXT, m_fileText);
    DDX_Control(pDX, IDC_OVERALL_PROGRESS, m_overallProgress);
    DDX_Control(pDX, IDC_FILE_PROGRESS, m_fileProgress);
}

BOOL CProgressDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    StepSpinner();
    StartSpinner();

    m_fileProgress.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    const int count = m_pFiles->GetSize();
    const unsigned overallMax = OverallRangeMax(count);
    if (OverallRangeNeeds32Bits(count))
        m_overallProgress.SendMessage(PBM_SETRANGE32, 0, static_cast<LPARAM>(overallMax));
    else
        m_overallProgress.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, static_cast<WORD>(overallMax)));

    LOGFONTA font = DialogFontDescription("MS Sans Serif", -11, FW_SEMIBOLD);
    if (m_labelFont.CreateFontIndirect(&font)) {
        m_fileText.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(m_labelFont.GetSafeHandle()), TRUE);
        m_overallText.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(m_labelFont.GetSafeHandle()), TRUE);
    }

    m_nCurrent = -1;
    OnConversionDone(0, 0);
    return TRUE;
}

LRESULT CProgressDlg::OnConversionProgress(WPARAM wParam, LPARAM) {
    const int percent = static_cast<int>(wParam);
    const int position = OverallPosition(m_nCurrent, percent);
    const unsigned overallMax = static_cast<unsigned>(m_overallProgress.SendMessage(PBM_GETRANGE, FALSE, 0));

    m_fileProgress.SendMessage(PBM_SETPOS, static_cast<WPARAM>(percent));
    m_overallProgress.SendMessage(PBM_SETPOS, static_cast<WPARAM>(position));
    CString text;
    text.Format("Conversion Progress: %i%%", OverallPercent(position, overallMax));
    m_overallText.SetWindowText(text);
    text.Format("File %i of %i: %i%%", m_nCurrent + 1, m_pFiles->GetSize(), percent);
    m_fileText.SetWindowText(text);
    return 0;
}

void CProgressDlg::StepSpinner() {
    m_nSpinner = (m_nSpinner + 1) % 4;
    m_spinner.SetWindowText(g_spinnerTexts[m_nSpinner]);
}

void CProgressDlg::StartSpinner() {
    m_nTimer =
        static_cast<UINT>(SetTimer(kSpinnerTimerId, kSpinnerInterval, &CProgressDlg::SpinnerTimerProc));
}

void CProgressDlg::StopSpinner() {
    KillTimer(m_nTimer);
}

void CALLBACK CProgressDlg::SpinnerTimerProc(HWND hWnd, UINT, UINT_PTR, DWORD) {
    try {
        if (auto* dialog = dynamic_cast<CProgressDlg*>(CWnd::FromHandlePermanent(hWnd)))
            dialog->StepSpinner();
    } catch (...) {
        // A missed spinner step is harmless; nothing may leave a timer callback.
        ::fw::TraceCaughtException("the spinner's timer");
    }
}

LRESULT CProgressDlg::OnConversionDone(WPARAM wParam, LPARAM) {
    if (m_bAskingCancel) {
        m_bDeferredDone = TRUE;
        m_wDeferredDone = wParam;
        return 0;
    }

    const int count = m_pFiles->GetSize();
    if (wParam == CONVERSION_COMPLETED) {
        if (m_nCurrent < count - 1) {
            ++m_nCurrent;
            OnConversionProgress(0, 0);
        } else {
            OnConversionProgress(100, 0);
            ++m_nCurrent;
        }
    } else if (wParam == CONVERSION_FAILED) {
        HandleFailedFile();
        return 0;
    } else {
        CString text;
        text.Format(
            "Conversion did not finish for the file\r\n%s\r\n\r\nDo you want to keep the partial output?",
            static_cast<const char*>(m_strSource));
        if (AskSticky(text, "Keep partial output file?", MB_YESNO, nullptr, 0, nullptr, 0) == IDNO)
            ::DeleteFileA(m_strOutput);
        EndBatch();
        return 0;
    }

    if (m_bCancelled) {
        EndBatch();
        return 0;
    }
    if (m_nCurrent >= count) {
        OnOK();
        return 0;
    }
    HandleCurrentFile();
    return 0;
}

void CProgressDlg::HandleFailedFile() {
    // What the dump wrote before the failure is no valid MPEG, and the user never chose to
    // keep it.
    ::DeleteFileA(m_strOutput);
    // The user has already asked to stop: no question, and the file stays in the list.
    if (m_bCancelled) {
        EndBatch();
        return;
    }
    AskAboutFailure(GetConversionFailureText());
}

// Only Abort ends the batch: whatever else comes back, no conversion runs that could post a
// completion, so the file is passed over.
void CProgressDlg::AskAboutFailure(const char* failure) {
    CString text;
    text.Format("An error occurred converting\r\n%s:\r\n\r\n%s", static_cast<const char*>(m_strSource),
                failure && *failure ? failure : kNoFailureText);
    if (AskSticky(text, "Error Converting!", KORVANE_MB_ABORTIGNOREALL, &m_bIgnoreAllErrors, IDIGNORE,
                  nullptr, 0) == IDABORT)
        EndBatch();
    else
        SkipCurrentFile();
}

void CProgressDlg::HandleCurrentFile() {
    m_strSource = m_pFiles->GetAt(m_nCurrent);
    FitPathToLabel(&m_sourcePath, m_strSource);

    CString text;
    if (!HasTiVoExtension(m_strSource.str())) {
        text.Format("The file %s is not a TiVo movie file.", static_cast<const char*>(m_strSource));
        const int answer = AskSticky(text, "Source file isn't a TiVo file!", KORVANE_MB_ABORTIGNOREALL,
                                     &m_bIgnoreAllNotTiVo, IDIGNORE, nullptr, 0);
        if (answer == IDABORT) {
            EndBatch();
            return;
        }
        if (answer == IDIGNORE) {
            SkipCurrentFile();
            return;
        }
    }

    const OutputName name =
        MakeOutputName(m_strSource.str(), m_pOutputFolder ? &m_pOutputFolder->str() : nullptr);
    m_strOutput = name.output.c_str();
    if (PathExists(m_strOutput)) {
        text.Format("%s\r\nFolder already contains An MPG file for\r\n%s\r\n\r\nOverwrite existing MPG file?",
                    name.folder.c_str(), name.name.c_str());
        const int answer = AskSticky(text, "Overwrite File?", KORVANE_MB_YESALLNOALLCANCEL,
                                     &m_bYesAllOverwrite, IDYES, &m_bNoAllOverwrite, IDNO);
        if (answer == IDCANCEL) {
            EndBatch();
            return;
        }
        if (answer == IDNO) {
            SkipCurrentFile();
            return;
        }
    }

    const char* failure = nullptr;
    if (StartConversion(m_strSource, m_strOutput, m_hWnd, m_hCancelEvent.Get(), 1, &failure)) return;
    AskAboutFailure(failure);
}

void CProgressDlg::SkipCurrentFile() {
    PostMessage(WM_CONVERSION_DONE, CONVERSION_COMPLETED, 0);
}

void CProgressDlg::EndBatch() {
    EndDialog(IDCANCEL);
}

int CProgressDlg::AskSticky(const char* text, const char* caption, UINT type, BOOL* pSticky1, int nAnswer1,
                            BOOL* pSticky2, int nAnswer2) {
    return StickyAnswer(pSticky1, nAnswer1, pSticky2, nAnswer2,
                        [&] { return ChoiceMessageBox(m_hWnd, text, caption, type); });
}

void CProgressDlg::OnCancel() {
    // The question is already on screen: a close or Escape that was queued before it opened
    // must not stack a second one, whose end would clear m_bAskingCancel under the first and
    // let a completion through before the user has answered.
    if (m_bAskingCancel) return;
    m_bAskingCancel = TRUE;
    if (MessageBox("Are you sure you want to cancel the conversion process?", "Really Cancel?",
                   MB_YESNO | MB_ICONQUESTION) == IDYES) {
        if (m_hCancelEvent) ::SetEvent(m_hCancelEvent.Get());
        m_bCancelled = TRUE;
        m_cancelButton.EnableWindow(FALSE);
        ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
        StopSpinner();
    }
    m_bAskingCancel = FALSE;
    if (m_bDeferredDone) {
        m_bDeferredDone = FALSE;
        OnConversionDone(m_wDeferredDone, 0);
    }
}

void CProgressDlg::OnOK() {
    if (m_nCurrent >= m_pFiles->GetSize()) CDialog::OnOK();
}

void CProgressDlg::OnClose() {
    OnCancel();
}

void CProgressDlg::OnDestroy() {
    StopSpinner();
    Default();
}
