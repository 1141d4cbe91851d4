// The scan driver: one scan at a time over one scope, on a worker thread that
// walks the tree, counts files, enumerates each file's streams and appends one
// result row per stream, with the status line showing every entry.
//
// The worker never touches a control itself. Every change it makes (status
// text, a row, the buttons) and every read (the folder field) is a synchronous
// WM_SCAN_REQUEST to the window's thread, which carries it out only while the
// worker's scan is the window's current one and has not been stopped. Because
// Stop runs on that same thread, nothing a worker asks for after the stop
// message can reach the screen, even when the worker was already blocked in
// its request when Stop was pressed.
//
// Nor does the worker touch the dialog: it owns a share of its scan's session
// (stop request, window handle, Windows directory) and nothing else. So the
// window's thread never waits for a worker beyond the 100 ms of Stop and
// close: a worker blocked in the file system (an unreachable network drive)
// finishes in the background, heard by nobody, or the process ends with it.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

// The worker's request to the window's thread; lParam is a ScanRequest*.
constexpr UINT WM_SCAN_REQUEST = WM_APP + 0x51;

// The last started worker, or null.
extern HANDLE g_hScanThread;
// The Windows directory for scope 1, filled before the worker starts.
extern wchar_t g_szSystemDir[0x1024];

enum ScanMode { kScanSystemDir = 1, kScanAllDrives = 2, kScanFolder = 3 };

struct ScanRequest;

// One scan's state, shared by the window and the scan's worker; the last of
// them to let go deletes it.
class CScanSession {
public:
    // hWnd: the dialog; strSystemDir: the Windows directory of a scope-1 scan.
    CScanSession(HWND hWnd, std::wstring strSystemDir);
    CScanSession(const CScanSession&) = delete;
    CScanSession& operator=(const CScanSession&) = delete;
    void AddRef() { ++m_nRefs; }
    void Release();

    // Window thread: from here on the window refuses this scan's requests,
    // and the worker ends at its next check.
    void Stop() { m_bStopScan = true; }
    bool IsScanStopped() const { return m_bStopScan.load(); }
    const std::atomic<bool>* StopFlag() const { return &m_bStopScan; }

    // --- worker thread ---
    // Walks the tree under path depth-first (see the .cpp for the rules).
    void ScanDirectory(std::wstring path);
    // Asks the window's thread to run a request; 0 when it was refused.
    LRESULT Request(ScanRequest& request);
    void CompleteScan();
    std::wstring ReadFolderText();
    const std::wstring& SystemDir() const { return m_strSystemDir; }

private:
    ~CScanSession() = default;

    std::atomic<long> m_nRefs{1};
    const HWND m_hScanWnd;
    const std::wstring m_strSystemDir;
    std::atomic<bool> m_bStopScan{false};
};

// What the driver needs of its window: a dialog with the folder field (1003),
// Stop (1005), Scan (1006), the result list (1009) and the status line (1012),
// whose window procedure passes WM_SCAN_REQUEST to OnScanRequest.
class CScanHost {
public:
    CScanHost() = default;
    // Stops a scan still running, without waiting for its worker.
    virtual ~CScanHost();
    CScanHost(const CScanHost&) = delete;
    CScanHost& operator=(const CScanHost&) = delete;

    // Kept on the window's thread from the current scan's requests.
    int m_nFileCount = 0;    // files handed to the enumeration, this or last scan
    int m_nStreamCount = 0;  // rows added, this or last scan

    // --- window thread ---
    void AttachScanWindow(HWND hWnd);
    // Scan pressed: buttons, counters, empty list, one worker for the scope.
    // Never waits: an earlier worker still on its way out is left to end.
    void BeginScan(int nScanMode);
    // Stop pressed: waits up to 100 ms, stops the scan, pauses 100 ms and
    // writes the stop message.
    void StopScan();
    // Window closing: waits up to 100 ms, stops the scan and lets the
    // worker's handle go; the worker, if still running, ends on its own.
    void CloseScan();
    // Carries out one worker request of the current, unstopped scan (else 0).
    LRESULT OnScanRequest(WPARAM wParam, LPARAM lParam);
    // The current scan (an idle one before the first Scan).
    CScanSession* ScanSession() const { return m_pSession; }

private:
    // Stops the current scan and drops the window's share of it.
    void DropSession();

    HWND m_hScanWnd = nullptr;
    // The status line and the result list, asked once: every listing entry
    // and every row of a scan goes to one of them, and under Wine asking the
    // window for a control is a round trip to the server each time.
    HWND m_hStatus = nullptr;
    HWND m_hList = nullptr;
    CScanSession* m_pSession = nullptr;
    // Whether the list view hides itself when its redraw is off; -1 unknown.
    int m_nRedrawHidesList = -1;
};

// Thread procedures; the parameter is the worker's share of its session,
// which the procedure gives back when it ends.
DWORD WINAPI ScanSystemDirThread(LPVOID session);
DWORD WINAPI ScanAllDrivesThread(LPVOID session);
DWORD WINAPI ScanFolderThread(LPVOID session);

// Counts one file's streams into result rows (worker thread).
void ScanFile(CScanSession* session, std::wstring path);
// Appends one result row; returns its index, or -1 when the scan was stopped
// or the list refused the row (then the scan goes on and nothing is counted).
int AddResultRow(CScanSession* session, const std::wstring& name, uint64_t size, const std::wstring& path);

// Test seam: called on the worker with the path before each directory is
// listed and before each file is opened. A test makes it block to stand for
// a file system that does not answer. None by default.
using ScanStepHook = void (*)(const std::wstring& path);
void SetScanStepHook(ScanStepHook hook);

// The status texts, with the file and stream counts.
std::wstring FormatScanComplete(int files, int streams);
std::wstring FormatScanStopped(int files, int streams);
