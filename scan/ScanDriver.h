// The scan driver: one scan at a time over one scope, on a worker thread that
// walks the tree, counts files, enumerates each file's streams and appends one
// result row per stream, with the status line showing every entry.
//
// The worker never touches a control itself. Every change it makes (status
// text, a row, the buttons) and every read (the folder field) is a synchronous
// WM_SCAN_REQUEST to the window's thread, which carries it out only while the
// scan has not been stopped. Because Stop runs on that same thread, nothing a
// worker asks for after the stop message can reach the screen, even when the
// worker was already blocked in its request when Stop was pressed.
#pragma once
#include <windows.h>

#include <atomic>
#include <string>

// The worker's request to the window's thread; lParam is a ScanRequest*.
constexpr UINT WM_SCAN_REQUEST = WM_APP + 0x51;

// The last started worker, or null.
extern HANDLE g_hScanThread;
// The Windows directory for scope 1, filled before the worker starts.
extern wchar_t g_szSystemDir[0x1024];

enum ScanMode { kScanSystemDir = 1, kScanAllDrives = 2, kScanFolder = 3 };

struct ScanRequest;

// What the driver needs of its window: a dialog with the folder field (1003),
// Stop (1005), Scan (1006), the result list (1009) and the status line (1012),
// whose window procedure passes WM_SCAN_REQUEST to OnScanRequest.
class CScanHost {
public:
    CScanHost() = default;
    // Ends a worker that is still running before the host goes.
    virtual ~CScanHost();
    CScanHost(const CScanHost&) = delete;
    CScanHost& operator=(const CScanHost&) = delete;

    int m_nFileCount = 0;    // files handed to the enumeration, this or last scan
    int m_nStreamCount = 0;  // rows added, this or last scan

    // --- window thread ---
    void AttachScanWindow(HWND hWnd) { m_hScanWnd = hWnd; }
    // Scan pressed: buttons, counters, empty list, one worker for the scope.
    void BeginScan(int nScanMode);
    // Stop pressed: waits up to 100 ms, stops the worker, writes the stop message.
    void StopScan();
    // Window closing: waits up to 100 ms, then stops the worker and waits for it.
    void CloseScan();
    // Carries out one worker request unless the scan was stopped (then 0).
    LRESULT OnScanRequest(WPARAM wParam, LPARAM lParam);

    // --- worker thread ---
    // Walks the tree under path depth-first (see the .cpp for the rules).
    void ScanDirectory(std::wstring path);
    bool IsScanStopped() const { return m_bStopScan.load(); }
    const std::atomic<bool>* StopFlag() const { return &m_bStopScan; }
    // Asks the window's thread to run a request; 0 when it was refused.
    LRESULT Request(ScanRequest& request);
    void CompleteScan();
    std::wstring ReadFolderText();

private:
    // Sets the stop request and waits for the worker to end, answering its
    // pending requests (refused) meanwhile; releases the handle.
    void FinishWorker();

    HWND m_hScanWnd = nullptr;
    std::atomic<bool> m_bStopScan{false};
};

DWORD WINAPI ScanSystemDirThread(LPVOID dialog);
DWORD WINAPI ScanAllDrivesThread(LPVOID dialog);
DWORD WINAPI ScanFolderThread(LPVOID dialog);

// Counts one file's streams into result rows (worker thread).
void ScanFile(CScanHost* dialog, std::wstring path);
// Appends one result row; returns its index, or -1 when the scan was stopped.
int AddResultRow(CScanHost* dialog, const std::wstring& name, DWORD size, const std::wstring& path);

// The status texts, with the file and stream counts.
std::wstring FormatScanComplete(int files, int streams);
std::wstring FormatScanStopped(int files, int streams);
