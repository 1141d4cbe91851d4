// The framework layer: message maps, subclassing, data exchange, the list
// control, the directory listing and file errors, on real Win32 objects.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "Afx.h"
#include "WinTestSupport.h"
#include "resource.h"

using namespace testing_support;

namespace {

constexpr UINT WM_PROBE = WM_APP + 7;

// A dialog on the viewer template with a handler of each kind.
class ProbeDialog : public CDialog {
public:
    ProbeDialog() : CDialog(IDD_SHOWNTFS) {}
    CEdit m_edit;
    int m_clicks = 0;
    int m_okCalls = 0;
    bool m_initSawBoundEdit = false;

protected:
    void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, IDC_EDIT_CONTENT, m_edit); }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        m_initSawBoundEdit = m_edit.m_hWnd == ::GetDlgItem(m_hWnd, IDC_EDIT_CONTENT);
        m_edit.SetWindowText(L"bound");
        return TRUE;
    }
    void OnOK() override {
        ++m_okCalls;
        CDialog::OnOK();
    }
    void OnButton() { ++m_clicks; }
    LRESULT OnProbe(WPARAM wp, LPARAM lp) { return static_cast<LRESULT>(wp + lp); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ProbeDialog, CDialog)
    ON_BN_CLICKED(IDC_BUTTON_CLOSE_VIEWER, OnButton)
    ON_MESSAGE(WM_PROBE, OnProbe)
END_MESSAGE_MAP()

// What a failing handler throws.
enum class Throw { BadAlloc, LengthError, Int };
constexpr UINT WM_FAIL = WM_APP + 8;

// A dialog whose button and WM_FAIL handlers throw, and whose WM_PROBE
// handler shows it is still alive.
class FailingDialog : public CDialog {
public:
    explicit FailingDialog(Throw what) : CDialog(IDD_SHOWNTFS), m_what(what) {}
    volatile int m_failures = 0;

protected:
    void Fail() {
        ++m_failures;
        switch (m_what) {
        case Throw::BadAlloc: throw std::bad_alloc();
        case Throw::LengthError: std::wstring().reserve(std::wstring().max_size() + 1); break;
        case Throw::Int: throw 42;
        }
    }
    void OnButton() { Fail(); }
    LRESULT OnFail(WPARAM, LPARAM) {
        Fail();
        return 1;
    }
    LRESULT OnProbe(WPARAM wp, LPARAM lp) { return static_cast<LRESULT>(wp + lp); }
    DECLARE_MESSAGE_MAP()

private:
    Throw m_what;
};

BEGIN_MESSAGE_MAP(FailingDialog, CDialog)
    ON_BN_CLICKED(IDC_BUTTON_CLOSE_VIEWER, OnButton)
    ON_MESSAGE(WM_FAIL, OnFail)
    ON_MESSAGE(WM_PROBE, OnProbe)
END_MESSAGE_MAP()

BOOL CALLBACK CollectMessageBox(HWND h, LPARAM lp) {
    if (::IsWindowVisible(h) && ::GetDlgItem(h, 0xFFFF) != nullptr)
        reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
    return TRUE;
}

// Message boxes (a static text 0xFFFF) among the top-level windows of a thread.
std::vector<HWND> MessageBoxesOf(DWORD thread) {
    std::vector<HWND> boxes;
    ::EnumThreadWindows(thread, &CollectMessageBox, reinterpret_cast<LPARAM>(&boxes));
    return boxes;
}

struct FailureCase {
    Throw what;
    bool viaCommand;  // the button's command, else a window message
    const wchar_t* text;
};

class HandlerFailure : public ::testing::TestWithParam<FailureCase> {};

}  // namespace

// A handler that throws neither ends the program nor escapes into the window
// system: the failure is reported once and the dialog goes on working.
TEST_P(HandlerFailure, IsReportedOnceAndTheDialogGoesOn) {
    const FailureCase c = GetParam();
    ModalDialog<FailingDialog> d([&] { return new FailingDialog(c.what); });
    ASSERT_NE(d.hwnd(), nullptr);
    const DWORD thread = ::GetWindowThreadProcessId(d.hwnd(), nullptr);
    if (c.viaCommand) {
        HWND button = d.item(IDC_BUTTON_CLOSE_VIEWER);
        ::PostMessageW(d.hwnd(), WM_COMMAND, MAKEWPARAM(IDC_BUTTON_CLOSE_VIEWER, BN_CLICKED),
                       reinterpret_cast<LPARAM>(button));
    } else {
        ::PostMessageW(d.hwnd(), WM_FAIL, 0, 0);
    }
    std::vector<HWND> boxes;
    ASSERT_TRUE(WaitUntil([&] { return !(boxes = MessageBoxesOf(thread)).empty(); }, 10000));
    ASSERT_EQ(boxes.size(), 1u);
    ::Sleep(100);  // let the box fill itself in
    EXPECT_EQ(WindowText(::GetDlgItem(boxes[0], 0xFFFF)), c.text);
    EXPECT_EQ(::GetWindow(boxes[0], GW_OWNER), d.hwnd());

    // Failing again while the report is open adds no second box.
    EXPECT_EQ(::SendMessageW(d.hwnd(), WM_FAIL, 0, 0), 0);
    EXPECT_EQ(d->m_failures, 2);
    EXPECT_EQ(MessageBoxesOf(thread).size(), 1u);

    ::PostMessageW(boxes[0], WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitUntil([&] { return MessageBoxesOf(thread).empty(); }, 10000));
    EXPECT_EQ(::SendMessageW(d.hwnd(), WM_PROBE, 40, 2), 42);
    EXPECT_FALSE(d.done());
    ::SendMessageW(d.hwnd(), WM_COMMAND, IDOK, 0);
    EXPECT_EQ(d.WaitClosed(5000), IDOK);
}

