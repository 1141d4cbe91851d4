#include "ProgramDriver.h"

#include <commctrl.h>

#include <thread>

#include "WinTestSupport.h"
#include "resource.h"

namespace testing_support {

const wchar_t kMainCaption[] = L"Vestrel\xff08v1.2\xff09";

RunningProgram::RunningProgram(const std::wstring& exe, const std::wstring& workDir) {
    std::wstring dir = workDir;
    if (dir.empty()) dir = exe.substr(0, exe.find_last_of(L"\\/"));
    std::wstring cmd = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    if (!::CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si, &m_pi))
        m_pi = PROCESS_INFORMATION{};
}

RunningProgram::~RunningProgram() {
    if (m_pi.hProcess == nullptr) return;
    if (::WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) {
        if (HWND w = FindMainWindow(m_pi.dwProcessId)) ::PostMessageW(w, WM_CLOSE, 0, 0);
        if (::WaitForSingleObject(m_pi.hProcess, 10000) == WAIT_TIMEOUT) ::TerminateProcess(m_pi.hProcess, 1);
    }
    ::CloseHandle(m_pi.hThread);
    ::CloseHandle(m_pi.hProcess);
}

HWND RunningProgram::WaitForMainWindow(int timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindMainWindow(m_pi.dwProcessId)) != nullptr; }, timeoutMs);
    return found;
}

DWORD RunningProgram::WaitForExit(int timeoutMs) {
    if (::WaitForSingleObject(m_pi.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = 0;
    ::GetExitCodeProcess(m_pi.hProcess, &code);
    return code;
}

namespace {

std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

void Drain(HANDLE pipe, std::string* into) {
    char buf[65536];
    DWORD n = 0;
    while (::ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) into->append(buf, n);
}

}  // namespace

namespace {

// Starts `exe` with `args` quoted as the C runtime splits them back, the
// given (inheritable) standard handles and creation flags.
bool StartWithHandles(const std::wstring& exe, const std::vector<std::wstring>& args, const std::wstring& workDir,
                      HANDLE in, HANDLE out, HANDLE err, DWORD flags, PROCESS_INFORMATION* pi) {
    std::wstring cmd = QuoteArgument(exe);
    for (const std::wstring& a : args) cmd += L" " + QuoteArgument(a);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    return ::CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE, flags, nullptr,
                            workDir.empty() ? nullptr : workDir.c_str(), &si, pi) != FALSE;
}

}  // namespace

ConsoleRun RunConsole(const std::wstring& exe, const std::vector<std::wstring>& args, const std::wstring& workDir,
                      int timeoutMs) {
    ConsoleRun result;
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    if (!::CreatePipe(&outRead, &outWrite, &sa, 0)) return result;
    if (!::CreatePipe(&errRead, &errWrite, &sa, 0)) {
        ::CloseHandle(outRead);
        ::CloseHandle(outWrite);
        return result;
    }
    ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);

    PROCESS_INFORMATION pi{};
    const bool started = StartWithHandles(exe, args, workDir, nul, outWrite, errWrite, CREATE_NO_WINDOW, &pi);
    ::CloseHandle(outWrite);
    ::CloseHandle(errWrite);
    if (nul != INVALID_HANDLE_VALUE) ::CloseHandle(nul);
    if (started) {
        std::thread errReader(Drain, errRead, &result.err);
        Drain(outRead, &result.out);
        errReader.join();
        if (::WaitForSingleObject(pi.hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0) {
            ::GetExitCodeProcess(pi.hProcess, &result.exitCode);
        } else {
            ::TerminateProcess(pi.hProcess, 1);
        }
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
    ::CloseHandle(outRead);
    ::CloseHandle(errRead);
    return result;
}

namespace {

// The rows of the attached console's buffer and the cursor's row.
bool ReadScreen(HANDLE out, std::vector<std::wstring>* rows, std::wstring* cursorRow) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!::GetConsoleScreenBufferInfo(out, &info)) return false;
    const SHORT width = info.dwSize.X;
    rows->clear();
    std::wstring row(size_t(width), L' ');
    for (SHORT y = 0; y < info.dwSize.Y; ++y) {
        DWORD got = 0;
        if (!::ReadConsoleOutputCharacterW(out, &row[0], DWORD(width), COORD{0, y}, &got)) return false;
        std::wstring text = row.substr(0, got);
        text.erase(text.find_last_not_of(L' ') + 1);
        if (y == info.dwCursorPosition.Y && cursorRow != nullptr) *cursorRow = text;
        rows->push_back(text);
    }
    while (!rows->empty() && rows->back().empty()) rows->pop_back();
    return true;
}

}  // namespace

