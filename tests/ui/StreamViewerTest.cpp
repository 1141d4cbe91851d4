// Viewing a stream's content: read afresh through its stream path, shown as
// ANSI text up to the first zero byte, and only when there is content.
#include <gtest/gtest.h>

#include "ActionTestSupport.h"
#include "ShowNTFS.h"
#include "resource.h"

using namespace action_tests;
using namespace testing_support;

namespace {

// Right-clicks `row` with it selected and picks the first command from the menu.
void PickView(const MainDialog& d, int row) {
    SetSelected(d.list(), row, true);
    RightClick click(d, row);
    ASSERT_NE(click.WaitMenu(), nullptr);
    ASSERT_TRUE(click.Pick(1));
}

// Runs the view command for `row`; the viewer's edit text, or nothing when
// no viewer showed (the command then returns on its own).
struct ViewResult {
    bool shown = false;
    std::wstring text, caption;
};
ViewResult View(const MainDialog& d, int row) {
    ViewResult r;
    {
        RightClick click(d, row);
        if (!click.WaitMenu()) return r;
        click.Cancel();
    }
    auto send = Command(d, ID_VIEW_STREAM);
    HWND viewer = nullptr;
    WaitUntil([&] {
        return send->done() || (viewer = WaitForWindow(d.thread(), d.hwnd(), IsViewer, 0)) != nullptr;
    }, 15000);
    if (viewer) {
        r.shown = true;
        r.text = WindowText(::GetDlgItem(viewer, IDC_EDIT_CONTENT));
        r.caption = WindowText(viewer);
        Answer(viewer, IDC_BUTTON_CLOSE_VIEWER);
        EXPECT_TRUE(send->Wait(10000));
    }
    EXPECT_TRUE(send->done());
    return r;
}

int RowOf(HWND list, const std::wstring& name) {
    for (int i = 0, n = ItemCount(list); i < n; ++i)
        if (ItemText(list, i, 0) == name) return i;
    return -1;
}

}  // namespace

// The prefix runs with a Simplified Chinese locale: the thread's ANSI code
// page is 936, so GBK bytes are what a stream of "ANSI" text holds.
TEST(StreamViewer, AnsiStreamShowsAsTextAndStaysOpenWhileShown) {
    ASSERT_EQ(::GetACP(), 936u);
    wchar_t probe[4] = {};
    ASSERT_EQ(::MultiByteToWideChar(CP_THREAD_ACP, 0, "\xD6\xD0", 2, probe, 4), 1);
    ASSERT_EQ(probe[0], L'中');

    TempDir dir;
    const std::wstring file = dir / L"doc.txt";
    const std::string content = "\xD6\xD0\xCE\xC4 text\r\nsecond line";
    ASSERT_TRUE(WriteBytes(file, "main"));
    ASSERT_TRUE(WriteBytes(file + L":ansi", content));
    MainDialog d;
    ASSERT_TRUE(ScanFolder(d, dir.path()));
    ASSERT_EQ(ItemCount(d.list()), 1);

    PickView(d, 0);
    HWND viewer = WaitForWindow(d.thread(), d.hwnd(), IsViewer, 15000);
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(WindowText(viewer), L"NTFS数据流");
    EXPECT_EQ(WindowText(::GetDlgItem(viewer, IDC_EDIT_CONTENT)), L"中文 text\r\nsecond line");
    EXPECT_EQ(::GetWindow(viewer, GW_OWNER), d.hwnd());

    // Open for reading only, shared for reading only, while it is shown.
    HANDLE reader = ::CreateFileW((file + L":ansi").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    if (reader != INVALID_HANDLE_VALUE) ::CloseHandle(reader);
    HANDLE writer = ::CreateFileW((file + L":ansi").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);

    // Edits are not written back; the close box ends the viewer too.
    ::SendMessageW(::GetDlgItem(viewer, IDC_EDIT_CONTENT), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"edited"));
    ::PostMessageW(viewer, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(viewer); }, 10000));
    EXPECT_EQ(ReadBytes(file + L":ansi"), content);
    EXPECT_EQ(g_strStreamText, L"中文 text\r\nsecond line");
    // Closed again once the viewer is gone.
    ASSERT_TRUE(WaitUntil([&] {
        HANDLE h = ::CreateFileW((file + L":ansi").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        ::CloseHandle(h);
        return true;
    }, 10000));
}

TEST(StreamViewer, TextEndsAtTheFirstZeroByte) {
    TempDir dir;
    const std::wstring file = dir / L"t.bin";
    ASSERT_TRUE(WriteBytes(file, "main"));
    ASSERT_TRUE(WriteBytes(file + L":utf16", std::string("H\0i\0!\0", 6)));
    ASSERT_TRUE(WriteBytes(file + L":zerofirst", std::string("\0abc", 4)));
    ASSERT_TRUE(WriteBytes(file + L":tail", std::string("shown\0hidden", 12)));
    ASSERT_TRUE(WriteBytes(file + L":nozero", "all of it"));
    MainDialog d;
    ASSERT_TRUE(ScanFolder(d, dir.path()));
    ASSERT_EQ(ItemCount(d.list()), 4);
    SetSelected(d.list(), 0, true);

    ViewResult r = View(d, RowOf(d.list(), L"utf16"));
    EXPECT_TRUE(r.shown);
    EXPECT_EQ(r.text, L"H");
    EXPECT_EQ(r.caption, L"NTFS数据流");
    r = View(d, RowOf(d.list(), L"zerofirst"));
    EXPECT_TRUE(r.shown);
    EXPECT_EQ(r.text, L"");
    r = View(d, RowOf(d.list(), L"tail"));
    EXPECT_TRUE(r.shown);
    EXPECT_EQ(r.text, L"shown");
    r = View(d, RowOf(d.list(), L"nozero"));
    EXPECT_TRUE(r.shown);
    EXPECT_EQ(r.text, L"all of it");
}

