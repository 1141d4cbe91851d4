// Saving the result rows as a UTF-16 scan log.
#include <climits>

#include "FileDialog.h"
#include "ScanLogFormat.h"
#include "VestrelDlg.h"

void CVestrelDlg::OnSaveScanLog() {
    if (m_listResult.GetSelectedCount() == 0) {
        AfxMessageBox(L"没有可保存项！");
        return;
    }

    // The text is complete before the dialog opens: rows a running scan adds
    // while the user picks a name are not part of this log.
    std::wstring strLog = ScanLogHeader();
    const int nCount = m_listResult.GetItemCount();
    for (int i = 0; i < nCount; ++i) {
        m_strStreamName = m_listResult.GetItemText(i, 0);
        m_strStreamSize = m_listResult.GetItemText(i, 1);
        m_strFilePath = m_listResult.GetItemText(i, 2);
        strLog += ScanLogLine(m_strStreamName, m_strStreamSize, m_strFilePath);
    }

    CFileDialog dlg(FALSE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, L"ALL Files(*.*)|*.*||");
    if (dlg.DoModal() != IDOK) return;

    const std::wstring strChosen = dlg.GetPathName();
    const std::wstring strPath = ScanLogFilePath(strChosen);
    // The dialog asked about the name it was given; a name we extended may
    // hit another file, which must not be replaced unasked.
    if (strPath != strChosen && ::GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
        const std::wstring strQuestion = strPath + L" 已存在。\n要替换它吗？";
        if (AfxMessageBox(strQuestion.c_str(), MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) != IDYES) return;
    }

    const std::string bytes = ScanLogBytes(strLog);
    if (bytes.size() > UINT_MAX)  // beyond one write: refused before the file is touched
        throw new CFileException(CFileException::diskFull, ERROR_DISK_FULL, strPath.c_str());
    CFile file(strPath.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive);
    file.Write(bytes.data(), static_cast<UINT>(bytes.size()));
    file.Close();
    AfxMessageBox(L"保存完毕！");
}
