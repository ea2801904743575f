// The Convert command ("&Convert!", IDOK, also Enter).
#include "ui/main/ConverterDlg.h"

void CConverterDlg::OnOK() {
    if (m_listFiles.GetItemCount() == 0) {
        MessageBox("Please select at least one TiVo file to convert.", "Nothing to do", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
}
