// Helpers for Windows tests: temporary directory trees with streams, and a
// dialog run modally on its own interface thread while the test drives it.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// A fresh directory under the temp folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::wstring& path() const { return m_path; }
    std::wstring operator/(const std::wstring& rel) const { return m_path + L"\\" + rel; }

private:
    std::wstring m_path;
};

void RemoveTree(const std::wstring& path);
// Writes a whole file (or stream, "file:name"); creates parent directories.
bool WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path, bool* ok = nullptr);
bool Exists(const std::wstring& path);

// Polls cond every 10 ms until it holds or the time is up.
bool WaitUntil(const std::function<bool()>& cond, int timeoutMs);

std::wstring WindowText(HWND hwnd);
std::wstring ItemText(HWND list, int row, int col);
int ItemCount(HWND list);
bool IsChecked(HWND list, int row);

struct Row {
    std::wstring name, size, path;
    bool operator<(const Row& o) const {
        return path != o.path ? path < o.path : name < o.name;
    }
    bool operator==(const Row& o) const { return name == o.name && size == o.size && path == o.path; }
};
std::vector<Row> Rows(HWND list);

// Clicks a button as a user would (BM_CLICK, handled before this returns).
void Click(HWND dlg, int id);
// The main dialog's folder scope on `folder`, then Scan; does not wait. Works
// on the dialog of this process or of another.
void StartFolderScan(HWND mainDlg, const std::wstring& folder);

// Records every text a window (a dialog's status line) is given, from any
// thread, while the object lives; one recorder at a time.
class TextRecorder {
public:
    explicit TextRecorder(HWND window);
    ~TextRecorder();
    TextRecorder(const TextRecorder&) = delete;
    TextRecorder& operator=(const TextRecorder&) = delete;
    std::vector<std::wstring> Texts();
    // How often the window was given `text`.
    int Times(const std::wstring& text);
    void Clear();

private:
    static LRESULT CALLBACK Record(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    HWND m_window;
    WNDPROC m_proc;
    std::mutex m_mutex;
    std::vector<std::wstring> m_texts;
    std::map<std::wstring, int> m_times;
};

// Runs `make()`'s dialog modally on a new thread; the test talks to it through
// its window. The dialog is destroyed on that same thread.
template <class Dialog>
class ModalDialog {
public:
    template <class Make>
    explicit ModalDialog(Make make) {
        m_thread = std::thread([this, make]() {
            Dialog* dlg = make();
            m_dialog = dlg;
            m_result = dlg->DoModal();
            m_closedAt = std::chrono::steady_clock::now();
            m_hwnd = nullptr;
            delete dlg;
            m_done = true;
        });
        WaitUntil([this] { return m_dialog != nullptr && m_dialog->m_hWnd != nullptr &&
                                   ::IsWindowVisible(m_dialog->m_hWnd); }, 15000);
        if (m_dialog) m_hwnd = m_dialog->m_hWnd;
    }
    ~ModalDialog() {
        if (!m_done && m_hwnd) ::PostMessageW(m_hwnd, WM_CLOSE, 0, 0);
        if (m_thread.joinable()) m_thread.join();
    }
    HWND hwnd() const { return m_hwnd; }
    Dialog* operator->() const { return m_dialog; }
    HWND item(int id) const { return ::GetDlgItem(m_hwnd, id); }
    // Waits for DoModal to return; its result, or -2 on time-out.
    INT_PTR WaitClosed(int timeoutMs) {
        if (!WaitUntil([this] { return m_done.load(); }, timeoutMs)) return -2;
        m_thread.join();
        return m_result;
    }
    bool done() const { return m_done; }

private:
    std::thread m_thread;
    Dialog* volatile m_dialog = nullptr;
    HWND m_hwnd = nullptr;
    INT_PTR m_result = 0;
    std::atomic<bool> m_done{false};
    std::chrono::steady_clock::time_point m_closedAt;
};

}  // namespace testing_support
