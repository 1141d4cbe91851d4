// uidrive: puts the real program into each state the user guide shows, from
// another process, with mouse clicks and the commands a user gives.
//
//   uidrive tree DOCUMENTS             writes the demonstration documents afresh
//   uidrive guide [--step] EXE [DOCUMENTS WORK]
//
// guide walks through the states one after another and checks each one; it
// ends with status 1 at the first state that was not reached. For every state
// it prints one line on standard output,
//   shot NAME X Y W H            (the screen rectangle to take)
//   flash NAME X Y W H BX BY BW BH  (the same, and the About button, which
//                                    shows the update picture only at times)
// and with --step waits for a line on standard input before it goes on, so a
// script can take the picture. Without DOCUMENTS and WORK it uses temporary
// folders (the check run of the test suite).
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>
#include <fcntl.h>
#include <io.h>
#include <shlobj.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "DemoTree.h"
#include "ProgramDriver.h"
#include "WinTestSupport.h"
#include "resource.h"

using namespace testing_support;

namespace {

const wchar_t kReadyText[] = L"等待用户操作！";
const wchar_t kNoticeCaption[] = L"\x3000关\x3000于\x3000";

struct Failure {
    std::string what;
};

void Require(bool ok, const char* what) {
    if (!ok) throw Failure{what};
}

std::wstring Wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

std::wstring FromCodePage(UINT cp, const std::string& bytes) {
    int n = ::MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0], n);
    return out;
}

// The text of a control of another process: GetWindowText does not ask
// another process's window, WM_GETTEXT does.
std::wstring FieldText(HWND control) {
    wchar_t buf[1024] = {};
    ::SendMessageW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf));
    buf[1023] = 0;
    return buf;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

void MakeDocuments(const std::wstring& root) {
    RemoveTree(root);
    for (const DemoFile& f : DemoDocuments()) {
        const std::wstring path = root + L"\\" + Wide(f.path);
        Require(WriteBytes(path, f.content), "cannot write a demonstration file");
        for (const DemoStream& s : f.streams)
            Require(WriteBytes(path + L":" + Wide(s.name), s.bytes), "cannot write a demonstration stream");
    }
}

// Memory inside the program's process: list-view and folder-browser messages
// carry pointers, which the system does not carry across processes.
class RemoteBlock {
public:
    RemoteBlock(HANDLE process, size_t size) : m_process(process) {
        m_base = static_cast<char*>(::VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
        Require(m_base != nullptr, "cannot reach the program's memory");
    }
    ~RemoteBlock() { ::VirtualFreeEx(m_process, m_base, 0, MEM_RELEASE); }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;
    char* at(size_t offset) const { return m_base + offset; }
    void Write(size_t offset, const void* data, size_t n) {
        Require(::WriteProcessMemory(m_process, at(offset), data, n, nullptr) != 0, "cannot write the program's memory");
    }
    void Read(size_t offset, void* data, size_t n) const {
        Require(::ReadProcessMemory(m_process, at(offset), data, n, nullptr) != 0, "cannot read the program's memory");
    }

private:
    HANDLE m_process;
    char* m_base;
};

class Guide {
public:
    Guide(bool step, std::wstring exe, std::wstring documents, std::wstring work)
        : m_step(step), m_exe(std::move(exe)), m_documents(std::move(documents)), m_work(std::move(work)) {}
    void Run();

private:
    // One picture: the union of the windows' rectangles.
    void Shot(const char* name, std::initializer_list<HWND> windows);
    void Pause();
    HWND Item(int id) const { return ::GetDlgItem(m_main, id); }
    std::wstring Status() const { return WindowText(Item(IDC_STATIC_STATUS)); }
    bool Enabled(int id) const { return ::IsWindowEnabled(Item(id)) != 0; }
    HWND WaitTopLevel(const wchar_t* cls, bool (*match)(HWND), int ms = 15000);
    void WaitGone(HWND hwnd, const char* what);
    void StartProgram(const std::wstring& exe);
    void EndProgram();
    // The list's rows read from inside the program.
    std::vector<Row> ListRows();
    int RowOf(const std::wstring& stream);
    RECT RowRect(int row);
    HWND RightClickRow(int row);
    void Pick(HWND menu, UINT id, const char* name);
    std::wstring TreeText(HWND tree, HTREEITEM item);
    HTREEITEM FindTreeItem(HWND tree, HTREEITEM from, const std::wstring& name);

