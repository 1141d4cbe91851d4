#include "ActionTestSupport.h"

#include <commdlg.h>
#include <dlgs.h>

#include <vector>

#include "resource.h"

namespace {
// The program's application object: title = this program's base name.
CWinApp theApp;
}  // namespace

namespace action_tests {

using namespace testing_support;

namespace {

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[64] = {};
    ::GetClassNameW(hwnd, name, 64);
    return name;
}

struct EnumState {
    HWND except;
    bool (*match)(HWND);
    HWND found;
    std::vector<HWND>* all;
};

BOOL CALLBACK EnumProc(HWND hwnd, LPARAM lp) {
    EnumState* s = reinterpret_cast<EnumState*>(lp);
    if (hwnd == s->except || !::IsWindowVisible(hwnd)) return TRUE;
    if (s->all) {
        if (ClassOf(hwnd) == L"#32770" || ClassOf(hwnd) == L"#32768") s->all->push_back(hwnd);
        return TRUE;
    }
    if (s->match(hwnd)) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND FindWindowOf(DWORD thread, HWND except, bool (*match)(HWND)) {
    EnumState s{except, match, nullptr, nullptr};
    ::EnumThreadWindows(thread, EnumProc, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

std::vector<HWND> OpenWindows(DWORD thread, HWND except) {
    std::vector<HWND> all;
    EnumState s{except, nullptr, nullptr, &all};
    ::EnumThreadWindows(thread, EnumProc, reinterpret_cast<LPARAM>(&s));
    return all;
}

bool IsMenuWindow(HWND hwnd) { return ClassOf(hwnd) == L"#32768"; }

HWND FileNameField(HWND dlg) {
    if (HWND h = ::GetDlgItem(dlg, cmb13)) return h;
    return ::GetDlgItem(dlg, edt1);
}

}  // namespace

MainDialog::MainDialog() {
    m_dlg = std::make_unique<ModalDialog<CVestrelDlg>>([] {
        CVestrelDlg* dlg = new CVestrelDlg;
        theApp.m_pMainWnd = dlg;
        return dlg;
    });
}

MainDialog::~MainDialog() {
    if (m_dlg->hwnd() != nullptr) {
        // Answer what a failed case left open, innermost first.
        for (int round = 0; round < 20; ++round) {
            std::vector<HWND> open = OpenWindows(thread(), hwnd());
            if (open.empty()) break;
            for (HWND h : open) {
                if (IsMenuWindow(h)) ::PostMessageW(h, WM_KEYDOWN, VK_ESCAPE, 0);
                else ::PostMessageW(h, WM_COMMAND, IsMessageBox(h) && ::GetDlgItem(h, IDNO) ? IDNO : IDCANCEL, 0);
            }
            ::Sleep(200);
        }
    }
    m_dlg.reset();
    theApp.m_pMainWnd = nullptr;
}

AsyncSend::AsyncSend(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    m_thread = std::thread([this, hwnd, msg, wp, lp] {
        ::SendMessageW(hwnd, msg, wp, lp);
        m_done = true;
    });
}

AsyncSend::~AsyncSend() {
    if (m_thread.joinable()) m_thread.join();
}

bool AsyncSend::Wait(int ms) { return WaitUntil([this] { return m_done.load(); }, ms); }

std::unique_ptr<AsyncSend> Command(const MainDialog& d, UINT id) {
    return std::make_unique<AsyncSend>(d.hwnd(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

RightClick::RightClick(const MainDialog& d, int item) : m_d(d) {
    m_nm.hdr.hwndFrom = d.list();
    m_nm.hdr.idFrom = IDC_LIST_RESULT;
    m_nm.hdr.code = NM_RCLICK;
    m_nm.iItem = item;
    m_nm.iSubItem = 0;
    m_send = std::make_unique<AsyncSend>(d.hwnd(), WM_NOTIFY, IDC_LIST_RESULT, reinterpret_cast<LPARAM>(&m_nm));
}

HWND RightClick::WaitMenu(int ms) {
    DWORD thread = m_d.thread();
    WaitUntil([&] { return (m_menu = FindWindowOf(thread, m_d.hwnd(), IsMenuWindow)) != nullptr || m_send->done(); }, ms);
    return m_menu;
}

bool RightClick::Cancel() {
    if (m_menu) ::PostMessageW(m_menu, WM_KEYDOWN, VK_ESCAPE, 0);
    return m_send->Wait(10000);
}

bool RightClick::Pick(int downs) {
    if (!m_menu) return false;
    for (int i = 0; i < downs; ++i) ::PostMessageW(m_menu, WM_KEYDOWN, VK_DOWN, 0);
    ::PostMessageW(m_menu, WM_KEYDOWN, VK_RETURN, 0);
    return WaitUntil([this] { return !::IsWindowVisible(m_menu); }, 10000);
}

bool ClickRow(const MainDialog& d, int item) {
    RightClick click(d, item);
    return click.WaitMenu() != nullptr && click.Cancel();
}

HWND WaitForWindow(DWORD thread, HWND except, bool (*match)(HWND), int ms) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindWindowOf(thread, except, match)) != nullptr; }, ms);
    return found;
}

bool IsMessageBox(HWND hwnd) {
    return ClassOf(hwnd) == L"#32770" && ::GetDlgItem(hwnd, 0xFFFF) != nullptr && !IsSaveDialog(hwnd);
}

bool IsSaveDialog(HWND hwnd) {
    return ClassOf(hwnd) == L"#32770" && FileNameField(hwnd) != nullptr && ::GetDlgItem(hwnd, IDOK) != nullptr;
}

bool IsViewer(HWND hwnd) {
    return ClassOf(hwnd) == L"#32770" && ::GetDlgItem(hwnd, IDC_EDIT_CONTENT) != nullptr &&
           ::GetDlgItem(hwnd, IDC_BUTTON_CLOSE_VIEWER) != nullptr;
}

MessageBoxSeen WaitMessageBox(const MainDialog& d, int ms) {
    MessageBoxSeen seen;
    seen.hwnd = WaitForWindow(d.thread(), d.hwnd(), IsMessageBox, ms);
    if (!seen.hwnd) return seen;
    ::Sleep(100);  // let the box finish filling itself in
    seen.text = WindowText(::GetDlgItem(seen.hwnd, 0xFFFF));
    seen.caption = WindowText(seen.hwnd);
    HICON icon = reinterpret_cast<HICON>(::SendDlgItemMessageW(seen.hwnd, stc1, STM_GETICON, 0, 0));
    seen.stopIcon = icon != nullptr && icon == ::LoadIconW(nullptr, IDI_HAND);
    seen.exclamationIcon = icon != nullptr && icon == ::LoadIconW(nullptr, IDI_EXCLAMATION);
    seen.questionIcon = icon != nullptr && icon == ::LoadIconW(nullptr, IDI_QUESTION);
    auto shown = [&](int id) {
        HWND b = ::GetDlgItem(seen.hwnd, id);
        return b != nullptr && ::IsWindowVisible(b);
    };
    seen.yesNo = shown(IDYES) && shown(IDNO) && !shown(IDOK);
    seen.ok = shown(IDOK) && !shown(IDYES) && !shown(IDNO) && !shown(IDCANCEL);
    return seen;
}

void Answer(HWND dialog, int id) {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
    WaitUntil([dialog] { return !::IsWindow(dialog) || !::IsWindowVisible(dialog); }, 10000);
}

void SaveAs(HWND saveDialog, const std::wstring& path) {
    ::SendMessageW(FileNameField(saveDialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    Answer(saveDialog, IDOK);
}

int CountDialogs(DWORD thread, HWND except) { return static_cast<int>(OpenWindows(thread, except).size()); }

void AddRow(HWND list, const std::wstring& name, const std::wstring& size, const std::wstring& path) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = ItemCount(list);
    item.pszText = const_cast<LPWSTR>(name.c_str());
    int row = static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    LVITEMW sub{};
    sub.iSubItem = 1;
    sub.pszText = const_cast<LPWSTR>(size.c_str());
    ::SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
    sub.iSubItem = 2;
    sub.pszText = const_cast<LPWSTR>(path.c_str());
    ::SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
}

void SetSelected(HWND list, int row, bool selected) {
    LVITEMW item{};
    item.state = selected ? LVIS_SELECTED : 0;
    item.stateMask = LVIS_SELECTED;
    ::SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

void SetChecked(HWND list, int row, bool checked) {
    LVITEMW item{};
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    item.stateMask = LVIS_STATEIMAGEMASK;
    ::SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

bool IsSelected(HWND list, int row) {
    return (::SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

bool ScanFolder(const MainDialog& d, const std::wstring& folder) {
    StartFolderScan(d.hwnd(), folder);
    return WaitUntil([&] { return WindowText(d.item(IDC_STATIC_STATUS)).compare(0, 4, L"扫描完成") == 0; }, 60000);
}

}  // namespace action_tests
