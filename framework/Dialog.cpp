#include "framework/Dialog.h"

#include "framework/CaughtException.h"
#include "HandleMap.h"
#include "framework/WinApp.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

// The dialog whose window DialogBoxParamA is creating: its first messages (WM_SETFONT)
// arrive before WM_INITDIALOG hands over the object.
thread_local CDialog* t_creating = nullptr;

// Messages whose result a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
    switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
        return true;
    default:
        return false;
    }
}

}  // namespace

HWND CDataExchange::ControlHandle(int id) const {
    HWND control = ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
    if (!control) throw std::logic_error("dialog data exchange: no control with id " + std::to_string(id));
    return control;
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (control.m_hWnd) return;
    control.Attach(pDX->ControlHandle(id));
    if (CDialog* dialog = dynamic_cast<CDialog*>(pDX->m_pDlgWnd)) dialog->RememberBoundControl(&control);
}

void DDX_Text(CDataExchange* pDX, int id, CString& value) {
    HWND control = pDX->ControlHandle(id);
    if (pDX->Saving()) {
        CWnd::FromHandle(control)->GetWindowText(value);
    } else {
        ::SetWindowTextA(control, value);
    }
}

void DDX_Check(CDataExchange* pDX, int id, int& value) {
    HWND control = pDX->ControlHandle(id);
    if (pDX->Saving()) {
        value = static_cast<int>(::SendMessageA(control, BM_GETCHECK, 0, 0));
    } else {
        ::SendMessageA(control, BM_SETCHECK, static_cast<WPARAM>(value), 0);
    }
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, OnOK)
    ON_COMMAND(IDCANCEL, OnCancel)
    ON_MESSAGE(WM_COMMANDHELP, OnCommandHelp)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : m_pParentWnd(parent), m_templateId(templateId) {}

// Bound controls are members of the derived class and already gone here; each of them
// left the handle map in its own destructor if it was still attached.
CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
    HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : AfxGetSafeOwner();
    HINSTANCE instance =
        AfxGetApp() && AfxGetApp()->m_hInstance ? AfxGetApp()->m_hInstance : ::GetModuleHandleA(nullptr);
    CDialog* outer = t_creating;
    t_creating = this;
    INT_PTR result = ::DialogBoxParamA(instance, MAKEINTRESOURCEA(m_templateId), owner, &CDialog::DialogProc,
                                       reinterpret_cast<LPARAM>(this));
    t_creating = outer;
    ReleaseControls();
    Detach();
    return result;
}

void CDialog::EndDialog(int result) {
    ::EndDialog(m_hWnd, result);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    if (HWND help = ::GetDlgItem(m_hWnd, ID_HELP)) {
        bool enabled = AfxGetApp() && AfxGetApp()->HelpEnabled();
        ::ShowWindow(help, enabled ? SW_SHOW : SW_HIDE);
    }
    return TRUE;
}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

LRESULT CDialog::OnCommandHelp(WPARAM, LPARAM lParam) {
    DWORD_PTR context = lParam ? static_cast<DWORD_PTR>(lParam) : HID_BASE_RESOURCE + m_templateId;
    CWnd* mainWnd = AfxGetMainWnd();
    (mainWnd && mainWnd->m_hWnd ? mainWnd : this)->WinHelp(context, HELP_CONTEXT);
    return TRUE;
}

void CDialog::RememberBoundControl(CWnd* control) {
    m_boundControls.push_back(control);
}

void CDialog::ReleaseControls() {
    for (CWnd* control : m_boundControls)
        control->Detach();
    m_boundControls.clear();
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    ::fw::HandlerScope scope;
    CDialog* dialog = dynamic_cast<CDialog*>(CWnd::FromHandlePermanent(hWnd));
    if (!dialog && t_creating && !t_creating->m_hWnd) {
        dialog = t_creating;
        dialog->Attach(hWnd);
    }
    if (!dialog) return FALSE;
    INT_PTR handled;
    try {
        handled = dialog->HandleMessage(message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the dialog manager: the dialog ends as if it could not run.
        ::fw::TraceCaughtException("a dialog procedure");
        ::EndDialog(hWnd, -1);
        handled = TRUE;
    }
    if (message == WM_NCDESTROY) {
        dialog->ReleaseControls();
        dialog->Detach();
    }
    return handled;
}

// A template placed at 0, 0 means "centred": over a visible owner, else on the owner's (or the
// primary) monitor's work area. The dialog manager put the window at the owner's client origin.
void CDialog::CenterIfPlacedAtOrigin() {
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    POINT origin{0, 0};
    if (owner) ::ClientToScreen(owner, &origin);
    RECT window;
    if (!::GetWindowRect(m_hWnd, &window) || window.left != origin.x || window.top != origin.y) return;

    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    HMONITOR screen = ::MonitorFromWindow(owner ? owner : m_hWnd, MONITOR_DEFAULTTOPRIMARY);
    if (!::GetMonitorInfoA(screen, &monitor)) return;
    RECT area = monitor.rcWork;
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) ::GetWindowRect(owner, &area);

    int width = window.right - window.left;
    int height = window.bottom - window.top;
    int x = area.left + (area.right - area.left - width) / 2;
    int y = area.top + (area.bottom - area.top - height) / 2;
    // Keep the whole dialog on the work area, its caption first.
    const RECT& work = monitor.rcWork;
    x = std::max<int>(work.left, std::min<int>(x, work.right - width));
    y = std::max<int>(work.top, std::min<int>(y, work.bottom - height));
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        BOOL focusDefault = OnInitDialog();
        if (m_hWnd) CenterIfPlacedAtOrigin();
        return focusDefault;
    }

    bool savedDefault = m_defaultRequested;
    m_defaultRequested = false;
    LRESULT result = 0;
    bool handled = Dispatch(message, wParam, lParam, &result);
    if (!handled && message == WM_COMMAND && AfxGetApp())
        handled = AfxGetApp()->Dispatch(message, wParam, lParam, &result);
    if (m_defaultRequested) handled = false;
    m_defaultRequested = savedDefault;

    if (!handled) return FALSE;
    if (ReturnsResultDirectly(message)) return static_cast<INT_PTR>(result);
    if (m_hWnd) ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}
