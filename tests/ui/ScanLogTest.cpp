// Saving the scan log: the save dialog, the ".txt" rule, the exact bytes on
// disk, the replace question for an extended name and the file error report.
#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "ActionTestSupport.h"
#include "FileDialog.h"
#include "resource.h"

using namespace action_tests;
using namespace testing_support;

namespace {

// UTF-16LE bytes of a wide literal (wchar_t is UTF-16 here).
std::string Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

const wchar_t kHeader[] = L"NTFS数据流文件名----------------文件大小(字节)----------------文件路径\r\n";

// Starts the save command; the save dialog, or null when none opened.
HWND StartSave(const MainDialog& d, std::unique_ptr<AsyncSend>& send) {
    send = Command(d, ID_SAVE_SCAN_LOG);
    return WaitForWindow(d.thread(), d.hwnd(), IsSaveDialog, 20000);
}

// Starts the export, saves under `typed` and waits for the message box that
// follows; its hwnd is null when the save dialog or the box never came.
MessageBoxSeen SaveAsAndWaitBox(const MainDialog& d, std::unique_ptr<AsyncSend>& send,
                                const std::wstring& typed) {
    HWND save = StartSave(d, send);
    EXPECT_NE(save, nullptr);
    if (!save) return MessageBoxSeen{};
    SaveAs(save, typed);
    MessageBoxSeen box = WaitMessageBox(d);
    EXPECT_NE(box.hwnd, nullptr);
    return box;
}

// Saves under `typed` and answers the final "saved" box; the box's text.
std::wstring SaveAndConfirm(const MainDialog& d, const std::wstring& typed) {
    std::unique_ptr<AsyncSend> send;
    MessageBoxSeen box = SaveAsAndWaitBox(d, send, typed);
    if (!box.hwnd) return L"";
    EXPECT_TRUE(box.exclamationIcon);
    EXPECT_TRUE(box.ok);
    Answer(box.hwnd, IDOK);
    EXPECT_TRUE(send->Wait(10000));
    return box.text;
}

}  // namespace

TEST(FileDialog, FilterBecomesNullSeparatedAndDoubleNullEnded) {
    CFileDialog dlg(FALSE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, L"ALL Files(*.*)|*.*||");
    const wchar_t expected[] = L"ALL Files(*.*)\0*.*\0";
    ASSERT_NE(dlg.m_ofn.lpstrFilter, nullptr);
    EXPECT_EQ(std::memcmp(dlg.m_ofn.lpstrFilter, expected, sizeof(expected)), 0);
    EXPECT_EQ(dlg.m_ofn.Flags & 0x0006u, 0x0006u);
    EXPECT_NE(dlg.m_ofn.Flags & OFN_EXPLORER, 0u);
    EXPECT_EQ(dlg.m_ofn.lpstrDefExt, nullptr);
    EXPECT_EQ(dlg.GetPathName(), L"");

    // A filter without the closing "||" still ends in two nulls.
    CFileDialog open(TRUE, L"txt", L"x.txt", 0, L"Text|*.txt");
    const wchar_t expected2[] = L"Text\0*.txt\0";
    EXPECT_EQ(std::memcmp(open.m_ofn.lpstrFilter, expected2, sizeof(expected2)), 0);
    EXPECT_EQ(open.GetPathName(), L"x.txt");
    EXPECT_EQ(std::wstring(open.m_ofn.lpstrDefExt), L"txt");
}

TEST(ScanLog, WithoutASelectionThereIsNothingToSave) {
    MainDialog d;
    AddRow(d.list(), L"demo", L"26", L"C:\\a.txt");
    auto send = Command(d, ID_SAVE_SCAN_LOG);
    MessageBoxSeen box = WaitMessageBox(d);
    ASSERT_NE(box.hwnd, nullptr);
    EXPECT_EQ(box.text, L"没有可保存项！");
    EXPECT_EQ(box.caption, std::wstring(AfxGetAppName()));
    EXPECT_FALSE(box.caption.empty());
    EXPECT_TRUE(box.exclamationIcon);
    EXPECT_TRUE(box.ok);
    EXPECT_EQ(WaitForWindow(d.thread(), d.hwnd(), IsSaveDialog, 0), nullptr);
    Answer(box.hwnd, IDOK);
    EXPECT_TRUE(send->Wait(10000));
}

