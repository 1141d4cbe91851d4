// Driving the main dialog's context menu and the modal windows its commands
// open (menu, message boxes, save dialog, viewer) from the test thread.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "VestrelDlg.h"
#include "WinTestSupport.h"

namespace action_tests {

using testing_support::ModalDialog;

// The main dialog, made the application's main window (as the program does),
// so message boxes and the save dialog get it as owner. On destruction every
// modal window still open is answered first, so a failed case cannot hang.
class MainDialog {
public:
    MainDialog();
    ~MainDialog();
    HWND hwnd() const { return m_dlg->hwnd(); }
    HWND list() const { return m_dlg->item(1009); }
    HWND item(int id) const { return m_dlg->item(id); }
    CVestrelDlg* operator->() const { return m_dlg->operator->(); }
    DWORD thread() const { return ::GetWindowThreadProcessId(hwnd(), nullptr); }

private:
    std::unique_ptr<ModalDialog<CVestrelDlg>> m_dlg;
};

// Sends one message on another thread, so the test can answer whatever modal
// window the handler opens before the send returns.
class AsyncSend {
public:
    AsyncSend(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    ~AsyncSend();
    // True once the handler has returned (waits up to ms).
    bool Wait(int ms);
    bool done() const { return m_done; }

private:
    std::thread m_thread;
    std::atomic<bool> m_done{false};
};

// A menu command, sent as the menu posts it.
std::unique_ptr<AsyncSend> Command(const MainDialog& d, UINT id);

// A right-click notification from the list for row `item` (-1: no row).
class RightClick {
public:
    RightClick(const MainDialog& d, int item);
    // The pop-up menu window once it shows, or null.
    HWND WaitMenu(int ms = 10000);
    // Closes the menu as Esc does; true when the handler returned.
    bool Cancel();
    // Moves down `downs` items and presses Enter, as a user picks a command.
    bool Pick(int downs);

private:
    const MainDialog& m_d;
    NMITEMACTIVATE m_nm{};
    HWND m_menu = nullptr;
    std::unique_ptr<AsyncSend> m_send;
};

// Right-clicks row `item` (-1: no row) and closes the menu as Esc does, which
// makes that row the one the commands act on. False when no menu showed or
// the handler did not return.
bool ClickRow(const MainDialog& d, int item);

// A top-level dialog window of the thread other than `except` that `match`
// accepts, waited for up to ms; null when none came.
HWND WaitForWindow(DWORD thread, HWND except, bool (*match)(HWND), int ms);
bool IsMessageBox(HWND hwnd);
bool IsSaveDialog(HWND hwnd);
bool IsViewer(HWND hwnd);

struct MessageBoxSeen {
    HWND hwnd = nullptr;
    std::wstring text, caption;
    bool stopIcon = false, exclamationIcon = false, questionIcon = false;
    bool yesNo = false, ok = false;
};
MessageBoxSeen WaitMessageBox(const MainDialog& d, int ms = 15000);
// Presses button `id` of a dialog or message box and waits until it is gone.
void Answer(HWND dialog, int id);

// Types a full path into the save dialog's name field and presses Save.
void SaveAs(HWND saveDialog, const std::wstring& path);
// Every visible top-level dialog of the thread except `except`.
int CountDialogs(DWORD thread, HWND except);

// Rows made by hand, as the scan would add them.
void AddRow(HWND list, const std::wstring& name, const std::wstring& size, const std::wstring& path);
void SetSelected(HWND list, int row, bool selected);
void SetChecked(HWND list, int row, bool checked);
bool IsSelected(HWND list, int row);

// Scans one folder through the dialog and waits for the completion message.
bool ScanFolder(const MainDialog& d, const std::wstring& folder);

}  // namespace action_tests