INSTANTIATE_TEST_SUITE_P(
    Throws, HandlerFailure,
    ::testing::Values(FailureCase{Throw::BadAlloc, true, kAfxOutOfMemoryText},
                      FailureCase{Throw::LengthError, true, kAfxUnexpectedFailureText},
                      FailureCase{Throw::Int, true, kAfxUnexpectedFailureText},
                      FailureCase{Throw::BadAlloc, false, kAfxOutOfMemoryText},
                      FailureCase{Throw::LengthError, false, kAfxUnexpectedFailureText},
                      FailureCase{Throw::Int, false, kAfxUnexpectedFailureText}));

TEST(MessageMap, RoutesCommandsMessagesAndTheBaseClassDefaults) {
    ModalDialog<ProbeDialog> d([] { return new ProbeDialog; });
    ASSERT_NE(d.hwnd(), nullptr);
    EXPECT_TRUE(d->m_initSawBoundEdit);
    // The subclassed edit still behaves as an edit: unhandled messages reach it.
    EXPECT_EQ(WindowText(d.item(IDC_EDIT_CONTENT)), L"bound");
    EXPECT_EQ(CWnd::FromHandlePermanent(d.item(IDC_EDIT_CONTENT)), &d->m_edit);

    Click(d.hwnd(), IDC_BUTTON_CLOSE_VIEWER);
    Click(d.hwnd(), IDC_BUTTON_CLOSE_VIEWER);
    EXPECT_EQ(d->m_clicks, 2);
    EXPECT_EQ(::SendMessageW(d.hwnd(), WM_PROBE, 40, 2), 42);

    // IDOK is in the base class's map and reaches the override.
    ::SendMessageW(d.hwnd(), WM_COMMAND, IDOK, 0);
    EXPECT_EQ(d.WaitClosed(5000), IDOK);
}

TEST(MessageMap, CloseBoxEndsADialogAsCancelAndUnbindsControls) {
    ProbeDialog* seen = nullptr;
    ModalDialog<ProbeDialog> d([&] { return seen = new ProbeDialog; });
    HWND edit = d.item(IDC_EDIT_CONTENT);
    HWND dialog = d.hwnd();
    ::PostMessageW(d.hwnd(), WM_CLOSE, 0, 0);
    EXPECT_EQ(d.WaitClosed(5000), IDCANCEL);
    EXPECT_FALSE(::IsWindow(edit));
    // Gone windows leave nothing behind: a later window given the same
    // handle value must not meet the old objects.
    EXPECT_EQ(CWnd::FromHandlePermanent(edit), nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(dialog), nullptr);
    CWnd late;
    EXPECT_FALSE(late.Attach(edit)) << "a window that no longer exists cannot be attached";
    EXPECT_EQ(late.m_hWnd, nullptr);
}

