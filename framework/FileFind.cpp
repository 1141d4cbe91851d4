#include "FileFind.h"

#include <vector>

// Filled by the system in place: no pointer in it, the same in both builds.
static_assert(sizeof(WIN32_FIND_DATAW) == 592, "WIN32_FIND_DATAW layout");

BOOL CFileFind::FindFile(LPCWSTR pattern) {
    Close();
    if (pattern == nullptr || lstrlenW(pattern) >= MAX_PATH) {
        ::SetLastError(ERROR_BAD_ARGUMENTS);
        return FALSE;
    }
    m_hFind = ::FindFirstFileW(pattern, &m_next);
    if (m_hFind == INVALID_HANDLE_VALUE) return FALSE;
    m_hasNext = true;

    std::vector<wchar_t> full(MAX_PATH * 2);
    wchar_t* filePart = nullptr;
    DWORD n = ::GetFullPathNameW(pattern, static_cast<DWORD>(full.size()), full.data(), &filePart);
    if (n == 0 || n >= full.size()) {
        Close();
        ::SetLastError(ERROR_BAD_ARGUMENTS);
        return FALSE;
    }
    std::wstring path(full.data(), n);
    size_t slash = path.find_last_of(L"\\/");
    m_root = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
    return TRUE;
}

BOOL CFileFind::FindNextFile() {
    if (m_hFind == INVALID_HANDLE_VALUE || !m_hasNext) return FALSE;
    m_current = m_next;
    m_hasNext = ::FindNextFileW(m_hFind, &m_next) != FALSE;
    return m_hasNext;
}

void CFileFind::Close() {
    if (m_hFind != INVALID_HANDLE_VALUE) ::FindClose(m_hFind);
    m_hFind = INVALID_HANDLE_VALUE;
    m_hasNext = false;
}

std::wstring CFileFind::GetFilePath() const {
    std::wstring path = m_root;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
    return path + m_current.cFileName;
}

BOOL CFileFind::IsDots() const {
    const wchar_t* n = m_current.cFileName;
    return IsDirectory() && n[0] == L'.' && (n[1] == 0 || (n[1] == L'.' && n[2] == 0));
}
