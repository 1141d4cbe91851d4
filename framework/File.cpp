#include "File.h"

#include "WinApp.h"

int CFileException::OsErrorToException(LONG lOsError) {
    switch (lOsError) {
    case NO_ERROR:
        return none;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_NO_MORE_FILES:
    case ERROR_DISK_CHANGE:
        return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_SAME_DEVICE:
    case ERROR_WRONG_DISK:
    case ERROR_DUP_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_NET_NAME:
    case ERROR_SHARING_PAUSED:
    case ERROR_ALREADY_ASSIGNED:
    case ERROR_BUFFER_OVERFLOW:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_LEVEL:
    case ERROR_NO_VOLUME_LABEL:
    case ERROR_DIR_NOT_ROOT:
    case ERROR_LABEL_TOO_LONG:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_META_EXPANSION_TOO_LONG:
    case ERROR_DIRECTORY:
        return badPath;
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_SHARING_BUFFER_EXCEEDED:
    case ERROR_TOO_MANY_NAMES:
    case ERROR_NO_MORE_SEARCH_HANDLES:
        return tooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_ACCESS:
    case ERROR_WRITE_PROTECT:
    case ERROR_WRITE_FAULT:
    case ERROR_NETWORK_BUSY:
    case ERROR_BAD_NET_RESP:
    case ERROR_NETNAME_DELETED:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_REQ_NOT_ACCEP:
    case ERROR_FILE_EXISTS:
    case ERROR_CANNOT_MAKE:
    case ERROR_INVALID_PASSWORD:
    case ERROR_BUSY:
    case ERROR_ALREADY_EXISTS:
    case ERROR_SWAPERROR:
        return accessDenied;
    case ERROR_INVALID_HANDLE:
    case ERROR_BAD_FORMAT:
    case ERROR_NOT_DOS_DISK:
    case ERROR_BAD_REM_ADAP:
    case ERROR_BAD_DEV_TYPE:
    case ERROR_INVALID_TARGET_HANDLE:
    case ERROR_INVALID_ORDINAL:
    case ERROR_INVALID_EXE_SIGNATURE:
    case ERROR_BAD_EXE_FORMAT:
        return invalidFile;
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_DIR_NOT_EMPTY:
        return removeCurrentDir;
    case ERROR_NO_SPOOL_SPACE:
        return directoryFull;
    case ERROR_BAD_LENGTH:
    case ERROR_SEEK:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_READ_FAULT:
    case ERROR_NEGATIVE_SEEK:
    case ERROR_SEEK_ON_DEVICE:
        return badSeek;
    case ERROR_BAD_UNIT:
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_CRC:
    case ERROR_ADAP_HDW_ERR:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_NET_WRITE_FAULT:
    case ERROR_INVALID_CATEGORY:
    case ERROR_OPERATION_ABORTED:
    case ERROR_IO_INCOMPLETE:
    case ERROR_IO_PENDING:
        return hardIO;
    case ERROR_SHARING_VIOLATION:
        return sharingViolation;
    case ERROR_LOCK_VIOLATION:
    case ERROR_DRIVE_LOCKED:
    case ERROR_LOCK_FAILED:
        return lockViolation;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
        return diskFull;
    case ERROR_HANDLE_EOF:
        return endOfFile;
    default:
        return genericException;
    }
}

void CFileException::ThrowOsError(LONG lOsError, LPCWSTR fileName) {
    throw new CFileException(OsErrorToException(lOsError), lOsError, fileName);
}

std::wstring CFileException::GetErrorMessage() const {
    static const wchar_t* const kTexts[] = {
        L"未发生错误。",
        L"访问 %1 时发生未知错误。",
        L"没有找到 %1。",
        L"%1 包含错误的路径。",
        L"无法打开 %1，因为打开的文件太多。",
        L"对 %1 的访问被拒绝。",
        L"与 %1 相关联的文件句柄不正确。",
        L"无法删除 %1，因为它是当前目录。",
        L"该目录已满，无法创建 %1。",
        L"对 %1 进行查找失败。",
        L"访问 %1 时遇到硬件 I/O 错误。",
        L"访问 %1 时遇到共享冲突。",
        L"访问 %1 时遇到锁定冲突。",
        L"访问 %1 时磁盘已满。",
        L"试图访问 %1 时超过它的结尾。",
    };
    int cause = (m_cause >= none && m_cause <= endOfFile) ? m_cause : genericException;
    std::wstring text = kTexts[cause];
    size_t at = text.find(L"%1");
    if (at != std::wstring::npos) text.replace(at, 2, m_strFileName);
    return text;
}

int CFileException::ReportError(UINT nType) const {
    return AfxMessageBox(GetErrorMessage().c_str(), nType);
}

CFile::CFile(LPCWSTR fileName, UINT nOpenFlags) {
    CFileException error;
    if (!Open(fileName, nOpenFlags, &error)) throw new CFileException(error);
}

CFile::~CFile() {
    if (m_hFile != INVALID_HANDLE_VALUE) ::CloseHandle(m_hFile);
}

BOOL CFile::Open(LPCWSTR fileName, UINT nOpenFlags, CFileException* pError) {
    m_strFileName = fileName;
    if (m_strFileName.size() >= MAX_PATH) {
        if (pError) *pError = CFileException(CFileException::badPath, ERROR_FILENAME_EXCED_RANGE, fileName);
        return FALSE;
    }
    DWORD access = GENERIC_READ;
    switch (nOpenFlags & 3) {
    case modeWrite: access = GENERIC_WRITE; break;
    case modeReadWrite: access = GENERIC_READ | GENERIC_WRITE; break;
    default: break;
    }
    DWORD share = 0;  // exclusive unless a share mode is asked for
    switch (nOpenFlags & 0x70) {
    case shareDenyWrite: share = FILE_SHARE_READ; break;
    case shareDenyRead: share = FILE_SHARE_WRITE; break;
    case shareDenyNone: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    default: break;
    }
    DWORD disposition = (nOpenFlags & modeCreate) ? CREATE_ALWAYS : OPEN_EXISTING;
    HANDLE h = ::CreateFileW(fileName, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        LONG err = static_cast<LONG>(::GetLastError());
        if (pError) *pError = CFileException(CFileException::OsErrorToException(err), err, fileName);
        return FALSE;
    }
    m_hFile = h;
    return TRUE;
}

void CFile::Write(const void* data, UINT nCount) {
    if (nCount == 0) return;
    DWORD written = 0;
    if (!::WriteFile(m_hFile, data, nCount, &written, nullptr))
        CFileException::ThrowOsError(static_cast<LONG>(::GetLastError()), m_strFileName.c_str());
    if (written != nCount)
        throw new CFileException(CFileException::diskFull, ERROR_DISK_FULL, m_strFileName.c_str());
}

void CFile::Close() {
    if (m_hFile == INVALID_HANDLE_VALUE) return;
    HANDLE h = m_hFile;
    m_hFile = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(h))
        CFileException::ThrowOsError(static_cast<LONG>(::GetLastError()), m_strFileName.c_str());
}
