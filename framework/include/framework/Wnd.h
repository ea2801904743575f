// CWnd: a thin object over an HWND (the control wrappers are in Controls.h).
//
// A window object is "permanent" while it is attached to its handle (a running dialog, or
// a control bound by DDX_Control); FromHandle returns that object. For any other handle it
// returns a temporary object owned by the framework, valid until the outermost message
// handler on this thread returns (or, outside any handler, until the next one does).
#pragma once

#include "framework/MessageMap.h"
#include "framework/String.h"

#include <windows.h>

class CDataExchange;
class CFont;

class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    ~CWnd() override;

    HWND m_hWnd = nullptr;

    static CWnd* FromHandle(HWND hWnd);           // null for a null handle
    static CWnd* FromHandlePermanent(HWND hWnd);  // null unless attached
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // Binds the object to an existing window (not subclassed: messages still go to the
    // window's own procedure). Returns FALSE when the handle is null or already attached.
    BOOL Attach(HWND hWnd);
    HWND Detach();

    // Text
    void SetWindowText(const char* text);
    void GetWindowText(CString& text) const;
    int GetWindowTextLength() const;
    void SetDlgItemText(int id, const char* text);
    CString GetDlgItemText(int id) const;

    // State and placement
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL ShowWindow(int showCommand);
    BOOL IsWindowVisible() const;
    BOOL IsIconic() const;
    void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
    void MoveWindow(const RECT* rect, BOOL repaint = TRUE);
    void GetClientRect(RECT* rect) const;
    void GetWindowRect(RECT* rect) const;
    DWORD GetStyle() const;
    DWORD GetExStyle() const;
    int GetDlgCtrlID() const;
    CWnd* GetDlgItem(int id) const;
    CWnd* GetParent() const;
    CWnd* SetFocus();
    void Invalidate(BOOL erase = TRUE);
    void UpdateWindow();

    // Messages
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    // A null caption means the application's name.
    int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK) const;

    // Fonts, icons, menus, timers, device contexts
    void SetFont(CFont* font, BOOL redraw = TRUE);
    void SetFont(HFONT font, BOOL redraw = TRUE);
    HFONT GetFont() const;
    HICON SetIcon(HICON icon, BOOL big);
    HMENU GetSystemMenu(BOOL revert) const;
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc);
    BOOL KillTimer(UINT_PTR id);
    HDC GetDC() const;
    int ReleaseDC(HDC dc) const;

    // Data exchange between member variables and controls.
    // saveAndValidate TRUE: controls -> members; FALSE: members -> controls.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    virtual void DoDataExchange(CDataExchange* pDX);

    // Called from inside a handler: let the window's default processing handle the current
    // message as well. In a dialog that runs after the handler returns, and the handler's
    // own result is not used; returns 0.
    LRESULT Default();

    // Help: F1 (WM_HELP) in a top-level window, with no Shift, Ctrl or Alt held, sends the
    // application's ID_HELP command to the main window; otherwise default processing.
    BOOL OnHelpInfo(HELPINFO* info);

    // The framework's window help: WinHelpA on the top-level window with the application's
    // help file; "Failed to launch help." when it fails or the file does not exist.
    virtual void WinHelp(DWORD_PTR data, UINT command = HELP_CONTEXT);
    // Finds the help context (from the capture window, then the focus window, each with
    // their parents, then this window when nothing has the focus) and starts window help.
    void OnHelp();

protected:
    // Set while a handler of this window runs; see Default().
    bool m_defaultRequested = false;

    DECLARE_MESSAGE_MAP()
};
