#include "app/ConverterApp.h"

#include "ui/main/ConverterDlg.h"
#include "win32/Scoped.h"

#include <objbase.h>

// Handling ID_HELP here is also what shows the main window's "&Help" button.
BEGIN_MESSAGE_MAP(CConverterApp, CWinApp)
    ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

CConverterApp::CConverterApp() : CWinApp(nullptr) {}

CConverterApp::~CConverterApp() = default;

BOOL CConverterApp::InitInstance() {
    Enable3dControlsStatic();
    {
        CConverterDlg dlg;
        m_pMainWnd = &dlg;
        // The folder browser and the conversion engine build COM objects on this thread
        // while the main window is open, and only then. Without an apartment the window still
        // opens: both report their own failure to create anything.
        {
            const ScopedComApartment apartment;
            dlg.DoModal();
        }
        m_pMainWnd = nullptr;
    }
    return FALSE;
}