    void Idle();
    void ScanAndStop();
    void BrowseForDocuments();
    void ScanDocuments();
    void ViewStream();
    void CheckAll();
    void DeleteStream();
    void SaveLog();
    void About();
    void UpdateNotice();

    bool m_step;
    std::wstring m_exe, m_documents, m_work;
    std::unique_ptr<RunningProgram> m_program;
    HWND m_main = nullptr;
    DWORD m_pid = 0;
};

void Guide::Pause() {
    std::fflush(stdout);
    if (!m_step) return;
    char line[64];
    Require(std::fgets(line, sizeof line, stdin) != nullptr, "the picture taker went away");
}

void Guide::Shot(const char* name, std::initializer_list<HWND> windows) {
    RECT all{};
    for (HWND w : windows) {
        RECT r;
        Require(::IsWindowVisible(w) && ::GetWindowRect(w, &r), "a window of the picture is not shown");
        ::UnionRect(&all, &all, &r);
    }
    ::Sleep(400);  // let every window finish painting
    std::printf("shot %s %ld %ld %ld %ld\n", name, all.left, all.top, all.right - all.left, all.bottom - all.top);
    Pause();
}

HWND Guide::WaitTopLevel(const wchar_t* cls, bool (*match)(HWND), int ms) {
    HWND found = nullptr;
    WaitUntil([&] {
        HWND h = nullptr;
        found = nullptr;
        while ((h = ::FindWindowExW(nullptr, h, cls, nullptr)) != nullptr) {
            DWORD pid = 0;
            ::GetWindowThreadProcessId(h, &pid);
            if (pid == m_pid && h != m_main && ::IsWindowVisible(h) && (match == nullptr || match(h))) found = h;
        }
        return found != nullptr;
    }, ms);
    return found;
}

void Guide::WaitGone(HWND hwnd, const char* what) {
    Require(WaitUntil([hwnd] { return !::IsWindow(hwnd) || !::IsWindowVisible(hwnd); }, 10000), what);
}

void Guide::StartProgram(const std::wstring& exe) {
    m_program = std::make_unique<RunningProgram>(exe);
    Require(m_program->started(), "the program did not start");
    m_pid = m_program->processId();
    m_main = m_program->WaitForMainWindow();
    Require(m_main != nullptr, "the main window did not open");
    // The still banner replaces the opening animation after 1667 ms.
    Require(WaitUntil([this] { return ::IsWindowVisible(Item(IDC_PICTURE_BANNER)) != 0; }, 15000),
            "the title banner did not settle");
    ::SetForegroundWindow(m_main);
}

void Guide::EndProgram() {
    ::PostMessageW(m_main, WM_CLOSE, 0, 0);
    Require(m_program->WaitForExit(15000) != STILL_ACTIVE, "the program did not end");
    m_program.reset();
    m_main = nullptr;
}

std::vector<Row> Guide::ListRows() {
    HWND list = Item(IDC_LIST_RESULT);
    const size_t kText = 4096;
    RemoteBlock block(m_program->process(), sizeof(LVITEMW) + kText * sizeof(wchar_t));
    std::vector<Row> rows;
    for (int i = 0, n = ItemCount(list); i < n; ++i) {
        std::wstring cells[3];
        for (int col = 0; col < 3; ++col) {
            LVITEMW item{};
            item.iSubItem = col;
            item.pszText = reinterpret_cast<LPWSTR>(block.at(sizeof(LVITEMW)));
            item.cchTextMax = static_cast<int>(kText);
            block.Write(0, &item, sizeof item);
            const LRESULT len = ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(i),
                                               reinterpret_cast<LPARAM>(block.at(0)));
            std::wstring text(static_cast<size_t>(len > 0 ? len : 0), L'\0');
            if (!text.empty()) block.Read(sizeof(LVITEMW), &text[0], text.size() * sizeof(wchar_t));
            cells[col] = text;
        }
        rows.push_back({cells[0], cells[1], cells[2]});
    }
    return rows;
}

int Guide::RowOf(const std::wstring& stream) {
    const std::vector<Row> rows = ListRows();
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].name == stream) return static_cast<int>(i);
    throw Failure{"a stream of the demonstration is not listed"};
}

