#include "TestFiles.h"

#include <commctrl.h>

CString TestFolder::AddFile(const char* name, ULONGLONG size) {
    CString path = m_path + "\\" + name;
    HANDLE file =
        ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ::WriteFile(file, "TiVo", size < 4 ? static_cast<DWORD>(size) : 4, &written, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
        ::SetEndOfFile(file);
        ::CloseHandle(file);
    }
    return path;
}

ScratchList::ScratchList() {
    INITCOMMONCONTROLSEX init{sizeof init, ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&init);
    m_list = ::CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                               WS_POPUP | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SORTASCENDING, 0, 0, 400, 200,
                               nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    const char* headings[3] = {"File Name", "Path", "Size"};
    const int widths[3] = {130, 120, 100};
    for (int column = 0; column < 3; ++column) {
        LVCOLUMNA col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        col.fmt = column == 2 ? LVCFMT_RIGHT : LVCFMT_LEFT;
        col.pszText = const_cast<char*>(headings[column]);
        col.cx = widths[column];
        ::SendMessageA(m_list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column),
                       reinterpret_cast<LPARAM>(&col));
    }
}

ScratchList::~ScratchList() {
    if (m_list) ::DestroyWindow(m_list);
}

int TextWidthInList(HWND list, const char* text) {
    HDC dc = ::GetDC(list);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageA(list, WM_GETFONT, 0, 0)));
    SIZE size{};
    ::GetTextExtentPoint32A(dc, text, lstrlenA(text), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(list, dc);
    return size.cx;
}
