#include "framework/Controls.h"

int CButton::GetCheck() const {
    return static_cast<int>(::SendMessageA(m_hWnd, BM_GETCHECK, 0, 0));
}

void CButton::SetCheck(int check) {
    ::SendMessageA(m_hWnd, BM_SETCHECK, static_cast<WPARAM>(check), 0);
}

HICON CStatic::SetIcon(HICON icon) {
    return reinterpret_cast<HICON>(::SendMessageA(m_hWnd, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0));
}

HICON CStatic::GetIcon() const {
    return reinterpret_cast<HICON>(::SendMessageA(m_hWnd, STM_GETICON, 0, 0));
}

void CEdit::SetSel(int start, int end, BOOL noScroll) {
    ::SendMessageA(m_hWnd, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
    if (!noScroll) ::SendMessageA(m_hWnd, EM_SCROLLCARET, 0, 0);
}

void CEdit::LimitText(int maxChars) {
    ::SendMessageA(m_hWnd, EM_LIMITTEXT, static_cast<WPARAM>(maxChars), 0);
}

int CListCtrl::InsertColumn(int column, const char* heading, int format, int width) {
    LVCOLUMNA col{};
    col.mask = LVCF_FMT | LVCF_TEXT | LVCF_SUBITEM;
    col.fmt = format;
    col.pszText = const_cast<char*>(heading);
    col.iSubItem = column;
    if (width != -1) {
        col.mask |= LVCF_WIDTH;
        col.cx = width;
    }
    return static_cast<int>(::SendMessageA(m_hWnd, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column),
                                           reinterpret_cast<LPARAM>(&col)));
}

int CListCtrl::GetColumnWidth(int column) const {
    return static_cast<int>(::SendMessageA(m_hWnd, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

BOOL CListCtrl::SetColumnWidth(int column, int width) {
    return static_cast<BOOL>(
        ::SendMessageA(m_hWnd, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), MAKELPARAM(width, 0)));
}

int CListCtrl::GetItemCount() const {
    return static_cast<int>(::SendMessageA(m_hWnd, LVM_GETITEMCOUNT, 0, 0));
}

int CListCtrl::InsertItem(int item, const char* text) {
    LVITEMA row{};
    row.mask = LVIF_TEXT;
    row.iItem = item;
    row.pszText = const_cast<char*>(text);
    return static_cast<int>(::SendMessageA(m_hWnd, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&row)));
}

BOOL CListCtrl::SetItemText(int item, int subItem, const char* text) {
    LVITEMA row{};
    row.iSubItem = subItem;
    row.pszText = const_cast<char*>(text);
    return static_cast<BOOL>(
        ::SendMessageA(m_hWnd, LVM_SETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&row)));
}

CString CListCtrl::GetItemText(int item, int subItem) const {
    // LVM_GETITEMTEXT gives no length: grow the buffer until the text fits with room to spare.
    CString text;
    for (int size = 256;; size *= 2) {
        LVITEMA row{};
        row.iSubItem = subItem;
        row.cchTextMax = size;
        row.pszText = text.GetBuffer(size);
        row.pszText[0] = '\0';
        int got = static_cast<int>(::SendMessageA(m_hWnd, LVM_GETITEMTEXTA, static_cast<WPARAM>(item),
                                                  reinterpret_cast<LPARAM>(&row)));
        if (got < size - 1 || size >= (1 << 20)) {
            text.ReleaseBuffer(-1);
            return text;
        }
    }
}

BOOL CListCtrl::DeleteItem(int item) {
    return static_cast<BOOL>(::SendMessageA(m_hWnd, LVM_DELETEITEM, static_cast<WPARAM>(item), 0));
}

BOOL CListCtrl::DeleteAllItems() {
    return static_cast<BOOL>(::SendMessageA(m_hWnd, LVM_DELETEALLITEMS, 0, 0));
}

int CListCtrl::GetNextItem(int start, int flags) const {
    return static_cast<int>(
        ::SendMessageA(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(start), MAKELPARAM(flags, 0)));
}

UINT CListCtrl::GetSelectedCount() const {
    return static_cast<UINT>(::SendMessageA(m_hWnd, LVM_GETSELECTEDCOUNT, 0, 0));
}

BOOL CListCtrl::SetItemState(int item, UINT state, UINT mask) {
    LVITEMA row{};
    row.state = state;
    row.stateMask = mask;
    return static_cast<BOOL>(
        ::SendMessageA(m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&row)));
}

UINT CListCtrl::GetItemState(int item, UINT mask) const {
    return static_cast<UINT>(
        ::SendMessageA(m_hWnd, LVM_GETITEMSTATE, static_cast<WPARAM>(item), static_cast<LPARAM>(mask)));
}

void CProgressCtrl::SetRange(short lower, short upper) {
    ::SendMessageA(m_hWnd, PBM_SETRANGE, 0, MAKELPARAM(lower, upper));
}

void CProgressCtrl::SetRange32(int lower, int upper) {
    ::SendMessageA(m_hWnd, PBM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
}

int CProgressCtrl::SetPos(int pos) {
    return static_cast<int>(::SendMessageA(m_hWnd, PBM_SETPOS, static_cast<WPARAM>(pos), 0));
}

int CProgressCtrl::GetPos() const {
    return static_cast<int>(::SendMessageA(m_hWnd, PBM_GETPOS, 0, 0));
}