RECT Guide::RowRect(int row) {
    RemoteBlock block(m_program->process(), sizeof(RECT));
    RECT r{LVIR_LABEL, 0, 0, 0};
    block.Write(0, &r, sizeof r);
    Require(::SendMessageW(Item(IDC_LIST_RESULT), LVM_GETITEMRECT, static_cast<WPARAM>(row),
                           reinterpret_cast<LPARAM>(block.at(0))) != 0,
            "the row is not in the list");
    block.Read(0, &r, sizeof r);
    ::MapWindowPoints(Item(IDC_LIST_RESULT), nullptr, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// A click of the left or right mouse button at a point of the screen.
void MouseClick(int x, int y, bool right) {
    Require(::SetCursorPos(x, y) != 0, "cannot move the mouse");
    INPUT input[2] = {};
    for (INPUT& in : input) {
        in.type = INPUT_MOUSE;
        in.mi.dx = x * 65536 / ::GetSystemMetrics(SM_CXSCREEN);
        in.mi.dy = y * 65536 / ::GetSystemMetrics(SM_CYSCREEN);
    }
    input[0].mi.dwFlags = (right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN) | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    input[1].mi.dwFlags = (right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP) | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    Require(::SendInput(2, input, sizeof(INPUT)) == 2, "cannot click the mouse");
}

// A right-click on the row with the mouse; the context menu once it shows.
HWND Guide::RightClickRow(int row) {
    const RECT r = RowRect(row);
    ::Sleep(::GetDoubleClickTime() + 100);  // two clicks in a row would be a double click
    MouseClick(r.left + 30, (r.top + r.bottom) / 2, true);
    HWND menu = WaitTopLevel(L"#32768", nullptr, 10000);
    Require(menu != nullptr, "the context menu did not open");
    return menu;
}

// Shows the open menu as picture `name` (none when null), then gives the
// dialog command `id` as the menu does when the user picks it. Keys sent to
// a menu of another process do not reliably reach it under Wine, so the menu
// is closed the way the system closes it (WM_CANCELMODE to its owner).
void Guide::Pick(HWND menu, UINT id, const char* name) {
    if (name != nullptr) Shot(name, {m_main, menu});
    ::PostMessageW(m_main, WM_CANCELMODE, 0, 0);
    WaitGone(menu, "the context menu did not close");
    ::PostMessageW(m_main, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

void Guide::Idle() {
    Require(Status() == kReadyText, "the status line does not say the program waits");
    Require(::IsDlgButtonChecked(m_main, IDC_RADIO_SYSTEMDIR) == BST_CHECKED, "the first scope is not checked");
    Require(Enabled(IDC_BUTTON_SCAN) && !Enabled(IDC_BUTTON_STOP), "Scan and Stop are not as at start");
    Shot("main-window", {m_main});
}

// The Windows directory holds enough files that a scan of it can be seen
// running and then stopped.
void Guide::ScanAndStop() {
    Click(m_main, IDC_RADIO_SYSTEMDIR);
    ::PostMessageW(Item(IDC_BUTTON_SCAN), BM_CLICK, 0, 0);
    Require(WaitUntil([this] { return Enabled(IDC_BUTTON_STOP) && Status().find(L'\\') != std::wstring::npos; }, 10000),
            "the scan of the Windows directory did not start");
    ::Sleep(300);
    Shot("scan-running", {m_main});
    // The picture shows a running scan only if it still runs now. A small
    // Windows directory (the test suite's prefix) may be done already: then
    // there is nothing to stop, and only a picture would be wrong.
    if (!Enabled(IDC_BUTTON_STOP)) {
        Require(!m_step, "the scan of the Windows directory ended before its picture was taken");
        Require(WaitUntil([this] { return Status().rfind(L"扫描完成！", 0) == 0 && Enabled(IDC_BUTTON_SCAN); }, 10000),
                "the scan of the Windows directory ended without its message");
        return;
    }
    ::PostMessageW(Item(IDC_BUTTON_STOP), BM_CLICK, 0, 0);
    Require(WaitUntil([this] { return Status().rfind(L"扫描被停止！", 0) == 0; }, 15000), "Stop did not stop the scan");
    Require(Enabled(IDC_BUTTON_SCAN) && !Enabled(IDC_BUTTON_STOP), "Scan was not given back after Stop");
    Shot("scan-stopped", {m_main});
}

std::wstring Guide::TreeText(HWND tree, HTREEITEM item) {
    const size_t kText = 512;
    RemoteBlock block(m_program->process(), sizeof(TVITEMW) + kText * sizeof(wchar_t));
    TVITEMW tv{};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = reinterpret_cast<LPWSTR>(block.at(sizeof(TVITEMW)));
    tv.cchTextMax = static_cast<int>(kText);
    block.Write(0, &tv, sizeof tv);
    if (::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(block.at(0))) == 0) return L"";
    std::vector<wchar_t> text(kText);
    block.Read(sizeof(TVITEMW), text.data(), kText * sizeof(wchar_t));
    text.back() = 0;
    std::wstring out = text.data();  // a drive without a label reads " (C:)"
    out.erase(0, out.find_first_not_of(L' '));
    return out;
}

// The item named `name` in the subtree under `from` (breadth first, so the
// nearest one wins), or null.
HTREEITEM Guide::FindTreeItem(HWND tree, HTREEITEM from, const std::wstring& name) {
    std::vector<HTREEITEM> level{from};
    while (!level.empty()) {
        std::vector<HTREEITEM> next;
        for (HTREEITEM parent : level) {
            for (auto child = reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD,
                                                                          reinterpret_cast<LPARAM>(parent)));
                 child != nullptr; child = reinterpret_cast<HTREEITEM>(::SendMessageW(
                                       tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child)))) {
                if (SameText(TreeText(tree, child), name)) return child;
                next.push_back(child);
            }
        }
        level.swap(next);
    }
    return nullptr;
}

