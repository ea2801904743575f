// CWinApp: the application object. Exactly one exists, constructed statically; the
// framework's WinMain calls its InitInstance and then ends the process: there is no
// message loop outside the modal dialogs.
#pragma once

#include "framework/String.h"
#include "framework/Wnd.h"

class CWinApp : public CCmdTarget {
public:
    // A null name means the executable's file name without its extension.
    explicit CWinApp(const char* appName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    // The process's exit code, asked once InitInstance has returned.
    virtual int ExitInstance();

    // Asks for three-dimensional dialog controls. Windows 4 and later draw them that way
    // already, so this does nothing there; the result is TRUE.
    BOOL Enable3dControlsStatic();

    // AfxMessageBox: owned by the main window's active popup, captioned with the
    // application's name; MB_OK and MB_OKCANCEL boxes get the exclamation icon.
    int DoMessageBox(const char* text, UINT type);

    // The application's help command handler (map it with ON_COMMAND(ID_HELP, OnHelp)).
    void OnHelp();

    // True when the application's message map handles ID_HELP.
    bool HelpEnabled() const;

    CWnd* m_pMainWnd = nullptr;
    CString m_strAppName;       // caption of the framework's message boxes
    CString m_strHelpFilePath;  // the executable's path with the extension ".HLP"
    HINSTANCE m_hInstance = nullptr;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
int AfxMessageBox(const char* text, UINT type = MB_OK);

// The window that a dialog or message box without an explicit owner is given: the
// main window's most recently active popup, or null when there is no main window.
HWND AfxGetSafeOwner();

// The framework's entry point, called by WinMain: runs the application object.
int AfxWinMain(HINSTANCE instance);
