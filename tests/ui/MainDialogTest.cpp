// The main dialog with the scan driver, on real files under Wine.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>

#include "ActionTestSupport.h"
#include "VestrelDlg.h"
#include "WinTestSupport.h"
#include "resource.h"

using namespace testing_support;

namespace {

using Dlg = ModalDialog<CVestrelDlg>;
CVestrelDlg* MakeDialog() { return new CVestrelDlg; }

std::wstring Status(const Dlg& d) { return WindowText(d.item(IDC_STATIC_STATUS)); }
bool Enabled(const Dlg& d, int id) { return ::IsWindowEnabled(d.item(id)) != FALSE; }

// A stream written through its stream path, as any program would.
void WriteStream(const std::wstring& file, const std::wstring& stream, const std::string& data) {
    ASSERT_TRUE(WriteBytes(file + L":" + stream, data)) << "stream " << stream.size();
}

bool WaitForStatusPrefix(const Dlg& d, const std::wstring& prefix, int ms = 30000) {
    return WaitUntil([&] { return Status(d).compare(0, prefix.size(), prefix) == 0; }, ms);
}

// The control that has the keyboard focus on the dialog's thread.
HWND FocusOf(HWND dlg) {
    GUITHREADINFO gti{};
    gti.cbSize = sizeof(gti);
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(dlg, nullptr), &gti);
    return gti.hwndFocus;
}

}  // namespace

TEST(MainDialog, OpensInItsInitialState) {
    Dlg d(MakeDialog);
    ASSERT_NE(d.hwnd(), nullptr);
    EXPECT_EQ(WindowText(d.hwnd()), L"Vestrel\xff08v1.2\xff09");
    EXPECT_EQ(::IsDlgButtonChecked(d.hwnd(), IDC_RADIO_SYSTEMDIR), BST_CHECKED);
    EXPECT_EQ(::IsDlgButtonChecked(d.hwnd(), IDC_RADIO_ALLDRIVES), BST_UNCHECKED);
    EXPECT_EQ(::IsDlgButtonChecked(d.hwnd(), IDC_RADIO_FOLDER), BST_UNCHECKED);
    EXPECT_EQ(d->m_nScanMode, 1);
    EXPECT_EQ(Status(d), L"等待用户操作！");
    EXPECT_TRUE(Enabled(d, IDC_BUTTON_SCAN));
    EXPECT_FALSE(Enabled(d, IDC_BUTTON_STOP));
    EXPECT_EQ(WindowText(d.item(IDC_BUTTON_SCAN)), L"扫      描");
    EXPECT_EQ(WindowText(d.item(IDC_BUTTON_BROWSE)), L". . .");
    EXPECT_TRUE(::GetWindowLongW(d.item(IDC_EDIT_FOLDER), GWL_STYLE) & ES_READONLY);

    HWND list = d.item(IDC_LIST_RESULT);
    DWORD ex = static_cast<DWORD>(::SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_EQ(ex & 0x25u, 0x25u);
    const wchar_t* headers[] = {L"\x3000NTFS数据流名称", L" NTFS数据流大小(字节) ",
                                L"\x3000\x3000\x3000文\x3000\x3000\x3000件\x3000\x3000\x3000路\x3000\x3000\x3000径"};
    const int widths[] = {150, 145, 400};
    for (int c = 0; c < 3; ++c) {
        wchar_t text[64] = {};
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH;
        col.pszText = text;
        col.cchTextMax = 64;
        ASSERT_TRUE(::SendMessageW(list, LVM_GETCOLUMNW, c, reinterpret_cast<LPARAM>(&col)));
        EXPECT_EQ(std::wstring(text), headers[c]) << c;
        EXPECT_EQ(col.cx, widths[c]) << c;
    }
    // The dialog's client area is the template's 409 x 345 dialog units.
    RECT units = {0, 0, 409, 345}, client;
    ::MapDialogRect(d.hwnd(), &units);
    ::GetClientRect(d.hwnd(), &client);
    EXPECT_EQ(client.right, units.right);
    EXPECT_EQ(client.bottom, units.bottom);
}

TEST(MainDialog, FolderScanListsEveryKeptStreamWithCounts) {
    TempDir tree;
    ASSERT_TRUE(WriteBytes(tree / L"a.txt", "main data of a"));
    WriteStream(tree / L"a.txt", L"one", "hello");
    WriteStream(tree / L"a.txt", L"two", "");
    ASSERT_TRUE(WriteBytes(tree / L"sub\\b.bin", "b"));
    WriteStream(tree / L"sub\\b.bin", L"Zone.Identifier", "[ZoneTransfer]\r\nZoneId=3\r\n");
    WriteStream(tree / L"sub\\b.bin", L"favicon2", std::string(1234567, 'x'));
    ASSERT_TRUE(WriteBytes(tree / L"sub\\deeper\\c.txt", "no streams here"));
    ::CreateDirectoryW((tree / L"empty").c_str(), nullptr);

    Dlg d(MakeDialog);
    StartFolderScan(d.hwnd(), tree.path());
    ASSERT_TRUE(WaitForStatusPrefix(d, L"扫描完成")) << Status(d).size();
    EXPECT_EQ(Status(d), L"扫描完成！共扫描3个文件。找到3个项目含有NTFS数据流！");
    EXPECT_EQ(d->m_nFileCount, 3);
    EXPECT_EQ(d->m_nStreamCount, 3);
    EXPECT_TRUE(Enabled(d, IDC_BUTTON_SCAN));
    EXPECT_FALSE(Enabled(d, IDC_BUTTON_STOP));

    HWND list = d.item(IDC_LIST_RESULT);
    std::vector<Row> rows = Rows(list);
    ASSERT_EQ(rows.size(), 3u);
    // Within one file the streams keep their order; files follow the walk.
    auto one = std::find(rows.begin(), rows.end(), Row{L"one", L"5", tree / L"a.txt"});
    auto two = std::find(rows.begin(), rows.end(), Row{L"two", L"0", tree / L"a.txt"});
    ASSERT_NE(one, rows.end());
    ASSERT_NE(two, rows.end());
    EXPECT_LT(one - rows.begin(), two - rows.begin());
    EXPECT_NE(std::find(rows.begin(), rows.end(), Row{L"favicon2", L"1234567", tree / L"sub\\b.bin"}),
              rows.end());
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(IsChecked(list, i)) << i;

    // A second scan starts from an empty list and zero counts.
    ASSERT_TRUE(::DeleteFileW((tree / L"a.txt:one").c_str()));
    Click(d.hwnd(), IDC_BUTTON_SCAN);
    ASSERT_TRUE(WaitUntil([&] { return ItemCount(list) == 2 && Status(d).find(L"扫描完成") == 0; }, 30000));
    EXPECT_EQ(Status(d), L"扫描完成！共扫描3个文件。找到2个项目含有NTFS数据流！");
}

TEST(MainDialog, DriveRootWithTrailingBackslashIsNotDoubled) {
    TempDir tree;
    ASSERT_TRUE(WriteBytes(tree / L"r.txt", "root file"));
    WriteStream(tree / L"r.txt", L"s", "abc");
    Dlg d(MakeDialog);
    StartFolderScan(d.hwnd(), tree.path() + L"\\");
    ASSERT_TRUE(WaitForStatusPrefix(d, L"扫描完成"));
    std::vector<Row> rows = Rows(d.item(IDC_LIST_RESULT));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].path, tree / L"r.txt");
}