bool IsFolderBrowser(HWND hwnd) { return ::FindWindowExW(hwnd, nullptr, L"SysTreeView32", nullptr) != nullptr; }

void Guide::BrowseForDocuments() {
    ::PostMessageW(Item(IDC_BUTTON_BROWSE), BM_CLICK, 0, 0);
    HWND browser = WaitTopLevel(L"#32770", IsFolderBrowser);
    Require(browser != nullptr, "the folder browser did not open");
    // Opens the tree's branches down to the folder, as the user would (the
    // tree fills a branch when it is opened), and clicks the folder.
    HWND tree = ::FindWindowExW(browser, nullptr, L"SysTreeView32", nullptr);
    HTREEITEM item = reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    size_t from = m_documents.find(L'\\') + 1;  // the drive is found by its branch, "(C:)"
    std::vector<std::wstring> names{L"我的电脑", L"(" + m_documents.substr(0, from - 1) + L")"};
    for (size_t to; (to = m_documents.find(L'\\', from)) != std::wstring::npos; from = to + 1)
        names.push_back(m_documents.substr(from, to - from));
    names.push_back(m_documents.substr(from));
    for (const std::wstring& name : names) {
        item = FindTreeItem(tree, item, name);
        Require(item != nullptr, "the folder browser does not show a folder on the way");
        ::SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    }
    ::SendMessageW(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
    RECT r{};
    RemoteBlock rect(m_program->process(), sizeof r);
    rect.Write(0, &item, sizeof item);  // the message takes the item in the rectangle
    Require(::SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(rect.at(0))) != 0,
            "the folder is not shown in the browser");
    rect.Read(0, &r, sizeof r);
    ::MapWindowPoints(tree, nullptr, reinterpret_cast<POINT*>(&r), 2);
    MouseClick((r.left + r.right) / 2, (r.top + r.bottom) / 2, false);
    Require(WaitUntil([&] {
        return reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)) == item;
    }, 5000), "the click did not select the folder");
    Shot("browse-folder", {browser});
    RECT ok{};
    ::GetWindowRect(::GetDlgItem(browser, IDOK), &ok);
    MouseClick((ok.left + ok.right) / 2, (ok.top + ok.bottom) / 2, false);
    WaitGone(browser, "the folder browser did not close");
    Require(WaitUntil([this] { return SameText(FieldText(Item(IDC_EDIT_FOLDER)), m_documents); }, 10000),
            "the chosen folder did not reach the folder field");
}

void Guide::ScanDocuments() {
    Click(m_main, IDC_RADIO_FOLDER);
    Click(m_main, IDC_BUTTON_SCAN);
    // The line may still read complete from the scan before: this one has
    // ended when Scan is given back with the message.
    Require(WaitUntil([this] { return Status().rfind(L"扫描完成！", 0) == 0 && Enabled(IDC_BUTTON_SCAN); }, 60000),
            "the folder scan did not complete");
    size_t files = 0, listed = 0;
    for (const DemoFile& f : DemoDocuments()) {
        ++files;
        for (const DemoStream& s : f.streams) listed += s.listed ? 1 : 0;
    }
    const std::wstring expected = L"扫描完成！共扫描" + std::to_wstring(files) + L"个文件。找到" + std::to_wstring(listed) +
                                  L"个项目含有NTFS数据流！";
    Require(Status() == expected, "the completion message does not give the demonstration's counts");
    Require(ListRows().size() == listed, "the list does not hold one row per listed stream");
    Shot("scan-results", {m_main});
}

