#include "framework/Wnd.h"

#include "HandleMap.h"
#include "framework/Dialog.h"
#include "framework/Font.h"
#include "framework/WinApp.h"

#include <memory>
#include <unordered_map>

namespace fw {
namespace {

thread_local std::unordered_map<HWND, CWnd*> t_permanent;
thread_local std::unordered_map<HWND, std::unique_ptr<CWnd>> t_temporary;
thread_local int t_handlerDepth = 0;

}  // namespace

void MapPermanent(HWND hWnd, CWnd* wnd) {
    t_permanent[hWnd] = wnd;
}

void UnmapPermanent(HWND hWnd) {
    t_permanent.erase(hWnd);
}

CWnd* LookupPermanent(HWND hWnd) {
    auto it = t_permanent.find(hWnd);
    return it == t_permanent.end() ? nullptr : it->second;
}

HandlerScope::HandlerScope() {
    ++t_handlerDepth;
}

HandlerScope::~HandlerScope() {
    if (--t_handlerDepth == 0) {
        // Detach first so that deleting them never touches the windows.
        for (auto& entry : t_temporary)
            entry.second->m_hWnd = nullptr;
        t_temporary.clear();
    }
}

}  // namespace fw

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
    ON_WM_HELPINFO()
END_MESSAGE_MAP()

CWnd::~CWnd() {
    if (m_hWnd && ::fw::LookupPermanent(m_hWnd) == this) ::fw::UnmapPermanent(m_hWnd);
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (!hWnd) return nullptr;
    if (CWnd* permanent = ::fw::LookupPermanent(hWnd)) return permanent;
    auto& slot = ::fw::t_temporary[hWnd];
    if (!slot) {
        slot = std::make_unique<CWnd>();
        slot->m_hWnd = hWnd;
    }
    return slot.get();
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    return hWnd ? ::fw::LookupPermanent(hWnd) : nullptr;
}

BOOL CWnd::Attach(HWND hWnd) {
    if (!hWnd || m_hWnd || ::fw::LookupPermanent(hWnd)) return FALSE;
    m_hWnd = hWnd;
    ::fw::MapPermanent(hWnd, this);
    return TRUE;
}

HWND CWnd::Detach() {
    HWND hWnd = m_hWnd;
    if (hWnd && ::fw::LookupPermanent(hWnd) == this) ::fw::UnmapPermanent(hWnd);
    m_hWnd = nullptr;
    return hWnd;
}

void CWnd::SetWindowText(const char* text) {
    ::SetWindowTextA(m_hWnd, text ? text : "");
}

void CWnd::GetWindowText(CString& text) const {
    int length = ::GetWindowTextLengthA(m_hWnd);
    char* buffer = text.GetBuffer(length);
    int got = ::GetWindowTextA(m_hWnd, buffer, length + 1);
    text.ReleaseBuffer(got);
}

int CWnd::GetWindowTextLength() const {
    return ::GetWindowTextLengthA(m_hWnd);
}

void CWnd::SetDlgItemText(int id, const char* text) {
    ::SetDlgItemTextA(m_hWnd, id, text ? text : "");
}

CString CWnd::GetDlgItemText(int id) const {
    CString text;
    if (HWND item = ::GetDlgItem(m_hWnd, id)) CWnd::FromHandle(item)->GetWindowText(text);
    return text;
}

BOOL CWnd::EnableWindow(BOOL enable) {
    return ::EnableWindow(m_hWnd, enable);
}

BOOL CWnd::IsWindowEnabled() const {
    return ::IsWindowEnabled(m_hWnd);
}

BOOL CWnd::ShowWindow(int showCommand) {
    return ::ShowWindow(m_hWnd, showCommand);
}

BOOL CWnd::IsWindowVisible() const {
    return ::IsWindowVisible(m_hWnd);
}

BOOL CWnd::IsIconic() const {
    return ::IsIconic(m_hWnd);
}

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
    ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}

void CWnd::MoveWindow(const RECT* rect, BOOL repaint) {
    MoveWindow(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, repaint);
}

void CWnd::GetClientRect(RECT* rect) const {
    ::GetClientRect(m_hWnd, rect);
}

void CWnd::GetWindowRect(RECT* rect) const {
    ::GetWindowRect(m_hWnd, rect);
}

DWORD CWnd::GetStyle() const {
    return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_STYLE));
}

DWORD CWnd::GetExStyle() const {
    return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE));
}

