#include "WinTestSupport.h"

#include "resource.h"

namespace testing_support {

TempDir::TempDir() {
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    static LONG counter = 0;
    wchar_t name[MAX_PATH];
    swprintf(name, MAX_PATH, L"%lsvestrel-test-%lu-%ld", base, ::GetCurrentProcessId(),
             ::InterlockedIncrement(&counter));
    m_path = name;
    RemoveTree(m_path);
    ::CreateDirectoryW(m_path.c_str(), nullptr);
}

TempDir::~TempDir() { RemoveTree(m_path); }

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = path + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(full.c_str());
            }
        } while (::FindNextFileW(h, &fd));
        ::FindClose(h);
    }
    ::RemoveDirectoryW(path.c_str());
}

static void MakeParents(const std::wstring& path) {
    for (size_t i = 3; i < path.size(); ++i) {
        if (path[i] == L'\\') ::CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    MakeParents(path);
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(h);
    return ok && written == bytes.size();
}

std::string ReadBytes(const std::wstring& path, bool* ok) {
    std::string out;
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (ok) *ok = h != INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE) return out;
    char buf[4096];
    DWORD got = 0;
    while (::ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
    ::CloseHandle(h);
    return out;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool WaitUntil(const std::function<bool()>& cond, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        ::Sleep(10);
    }
    return true;
}

std::wstring WindowText(HWND hwnd) {
    wchar_t buf[4096];
    int n = ::GetWindowTextW(hwnd, buf, 4096);
    return std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

std::wstring ItemText(HWND list, int row, int col) {
    wchar_t buf[2048];
    LVITEMW item{};
    item.iSubItem = col;
    item.pszText = buf;
    item.cchTextMax = 2048;
    LRESULT n = ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

int ItemCount(HWND list) { return static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

bool IsChecked(HWND list, int row) {
    UINT state = static_cast<UINT>(::SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK));
    return (state >> 12) == 2;
}

std::vector<Row> Rows(HWND list) {
    std::vector<Row> rows;
    for (int i = 0, n = ItemCount(list); i < n; ++i)
        rows.push_back({ItemText(list, i, 0), ItemText(list, i, 1), ItemText(list, i, 2)});
    return rows;
}

void Click(HWND dlg, int id) { ::SendMessageW(::GetDlgItem(dlg, id), BM_CLICK, 0, 0); }

void StartFolderScan(HWND mainDlg, const std::wstring& folder) {
    // WM_SETTEXT rather than SetDlgItemText's shortcut: it carries the text
    // across processes too.
    ::SendMessageW(::GetDlgItem(mainDlg, IDC_EDIT_FOLDER), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
    Click(mainDlg, IDC_RADIO_FOLDER);
    Click(mainDlg, IDC_BUTTON_SCAN);
}

namespace {
TextRecorder* g_textRecorder = nullptr;
}  // namespace

TextRecorder::TextRecorder(HWND window) : m_window(window) {
    g_textRecorder = this;
    m_proc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Record)));
}

TextRecorder::~TextRecorder() {
    if (::IsWindow(m_window)) ::SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_proc));
    g_textRecorder = nullptr;
}

std::vector<std::wstring> TextRecorder::Texts() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_texts;
}

int TextRecorder::Times(const std::wstring& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_times.find(text);
    return it == m_times.end() ? 0 : it->second;
}

void TextRecorder::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_texts.clear();
    m_times.clear();
}

LRESULT CALLBACK TextRecorder::Record(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    TextRecorder* self = g_textRecorder;
    if (msg == WM_SETTEXT && lp != 0 && self != nullptr) {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_texts.push_back(reinterpret_cast<const wchar_t*>(lp));
        ++self->m_times[self->m_texts.back()];
    }
    return ::CallWindowProcW(self != nullptr ? self->m_proc : ::DefWindowProcW, hwnd, msg, wp, lp);
}

}  // namespace testing_support
