#include "ScanDriver.h"

#include <shlobj.h>

#include <cwchar>

#include "FileFind.h"
#include "FsRedirection.h"
#include "NtfsStream.h"
#include "resource.h"

HANDLE g_hScanThread = nullptr;
wchar_t g_szSystemDir[0x1024];

struct ScanRequest {
    enum Kind { kShowEntry, kAddRow, kComplete, kReadFolder } kind;
    const CScanSession* session = nullptr;  // whose worker asks
    const std::wstring* text = nullptr;  // entry path / stream name
    const std::wstring* path = nullptr;  // file path of a row
    uint64_t size = 0;                   // stream size of a row, all 64 bits
    bool isFile = false;                 // the entry counts as a scanned file
    std::wstring* out = nullptr;         // folder text read back
};

namespace {

std::wstring Format(const wchar_t* format, int files, int streams) {
    wchar_t text[256];
    swprintf(text, 256, format, files, streams);
    return text;
}

void EnableControl(HWND dlg, int id, BOOL enable) { ::EnableWindow(::GetDlgItem(dlg, id), enable); }

// Painting the result list is by far the dearest part of adding a row (under
// Wine a repaint per row costs more than the whole walk of a file), and a row
// found a few milliseconds later looks the same to the user. So while rows
// come in, the list is painted at most every kListPaintMs: the first row of a
// burst arms a one-shot timer that repaints the whole list, and until then
// the rows' painting is held back. Every row is in the list at once; only its
// painting waits. Ending or stopping a scan paints at once.
//
// How it is held back depends on the list view. Where its redraw switch
// leaves the window's styles alone (Wine), the switch is turned off: an
// insert then costs next to nothing. Where the switch goes on to the default
// handling, which takes WS_VISIBLE away (Windows), clicks, the wheel and the
// scroll bar would fall through the list while rows come in; there the
// switch is never used, and what each insert invalidates is validated again
// at once, on the window's thread, for the timer to paint.
constexpr UINT_PTR kListPaintTimer = 0x5A1;
constexpr UINT kListPaintMs = 100;
// Present on the list while its painting waits for the timer; its value is
// the ListPaintHold in use.
const wchar_t kListPaintDeferred[] = L"VestrelListPaintDeferred";
enum ListPaintHold : INT_PTR { kPaintPerRow = 0, kRedrawOff = 1, kValidateInserts = 2 };

// Whether this platform's list view hides itself when its redraw is turned
// off. Asked of a throwaway list view of the same class, with no size, so
// the result list itself is never hidden, not even for a moment.
bool RedrawSwitchHidesList(HWND list) {
    HWND probe = ::CreateWindowExW(WS_EX_NOPARENTNOTIFY, L"SysListView32", L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 0, 0,
                                   ::GetParent(list), nullptr,
                                   reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(list, GWLP_HINSTANCE)), nullptr);
    if (probe == nullptr) return true;  // unknown: never switch
    ::SendMessageW(probe, WM_SETREDRAW, FALSE, 0);
    const bool hides = (::GetWindowLongW(probe, GWL_STYLE) & WS_VISIBLE) == 0;
    ::DestroyWindow(probe);
    return hides;
}