TEST(MainDialog, EmptyFolderFieldScansNothingUntilStopped) {
    Dlg d(MakeDialog);
    Click(d.hwnd(), IDC_RADIO_FOLDER);
    EXPECT_EQ(d->m_nScanMode, 3);
    Click(d.hwnd(), IDC_BUTTON_SCAN);
    ::Sleep(500);
    EXPECT_EQ(Status(d), L"等待用户操作！");
    EXPECT_FALSE(Enabled(d, IDC_BUTTON_SCAN));
    EXPECT_TRUE(Enabled(d, IDC_BUTTON_STOP));
    EXPECT_EQ(ItemCount(d.item(IDC_LIST_RESULT)), 0);
    Click(d.hwnd(), IDC_BUTTON_STOP);
    EXPECT_EQ(Status(d), L"扫描被停止！扫描0个文件。找到0个项目含有NTFS数据流！");
    EXPECT_TRUE(Enabled(d, IDC_BUTTON_SCAN));
    EXPECT_FALSE(Enabled(d, IDC_BUTTON_STOP));
}

TEST(MainDialog, UnlistableFolderEndsAtOnceWithZeroCounts) {
    Dlg d(MakeDialog);
    StartFolderScan(d.hwnd(), L"C:\\no such folder here");
    ASSERT_TRUE(WaitForStatusPrefix(d, L"扫描完成"));
    EXPECT_EQ(Status(d), L"扫描完成！共扫描0个文件。找到0个项目含有NTFS数据流！");
}