bool IsViewer(HWND hwnd) { return ::GetDlgItem(hwnd, IDC_EDIT_CONTENT) != nullptr; }

void Guide::ViewStream() {
    HWND menu = RightClickRow(RowOf(L"review"));
    Pick(menu, ID_VIEW_STREAM, "context-menu");
    HWND viewer = WaitTopLevel(L"#32770", IsViewer);
    Require(viewer != nullptr, "the stream viewer did not open");
    Require(FieldText(::GetDlgItem(viewer, IDC_EDIT_CONTENT)) == FromCodePage(936, kDemoReview),
            "the viewer does not show the stream's text");
    Shot("stream-viewer", {viewer});
    ::PostMessageW(viewer, WM_COMMAND, MAKEWPARAM(IDC_BUTTON_CLOSE_VIEWER, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(viewer, IDC_BUTTON_CLOSE_VIEWER)));
    WaitGone(viewer, "the stream viewer did not close");
}

void Guide::CheckAll() {
    HWND list = Item(IDC_LIST_RESULT);
    Pick(RightClickRow(0), ID_CHECK_ALL, nullptr);
    Require(WaitUntil([&] {
        for (int i = 0, n = ItemCount(list); i < n; ++i)
            if (!IsChecked(list, i)) return false;
        return true;
    }, 10000), "check all did not check every row");
    Shot("check-all", {m_main});
    Pick(RightClickRow(0), ID_UNCHECK_ALL, nullptr);
    Require(WaitUntil([&] { return !IsChecked(list, 0); }, 10000), "uncheck all did not clear the rows");
}

void Guide::DeleteStream() {
    const int before = ItemCount(Item(IDC_LIST_RESULT));
    const std::wstring stream = m_documents + L"\\invoice.pdf:payload.exe";
    Require(Exists(stream), "the stream to delete is missing before the delete");
    Pick(RightClickRow(RowOf(L"payload.exe")), ID_DELETE_SELECTED, nullptr);
    Require(WaitUntil([&] { return ItemCount(Item(IDC_LIST_RESULT)) == before - 1; }, 10000), "the row was not removed");
    Require(!Exists(stream), "the stream is still on disk");
    Require(Exists(m_documents + L"\\invoice.pdf"), "the file itself was deleted");
    for (const Row& r : ListRows()) Require(r.name != L"payload.exe", "the deleted stream is still listed");
    Shot("after-delete", {m_main});
}

bool IsSaveDialog(HWND hwnd) { return ::GetDlgItem(hwnd, cmb13) != nullptr || ::GetDlgItem(hwnd, edt1) != nullptr; }
bool IsMessageBox(HWND hwnd) { return ::GetDlgItem(hwnd, 0xFFFF) != nullptr && !IsSaveDialog(hwnd); }

void Guide::SaveLog() {
    const std::wstring log = m_work + L"\\scan-log";
    ::DeleteFileW((log + L".txt").c_str());
    Pick(RightClickRow(0), ID_SAVE_SCAN_LOG, nullptr);
    HWND save = WaitTopLevel(L"#32770", IsSaveDialog);
    Require(save != nullptr, "the save dialog did not open");
    Shot("save-dialog", {save});
    HWND field = ::GetDlgItem(save, cmb13) != nullptr ? ::GetDlgItem(save, cmb13) : ::GetDlgItem(save, edt1);
    ::SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(log.c_str()));
    ::PostMessageW(save, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(save, IDOK)));
    HWND box = WaitTopLevel(L"#32770", IsMessageBox);
    Require(box != nullptr, "no message after saving");
    Require(WaitUntil([box] { return WindowText(::GetDlgItem(box, 0xFFFF)) == L"保存完毕！"; }, 5000),
            "the message after saving is not the saved message");
    // The name without an ending gets ".txt"; the file holds the header and every row.
    const std::string bytes = ReadBytes(log + L".txt");
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    size_t lines = 0;
    for (size_t at = 0; (at = text.find(L"\r\n", at)) != std::wstring::npos; at += 2) ++lines;
    Require(text.rfind(L"NTFS数据流文件名----------------", 0) == 0, "the log does not start with its header");
    Require(lines == 1 + ListRows().size(), "the log does not hold one line per row");
    Shot("save-done", {m_main, box});
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(box, IDOK)));
    WaitGone(box, "the message did not close");
}