void CALLBACK PaintListNow(HWND list, UINT = 0, UINT_PTR = 0, DWORD = 0) {
    const HANDLE hold = ::RemovePropW(list, kListPaintDeferred);
    if (hold == nullptr) return;
    ::KillTimer(list, kListPaintTimer);
    if (reinterpret_cast<INT_PTR>(hold) == kRedrawOff) ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::RedrawWindow(list, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

// How the list's painting is held back until the timer.
ListPaintHold DeferListPaint(HWND list, bool redrawHides) {
    // Re-arming the timer would restart it and starve the painting while
    // rows keep coming: only the first row of a burst arms it.
    if (HANDLE hold = ::GetPropW(list, kListPaintDeferred))
        return static_cast<ListPaintHold>(reinterpret_cast<INT_PTR>(hold));
    if (!::SetTimer(list, kListPaintTimer, kListPaintMs, PaintListNow)) return kPaintPerRow;
    const ListPaintHold hold = redrawHides ? kValidateInserts : kRedrawOff;
    ::SetPropW(list, kListPaintDeferred, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(hold)));
    if (hold == kRedrawOff) ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    return hold;
}

// Holds back the painting of one row's insert for the timer; whatever
// waited to be painted before still waits as it did.
class HeldListPaint {
public:
    HeldListPaint(HWND list, bool redrawHides) : m_list(list) {
        if (DeferListPaint(list, redrawHides) != kValidateInserts) return;
        m_before = ::CreateRectRgn(0, 0, 0, 0);
        if (m_before != nullptr) m_had = ::GetUpdateRgn(list, m_before, FALSE);
    }
    ~HeldListPaint() {
        if (m_before == nullptr) return;
        ::ValidateRect(m_list, nullptr);
        if (m_had == SIMPLEREGION || m_had == COMPLEXREGION) ::InvalidateRgn(m_list, m_before, TRUE);
        ::DeleteObject(m_before);
    }
    HeldListPaint(const HeldListPaint&) = delete;
    HeldListPaint& operator=(const HeldListPaint&) = delete;

private:
    HWND m_list;
    HRGN m_before = nullptr;
    int m_had = NULLREGION;
};

std::atomic<ScanStepHook> g_scanStepHook{nullptr};

void ScanStep(const std::wstring& path) {
    if (ScanStepHook hook = g_scanStepHook.load()) hook(path);
}

// The worker's share of its session, given back when the thread ends.
class SessionShare {
public:
    explicit SessionShare(LPVOID session) : m_session(static_cast<CScanSession*>(session)) {}
    ~SessionShare() { m_session->Release(); }
    SessionShare(const SessionShare&) = delete;
    SessionShare& operator=(const SessionShare&) = delete;
    CScanSession* operator->() const { return m_session; }

private:
    CScanSession* m_session;
};

}  // namespace

std::wstring FormatScanComplete(int files, int streams) {
    return Format(L"扫描完成！共扫描%d个文件。找到%d个项目含有NTFS数据流！", files, streams);
}

std::wstring FormatScanStopped(int files, int streams) {
    return Format(L"扫描被停止！扫描%d个文件。找到%d个项目含有NTFS数据流！", files, streams);
}

void SetScanStepHook(ScanStepHook hook) { g_scanStepHook = hook; }

// ---------------------------------------------------------------------------
// Session

CScanSession::CScanSession(HWND hWnd, std::wstring strSystemDir)
    : m_hScanWnd(hWnd), m_strSystemDir(std::move(strSystemDir)) {}

void CScanSession::Release() {
    if (--m_nRefs == 0) delete this;
}

// ---------------------------------------------------------------------------
// Window thread

CScanHost::~CScanHost() {
    DropSession();
    if (g_hScanThread != nullptr) {
        ::CloseHandle(g_hScanThread);
        g_hScanThread = nullptr;
    }
}

void CScanHost::AttachScanWindow(HWND hWnd) {
    DropSession();
    m_hScanWnd = hWnd;
    m_hStatus = ::GetDlgItem(hWnd, IDC_STATIC_STATUS);
    m_hList = ::GetDlgItem(hWnd, IDC_LIST_RESULT);
    m_pSession = new CScanSession(hWnd, std::wstring());
}

void CScanHost::DropSession() {
    if (m_pSession == nullptr) return;
    m_pSession->Stop();
    m_pSession->Release();
    m_pSession = nullptr;
}

namespace {

// Starts one worker on a new session of the window's; the worker gets its
// own share. Null when no thread could be started.
HANDLE StartWorker(LPTHREAD_START_ROUTINE proc, CScanSession* session) {
    session->AddRef();
    HANDLE thread = ::CreateThread(nullptr, 0, proc, session, 0, nullptr);
    if (thread == nullptr) session->Release();
    return thread;
}

}  // namespace

