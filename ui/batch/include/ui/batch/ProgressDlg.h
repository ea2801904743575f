// The progress window: walks a batch of sources one file at a time, asks its questions,
// shows both bars, and tells its caller how far the batch got.
#pragma once

#include "framework/Framework.h"
#include "win32/Scoped.h"

class CProgressDlg : public CDialog {
public:
    // files (at least one) and outputFolder (null: each output beside its source) belong
    // to the caller and must outlive the window.
    CProgressDlg(CStringArray* files, const CString* outputFolder, CWnd* parent = nullptr);
    ~CProgressDlg() override;

    // How many files from the start of the batch it got through, converted or skipped.
    int GetCurrentIndex() const { return m_nCurrent; }

    // A question with up to two remembered "all" answers (flags may be null).
    int AskSticky(const char* text, const char* caption, UINT type, BOOL* pSticky1, int nAnswer1,
                  BOOL* pSticky2, int nAnswer2);

    // Display: the spinner and the two bars.
    LRESULT OnConversionProgress(WPARAM wParam, LPARAM lParam);
    void StepSpinner();
    void StartSpinner();
    void StopSpinner();
    static void CALLBACK SpinnerTimerProc(HWND hWnd, UINT message, UINT_PTR id, DWORD time);

    // The per-file state machine; also how a skipped file is passed over.
    LRESULT OnConversionDone(WPARAM wParam, LPARAM lParam);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // Asks whether to cancel; never closes the window itself.
    void OnCancel() override;
    // Ends the window only once the batch has got through its last file: Enter must not
    // end it while the engine still posts to it and waits on its event.
    void OnOK() override;

    void OnDestroy();
    void OnClose();

private:
    void HandleCurrentFile();
    void SkipCurrentFile();
    void EndBatch();
    void HandleFailedFile();
    // "Error Converting!" for the current file, with the engine's text.
    void AskAboutFailure(const char* failure);

    CStringArray* m_pFiles;
    const CString* m_pOutputFolder;
    int m_nCurrent = 0;
    UINT m_nTimer = 0;
    ScopedHandle m_hCancelEvent;  // set by OnCancel only; waited on by the engine's monitor thread
    BOOL m_bCancelled = FALSE;
    BOOL m_bAskingCancel = FALSE;
    BOOL m_bDeferredDone = FALSE;
    WPARAM m_wDeferredDone = 0;
    CString m_strSource;
    CString m_strOutput;
    int m_nSpinner = -1;
    BOOL m_bIgnoreAllNotTiVo = FALSE;
    BOOL m_bIgnoreAllErrors = FALSE;
    BOOL m_bYesAllOverwrite = FALSE;
    BOOL m_bNoAllOverwrite = FALSE;
    CButton m_cancelButton;
    CStatic m_overallText;
    CStatic m_sourcePath;
    CStatic m_spinner;
    CStatic m_fileText;
    CProgressCtrl m_overallProgress;
    CProgressCtrl m_fileProgress;
    CFont m_labelFont;

    DECLARE_MESSAGE_MAP()
};
