// The Convert command ("&Convert!", IDOK, also Enter): the list and the output options
// become a batch, the progress window runs it, and the rows it got through leave the list.
#include "ui/main/ConverterDlg.h"
#include "ui/main/SourceList.h"

#include "ui/batch/ProgressDlg.h"

void CConverterDlg::OnOK() {
    const int rows = m_listFiles.GetItemCount();
    if (rows == 0) {
        MessageBox("Please select at least one TiVo file to convert.", "Nothing to do",
                   MB_OK | MB_ICONEXCLAMATION);
        return;
    }

    CStringArray files;
    for (int row = 0; row < rows; ++row)
        files.Add(GetRowPath(m_listFiles, row));
    CString outputFolder;
    m_editOutputFolder.GetWindowText(outputFolder);

    CProgressDlg progress(&files, m_bSameFolder ? nullptr : &outputFolder, this);
    progress.DoModal();

    const int done = progress.GetCurrentIndex();
    for (int i = 0; i < done; ++i)
        m_listFiles.DeleteItem(0);
    // Like Add and Remove: the count label, the column widths and "&Remove" follow the rows.
    RefreshListState();
}
