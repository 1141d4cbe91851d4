#include "FileDialog.h"

#include <cwchar>

#include "WinApp.h"

// lStructSize tells the dialog which fields exist: the full structure of
// Windows 2000 and later, 88 bytes in the 32-bit release.
static_assert(sizeof(OPENFILENAMEW) == (sizeof(void*) == 4 ? 88 : 152), "OPENFILENAMEW layout");

CFileDialog::CFileDialog(BOOL bOpenFileDialog, LPCWSTR lpszDefExt, LPCWSTR lpszFileName, DWORD dwFlags,
                         LPCWSTR lpszFilter, CWnd* pParentWnd)
    : m_ofn{}, m_bOpenFileDialog(bOpenFileDialog), m_pParentWnd(pParentWnd), m_szFileName{} {
    m_ofn.lStructSize = sizeof(m_ofn);
    m_ofn.hInstance = AfxGetResourceHandle();
    // The explorer style is the newer look the system offers; sizing goes with it.
    m_ofn.Flags = dwFlags | OFN_EXPLORER | OFN_ENABLESIZING;
    m_ofn.lpstrFile = m_szFileName;
    m_ofn.nMaxFile = static_cast<DWORD>(sizeof(m_szFileName) / sizeof(m_szFileName[0]));
    if (lpszFileName != nullptr) {
        wcsncpy(m_szFileName, lpszFileName, m_ofn.nMaxFile - 1);
        m_szFileName[m_ofn.nMaxFile - 1] = L'\0';
    }
    if (lpszDefExt != nullptr) {
        m_strDefExt = lpszDefExt;
        m_ofn.lpstrDefExt = m_strDefExt.c_str();
    }
    if (lpszFilter != nullptr) {
        m_strFilter = lpszFilter;
        for (wchar_t& ch : m_strFilter) {
            if (ch == L'|') ch = L'\0';
        }
        // Double-null ended even when the caller left off the closing "||".
        m_strFilter.append(2, L'\0');
        m_ofn.lpstrFilter = m_strFilter.c_str();
    }
}

INT_PTR CFileDialog::DoModal() {
    HWND owner = m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr;
    if (owner == nullptr) {
        if (CWnd* main = AfxGetMainWnd()) owner = main->m_hWnd;
    }
    m_ofn.hwndOwner = owner;
    BOOL ok = m_bOpenFileDialog ? ::GetOpenFileNameW(&m_ofn) : ::GetSaveFileNameW(&m_ofn);
    return ok ? IDOK : IDCANCEL;
}

std::wstring CFileDialog::GetPathName() const { return m_ofn.lpstrFile != nullptr ? m_ofn.lpstrFile : L""; }
