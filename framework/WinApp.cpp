#include "framework/WinApp.h"

#include <windows.h>

namespace {

CWinApp* g_app = nullptr;

CString ModulePath() {
    CString path;
    for (DWORD size = MAX_PATH;; size *= 2) {
        char* buffer = path.GetBuffer(static_cast<int>(size));
        DWORD got = ::GetModuleFileNameA(nullptr, buffer, size);
        if (got < size) {
            path.ReleaseBuffer(static_cast<int>(got));
            return path;
        }
    }
}

}  // namespace

CWinApp::CWinApp(const char* appName) {
    g_app = this;
    m_hInstance = ::GetModuleHandleA(nullptr);
    CString path = ModulePath();
    int nameStart = path.ReverseFind('\\') + 1;
    int dot = path.ReverseFind('.');
    if (appName) {
        m_strAppName = appName;
    } else {
        CString name = path.Mid(nameStart);
        int nameDot = name.ReverseFind('.');
        m_strAppName = nameDot >= 0 ? name.Left(nameDot) : name;
    }
    m_strHelpFilePath = (dot > nameStart ? path.Left(dot) : path) + ".HLP";
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::ExitInstance() {
    return 0;
}

// Start-up asks for the three-dimensional control look first, as programs of its kind always
// have. Every Windows since 95 (major version 4) draws dialog controls that way by itself, so
// there is nothing left to do; the step stays so that start-up reads in its documented order.
BOOL CWinApp::Enable3dControlsStatic() {
    return TRUE;
}

int CWinApp::DoMessageBox(const char* text, UINT type) {
    if ((type & MB_ICONMASK) == 0) {
        switch (type & MB_TYPEMASK) {
        case MB_OK:
        case MB_OKCANCEL:
            type |= MB_ICONEXCLAMATION;
            break;
        case MB_YESNO:
        case MB_YESNOCANCEL:
            type |= MB_ICONQUESTION;
            break;
        default:
            break;
        }
    }
    return ::MessageBoxA(AfxGetSafeOwner(), text, m_strAppName, type);
}

void CWinApp::OnHelp() {
    if (m_pMainWnd && m_pMainWnd->m_hWnd) m_pMainWnd->OnHelp();
}

bool CWinApp::HelpEnabled() const {
    return HandlesCommand(ID_HELP);
}

CWinApp* AfxGetApp() {
    return g_app;
}

CWnd* AfxGetMainWnd() {
    return g_app ? g_app->m_pMainWnd : nullptr;
}

int AfxMessageBox(const char* text, UINT type) {
    if (g_app) return g_app->DoMessageBox(text, type);
    return ::MessageBoxA(AfxGetSafeOwner(), text, "", type);
}

HWND AfxGetSafeOwner() {
    CWnd* mainWnd = AfxGetMainWnd();
    if (!mainWnd || !mainWnd->m_hWnd || !::IsWindow(mainWnd->m_hWnd)) return nullptr;
    HWND top = ::GetAncestor(mainWnd->m_hWnd, GA_ROOT);
    return ::GetLastActivePopup(top ? top : mainWnd->m_hWnd);
}

int AfxWinMain(HINSTANCE instance) {
    CWinApp* app = AfxGetApp();
    if (!app) return 1;
    app->m_hInstance = instance;
    // Every window of ours is a modal dialog run from InitInstance, so there is no message
    // loop here: whatever InitInstance answers, the process ends when it returns.
    app->InitInstance();
    return app->ExitInstance();
}
