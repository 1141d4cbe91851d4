// The main dialog with the scan driver, on real files under Wine.
#include <gtest/gtest.h>

#include <algorithm>

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

void ScanFolder(Dlg& d, const std::wstring& folder) {
    ::SetDlgItemTextW(d.hwnd(), IDC_EDIT_FOLDER, folder.c_str());
    Click(d.hwnd(), IDC_RADIO_FOLDER);
    Click(d.hwnd(), IDC_BUTTON_SCAN);
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
    ScanFolder(d, tree.path());
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
    ScanFolder(d, tree.path() + L"\\");
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
    ScanFolder(d, L"C:\\no such folder here");
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
        ScanFolder(d, tree.path());
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

TEST(MainDialog, ClosingDuringAScanEndsTheWorkerFirst) {
    TempDir tree;
    for (int f = 0; f < 600; ++f) ASSERT_TRUE(WriteBytes(tree / (L"f" + std::to_wstring(f)), "x"));
    Dlg d(MakeDialog);
    ScanFolder(d, tree.path());
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
