// The system's open and save file dialogs in the framework's manner.
#pragma once
#include <windows.h>
#include <commdlg.h>

#include <string>

#include "Wnd.h"

class CFileDialog {
public:
    // lpszFilter takes the framework's form, "Title|Pattern|...|Title|Pattern||":
    // each '|' stands for the null the system expects. No parent given: the
    // application's main window owns the dialog.
    explicit CFileDialog(BOOL bOpenFileDialog, LPCWSTR lpszDefExt = nullptr,
                         LPCWSTR lpszFileName = nullptr,
                         DWORD dwFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                         LPCWSTR lpszFilter = nullptr, CWnd* pParentWnd = nullptr);
    virtual ~CFileDialog() = default;
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    // IDOK when the user chose a file, IDCANCEL otherwise (also when the
    // system dialog could not run).
    virtual INT_PTR DoModal();
    // The full path the user chose.
    std::wstring GetPathName() const;

    OPENFILENAMEW m_ofn;

private:
    BOOL m_bOpenFileDialog;
    CWnd* m_pParentWnd;
    std::wstring m_strFilter;  // null-separated, double-null ended
    std::wstring m_strDefExt;
    // Room for paths beyond MAX_PATH, so an overlong choice reaches the file
    // layer's bad-path report instead of failing silently here.
    wchar_t m_szFileName[1024];
};