int CWnd::GetDlgCtrlID() const {
    return ::GetDlgCtrlID(m_hWnd);
}

CWnd* CWnd::GetDlgItem(int id) const {
    return FromHandle(::GetDlgItem(m_hWnd, id));
}

CWnd* CWnd::GetParent() const {
    return FromHandle(::GetParent(m_hWnd));
}

CWnd* CWnd::SetFocus() {
    return FromHandle(::SetFocus(m_hWnd));
}

void CWnd::Invalidate(BOOL erase) {
    ::InvalidateRect(m_hWnd, nullptr, erase);
}

void CWnd::UpdateWindow() {
    ::UpdateWindow(m_hWnd);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

int CWnd::MessageBox(const char* text, const char* caption, UINT type) const {
    if (!caption) caption = AfxGetApp() ? AfxGetApp()->m_strAppName : "";
    return ::MessageBoxA(m_hWnd, text, caption, type);
}

void CWnd::SetFont(CFont* font, BOOL redraw) {
    SetFont(font ? font->GetSafeHandle() : nullptr, redraw);
}

void CWnd::SetFont(HFONT font, BOOL redraw) {
    ::SendMessageA(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), MAKELPARAM(redraw, 0));
}

HFONT CWnd::GetFont() const {
    return reinterpret_cast<HFONT>(::SendMessageA(m_hWnd, WM_GETFONT, 0, 0));
}

HICON CWnd::SetIcon(HICON icon, BOOL big) {
    return reinterpret_cast<HICON>(
        ::SendMessageA(m_hWnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

HMENU CWnd::GetSystemMenu(BOOL revert) const {
    return ::GetSystemMenu(m_hWnd, revert);
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc) {
    return ::SetTimer(m_hWnd, id, elapse, proc);
}

BOOL CWnd::KillTimer(UINT_PTR id) {
    return ::KillTimer(m_hWnd, id);
}

HDC CWnd::GetDC() const {
    return ::GetDC(m_hWnd);
}

int CWnd::ReleaseDC(HDC dc) const {
    return ::ReleaseDC(m_hWnd, dc);
}

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate ? DataDirection::FromControls : DataDirection::ToControls);
    DoDataExchange(&dx);
    return TRUE;
}

void CWnd::DoDataExchange(CDataExchange*) {}

LRESULT CWnd::Default() {
    m_defaultRequested = true;
    return 0;
}

BOOL CWnd::OnHelpInfo(HELPINFO*) {
    CWnd* mainWnd = AfxGetMainWnd();
    bool modifier =
        ::GetKeyState(VK_SHIFT) < 0 || ::GetKeyState(VK_CONTROL) < 0 || ::GetKeyState(VK_MENU) < 0;
    if (!(GetStyle() & WS_CHILD) && mainWnd && mainWnd->m_hWnd && !modifier) {
        mainWnd->SendMessage(WM_COMMAND, ID_HELP);
        return TRUE;
    }
    Default();
    return FALSE;
}

void CWnd::WinHelp(DWORD_PTR data, UINT command) {
    CWinApp* app = AfxGetApp();
    const char* helpFile = app ? static_cast<const char*>(app->m_strHelpFilePath) : "";
    HWND topLevel = ::GetAncestor(m_hWnd, GA_ROOT);
    // Given a missing file, WinHelpA starts the help viewer only for it to ask the user where
    // the file is (Wine's winhlp32 does, and the call waits): a help file that is not there
    // is a failure to launch help.
    bool launched = ::GetFileAttributesA(helpFile) != INVALID_FILE_ATTRIBUTES &&
                    ::WinHelpA(topLevel ? topLevel : m_hWnd, helpFile, command, data);
    if (!launched) AfxMessageBox("Failed to launch help.");
}

namespace {

// Offers WM_COMMANDHELP to the window and then its parents or owners; true once one answers.
bool OfferCommandHelp(HWND hWnd) {
    for (; hWnd; hWnd = ::GetParent(hWnd)) {
        if (::SendMessageA(hWnd, WM_COMMANDHELP, 0, 0)) return true;
    }
    return false;
}

}  // namespace

void CWnd::OnHelp() {
    if (OfferCommandHelp(::GetCapture()) || OfferCommandHelp(::GetFocus())) return;
    // No window of ours has the focus (a minimised window has none, and its system menu still
    // offers Help): the window itself is asked, so that help does not silently do nothing.
    OfferCommandHelp(m_hWnd);
}