TEST(StreamViewer, NothingShowsForAnEmptyOrVanishedStream) {
    TempDir dir;
    const std::wstring file = dir / L"e.txt";
    ASSERT_TRUE(WriteBytes(file, "main"));
    ASSERT_TRUE(WriteBytes(file + L":empty", ""));
    ASSERT_TRUE(WriteBytes(file + L":gone", "soon deleted"));
    MainDialog d;
    ASSERT_TRUE(ScanFolder(d, dir.path()));
    ASSERT_EQ(ItemCount(d.list()), 2);
    SetSelected(d.list(), 0, true);

    g_strStreamText = L"earlier";
    ViewResult r = View(d, RowOf(d.list(), L"empty"));
    EXPECT_FALSE(r.shown);
    EXPECT_EQ(g_strStreamText, L"");

    ASSERT_TRUE(::DeleteFileW((file + L":gone").c_str()));
    g_strStreamText = L"earlier";
    r = View(d, RowOf(d.list(), L"gone"));
    EXPECT_FALSE(r.shown);
    EXPECT_EQ(g_strStreamText, L"");
    EXPECT_EQ(ItemCount(d.list()), 2);  // the row stays
    EXPECT_EQ(CountDialogs(d.thread(), d.hwnd()), 0);
}

// "file:" would name the file itself (under Wine: the sibling literally named
// "file:"); a click on no row gives ":". Neither is opened.
TEST(StreamViewer, PathsWithoutAStreamNameShowNothing) {
    TempDir dir;
    const std::wstring file = dir / L"f.txt";
    ASSERT_TRUE(WriteBytes(file, "main content"));
    ASSERT_TRUE(WriteBytes(file + L":", "decoy"));
    MainDialog d;
    AddRow(d.list(), L"", L"5", file);
    SetSelected(d.list(), 0, true);

    ViewResult r = View(d, 0);
    EXPECT_FALSE(r.shown);
    r = View(d, -1);
    EXPECT_FALSE(r.shown);
    EXPECT_EQ(g_strStreamText, L"");
    EXPECT_EQ(ReadBytes(file + L":"), "decoy");
}

// A text longer than the string can hold (a stream of 512 MiB without a zero
// byte in the 32-bit build) is a failure of the command: no viewer and no
// text, as for memory that cannot be had. The limit is lowered to show it.
TEST(StreamViewer, TextPastTheLimitIsRefusedAtItsBoundary) {
    std::wstring text = L"earlier";
    EXPECT_TRUE(ConvertStreamText("all of it", 9, text, 9));
    EXPECT_EQ(text, L"all of it");
    text = L"earlier";
    EXPECT_FALSE(ConvertStreamText("all of it", 9, text, 8));
    EXPECT_EQ(text, L"");
    // The limit counts characters, not bytes: two GBK characters in 4 bytes.
    EXPECT_TRUE(ConvertStreamText("\xD6\xD0\xCE\xC4", 4, text, 2));
    EXPECT_EQ(text, L"中文");
    EXPECT_FALSE(ConvertStreamText("\xD6\xD0\xCE\xC4", 4, text, 1));
    // Only the bytes before the first zero count.
    EXPECT_TRUE(ConvertStreamText("ab\0cdef", 7, text, 2));
    EXPECT_EQ(text, L"ab");
    EXPECT_TRUE(ConvertStreamText("\0abc", 4, text, 0));
    EXPECT_EQ(text, L"");
    // The program's limit is the string's own.
    EXPECT_EQ(g_cchMaxStreamText, std::wstring().max_size());

    TempDir dir;
    const std::wstring file = dir / L"big.txt";
    ASSERT_TRUE(WriteBytes(file, "main"));
    ASSERT_TRUE(WriteBytes(file + L":long", "too long to hold"));
    ASSERT_TRUE(WriteBytes(file + L":fits", std::string("fits!\0tail", 10)));
    MainDialog d;
    ASSERT_TRUE(ScanFolder(d, dir.path()));
    ASSERT_EQ(ItemCount(d.list()), 2);
    SetSelected(d.list(), 0, true);

    const size_t saved = g_cchMaxStreamText;
    g_cchMaxStreamText = 5;
    g_strStreamText = L"earlier";
    ViewResult r = View(d, RowOf(d.list(), L"long"));
    EXPECT_FALSE(r.shown);
    EXPECT_EQ(g_strStreamText, L"");
    EXPECT_EQ(CountDialogs(d.thread(), d.hwnd()), 0);  // no message either
    r = View(d, RowOf(d.list(), L"fits"));
    EXPECT_TRUE(r.shown);
    EXPECT_EQ(r.text, L"fits!");
    g_cchMaxStreamText = saved;
}
