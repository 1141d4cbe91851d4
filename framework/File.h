// Files with exceptions in the framework's manner: a failed operation throws a
// CFileException carrying the cause and the file's name, and the command
// dispatch reports it (see AfxReportHandlerException).
#pragma once
#include <windows.h>

#include <string>

class CFileException {
public:
    enum Cause {
        none = 0,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile,
    };

    CFileException(int cause = none, LONG lOsError = -1, LPCWSTR fileName = nullptr)
        : m_cause(cause), m_lOsError(lOsError), m_strFileName(fileName ? fileName : L"") {}

    static int OsErrorToException(LONG lOsError);
    // Throws a heap exception for an OS error; the catcher calls Delete().
    [[noreturn]] static void ThrowOsError(LONG lOsError, LPCWSTR fileName = nullptr);

    // The user-facing text for the cause, with %1 replaced by the file name.
    std::wstring GetErrorMessage() const;
    // Shows the text in a message box with the stop icon.
    int ReportError(UINT nType = MB_OK | MB_ICONSTOP) const;
    void Delete() { delete this; }

    int m_cause;
    LONG m_lOsError;
    std::wstring m_strFileName;
};

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeCreate = 0x1000,
    };

    CFile() = default;
    // Opens or throws a CFileException.
    CFile(LPCWSTR fileName, UINT nOpenFlags);
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opens the file; on failure fills *pError (when given) and returns FALSE.
    // Paths of MAX_PATH characters or more are refused as a bad path.
    BOOL Open(LPCWSTR fileName, UINT nOpenFlags, CFileException* pError = nullptr);
    // Writes all bytes or throws (a short write is a full disk).
    void Write(const void* data, UINT nCount);
    // Closes the file or throws.
    void Close();
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    std::wstring m_strFileName;
};