TEST(ScanLog, OneRowExampleIsWrittenByteForByte) {
    TempDir dir;
    MainDialog d;
    AddRow(d.list(), L"demo", L"26", L"C:\\a.txt");
    SetSelected(d.list(), 0, true);

    std::unique_ptr<AsyncSend> send;
    HWND save = StartSave(d, send);
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(::GetWindow(save, GW_OWNER), d.hwnd());
    SaveAs(save, dir / L"log");
    MessageBoxSeen box = WaitMessageBox(d);
    ASSERT_NE(box.hwnd, nullptr);
    EXPECT_EQ(box.text, L"保存完毕！");
    EXPECT_TRUE(box.exclamationIcon);
    // The file is complete before the message shows.
    const std::string file = ReadBytes(dir / L"log.txt");
    Answer(box.hwnd, IDOK);
    ASSERT_TRUE(send->Wait(10000));

    ASSERT_EQ(file.size(), 208u);
    EXPECT_EQ(file, Bytes(std::wstring(kHeader) + L"demo----------------26----------------C:\\a.txt\r\n"));
    EXPECT_EQ(file.substr(112, 8), std::string("d\0e\0m\0o\0", 8));
    EXPECT_FALSE(Exists(dir / L"log"));
}

TEST(ScanLog, EveryRowOfAScanIsWrittenInListOrder) {
    TempDir files, out;
    ASSERT_TRUE(WriteBytes(files / L"a.txt", "a"));
    ASSERT_TRUE(WriteBytes(files / L"a.txt:one", "12345"));
    ASSERT_TRUE(WriteBytes(files / L"a.txt:two", ""));
    ASSERT_TRUE(WriteBytes(files / L"sub\\b.bin", "b"));
    ASSERT_TRUE(WriteBytes(files / L"sub\\b.bin:数据", "xyz"));
    MainDialog d;
    ASSERT_TRUE(ScanFolder(d, files.path()));
    const std::vector<Row> rows = Rows(d.list());
    ASSERT_EQ(rows.size(), 3u);
    SetSelected(d.list(), 2, true);  // one selected row is enough for all

    // "a.txt" already ends in ".txt" and stays as typed.
    EXPECT_EQ(SaveAndConfirm(d, out / L"a.txt"), L"保存完毕！");
    std::wstring expected = kHeader;
    for (const Row& r : rows) expected += r.name + L"----------------" + r.size + L"----------------" + r.path + L"\r\n";
    EXPECT_EQ(ReadBytes(out / L"a.txt"), Bytes(expected));
    EXPECT_FALSE(Exists(out / L"a.txt.txt"));
    // The working texts hold the last row.
    EXPECT_EQ(d->m_strStreamName, rows[2].name);
    EXPECT_EQ(d->m_strStreamSize, rows[2].size);
    EXPECT_EQ(d->m_strFilePath, rows[2].path);

    // Upper-case ".TXT" is not the ending: LOG.TXT becomes LOG.TXT.txt.
    EXPECT_EQ(SaveAndConfirm(d, out / L"LOG.TXT"), L"保存完毕！");
    EXPECT_EQ(ReadBytes(out / L"LOG.TXT.txt"), Bytes(expected));
}

TEST(ScanLog, CancelWritesNothingAndSaysNothing) {
    TempDir dir;
    MainDialog d;
    AddRow(d.list(), L"demo", L"26", L"C:\\a.txt");
    SetSelected(d.list(), 0, true);
    std::unique_ptr<AsyncSend> send;
    HWND save = StartSave(d, send);
    ASSERT_NE(save, nullptr);
    ::SendMessageW(::GetDlgItem(save, cmb13) ? ::GetDlgItem(save, cmb13) : ::GetDlgItem(save, edt1), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>((dir / L"log").c_str()));
    Answer(save, IDCANCEL);
    ASSERT_TRUE(send->Wait(10000));
    EXPECT_EQ(CountDialogs(d.thread(), d.hwnd()), 0);
    EXPECT_FALSE(Exists(dir / L"log"));
    EXPECT_FALSE(Exists(dir / L"log.txt"));
}

