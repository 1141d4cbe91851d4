// The result list's context menu and the row actions: check, uncheck and
// delete. The list is the only store of results, so every action reads the
// rows back from the control.
#include "FsRedirection.h"
#include "NtfsStream.h"
#include "ScanLogFormat.h"
#include "VestrelDlg.h"
#include "resource.h"

namespace {

// Deletes one row's stream; true when the row may go: the stream is gone
// now or was not there. A row whose texts name no stream is passed over (the
// file system could take its path for the file) and goes as before.
bool DeleteStreamOf(const std::wstring& strFilePath, const std::wstring& strStreamName) {
    if (!NamesStream(strFilePath, strStreamName)) return true;
    const std::wstring strPath = StreamPathOf(strFilePath, strStreamName, vestrel::CurrentStreamPlatform());
    if (strPath.empty() || vestrel::DeleteFileUnredirected(strPath.c_str())) return true;
    const DWORD dwError = ::GetLastError();
    return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
}

}  // namespace

void CVestrelDlg::OnRclickResultList(NMHDR* pNMHDR, LRESULT* pResult) {
    static_assert(sizeof(NMITEMACTIVATE) == (sizeof(void*) == 4 ? 48 : 72), "notification layout");
    const NMITEMACTIVATE* pItem = reinterpret_cast<const NMITEMACTIVATE*>(pNMHDR);
    m_strStreamName.clear();
    m_strFilePath.clear();
    m_nClickedItem = pItem->iItem;
    if (m_nClickedItem >= 0) {
        m_strStreamName = m_listResult.GetItemText(m_nClickedItem, 0);
        m_strFilePath = m_listResult.GetItemText(m_nClickedItem, 2);
    }

    CMenu* pPopup = m_menuContext.GetSubMenu(0);
    POINT pt{};
    ::GetCursorPos(&pt);
    // The six commands go gray or live together, by the selection alone.
    const UINT nEnable = m_listResult.GetSelectedCount() == 0 ? MF_GRAYED : MF_ENABLED;
    for (UINT nID = ID_VIEW_STREAM; nID <= ID_SAVE_SCAN_LOG; ++nID)
        m_menuContext.EnableMenuItem(nID, MF_BYCOMMAND | nEnable);
    if (pPopup != nullptr) pPopup->TrackPopupMenu(0, pt.x, pt.y, this);
    *pResult = 0;
}

void CVestrelDlg::OnCheckAll() {
    for (int i = 0; i < m_listResult.GetItemCount(); ++i) m_listResult.SetCheck(i, TRUE);
}

void CVestrelDlg::OnUncheckAll() {
    for (int i = 0; i < m_listResult.GetItemCount(); ++i) m_listResult.SetCheck(i, FALSE);
}

// A stream that could not be deleted (in use, access denied) keeps its row,
// and nothing is reported: a removed row would say the stream is gone while
// it is still there.
void CVestrelDlg::OnDeleteSelectedStream() {
    if (DeleteStreamOf(m_strFilePath, m_strStreamName) && m_nClickedItem >= 0)
        m_listResult.DeleteItem(m_nClickedItem);
}

void CVestrelDlg::OnDeleteAllStreams() {
    // Every row present now is visited once; removing a row moves the rows
    // below it up, so the next one to visit takes the removed row's index.
    // A row whose stream could not be deleted stays, and the walk passes it.
    const int nCount = m_listResult.GetItemCount();
    int nIndex = 0;
    for (int nVisited = 0; nVisited < nCount; ++nVisited) {
        if (!m_listResult.GetCheck(nIndex)) {
            ++nIndex;
            continue;
        }
        m_strStreamName = m_listResult.GetItemText(nIndex, 0);
        m_strFilePath = m_listResult.GetItemText(nIndex, 2);
        if (DeleteStreamOf(m_strFilePath, m_strStreamName))
            m_listResult.DeleteItem(nIndex);
        else
            ++nIndex;
    }
}