// Stop while the worker is busy: afterwards nothing it does may show.
TEST(MainDialog, StopFreezesRowsStatusAndButtons) {
    TempDir tree;
    for (int dir = 0; dir < 40; ++dir) {
        for (int f = 0; f < 50; ++f) {
            std::wstring file = tree / (L"d" + std::to_wstring(dir) + L"\\f" + std::to_wstring(f) + L".txt");
            ASSERT_TRUE(WriteBytes(file, "x"));
            if (f % 5 == 0) WriteStream(file, L"s", "stream");
        }
    }
    Dlg d(MakeDialog);
    for (int round = 0; round < 3; ++round) {
        StartFolderScan(d.hwnd(), tree.path());
        ASSERT_TRUE(WaitUntil([&] { return d->m_nFileCount > 20; }, 30000));
        Click(d.hwnd(), IDC_BUTTON_STOP);
        std::wstring status = Status(d);
        int rows = ItemCount(d.item(IDC_LIST_RESULT));
        EXPECT_EQ(status, FormatScanStopped(d->m_nFileCount, d->m_nStreamCount));
        EXPECT_EQ(rows, d->m_nStreamCount);
        EXPECT_TRUE(Enabled(d, IDC_BUTTON_SCAN));
        EXPECT_FALSE(Enabled(d, IDC_BUTTON_STOP));
        ::Sleep(700);
        EXPECT_EQ(Status(d), status);
        EXPECT_EQ(ItemCount(d.item(IDC_LIST_RESULT)), rows);
        EXPECT_TRUE(Enabled(d, IDC_BUTTON_SCAN));
        EXPECT_FALSE(Enabled(d, IDC_BUTTON_STOP));
    }
    // A full scan after the stops sees every file.
    Click(d.hwnd(), IDC_BUTTON_SCAN);
    ASSERT_TRUE(WaitForStatusPrefix(d, L"扫描完成", 60000));
    EXPECT_EQ(Status(d), L"扫描完成！共扫描2000个文件。找到400个项目含有NTFS数据流！");
}

namespace {

// Pixels of a row's label that differ from the list's background: 0 while
// the row has not been painted.
int InkInRow(HWND list, int row) {
    RECT r{};
    r.left = LVIR_LABEL;
    if (!::SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&r))) return 0;
    RECT client;
    ::GetClientRect(list, &client);
    if (!::IntersectRect(&r, &r, &client)) return 0;
    COLORREF background = static_cast<COLORREF>(::SendMessageW(list, LVM_GETTEXTBKCOLOR, 0, 0));
    if (background == CLR_NONE || background == CLR_DEFAULT) background = ::GetSysColor(COLOR_WINDOW);
    HDC dc = ::GetDC(list);
    int ink = 0;
    for (int y = r.top + 1; y < r.bottom - 1; ++y) {
        for (int x = r.left + 1; x < r.right - 1; x += 2) {
            COLORREF c = ::GetPixel(dc, x, y);
            if (c != CLR_INVALID && c != background) ++ink;
        }
    }
    ::ReleaseDC(list, dc);
    return ink;
}

}  // namespace

// Rows are painted in batches while the scan runs, not one paint per row:
// a row found early must still reach the screen while the walk goes on,
// and everything found must be painted once the scan ends or is stopped.
TEST(MainDialog, RowsReachTheScreenDuringAndAfterAScan) {
    // Ten folders of 300 plain files and one with a stream: whatever order
    // the listing gives, the first row comes while 2,700 files (about 2 s
    // under Wine) are still to be walked.
    TempDir tree;
    for (int dir = 0; dir < 10; ++dir) {
        std::wstring folder = tree / (L"d" + std::to_wstring(dir));
        ASSERT_TRUE(WriteBytes(folder + L"\\s.txt", "x"));
        WriteStream(folder + L"\\s.txt", L"found", "1");
        for (int f = 0; f < 300; ++f) ASSERT_TRUE(WriteBytes(folder + L"\\f" + std::to_wstring(f), "x"));
    }
    Dlg d(MakeDialog);
    HWND list = d.item(IDC_LIST_RESULT);
    for (int round = 0; round < 2; ++round) {
        StartFolderScan(d.hwnd(), tree.path());
        ASSERT_TRUE(WaitUntil([&] { return ItemCount(list) >= 1; }, 30000));
        // The first row shows while the walk goes on.
        bool painted = WaitUntil([&] { return InkInRow(list, 0) > 0; }, 1000);
        bool stillScanning = ::IsWindowEnabled(d.item(IDC_BUTTON_STOP)) != FALSE;
        EXPECT_TRUE(painted);
        EXPECT_TRUE(stillScanning) << "the tree is too small to see the scan run";
        if (round == 0) {
            ASSERT_TRUE(WaitForStatusPrefix(d, L"扫描完成", 60000));
        } else {
            ASSERT_TRUE(WaitUntil([&] { return d->m_nStreamCount >= 3; }, 60000));
            Click(d.hwnd(), IDC_BUTTON_STOP);
        }
        int rows = ItemCount(list);
        ASSERT_GE(rows, round == 0 ? 10 : 3);
        // The last row found is on the screen at once (no timer left to wait
        // for), once it is scrolled into view.
        ::SendMessageW(list, LVM_ENSUREVISIBLE, rows - 1, FALSE);
        ::UpdateWindow(list);
        EXPECT_GT(InkInRow(list, rows - 1), 0) << "round " << round;
        ::SendMessageW(list, LVM_ENSUREVISIBLE, 0, FALSE);
    }
}

