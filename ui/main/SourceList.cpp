// The source file list: "&Add", "&Remove", the rows, their sizes and the column widths.
#include "ui/main/SourceList.h"

#include "ui/main/ConverterDlg.h"

#include <commdlg.h>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD kResultBufferSize = 16384;

}  // namespace

CString FormatCountText(CListCtrl& list) {
    int count = list.GetItemCount();
    if (count == 1) return "1 File Selected";
    CString text;
    text.Format("%d Files Selected", count);
    return text;
}

CString GetRowPath(CListCtrl& list, int row) {
    return list.GetItemText(row, 1) + "\\" + list.GetItemText(row, 0);
}

BOOL IsPathListed(CListCtrl& list, const char* path) {
    for (int row = 0; row < list.GetItemCount(); ++row) {
        if (GetRowPath(list, row).CompareNoCase(path) == 0) return TRUE;
    }
    return FALSE;
}

void AddFileRow(CListCtrl& list, const char* path) {
    if (IsPathListed(list, path)) return;
    CString fullPath(path);
    int slash = fullPath.ReverseFind('\\');
    // A folder of one character or none ("\x.TiVo") is left empty, so that folder + "\" + name
    // gives back the path; "C:" stays, so a file in a drive's root comes back as "C:\x.TiVo".
    CString folder = slash >= 2 ? fullPath.Left(slash) : CString();
    CString name = fullPath.Mid(slash + 1);
    int row = list.InsertItem(list.GetItemCount(), name);
    if (row < 0) return;
    list.SetItemText(row, 1, folder);
    CFileStatus status;
    if (!GetFileStatus(path, status)) return;
    list.SetItemText(row, 2, FormatSizeText(status.m_size));
}

void AutoSizeColumns(CListCtrl& list) {
    int rows = list.GetItemCount();
    if (rows == 0) return;
    ScopedWindowDC dc(list.m_hWnd);
    ScopedSelect font(dc, list.GetFont());
    const int padding[3] = {8, 12, 12};
    int widest[3] = {0, 0, 0};
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < 3; ++column) {
            CString text = list.GetItemText(row, column);
            SIZE size{};
            ::GetTextExtentPoint32A(dc, text, text.GetLength(), &size);
            if (size.cx + padding[column] > widest[column]) widest[column] = size.cx + padding[column];
        }
    }
    for (int column = 0; column < 3; ++column)
        list.SetColumnWidth(column, widest[column]);
}

namespace {

// Where the result buffer ends: nothing past it is read, even when the dialog left no zero.
const char* ResultEnd(const OPENFILENAMEA& ofn) {
    return ofn.lpstrFile + ofn.nMaxFile;
}

bool IsMultipleSelection(const OPENFILENAMEA& ofn) {
    return ofn.nFileOffset > 0 && ofn.nFileOffset < ofn.nMaxFile &&
           ofn.lpstrFile[ofn.nFileOffset - 1] == '\0';
}

// Length of the text at p up to its zero, or -1 when no zero comes before end.
long TerminatedLength(const char* p, const char* end) {
    const void* zero = p < end ? std::memchr(p, '\0', static_cast<size_t>(end - p)) : nullptr;
    return zero ? static_cast<const char*>(zero) - p : -1;
}

}  // namespace

void SplitOpenFileSelection(const OPENFILENAMEA& ofn, CStringArray& paths) {
    const char* buffer = ofn.lpstrFile;
    const char* end = ResultEnd(ofn);
    if (!IsMultipleSelection(ofn)) {
        long length = TerminatedLength(buffer, end);
        paths.Add(CString(buffer, length >= 0 ? static_cast<int>(length) : static_cast<int>(ofn.nMaxFile)));
        return;
    }
    CString folder(buffer);
    // Multibyte-aware: the last byte may be the trail byte of a double-byte character.
    if (folder.IsEmpty() || folder.ReverseFind('\\') != folder.GetLength() - 1) folder += '\\';
    for (const char* name = buffer + ofn.nFileOffset; name < end && *name != '\0';) {
        long length = TerminatedLength(name, end);
        if (length < 0) break;  // cut off by the end of the buffer
        paths.Add(folder + name);
        name += length + 1;
    }
}

bool IsOpenFileSelectionComplete(const OPENFILENAMEA& ofn) {
    const char* end = ResultEnd(ofn);
    if (!IsMultipleSelection(ofn)) return TerminatedLength(ofn.lpstrFile, end) >= 0;
    for (const char* name = ofn.lpstrFile + ofn.nFileOffset; name < end;) {
        long length = TerminatedLength(name, end);
        if (length < 0) return false;
        if (length == 0) return true;  // the extra zero after the last name
        name += length + 1;
    }
    return false;
}

CString FormatSizeText(ULONGLONG bytes) {
    CString text;
    text.Format("%llu", bytes / 1024);
    for (int at = text.GetLength() - 3; at > 0; at -= 3)
        text.Insert(at, ',');
    text += " KB";
    return text;
}

void CConverterDlg::OnAdd() {
    std::vector<char> result(kResultBufferSize, '\0');
    DWORD length = ::GetCurrentDirectoryA(kResultBufferSize, result.data());
    if (length >= kResultBufferSize) length = 0;
    std::vector<char> initialDir(result.begin(), result.begin() + length);
    initialDir.push_back('\0');
    result[0] = '\0';

    static const char kFilter[] = "TiVo Desktop Movies (*.TiVo)\0*.TiVo\0";
    OPENFILENAMEA ofn{};
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = m_hWnd;
    ofn.lpstrFilter = kFilter;
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = result.data();
    ofn.nMaxFile = kResultBufferSize;
    ofn.lpstrInitialDir = initialDir.data();
    ofn.lpstrTitle = "Select TiVo Files to Convert";
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT;

    // A cancel stays silent; a selection that did not fit is worth telling the user, whether
    // the dialog fails with FNERR_BUFFERTOOSMALL (Windows) or hands back a cut-off list (Wine).
    BOOL chosen = ::GetOpenFileNameA(&ofn);
    if (chosen ? !IsOpenFileSelectionComplete(ofn) : ::CommDlgExtendedError() == FNERR_BUFFERTOOSMALL) {
        MessageBox("Too many files were chosen at once. Please add them in smaller groups.", "Too many files",
                   MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (!chosen) return;

    CStringArray paths;
    SplitOpenFileSelection(ofn, paths);
    for (int i = 0; i < paths.GetSize(); ++i) {
        if (!paths[i].IsEmpty()) AddFileRow(m_listFiles, paths[i]);
    }
    RefreshListState();
}

void CConverterDlg::OnRemove() {
    for (;;) {
        int first = m_listFiles.GetNextItem(-1, LVNI_SELECTED);
        if (first < 0) break;
        int next = m_listFiles.GetNextItem(first, LVNI_SELECTED);
        m_listFiles.DeleteItem(first);
        if (next < 0) break;
    }
    RefreshListState();
}

void CConverterDlg::OnItemChangedFileList(NMHDR*, LRESULT* result) {
    UpdateRemoveButton();
    *result = 0;
}