bool IsAboutBox(HWND hwnd) { return ::GetDlgItem(hwnd, IDC_EDIT_SUPPORT_MAIL) != nullptr; }

void Guide::About() {
    ::PostMessageW(Item(IDC_BUTTON_ABOUT), BM_CLICK, 0, 0);
    HWND about = WaitTopLevel(L"#32770", IsAboutBox);
    Require(about != nullptr, "the About box did not open");
    const std::wstring support = FieldText(::GetDlgItem(about, IDC_EDIT_SUPPORT_MAIL));
    Require(!support.empty() && support == FieldText(::GetDlgItem(about, IDC_EDIT_SAMPLE_MAIL)),
            "the About box does not show the support address twice");
    Shot("about-box", {about});
    ::PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(about, IDOK)));
    WaitGone(about, "the About box did not close");
    Require(WindowText(Item(IDC_BUTTON_ABOUT)) == L"关      于", "the About button changed without an update");
}

// A copy of the program beside an updater whose manifest offers a newer
// version: the About button starts to alternate with the update picture.
void Guide::UpdateNotice() {
    const std::wstring dir = m_work + L"\\update";
    const std::wstring from = m_exe.substr(0, m_exe.find_last_of(L"\\/") + 1);
    RemoveTree(dir);
    ::CreateDirectoryW(dir.c_str(), nullptr);
    Require(::CopyFileW(m_exe.c_str(), (dir + L"\\vestrel.exe").c_str(), FALSE) != 0 &&
                ::CopyFileW((from + L"korvaneupdate.exe").c_str(), (dir + L"\\korvaneupdate.exe").c_str(), FALSE) != 0,
            "cannot copy the program and its updater");
    Require(WriteBytes(dir + L"\\korvaneupdate.ini", "[Q00000019]\r\nlatest = v1.3\r\nurgent = 0\r\n"),
            "cannot write the updater's manifest");
    StartProgram(dir + L"\\vestrel.exe");
    HWND about = Item(IDC_BUTTON_ABOUT);
    Require(WaitUntil([about] { return WindowText(about) == kNoticeCaption; }, 20000), "no update notice came");
    RECT w, b;
    ::GetWindowRect(m_main, &w);
    ::GetWindowRect(about, &b);
    std::printf("flash update-notice %ld %ld %ld %ld %ld %ld %ld %ld\n", w.left, w.top, w.right - w.left,
                w.bottom - w.top, b.left, b.top, b.right - b.left, b.bottom - b.top);
    Pause();
    EndProgram();
}

void Guide::Run() {
    MakeDocuments(m_documents);
    StartProgram(m_exe);
    Idle();
    ScanAndStop();
    BrowseForDocuments();
    ScanDocuments();
    ViewStream();
    CheckAll();
    DeleteStream();
    SaveLog();
    About();
    EndProgram();
    UpdateNotice();
}

int Usage() {
    std::fprintf(stderr, "usage: uidrive tree DOCUMENTS | uidrive guide [--step] EXE [DOCUMENTS WORK]\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Plain LF line ends: a shell script reads these lines.
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::wstring> args(argv + 1, argv + argc);
    try {
        if (args.size() == 2 && args[0] == L"tree") {
            MakeDocuments(args[1]);
            return 0;
        }
        if (args.empty() || args[0] != L"guide") return Usage();
        args.erase(args.begin());
        const bool step = !args.empty() && args[0] == L"--step";
        if (step) args.erase(args.begin());
        if (args.size() == 3) {
            Guide(step, args[0], args[1], args[2]).Run();
        } else if (args.size() == 1) {
            TempDir documents, work;
            Guide(step, args[0], documents.path(), work.path()).Run();
        } else {
            return Usage();
        }
    } catch (const Failure& f) {
        std::fprintf(stderr, "uidrive: %s\n", f.what.c_str());
        std::fflush(stdout);
        return 1;
    }
    std::puts("done");
    return 0;
}
