#include "ShowNTFS.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "FsRedirection.h"
#include "NtfsStream.h"
#include "ScanLogFormat.h"
#include "VestrelDlg.h"
#include "resource.h"

std::wstring g_strStreamText;

IMPLEMENT_DYNAMIC(CShowNTFS, CDialog)

CShowNTFS::CShowNTFS(CWnd* pParent) : CDialog(IDD_SHOWNTFS, pParent) {}

CShowNTFS::~CShowNTFS() = default;

void CShowNTFS::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_EDIT_CONTENT, m_editContent);
}

BEGIN_MESSAGE_MAP(CShowNTFS, CDialog)
    ON_BN_CLICKED(IDC_BUTTON_CLOSE_VIEWER, OnOK)
    ON_WM_CLOSE()
END_MESSAGE_MAP()

BOOL CShowNTFS::OnInitDialog() {
    CDialog::OnInitDialog();
    m_editContent.SetWindowText(g_strStreamText.c_str());
    return TRUE;
}

size_t g_cchMaxStreamText = std::wstring().max_size();

bool ConvertStreamText(const char* pData, DWORD dwSize, std::wstring& text, size_t cchMax) {
    text.clear();
    const void* zero = std::memchr(pData, 0, dwSize);
    const size_t cbText = zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - pData) : dwSize;
    if (cbText == 0) return true;
    // The conversion counts in int.
    if (cbText > static_cast<size_t>(INT_MAX)) return false;
    const int nBytes = static_cast<int>(cbText);
    const int nChars = ::MultiByteToWideChar(CP_THREAD_ACP, 0, pData, nBytes, nullptr, 0);
    if (nChars <= 0) return true;
    // Past the string's own maximum the resize would throw: a text that long
    // is refused like memory that cannot be had.
    if (static_cast<size_t>(nChars) > cchMax || static_cast<size_t>(nChars) > text.max_size()) return false;
    try {
        text.resize(static_cast<size_t>(nChars));
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    const int nGot = ::MultiByteToWideChar(CP_THREAD_ACP, 0, pData, nBytes, &text[0], nChars);
    text.resize(nGot > 0 ? static_cast<size_t>(nGot) : 0);
    return true;
}

void CVestrelDlg::OnViewStream() {
    g_strStreamText.clear();
    CShowNTFS viewer;
    // A path without a stream name names no stream (it could open the file itself).
    if (!NamesStream(m_strFilePath, m_strStreamName)) return;
    const std::wstring strPath = StreamPathOf(m_strFilePath, m_strStreamName, vestrel::CurrentStreamPlatform());
    if (strPath.empty()) return;
    // The path is resolved when it is opened; size and read go by the handle.
    HANDLE hFile = vestrel::CreateFileUnredirected(vestrel::FsCall::kView, strPath.c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (hFile == INVALID_HANDLE_VALUE) return;

    // Only the low 32 bits of the size count. Sizes past INT_MAX (which also
    // covers the failure value) are refused like a buffer that cannot be had:
    // the conversion takes an int count.
    const DWORD dwSize = ::GetFileSize(hFile, nullptr);
    if (dwSize == 0 || dwSize > static_cast<DWORD>(INT_MAX)) {
        ::CloseHandle(hFile);
        return;
    }
    char* pData = static_cast<char*>(std::malloc(dwSize));
    if (pData == nullptr) {
        ::CloseHandle(hFile);
        return;
    }
    std::memset(pData, 0, dwSize);
    DWORD dwRead = 0;
    if (!::ReadFile(hFile, pData, dwSize, &dwRead, nullptr) || dwRead != dwSize ||
        !ConvertStreamText(pData, dwSize, g_strStreamText)) {
        g_strStreamText.clear();
        std::free(pData);
        ::CloseHandle(hFile);
        return;
    }
    // The stream stays open, shared for reading only, while it is shown.
    viewer.DoModal();
    std::free(pData);
    ::CloseHandle(hFile);
}
