// Drives the real program from another process, as a user would: start it,
// find its window, click, set the folder field, read texts and counts.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

class RunningProgram {
public:
    // Starts exe (in its own directory unless workDir is given).
    RunningProgram(const std::wstring& exe, const std::wstring& workDir = L"");
    ~RunningProgram();  // ends the process if it still runs
    bool started() const { return m_pi.hProcess != nullptr; }
    // The main dialog, once visible (null on time-out).
    HWND WaitForMainWindow(int timeoutMs = 20000);
    // Waits for the process to end; its exit code, or STILL_ACTIVE on time-out.
    DWORD WaitForExit(int timeoutMs);
    HANDLE process() const { return m_pi.hProcess; }
    DWORD processId() const { return m_pi.dwProcessId; }

private:
    PROCESS_INFORMATION m_pi{};
};

// A console program run to its end with its standard output and error
// captured through pipes (standard input is empty).
struct ConsoleRun {
    DWORD exitCode = STILL_ACTIVE;  // STILL_ACTIVE: did not start or end in time
    std::string out, err;
};
// Arguments are quoted as the C runtime splits them back.
ConsoleRun RunConsole(const std::wstring& exe, const std::vector<std::wstring>& args,
                      const std::wstring& workDir = L"", int timeoutMs = 60000);

// A console program run on a console of its own (hidden), as a user runs it
// from a command prompt: its standard handles are the console's. `screen`
// is the console's text when it ended, one string per row with trailing
// blanks cut; `seen` every distinct text of the cursor's row sampled while
// it ran (every few milliseconds).
struct ConsoleScreen {
    DWORD exitCode = STILL_ACTIVE;
    std::vector<std::wstring> screen;
    std::vector<std::wstring> seen;
    std::string problem;  // why the run could not be watched, if so
};
ConsoleScreen RunOnConsole(const std::wstring& exe, const std::vector<std::wstring>& args, int timeoutMs = 60000);

// The main dialog's caption.
extern const wchar_t kMainCaption[];
// Visible top-level windows of a process (0 for any process) with a caption.
int CountWindows(const wchar_t* caption, DWORD processId = 0);
HWND FindMainWindow(DWORD processId);
// The focused control of the window's thread.
HWND FocusedControl(HWND anyWindowOfThread);
// Scope 3 on a folder, then Scan; waits for the completion message.
bool ScanFolderAndWait(HWND mainWnd, const std::wstring& folder, int timeoutMs = 60000);
// A small tree with a few streams for demonstrations and smoke tests.
void MakeDemoTree(const std::wstring& root);

}  // namespace testing_support
