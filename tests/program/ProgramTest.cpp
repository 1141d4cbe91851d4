// Start-up and ending of the real program: single instance, keys, a scan.
#include <gtest/gtest.h>

#include "ProgramDriver.h"
#include "WinTestSupport.h"
#include "resource.h"

using namespace testing_support;

TEST(Program, RunsOneInstanceAndRefusesASecondSilently) {
    RunningProgram first(VESTREL_EXE);
    ASSERT_TRUE(first.started());
    HWND main = first.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(WindowText(::GetDlgItem(main, IDC_STATIC_STATUS)), L"等待用户操作！");

    RunningProgram second(VESTREL_EXE);
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.WaitForExit(15000), 0u);
    EXPECT_EQ(CountWindows(kMainCaption), 1);
    EXPECT_EQ(CountWindows(L"vestrel", second.processId()), 0);  // no message box either
    EXPECT_EQ(FindMainWindow(first.processId()), main);

    ::PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_NE(first.WaitForExit(15000), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(CountWindows(kMainCaption), 0);

    // With the first instance gone, the next start runs normally.
    RunningProgram third(VESTREL_EXE);
    EXPECT_NE(third.WaitForMainWindow(), nullptr);
}

TEST(Program, EscapeEndsTheProgram) {
    RunningProgram program(VESTREL_EXE);
    HWND main = program.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    ::PostMessageW(FocusedControl(main), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_NE(program.WaitForExit(15000), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(CountWindows(kMainCaption), 0);
}

TEST(Program, ScansAFolderAndEndsWhileScanning) {
    TempDir tree;
    MakeDemoTree(tree.path());
    RunningProgram program(VESTREL_EXE);
    HWND main = program.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(ScanFolderAndWait(main, tree.path()));
    EXPECT_EQ(WindowText(::GetDlgItem(main, IDC_STATIC_STATUS)),
              L"扫描完成！共扫描6个文件。找到5个项目含有NTFS数据流！");
    EXPECT_EQ(::SendDlgItemMessageW(main, IDC_LIST_RESULT, LVM_GETITEMCOUNT, 0, 0), 5);

    // Closing in the middle of a scan ends the program cleanly.
    for (int i = 0; i < 400; ++i) WriteBytes(tree / (L"bulk\\f" + std::to_wstring(i)), "x");
    ::SendMessageW(::GetDlgItem(main, IDC_BUTTON_SCAN), BM_CLICK, 0, 0);
    ::Sleep(200);
    ::PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_NE(program.WaitForExit(15000), static_cast<DWORD>(STILL_ACTIVE));
}
