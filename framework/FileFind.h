// Directory listing over FindFirstFileW/FindNextFileW in the framework's
// manner: FindFile starts a search, each FindNextFile makes the next entry
// current and tells whether one more follows.
#pragma once
#include <windows.h>

#include <string>

class CFileFind {
public:
    CFileFind() = default;
    ~CFileFind() { Close(); }
    CFileFind(const CFileFind&) = delete;
    CFileFind& operator=(const CFileFind&) = delete;

    // Starts a search for a pattern such as "C:\dir\*.*". Fails for patterns
    // of MAX_PATH characters or more and wherever the platform finds nothing.
    BOOL FindFile(LPCWSTR pattern);
    // Makes the next entry current; FALSE when it is the last one.
    BOOL FindNextFile();
    void Close();

    std::wstring GetFileName() const { return m_current.cFileName; }
    // The directory's absolute path (the pattern resolved against the current
    // directory), one backslash, and the entry's name.
    std::wstring GetFilePath() const;
    DWORD GetAttributes() const { return m_current.dwFileAttributes; }
    BOOL IsDirectory() const { return (m_current.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    BOOL IsDots() const;

private:
    HANDLE m_hFind = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW m_current{};
    WIN32_FIND_DATAW m_next{};
    bool m_hasNext = false;
    std::wstring m_root;  // absolute directory path with its trailing backslash
};