void CScanHost::BeginScan(int nScanMode) {
    HWND dlg = m_hScanWnd;
    EnableControl(dlg, IDC_BUTTON_SCAN, FALSE);
    EnableControl(dlg, IDC_BUTTON_STOP, TRUE);
    // A worker of an earlier scan may still be on its way out, or blocked in
    // the file system: its session is stopped and no longer the window's, so
    // nothing it asks for is heard. It is not waited for.
    DropSession();
    m_nFileCount = 0;
    m_nStreamCount = 0;
    ::SendMessageW(m_hList, LVM_DELETEALLITEMS, 0, 0);
    if (g_hScanThread != nullptr) ::CloseHandle(g_hScanThread);
    g_hScanThread = nullptr;

    std::wstring systemDir;
    if (nScanMode == kScanSystemDir) {
        g_szSystemDir[0] = L'\0';
        if (::SHGetSpecialFolderPathW(nullptr, g_szSystemDir, CSIDL_WINDOWS, FALSE)) systemDir = g_szSystemDir;
    }
    // The session takes the Windows directory now, so no later scan can
    // change it under this one's worker.
    m_pSession = new CScanSession(dlg, systemDir);
    if (nScanMode == kScanSystemDir && !systemDir.empty()) {
        g_hScanThread = StartWorker(ScanSystemDirThread, m_pSession);
        if (g_hScanThread != nullptr) return;
    }
    if (nScanMode == kScanAllDrives) {
        g_hScanThread = StartWorker(ScanAllDrivesThread, m_pSession);
        if (g_hScanThread != nullptr) return;
    }
    if (nScanMode == kScanFolder) g_hScanThread = StartWorker(ScanFolderThread, m_pSession);
}

void CScanHost::StopScan() {
    HWND dlg = m_hScanWnd;
    EnableControl(dlg, IDC_BUTTON_SCAN, TRUE);
    EnableControl(dlg, IDC_BUTTON_STOP, FALSE);
    if (g_hScanThread != nullptr) ::WaitForSingleObject(g_hScanThread, 100);
    // From here on every request of the worker is refused, whether it is
    // still running or not; it ends at its next check.
    if (m_pSession != nullptr) m_pSession->Stop();
    PaintListNow(m_hList);
    ::Sleep(100);
    ::SetWindowTextW(m_hStatus, L"");
    ::SetWindowTextW(m_hStatus, FormatScanStopped(m_nFileCount, m_nStreamCount).c_str());
}

void CScanHost::CloseScan() {
    if (g_hScanThread != nullptr) ::WaitForSingleObject(g_hScanThread, 100);
    if (m_pSession != nullptr) m_pSession->Stop();
    if (g_hScanThread != nullptr) ::CloseHandle(g_hScanThread);
    g_hScanThread = nullptr;
    PaintListNow(m_hList);
}