TEST(MainDialog, ClosingDuringAScanEndsTheWorkerFirst) {
    TempDir tree;
    for (int f = 0; f < 600; ++f) ASSERT_TRUE(WriteBytes(tree / (L"f" + std::to_wstring(f)), "x"));
    Dlg d(MakeDialog);
    StartFolderScan(d.hwnd(), tree.path());
    ASSERT_TRUE(WaitUntil([&] { return d->m_nFileCount > 10; }, 30000));
    ::PostMessageW(d.hwnd(), WM_CLOSE, 0, 0);
    EXPECT_NE(d.WaitClosed(10000), -2);
    EXPECT_EQ(g_hScanThread, nullptr);
}

// Keys go to the focused control, as typed; Wine gives the initial focus to
// the checked radio button, Windows to the folder field: either way the
// dialog manager turns Esc and Enter into cancel and OK.
TEST(MainDialog, EscapeAndEnterEndTheDialog) {
    {
        Dlg d(MakeDialog);
        ::PostMessageW(FocusOf(d.hwnd()), WM_KEYDOWN, VK_ESCAPE, 0);
        EXPECT_EQ(d.WaitClosed(10000), IDCANCEL);
    }
    {
        Dlg d(MakeDialog);
        ::PostMessageW(FocusOf(d.hwnd()), WM_KEYDOWN, VK_RETURN, 0);
        EXPECT_EQ(d.WaitClosed(10000), IDOK);
    }
}

// Every entry of the walk passes through the status line once, depth-first:
// a directory's own entries follow it before its parent's next entry.
TEST(MainDialog, StatusLineShowsEveryEntryOnceDepthFirst) {
    TempDir tree;
    ASSERT_TRUE(WriteBytes(tree / L"top.txt", "t"));
    ASSERT_TRUE(WriteBytes(tree / L"sub\\inner.txt", "i"));
    WriteStream(tree / L"sub\\inner.txt", L"s", "stream");
    ASSERT_TRUE(WriteBytes(tree / L"sub\\deep\\leaf.txt", "l"));

    Dlg d(MakeDialog);
    std::vector<std::wstring> texts;
    {
        TextRecorder status(d.item(IDC_STATIC_STATUS));
        StartFolderScan(d.hwnd(), tree.path());
        ASSERT_TRUE(WaitForStatusPrefix(d, L"扫描完成"));
        texts = status.Texts();
    }

    std::vector<std::wstring> expected = {
        tree / L".", tree / L"..", tree / L"top.txt", tree / L"sub",
        tree / L"sub\\.", tree / L"sub\\..", tree / L"sub\\inner.txt", tree / L"sub\\deep",
        tree / L"sub\\deep\\.", tree / L"sub\\deep\\..", tree / L"sub\\deep\\leaf.txt"};
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), L"扫描完成！共扫描3个文件。找到1个项目含有NTFS数据流！");
    texts.pop_back();
    std::vector<std::wstring> shown = texts, wanted = expected;
    std::sort(shown.begin(), shown.end());
    std::sort(wanted.begin(), wanted.end());
    EXPECT_EQ(shown, wanted);  // each entry exactly once, nothing else
    auto at = [&](const std::wstring& p) { return std::find(texts.begin(), texts.end(), p) - texts.begin(); };
    // Depth-first: everything under sub comes right after sub itself.
    ptrdiff_t sub = at(tree / L"sub");
    for (const std::wstring& p : expected) {
        if (p.compare(0, (tree / L"sub\\").size(), tree / L"sub\\") == 0) {
            EXPECT_GT(at(p), sub);
            EXPECT_LE(at(p), sub + 7);
        }
    }
}