// The dialog asked about "log"; "log.txt" is asked about before it is replaced.
TEST(ScanLog, AnExtendedNameThatExistsIsReplacedOnlyWhenTheUserSaysYes) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir / L"log.txt", "old log"));
    MainDialog d;
    AddRow(d.list(), L"demo", L"26", L"C:\\a.txt");
    SetSelected(d.list(), 0, true);

    {
        std::unique_ptr<AsyncSend> send;
        MessageBoxSeen question = SaveAsAndWaitBox(d, send, dir / L"log");
        ASSERT_NE(question.hwnd, nullptr);
        EXPECT_EQ(question.text, (dir / L"log.txt") + L" 已存在。\n要替换它吗？");
        EXPECT_TRUE(question.yesNo);
        Answer(question.hwnd, IDNO);
        ASSERT_TRUE(send->Wait(10000));
        EXPECT_EQ(CountDialogs(d.thread(), d.hwnd()), 0);  // nothing more is shown
        EXPECT_EQ(ReadBytes(dir / L"log.txt"), "old log");
        EXPECT_FALSE(Exists(dir / L"log"));
    }
    {
        std::unique_ptr<AsyncSend> send;
        MessageBoxSeen question = SaveAsAndWaitBox(d, send, dir / L"log");
        ASSERT_NE(question.hwnd, nullptr);
        EXPECT_TRUE(question.yesNo);
        Answer(question.hwnd, IDYES);
        MessageBoxSeen done = WaitMessageBox(d);
        ASSERT_NE(done.hwnd, nullptr);
        EXPECT_EQ(done.text, L"保存完毕！");
        Answer(done.hwnd, IDOK);
        ASSERT_TRUE(send->Wait(10000));
        EXPECT_EQ(ReadBytes(dir / L"log.txt").size(), 208u);
    }
}

TEST(ScanLog, ATargetHeldOpenElsewhereReportsASharingViolation) {
    TempDir dir;
    const std::wstring target = dir / L"locked.txt";
    ASSERT_TRUE(WriteBytes(target, "held"));
    HANDLE held = ::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    MainDialog d;
    AddRow(d.list(), L"demo", L"26", L"C:\\a.txt");
    SetSelected(d.list(), 0, true);

    std::unique_ptr<AsyncSend> send;
    MessageBoxSeen question = SaveAsAndWaitBox(d, send, dir / L"locked");
    ASSERT_NE(question.hwnd, nullptr);
    ASSERT_TRUE(question.yesNo);
    Answer(question.hwnd, IDYES);
    MessageBoxSeen report = WaitMessageBox(d);
    ASSERT_NE(report.hwnd, nullptr);
    EXPECT_EQ(report.text, L"访问 " + target + L" 时遇到共享冲突。");
    EXPECT_TRUE(report.stopIcon);
    EXPECT_TRUE(report.ok);
    Answer(report.hwnd, IDOK);
    ASSERT_TRUE(send->Wait(10000));
    EXPECT_EQ(CountDialogs(d.thread(), d.hwnd()), 0);  // no "saved" message
    ::CloseHandle(held);
    EXPECT_EQ(ReadBytes(target), "held");
}

namespace {

// Makes `path` (a stream) `size` bytes long without writing them: marked
// sparse where the file system knows the flag, then only its end moved.
bool SetStreamSize(const std::wstring& path, uint64_t size) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD unused = 0;
    ::DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &unused, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = LONGLONG(size);
    const bool ok = ::SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(h);
    ::CloseHandle(h);
    return ok;
}

}  // namespace

// Streams of 2 GiB and more show every digit of their size, unsigned, in the
// list and in the log; just under 2 GiB and 4 GiB stay as they were.
TEST(ScanLog, StreamsOfTwoGiBAndMoreShowTheirWholeSize) {
    TempDir files, out;
    ASSERT_TRUE(WriteBytes(files / L"a.txt", "a"));
    const std::pair<const wchar_t*, uint64_t> streams[] = {
        {L"big", (uint64_t(1) << 32) + 5}, {L"three", uint64_t(3) << 30},
        {L"under2", 0x7FFFFFFF},           {L"at2", 0x80000000},
        {L"under4", 0xFFFFFFFF},           {L"small", 5},
    };
    for (const auto& s : streams) ASSERT_TRUE(SetStreamSize(files / (std::wstring(L"a.txt:") + s.first), s.second));
    MainDialog d;
    ASSERT_TRUE(ScanFolder(d, files.path()));
    std::vector<Row> rows = Rows(d.list());
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.name < b.name; });
    const std::vector<std::pair<std::wstring, std::wstring>> want = {
        {L"at2", L"2147483648"}, {L"big", L"4294967301"},    {L"small", L"5"},
        {L"three", L"3221225472"}, {L"under2", L"2147483647"}, {L"under4", L"4294967295"},
    };
    ASSERT_EQ(rows.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(rows[i].name, want[i].first);
        EXPECT_EQ(rows[i].size, want[i].second) << rows[i].name;
    }

    SetSelected(d.list(), 0, true);
    EXPECT_EQ(SaveAndConfirm(d, out / L"sizes.txt"), L"保存完毕！");
    const std::string log = ReadBytes(out / L"sizes.txt");
    const std::wstring path = (files / L"a.txt");
    for (const auto& w : want) {
        const std::wstring line = w.first + L"----------------" + w.second + L"----------------" + path + L"\r\n";
        EXPECT_NE(log.find(Bytes(line)), std::string::npos) << w.first;
    }
}