LRESULT CScanHost::OnScanRequest(WPARAM, LPARAM lParam) {
    ScanRequest& r = *reinterpret_cast<ScanRequest*>(lParam);
    // Only the current scan is heard, and only until it is stopped.
    if (m_pSession == nullptr || r.session != m_pSession || m_pSession->IsScanStopped()) return 0;
    HWND dlg = m_hScanWnd;
    switch (r.kind) {
    case ScanRequest::kShowEntry:
        ::SetWindowTextW(m_hStatus, r.text->c_str());
        if (r.isFile) ++m_nFileCount;
        return 1;
    case ScanRequest::kAddRow: {
        HWND list = m_hList;
        if (m_nRedrawHidesList < 0) m_nRedrawHidesList = RedrawSwitchHidesList(list) ? 1 : 0;
        HeldListPaint held(list, m_nRedrawHidesList != 0);
        // The whole size, unsigned: a stream of 2 GiB or more shows neither
        // as a negative number nor as its low 32 bits.
        std::wstring size = vestrel::DecimalSize(r.size);
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        item.pszText = const_cast<wchar_t*>(r.text->c_str());
        int row = static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        // A row the list refuses (out of memory, say) is no row: nothing is
        // counted, and the scan goes on with the next stream.
        if (row < 0) return 0;
        LVITEMW sub{};
        sub.iSubItem = 1;
        sub.pszText = const_cast<wchar_t*>(size.c_str());
        ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&sub));
        sub.iSubItem = 2;
        sub.pszText = const_cast<wchar_t*>(r.path->c_str());
        ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&sub));
        ++m_nStreamCount;
        return row + 1;
    }
    case ScanRequest::kComplete:
        PaintListNow(m_hList);
        EnableControl(dlg, IDC_BUTTON_STOP, FALSE);
        EnableControl(dlg, IDC_BUTTON_SCAN, TRUE);
        ::SetWindowTextW(m_hStatus, FormatScanComplete(m_nFileCount, m_nStreamCount).c_str());
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

LRESULT CScanSession::Request(ScanRequest& request) {
    if (IsScanStopped()) return 0;
    request.session = this;
    return ::SendMessageW(m_hScanWnd, WM_SCAN_REQUEST, 0, reinterpret_cast<LPARAM>(&request));
}

void CScanSession::CompleteScan() {
    ScanRequest r{ScanRequest::kComplete};
    Request(r);
}

std::wstring CScanSession::ReadFolderText() {
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
void CScanSession::ScanDirectory(std::wstring path) {
    if (IsScanStopped()) return;
    std::wstring pattern = path;
    pattern += (!path.empty() && path.back() == L'\\') ? L"*.*" : L"\\*.*";
    ScanStep(path);
    CFileFind finder;
    BOOL more;
    {
        vestrel::FsRedirectionOff off(vestrel::FsCall::kList);
        more = finder.FindFile(pattern.c_str());
    }
    while (more && !IsScanStopped()) {
        {
            vestrel::FsRedirectionOff off(vestrel::FsCall::kList);
            more = finder.FindNextFile();
        }
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

void ScanFile(CScanSession* session, std::wstring path) {
    if (path.empty()) return;
    ScanStep(path);
    CNtfsStream stream;
    NtfsStreamList list;
    CNtfsStream::EnumStreams(path, &list, session->StopFlag());
    for (NtfsStreamInfo* info : list) {
        if (session->IsScanStopped()) break;
        AddResultRow(session, info->strName, info->ullSize, path);
    }
    CNtfsStream::FreeStreamList(&list);
}

int AddResultRow(CScanSession* session, const std::wstring& name, uint64_t size, const std::wstring& path) {
    ScanRequest r{ScanRequest::kAddRow};
    r.text = &name;
    r.path = &path;
    r.size = size;
    return static_cast<int>(session->Request(r)) - 1;
}

DWORD WINAPI ScanSystemDirThread(LPVOID session) {
    SessionShare share(session);
    const std::wstring dir = share->SystemDir();
    if (dir.empty()) return 0;
    share->ScanDirectory(dir);
    share->CompleteScan();
    return 0;
}

DWORD WINAPI ScanAllDrivesThread(LPVOID session) {
    SessionShare share(session);
    for (wchar_t letter = L'B'; letter <= L'Z' && !share->IsScanStopped(); ++letter) {
        wchar_t root[8];
        swprintf(root, 8, L"%c:\\", letter);
        UINT type = ::GetDriveTypeW(root);
        if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_CDROM) continue;
        share->ScanDirectory(root);
    }
    share->CompleteScan();
    return 0;
}

DWORD WINAPI ScanFolderThread(LPVOID session) {
    SessionShare share(session);
    std::wstring folder = share->ReadFolderText();
    if (folder.empty()) return 0;
    share->ScanDirectory(folder);
    share->CompleteScan();
    return 0;
}
