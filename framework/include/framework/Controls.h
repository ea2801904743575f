// The control wrappers: CWnd with the few messages of one kind of control each.
#pragma once

#include "framework/String.h"
#include "framework/Wnd.h"

#include <windows.h>
#include <commctrl.h>

class CButton : public CWnd {
public:
    int GetCheck() const;
    void SetCheck(int check);
};

class CStatic : public CWnd {
public:
    HICON SetIcon(HICON icon);
    HICON GetIcon() const;
};

class CEdit : public CWnd {
public:
    void SetSel(int start, int end, BOOL noScroll = FALSE);
    void LimitText(int maxChars);
};

class CListCtrl : public CWnd {
public:
    int InsertColumn(int column, const char* heading, int format = LVCFMT_LEFT, int width = -1);
    int GetColumnWidth(int column) const;
    BOOL SetColumnWidth(int column, int width);
    int GetItemCount() const;
    // Inserts a row with text only; returns the index it got (sorted lists place it), -1 on failure.
    int InsertItem(int item, const char* text);
    BOOL SetItemText(int item, int subItem, const char* text);
    CString GetItemText(int item, int subItem) const;
    BOOL DeleteItem(int item);
    BOOL DeleteAllItems();
    int GetNextItem(int start, int flags) const;  // LVNI_SELECTED etc.; -1 when none
    UINT GetSelectedCount() const;
    BOOL SetItemState(int item, UINT state, UINT mask);
    UINT GetItemState(int item, UINT mask) const;
};

class CProgressCtrl : public CWnd {
public:
    void SetRange(short lower, short upper);
    void SetRange32(int lower, int upper);
    int SetPos(int pos);
    int GetPos() const;
};
