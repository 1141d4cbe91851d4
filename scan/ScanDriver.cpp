#include "ScanDriver.h"

#include <shlobj.h>

#include <cwchar>

#include "FileFind.h"
#include "NtfsStream.h"
#include "resource.h"

HANDLE g_hScanThread = nullptr;
wchar_t g_szSystemDir[0x1024];

struct ScanRequest {
    enum Kind { kShowEntry, kAddRow, kComplete, kReadFolder } kind;
    const std::wstring* text = nullptr;  // entry path / stream name
    const std::wstring* path = nullptr;  // file path of a row
    DWORD size = 0;                      // stream size of a row
    bool isFile = false;                 // the entry counts as a scanned file
    std::wstring* out = nullptr;         // folder text read back
};

namespace {

std::wstring Format(const wchar_t* format, int files, int streams) {
    wchar_t text[256];
    swprintf(text, 256, format, files, streams);
    return text;
}

void SetControlText(HWND dlg, int id, const wchar_t* text) { ::SetDlgItemTextW(dlg, id, text); }

void EnableControl(HWND dlg, int id, BOOL enable) { ::EnableWindow(::GetDlgItem(dlg, id), enable); }

// Painting the result list is by far the dearest part of adding a row (under
// Wine a repaint per row costs more than the whole walk of a file), and a row
// found a few milliseconds later looks the same to the user. So while rows
// come in, the list is painted at most every kListPaintMs: the first row of a
// burst turns the list's redraw off and arms a one-shot timer on the list,
// which turns it back on and repaints. Every row is in the list at once; only
// its painting waits. Ending or stopping a scan paints at once.
constexpr UINT_PTR kListPaintTimer = 0x5A1;
constexpr UINT kListPaintMs = 100;
// Present on the list while its painting waits for the timer.
const wchar_t kListPaintDeferred[] = L"VestrelListPaintDeferred";

void CALLBACK PaintListNow(HWND list, UINT = 0, UINT_PTR = 0, DWORD = 0) {
    if (::RemovePropW(list, kListPaintDeferred) == nullptr) return;
    ::KillTimer(list, kListPaintTimer);
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::RedrawWindow(list, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void DeferListPaint(HWND list) {
    // Re-arming the timer would restart it and starve the painting while
    // rows keep coming: only the first row of a burst arms it.
    if (::GetPropW(list, kListPaintDeferred) != nullptr) return;
    if (!::SetTimer(list, kListPaintTimer, kListPaintMs, PaintListNow)) return;  // paint per row
    ::SetPropW(list, kListPaintDeferred, reinterpret_cast<HANDLE>(1));
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
}

// Waits for a thread while still answering the messages other threads send
// to this one, so a worker blocked in a request can always go on and end.
void WaitAnsweringSentMessages(HANDLE thread) {
    for (;;) {
        DWORD r = ::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
        if (r != WAIT_OBJECT_0 + 1) return;
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

std::wstring FormatScanComplete(int files, int streams) {
    return Format(L"扫描完成！共扫描%d个文件。找到%d个项目含有NTFS数据流！", files, streams);
}

std::wstring FormatScanStopped(int files, int streams) {
    return Format(L"扫描被停止！扫描%d个文件。找到%d个项目含有NTFS数据流！", files, streams);
}

// ---------------------------------------------------------------------------
// Window thread

CScanHost::~CScanHost() { FinishWorker(); }

void CScanHost::FinishWorker() {
    m_bStopScan = true;
    if (g_hScanThread != nullptr) {
        WaitAnsweringSentMessages(g_hScanThread);
        ::CloseHandle(g_hScanThread);
        g_hScanThread = nullptr;
    }
}

void CScanHost::BeginScan(int nScanMode) {
    HWND dlg = m_hScanWnd;
    EnableControl(dlg, IDC_BUTTON_SCAN, FALSE);
    EnableControl(dlg, IDC_BUTTON_STOP, TRUE);
    // A worker stopped earlier may still be on its way out; it must be gone
    // before the counters and the stop request are reset for the new one.
    FinishWorker();
    m_nFileCount = 0;
    m_nStreamCount = 0;
    ::SendDlgItemMessageW(dlg, IDC_LIST_RESULT, LVM_DELETEALLITEMS, 0, 0);
    m_bStopScan = false;  // FinishWorker left g_hScanThread empty

    if (nScanMode == kScanSystemDir) {
        g_szSystemDir[0] = L'\0';
        if (::SHGetSpecialFolderPathW(nullptr, g_szSystemDir, CSIDL_WINDOWS, FALSE)) {
            g_hScanThread = ::CreateThread(nullptr, 0, ScanSystemDirThread, this, 0, nullptr);
            if (g_hScanThread != nullptr) return;
        }
    }
    if (nScanMode == kScanAllDrives) {
        g_hScanThread = ::CreateThread(nullptr, 0, ScanAllDrivesThread, this, 0, nullptr);
        if (g_hScanThread != nullptr) return;
    }
    if (nScanMode == kScanFolder) {
        g_hScanThread = ::CreateThread(nullptr, 0, ScanFolderThread, this, 0, nullptr);
    }
}

void CScanHost::StopScan() {
    HWND dlg = m_hScanWnd;
    EnableControl(dlg, IDC_BUTTON_SCAN, TRUE);
    EnableControl(dlg, IDC_BUTTON_STOP, FALSE);
    if (g_hScanThread != nullptr) ::WaitForSingleObject(g_hScanThread, 100);
    // From here on every request of the worker is refused, whether it is
    // still running or not; it ends at its next check.
    m_bStopScan = true;
    PaintListNow(::GetDlgItem(dlg, IDC_LIST_RESULT));
    ::Sleep(100);
    SetControlText(dlg, IDC_STATIC_STATUS, L"");
    SetControlText(dlg, IDC_STATIC_STATUS, FormatScanStopped(m_nFileCount, m_nStreamCount).c_str());
}

void CScanHost::CloseScan() {
    if (g_hScanThread != nullptr) ::WaitForSingleObject(g_hScanThread, 100);
    FinishWorker();
    PaintListNow(::GetDlgItem(m_hScanWnd, IDC_LIST_RESULT));
}

LRESULT CScanHost::OnScanRequest(WPARAM, LPARAM lParam) {
    if (m_bStopScan) return 0;
    ScanRequest& r = *reinterpret_cast<ScanRequest*>(lParam);
    HWND dlg = m_hScanWnd;
    switch (r.kind) {
    case ScanRequest::kShowEntry:
        SetControlText(dlg, IDC_STATIC_STATUS, r.text->c_str());
        if (r.isFile) ++m_nFileCount;
        return 1;
    case ScanRequest::kAddRow: {
        HWND list = ::GetDlgItem(dlg, IDC_LIST_RESULT);
        DeferListPaint(list);
        wchar_t size[16];
        // The size is unsigned: a stream of 2 GiB or more must not show as a
        // negative number.
        swprintf(size, 16, L"%lu", static_cast<unsigned long>(r.size));
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        item.pszText = const_cast<wchar_t*>(r.text->c_str());
        int row = static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        LVITEMW sub{};
        sub.iSubItem = 1;
        sub.pszText = size;
        ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&sub));
        sub.iSubItem = 2;
        sub.pszText = const_cast<wchar_t*>(r.path->c_str());
        ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&sub));
        ++m_nStreamCount;
        return row + 1;
    }
    case ScanRequest::kComplete:
        PaintListNow(::GetDlgItem(dlg, IDC_LIST_RESULT));
        EnableControl(dlg, IDC_BUTTON_STOP, FALSE);
        EnableControl(dlg, IDC_BUTTON_SCAN, TRUE);
        SetControlText(dlg, IDC_STATIC_STATUS, FormatScanComplete(m_nFileCount, m_nStreamCount).c_str());
        return 1;
    case ScanRequest::kReadFolder: {
        HWND edit = ::GetDlgItem(dlg, IDC_EDIT_FOLDER);
        int len = ::GetWindowTextLengthW(edit);
        r.out->assign(static_cast<size_t>(len) + 1, L'\0');
        int got = ::GetWindowTextW(edit, &(*r.out)[0], len + 1);
        r.out->resize(got > 0 ? static_cast<size_t>(got) : 0);
        return 1;
    }
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Worker thread

LRESULT CScanHost::Request(ScanRequest& request) {
    if (m_bStopScan) return 0;
    return ::SendMessageW(m_hScanWnd, WM_SCAN_REQUEST, 0, reinterpret_cast<LPARAM>(&request));
}

void CScanHost::CompleteScan() {
    ScanRequest r{ScanRequest::kComplete};
    Request(r);
}

std::wstring CScanHost::ReadFolderText() {
    std::wstring text;
    ScanRequest r{ScanRequest::kReadFolder};
    r.out = &text;
    return Request(r) != 0 ? text : std::wstring();
}

// Every entry of the directory, in the listing's order, shows in the status
// line; subdirectories (links and junctions included) are walked to their
// end before the next entry; the dot entries are shown but not walked; each
// file is counted and enumerated. Patterns past 259 characters are refused by
// the listing, which bounds the depth, link loops included.
void CScanHost::ScanDirectory(std::wstring path) {
    if (m_bStopScan) return;
    std::wstring pattern = path;
    pattern += (!path.empty() && path.back() == L'\\') ? L"*.*" : L"\\*.*";
    CFileFind finder;
    BOOL more = finder.FindFile(pattern.c_str());
    while (more && !m_bStopScan) {
        more = finder.FindNextFile();
        // Where streams live as "file:stream" sibling files, they are the
        // file's streams, not entries of the directory.
        if (IsStreamSiblingName(finder.GetFileName())) continue;
        std::wstring full = finder.GetFilePath();
        bool isDirectory = finder.IsDirectory() != FALSE;
        ScanRequest show{ScanRequest::kShowEntry};
        show.text = &full;
        show.isFile = !isDirectory;
        if (Request(show) == 0) break;
        if (isDirectory) {
            if (!finder.IsDots()) ScanDirectory(full);
        } else {
            ScanFile(this, full);
        }
    }
    finder.Close();
}

void ScanFile(CScanHost* dialog, std::wstring path) {
    if (path.empty()) return;
    CNtfsStream stream;
    NtfsStreamList list;
    CNtfsStream::EnumStreams(path, &list, dialog->StopFlag());
    for (NtfsStreamInfo* info : list) {
        if (AddResultRow(dialog, info->strName, info->dwSize, path) < 0) break;
    }
    CNtfsStream::FreeStreamList(&list);
}

int AddResultRow(CScanHost* dialog, const std::wstring& name, DWORD size, const std::wstring& path) {
    ScanRequest r{ScanRequest::kAddRow};
    r.text = &name;
    r.path = &path;
    r.size = size;
    return static_cast<int>(dialog->Request(r)) - 1;
}

DWORD WINAPI ScanSystemDirThread(LPVOID dialog) {
    CScanHost* host = static_cast<CScanHost*>(dialog);
    std::wstring dir = g_szSystemDir;
    if (dir.empty()) return 0;
    host->ScanDirectory(dir);
    host->CompleteScan();
    return 0;
}

DWORD WINAPI ScanAllDrivesThread(LPVOID dialog) {
    CScanHost* host = static_cast<CScanHost*>(dialog);
    for (wchar_t letter = L'B'; letter <= L'Z' && !host->IsScanStopped(); ++letter) {
        wchar_t root[8];
        swprintf(root, 8, L"%c:\\", letter);
        UINT type = ::GetDriveTypeW(root);
        if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_CDROM) continue;
        host->ScanDirectory(root);
    }
    host->CompleteScan();
    return 0;
}

DWORD WINAPI ScanFolderThread(LPVOID dialog) {
    CScanHost* host = static_cast<CScanHost*>(dialog);
    std::wstring folder = host->ReadFolderText();
    if (folder.empty()) return 0;
    host->ScanDirectory(folder);
    host->CompleteScan();
    return 0;
}