ConsoleScreen RunOnConsole(const std::wstring& exe, const std::vector<std::wstring>& args, int timeoutMs) {
    ConsoleScreen result;
    // A console of this process's own, handed to the program as its standard
    // handles: it outlives the program, so its text can be read at the end.
    ::FreeConsole();
    if (!::AllocConsole()) {
        result.problem = "AllocConsole failed: " + std::to_string(::GetLastError());
        return result;
    }
    if (HWND window = ::GetConsoleWindow()) ::ShowWindow(window, SW_HIDE);
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE out = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                               OPEN_EXISTING, 0, nullptr);
    HANDLE in = ::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                              OPEN_EXISTING, 0, nullptr);
    PROCESS_INFORMATION pi{};
    if (out == INVALID_HANDLE_VALUE || in == INVALID_HANDLE_VALUE) {
        result.problem = "console handles: " + std::to_string(::GetLastError());
    } else if (!StartWithHandles(exe, args, L"", in, out, out, 0, &pi)) {
        result.problem = "CreateProcessW failed: " + std::to_string(::GetLastError());
    } else {
        const ULONGLONG end = ::GetTickCount64() + ULONGLONG(timeoutMs);
        std::vector<std::wstring> rows;
        std::wstring cursorRow;
        bool ended = false;
        while (!ended && ::GetTickCount64() < end) {
            ended = ::WaitForSingleObject(pi.hProcess, 5) == WAIT_OBJECT_0;
            if (ReadScreen(out, &rows, &cursorRow) && !cursorRow.empty() &&
                (result.seen.empty() || result.seen.back() != cursorRow)) {
                result.seen.push_back(cursorRow);
            }
        }
        if (ended) {
            ::GetExitCodeProcess(pi.hProcess, &result.exitCode);
            result.screen = rows;
        } else {
            ::TerminateProcess(pi.hProcess, 1);
            ::WaitForSingleObject(pi.hProcess, 5000);
        }
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
    if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
    if (in != INVALID_HANDLE_VALUE) ::CloseHandle(in);
    ::FreeConsole();
    return result;
}

namespace {
struct Search {
    const wchar_t* caption;
    DWORD pid;
    int count;
    HWND last;
};
BOOL CALLBACK Visit(HWND hwnd, LPARAM lp) {
    Search& s = *reinterpret_cast<Search*>(lp);
    if (!::IsWindowVisible(hwnd)) return TRUE;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    if (s.pid != 0 && pid != s.pid) return TRUE;
    if (WindowText(hwnd) != s.caption) return TRUE;
    ++s.count;
    s.last = hwnd;
    return TRUE;
}
}  // namespace

int CountWindows(const wchar_t* caption, DWORD processId) {
    Search s{caption, processId, 0, nullptr};
    ::EnumWindows(Visit, reinterpret_cast<LPARAM>(&s));
    return s.count;
}

HWND FindMainWindow(DWORD processId) {
    Search s{kMainCaption, processId, 0, nullptr};
    ::EnumWindows(Visit, reinterpret_cast<LPARAM>(&s));
    return s.last;
}

HWND FocusedControl(HWND anyWindowOfThread) {
    GUITHREADINFO gti{};
    gti.cbSize = sizeof(gti);
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(anyWindowOfThread, nullptr), &gti);
    return gti.hwndFocus;
}

bool ScanFolderAndWait(HWND mainWnd, const std::wstring& folder, int timeoutMs) {
    StartFolderScan(mainWnd, folder);
    HWND status = ::GetDlgItem(mainWnd, IDC_STATIC_STATUS);
    HWND scan = ::GetDlgItem(mainWnd, IDC_BUTTON_SCAN);
    // The click has taken Scan away; the line may still read complete from an
    // earlier scan, so the end is Scan given back with the message.
    return WaitUntil([&] { return ::IsWindowEnabled(scan) && WindowText(status).rfind(L"扫描完成", 0) == 0; },
                     timeoutMs);
}

void MakeDemoTree(const std::wstring& root) {
    WriteBytes(root + L"\\报告.docx", "main content");
    WriteBytes(root + L"\\报告.docx:Zone.Identifier", "[ZoneTransfer]\r\nZoneId=3\r\n");
    WriteBytes(root + L"\\报告.docx:hidden.exe", std::string(48128, 'M'));
    WriteBytes(root + L"\\notes.txt", "notes");
    WriteBytes(root + L"\\notes.txt:summary", "NTFS 数据流示例");
    WriteBytes(root + L"\\notes.txt:author", "Korvane");
    WriteBytes(root + L"\\images\\photo.jpg", "jpeg");
    WriteBytes(root + L"\\images\\photo.jpg:thumbnail", std::string(2048, 'T'));
    WriteBytes(root + L"\\images\\logo.png", "png");
    WriteBytes(root + L"\\data\\archive.bin", "bin");
    WriteBytes(root + L"\\data\\archive.bin:payload", std::string(1234567, 'P'));
    WriteBytes(root + L"\\data\\readme.txt", "readme");
}

}  // namespace testing_support