TEST(ListCtrl, ReadsLongTextsWholeAndKeepsCheckStates) {
    INITCOMMONCONTROLSEX icc{static_cast<DWORD>(sizeof(INITCOMMONCONTROLSEX)), ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&icc);
    HWND hwnd = ::CreateWindowExW(0, WC_LISTVIEWW, L"", WS_POPUP | LVS_REPORT, 0, 0, 300, 200,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    CListCtrl list;
    ASSERT_TRUE(list.SubclassWindow(hwnd));
    list.SetExtendedStyle(LVS_EX_CHECKBOXES);
    list.InsertColumn(0, L"a", LVCFMT_LEFT, 100);
    list.InsertColumn(1, L"b", LVCFMT_LEFT, 100);
    std::wstring longText(5000, L'p');
    longText += L"end";
    EXPECT_EQ(list.InsertItem(0, L"first"), 0);
    EXPECT_EQ(list.InsertItem(1, L"second"), 1);
    list.SetItemText(1, 1, longText.c_str());
    EXPECT_EQ(list.GetItemText(1, 1), longText);
    EXPECT_EQ(list.GetItemText(0, 0), L"first");
    EXPECT_EQ(list.GetItemText(0, 1), L"");
    EXPECT_FALSE(list.GetCheck(1));
    list.SetCheck(1, TRUE);
    EXPECT_TRUE(list.GetCheck(1));
    EXPECT_FALSE(list.GetCheck(0));
    EXPECT_EQ(list.GetItemCount(), 2);
    list.DeleteItem(0);
    EXPECT_EQ(list.GetItemText(0, 0), L"second");
    list.UnsubclassWindow();
    ::DestroyWindow(hwnd);
}

TEST(Menu, LoadsTheContextMenuAndGraysItemsByCommand) {
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_CONTEXT_MENU));
    CMenu* popup = menu.GetSubMenu(0);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(::GetMenuItemCount(popup->GetSafeHmenu()), 9);
    menu.EnableMenuItem(ID_DELETE_ALL, MF_BYCOMMAND | MF_GRAYED);
    EXPECT_TRUE(popup->GetMenuState(ID_DELETE_ALL, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_FALSE(popup->GetMenuState(ID_CHECK_ALL, MF_BYCOMMAND) & MF_GRAYED);
    HMENU h = menu.GetSafeHmenu();
    menu.DestroyMenu();
    EXPECT_FALSE(::IsMenu(h));
}

TEST(FileFind, ListsWithAbsolutePathsDotsAndThePatternLimit) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir / L"f.txt", "x"));
    ::CreateDirectoryW((dir / L"sub").c_str(), nullptr);

    wchar_t old[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, old);
    ASSERT_TRUE(::SetCurrentDirectoryW(dir.path().c_str()));
    CFileFind finder;
    BOOL more = finder.FindFile(L"*.*");
    ASSERT_TRUE(more);
    int files = 0, dirs = 0, dots = 0;
    while (more) {
        more = finder.FindNextFile();
        if (finder.IsDots()) {
            ++dots;
            continue;
        }
        EXPECT_EQ(finder.GetFilePath(), dir / finder.GetFileName());
        finder.IsDirectory() ? ++dirs : ++files;
    }
    ::SetCurrentDirectoryW(old);
    EXPECT_EQ(files, 1);
    EXPECT_EQ(dirs, 1);
    EXPECT_EQ(dots, 2);

    std::wstring pattern = dir.path() + L"\\";
    pattern.append(MAX_PATH - pattern.size() - 4, L'a');
    pattern += L"*.*";  // 259 characters: accepted (nothing found)
    ASSERT_EQ(pattern.size(), 259u);
    CFileFind limit;
    EXPECT_FALSE(limit.FindFile(pattern.c_str()));
    EXPECT_NE(::GetLastError(), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
    pattern.insert(0, 1, L'x');
    EXPECT_FALSE(limit.FindFile(pattern.c_str()));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
}

TEST(FileException, CausesAndTextsForFailedOpens) {
    TempDir dir;
    std::wstring locked = dir / L"locked.txt";
    HANDLE h = ::CreateFileW(locked.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(locked.c_str(), CFile::modeCreate | CFile::modeWrite, &error));
    EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
    EXPECT_EQ(error.GetErrorMessage(), L"访问 " + locked + L" 时遇到共享冲突。");
    ::CloseHandle(h);

    std::wstring tooLong = dir.path() + L"\\" + std::wstring(300, L'n');
    EXPECT_FALSE(file.Open(tooLong.c_str(), CFile::modeCreate | CFile::modeWrite, &error));
    EXPECT_EQ(error.m_cause, CFileException::badPath);
    EXPECT_EQ(error.GetErrorMessage(), tooLong + L" 包含错误的路径。");

    EXPECT_FALSE(file.Open((dir / L"missing\\x.txt").c_str(), CFile::modeCreate | CFile::modeWrite, &error));
    EXPECT_EQ(error.m_cause, CFileException::badPath);

    // A file opened for writing is shared with nobody until it is closed.
    ASSERT_TRUE(file.Open((dir / L"ok.txt").c_str(), CFile::modeCreate | CFile::modeWrite, &error));
    file.Write("abc", 3);
    EXPECT_EQ(::CreateFileW((dir / L"ok.txt").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    file.Close();
    EXPECT_EQ(ReadBytes(dir / L"ok.txt"), "abc");
    EXPECT_EQ(CFileException(CFileException::none).GetErrorMessage(), L"未发生错误。");
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_ACCESS_DENIED), CFileException::accessDenied);
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_DISK_FULL), CFileException::diskFull);
    EXPECT_EQ(CFileException::OsErrorToException(12345), CFileException::genericException);
}
