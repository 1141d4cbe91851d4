#include "UpdateLaunch.h"

#include <shellapi.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "VestrelDlg.h"
#include "resource.h"

DWORD g_dwUpdaterExitCode = 0;

namespace {

const wchar_t kUpdaterName[] = L"korvaneupdate.exe";
const wchar_t kUpdaterCommandPrefix[] = L"korvaneupdate.exe Q00000019 v1.2 ";
const wchar_t kToolsPage[] = L"http:\\\\tools.korvane.example\\Q00000019";
const wchar_t kNoticeCaption[] = L"\x3000关\x3000于\x3000";
const int kCommandLineChars = 260;  // terminating null included
const UINT kNoticePeriodMs = 500;

bool IsAbsoluteDirectory(const std::wstring& dir) {
    if (dir.size() >= 3 && dir[1] == L':' && (dir[2] == L'\\' || dir[2] == L'/')) {
        wchar_t drive = dir[0];
        return (drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z');
    }
    return dir.size() >= 3 && dir[0] == L'\\' && dir[1] == L'\\';  // UNC share
}

bool IsPlainFile(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring WindowsDirectory(UINT (WINAPI* query)(LPWSTR, UINT)) {
    wchar_t buffer[MAX_PATH];
    UINT n = query(buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring();
}

// Where the updater may come from, in order: beside the program, the system
// directories, the search path. The current directory is never searched (nor
// a relative search path entry, which means the same thing): a program
// started from a downloads folder must not run whatever was dropped there.
std::vector<std::wstring> UpdaterDirectories(const std::wstring& ownDirectory) {
    std::vector<std::wstring> dirs{ownDirectory, WindowsDirectory(::GetSystemDirectoryW),
                                   WindowsDirectory(::GetWindowsDirectoryW)};
    DWORD need = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (need > 0) {
        std::wstring path(need, L'\0');
        DWORD got = ::GetEnvironmentVariableW(L"PATH", &path[0], need);
        path.resize(got < need ? got : 0);
        size_t start = 0;
        while (start <= path.size()) {
            size_t end = path.find(L';', start);
            if (end == std::wstring::npos) end = path.size();
            std::wstring entry = path.substr(start, end - start);
            if (entry.size() >= 2 && entry.front() == L'"' && entry.back() == L'"') {
                entry = entry.substr(1, entry.size() - 2);
            }
            dirs.push_back(entry);
            start = end + 1;
        }
    }
    return dirs;
}

// The updater's full path, or empty when none is found.
std::wstring FindUpdater(const std::wstring& ownDirectory) {
    for (std::wstring dir : UpdaterDirectories(ownDirectory)) {
        if (!IsAbsoluteDirectory(dir)) continue;
        if (dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
        std::wstring candidate = dir + kUpdaterName;
        if (IsPlainFile(candidate)) return candidate;
    }
    return std::wstring();
}

void OpenToolsPage() {
    // The shell may hand the address to COM objects; give this thread COM
    // for the call if nobody has.
    HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ::ShellExecuteW(nullptr, L"open", kToolsPage, nullptr, nullptr, SW_SHOW);
    if (SUCCEEDED(com)) ::CoUninitialize();
}

}  // namespace

BOOL RunUpdater() {
    wchar_t path[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    // A cut-off path would name some other file.
    if (n == 0 || n >= MAX_PATH) return FALSE;

    // Only the last path component (file name and extension) is passed on.
    std::wstring own(path, n);
    size_t slash = own.find_last_of(L"\\/:");
    std::wstring fileName = slash == std::wstring::npos ? own : own.substr(slash + 1);
    std::wstring ownDirectory = slash == std::wstring::npos ? std::wstring() : own.substr(0, slash + 1);

    std::wstring commandLine = std::wstring(kUpdaterCommandPrefix) + fileName;
    // The command line has a buffer of its own size; a name that would not
    // fit is not cut short but keeps the updater from being started.
    if (commandLine.size() + 1 > static_cast<size_t>(kCommandLineChars)) return FALSE;

    std::wstring updater = FindUpdater(ownDirectory);
    if (updater.empty()) return FALSE;

    // CreateProcessW may write into the command line: give it a copy.
    std::vector<wchar_t> command(commandLine.begin(), commandLine.end());
    command.push_back(L'\0');
    // All zero but its size: 68 in the 32-bit release.
    static_assert(sizeof(STARTUPINFOW) == (sizeof(void*) == 4 ? 68 : 104), "STARTUPINFOW layout");
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(updater.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &si, &pi)) {
        return FALSE;
    }
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(pi.hProcess, &code);
    g_dwUpdaterExitCode = code;
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return TRUE;
}

DWORD WINAPI UpdateThreadProc(LPVOID dialog) {
    // Taken now, while the dialog is surely there: the updater may outlive
    // it, so the dialog object is not touched after the updater has run.
    HWND window = static_cast<CVestrelDlg*>(dialog)->m_hWnd;
    if (!RunUpdater()) return 0;
    if (g_dwUpdaterExitCode == 100) {
        // The window's own thread starts the notice; a window already gone
        // (the program is closing) ignores the message.
        ::SendMessageW(window, WM_UPDATE_NOTICE, 0, 0);
    } else if (g_dwUpdaterExitCode == 101) {
        OpenToolsPage();
    }
    return 0;
}

void BeginUpdateNotice(CVestrelDlg* dialog) {
    dialog->m_bUpdateNotice = 1;
    dialog->SetTimer(CVestrelDlg::kUpdateTimer, kNoticePeriodMs);
}

void UpdateNoticeTick(CVestrelDlg* dialog) {
    CWnd* button = dialog->GetDlgItem(IDC_BUTTON_ABOUT);
    if (dialog->m_bFlashPicture == 1) {
        HWND hwnd = button != nullptr ? button->m_hWnd : nullptr;
        HDC dc = hwnd != nullptr ? ::GetDC(hwnd) : nullptr;
        if (dc != nullptr) {
            RECT rect;
            ::GetClientRect(hwnd, &rect);
            const int frames[] = {IDB_UPDATE1, IDB_UPDATE2, IDB_UPDATE3, IDB_UPDATE4, IDB_UPDATE5};
            const int count = static_cast<int>(sizeof(frames) / sizeof(frames[0]));
            for (int i = 0; i < count; ++i) {
                HBITMAP bitmap = ::LoadBitmapW(AfxGetResourceHandle(), MAKEINTRESOURCEW(frames[i]));
                DrawStretchedBitmap(bitmap, rect, dc);
                if (bitmap != nullptr) ::DeleteObject(bitmap);
                if (i + 1 < count) ::Sleep(10);
            }
            ::ReleaseDC(hwnd, dc);
        }
        dialog->m_bFlashPicture = 0;
    } else {
        if (button != nullptr) button->SetWindowText(kNoticeCaption);
        dialog->m_bFlashPicture = 1;
    }
}

void EndUpdateNotice(CVestrelDlg* dialog) {
    dialog->KillTimer(CVestrelDlg::kUpdateTimer);
    if (dialog->m_bUpdateNotice == 1) {
        CWnd* button = dialog->GetDlgItem(IDC_BUTTON_ABOUT);
        if (button != nullptr) button->SetWindowText(kNoticeCaption);
        OpenToolsPage();
        dialog->m_bUpdateNotice = 0;
    }
}

void DrawStretchedBitmap(HBITMAP bitmap, const RECT& rect, HDC dc) {
    if (dc == nullptr || bitmap == nullptr) return;
    ::SetBkMode(dc, TRANSPARENT);
    HDC memory = ::CreateCompatibleDC(dc);
    if (memory == nullptr) return;
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    // GetObjectW fills as much as the size asks: the whole BITMAP, 24 bytes
    // in the 32-bit release.
    static_assert(sizeof(BITMAP) == (sizeof(void*) == 4 ? 24 : 32), "BITMAP layout");
    BITMAP info{};
    if (::GetObjectW(bitmap, sizeof(info), &info) == sizeof(info)) {
        ::StretchBlt(dc, 0, 0, rect.right - rect.left, rect.bottom - rect.top, memory, 0, 0,
                     info.bmWidth, info.bmHeight, SRCCOPY);
    }
    ::SelectObject(memory, previous);
    ::DeleteDC(memory);
}