// Directories nested past the 259-character search pattern are not listed:
// that branch ends silently and the rest of the scan completes.
TEST(MainDialog, BranchesPastThePatternLimitEndSilently) {
    TempDir tree;
    ASSERT_TRUE(WriteBytes(tree / L"shallow.txt", "s"));
    std::wstring dir = tree.path();
    int level = 0, listable = 0;
    while (dir.size() < 330) {
        dir += L"\\" + std::wstring(20, wchar_t(L'a' + level % 26));
        ++level;
        ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + dir).c_str(), nullptr)) << level;
        HANDLE h = ::CreateFileW((L"\\\\?\\" + dir + L"\\f.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        ::CloseHandle(h);
        if ((dir + L"\\*.*").size() <= 259) ++listable;  // its f.txt is reached
    }
    Dlg d(MakeDialog);
    StartFolderScan(d.hwnd(), tree.path());
    ASSERT_TRUE(WaitForStatusPrefix(d, L"扫描完成"));
    EXPECT_EQ(d->m_nFileCount, 1 + listable);
    EXPECT_LT(listable, level);
    // Clean up what the ordinary path functions cannot reach.
    while (dir.size() > tree.path().size()) {
        ::DeleteFileW((L"\\\\?\\" + dir + L"\\f.txt").c_str());
        ::RemoveDirectoryW((L"\\\\?\\" + dir).c_str());
        dir.resize(dir.rfind(L'\\'));
    }
}

// The banner: the animation control covers the top at its picture's size,
// and 1667 ms after the start the still banner takes its place for good.
TEST(MainDialog, TitleBannerSwapsToTheStillPictureOnce) {
    Dlg d(MakeDialog);
    HWND anim = d.item(IDC_PICTURE_ANIMATION), still = d.item(IDC_PICTURE_BANNER);
    RECT r;
    ::GetWindowRect(anim, &r);
    EXPECT_EQ(r.right - r.left, 690);
    EXPECT_EQ(r.bottom - r.top, 109);
    EXPECT_TRUE(::IsWindowVisible(anim));
    EXPECT_FALSE(::IsWindowVisible(still));
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowVisible(still) != FALSE; }, 5000));
    // The swap shows the still picture first and then hides the animation;
    // this thread may look in between.
    EXPECT_TRUE(WaitUntil([&] { return ::IsWindowVisible(anim) == FALSE; }, 1000));
    ::Sleep(2000);
    EXPECT_TRUE(::IsWindowVisible(still));
    EXPECT_FALSE(::IsWindowVisible(anim));
}

namespace {
bool IsDialogClass(HWND w) {
    wchar_t cls[16] = {};
    ::GetClassNameW(w, cls, 16);
    return std::wstring(cls) == L"#32770";
}
DWORD ThreadOf(HWND w) { return ::GetWindowThreadProcessId(w, nullptr); }
bool HasChildText(HWND parent, const std::wstring& text) {
    for (HWND c = ::GetWindow(parent, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT))
        if (WindowText(c) == text) return true;
    return false;
}
}  // namespace

// The browse button: the shell's folder browser with the prompt; cancel keeps
// the field, a chosen folder fills it, and the scope stays as it was.
TEST(MainDialog, BrowseFillsTheFolderFieldAndCancelKeepsIt) {
    Dlg d(MakeDialog);
    ::SetDlgItemTextW(d.hwnd(), IDC_EDIT_FOLDER, L"C:\\earlier");
    ::PostMessageW(d.item(IDC_BUTTON_BROWSE), BM_CLICK, 0, 0);
    HWND browser = nullptr;
    ASSERT_NE(browser = action_tests::WaitForWindow(ThreadOf(d.hwnd()), d.hwnd(), IsDialogClass, 10000), nullptr);
    EXPECT_TRUE(HasChildText(browser, L"请选择目标文件夹"));
    ::PostMessageW(browser, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(WaitUntil([&] { return action_tests::CountDialogs(ThreadOf(d.hwnd()), d.hwnd()) == 0; }, 10000));
    EXPECT_EQ(WindowText(d.item(IDC_EDIT_FOLDER)), L"C:\\earlier");

    ::PostMessageW(d.item(IDC_BUTTON_BROWSE), BM_CLICK, 0, 0);
    ASSERT_NE(browser = action_tests::WaitForWindow(ThreadOf(d.hwnd()), d.hwnd(), IsDialogClass, 10000), nullptr);
    // OK takes the browser's current selection (Wine's browser does not
    // take a selection from outside, so which folder it is may vary).
    ::PostMessageW(browser, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitUntil([&] { return WindowText(d.item(IDC_EDIT_FOLDER)) != L"C:\\earlier"; }, 10000));
    DWORD attributes = ::GetFileAttributesW(WindowText(d.item(IDC_EDIT_FOLDER)).c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(d->m_nScanMode, 1);
}
