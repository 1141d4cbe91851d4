// PLACEHOLDER (being written).
#include "VestrelDlg.h"
void CVestrelDlg::OnRclickResultList(NMHDR*, LRESULT* pResult) { *pResult = 0; }
void CVestrelDlg::OnCheckAll() {}
void CVestrelDlg::OnUncheckAll() {}
void CVestrelDlg::OnDeleteSelectedStream() {}
void CVestrelDlg::OnDeleteAllStreams() {}
void CVestrelDlg::OnSaveScanLog() {}
void CVestrelDlg::OnViewStream() {}
