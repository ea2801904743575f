// The output options: same-folder check box, output folder field and "&Browse...".
#include "ui/main/OutputOptions.h"

#include "ui/main/ConverterDlg.h"

#include <shlobj.h>

#include <vector>

CString GetCurrentDir() {
    char buffer[1024];
    DWORD reported = ::GetCurrentDirectoryA(sizeof buffer, buffer);
    if (reported == 0) return CString();
    if (reported <= sizeof buffer) return CString(buffer);
    // Too long for the first buffer: the value is the size it needs, terminator included.
    std::vector<char> large(reported, '\0');
    DWORD again = ::GetCurrentDirectoryA(reported, large.data());
    if (again == 0 || again >= reported) return CString();
    return CString(large.data());
}

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED) ::SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, data);
    return 0;
}

void CConverterDlg::OnSameFolder() {
    UpdateData(TRUE);
    BOOL enable = !m_bSameFolder;
    m_labelOutputFolder.EnableWindow(enable);
    m_editOutputFolder.EnableWindow(enable);
    m_btnBrowse.EnableWindow(enable);
}

void CConverterDlg::OnBrowse() {
    CString folder;
    m_editOutputFolder.GetWindowText(folder);

    char displayName[MAX_PATH] = "";
    BROWSEINFOA browse{};
    browse.hwndOwner = m_hWnd;
    browse.pidlRoot = nullptr;
    browse.pszDisplayName = displayName;
    browse.lpszTitle = "Select Output Folder for MPEGs";
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    browse.lpfn = &BrowseCallback;
    browse.lParam = reinterpret_cast<LPARAM>(static_cast<const char*>(folder));

    LPITEMIDLIST item = ::SHBrowseForFolderA(&browse);
    if (!item) return;
    if (::SHGetPathFromIDListA(item, displayName)) m_editOutputFolder.SetWindowText(displayName);
    ComPtr<IMalloc> shellMalloc;
    if (SUCCEEDED(::SHGetMalloc(shellMalloc.Out()))) shellMalloc->Free(item);
}
