// The main dialog while its scan misbehaves underneath: a worker blocked in
// the file system must never hold the window, the list must stay usable while
// rows arrive, a row the list refuses must not end the scan, and file calls
// with file-system redirection turned off must never overlap a window request.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ActionTestSupport.h"
#include "FsRedirection.h"
#include "VestrelDlg.h"
#include "WinTestSupport.h"
#include "resource.h"

using namespace testing_support;
using namespace action_tests;
using Clock = std::chrono::steady_clock;

namespace {

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

std::wstring Status(const MainDialog& d) { return WindowText(d.item(IDC_STATIC_STATUS)); }
bool Enabled(const MainDialog& d, int id) { return ::IsWindowEnabled(d.item(id)) != FALSE; }

void WriteStream(const std::wstring& file, const std::wstring& stream, const std::string& data) {
    ASSERT_TRUE(WriteBytes(file + L":" + stream, data));
}

// ---------------------------------------------------------------------------
// A walk step that blocks: the worker stops dead before listing or opening a
// path that contains the trap, as it would in a file system that does not
// answer, until the test lets it go.

class BlockedStep {
public:
    explicit BlockedStep(std::wstring trap) : m_trap(std::move(trap)) {
        s_self = this;
        m_blocked = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        SetScanStepHook(&Step);
    }
    ~BlockedStep() {
        Release();
        // The blocked worker must be gone before the next case starts.
        if (m_worker != nullptr) {
            ::WaitForSingleObject(m_worker, 30000);
            ::CloseHandle(m_worker);
        }
        SetScanStepHook(nullptr);
        s_self = nullptr;
        ::CloseHandle(m_blocked);
        ::CloseHandle(m_release);
    }
    // True once the worker sits in the trap (its thread is kept to be waited for).
    bool WaitBlocked(int ms) {
        if (::WaitForSingleObject(m_blocked, static_cast<DWORD>(ms)) != WAIT_OBJECT_0) return false;
        ::DuplicateHandle(::GetCurrentProcess(), m_trapped, ::GetCurrentProcess(), &m_worker, SYNCHRONIZE, FALSE, 0);
        return true;
    }
    void Release() { ::SetEvent(m_release); }
    // Steps the worker took after it was let go.
    int StepsAfterRelease() const { return m_after; }
    // Waits for the trapped worker thread to end.
    bool WaitWorkerEnded(int ms) const {
        return m_worker != nullptr && ::WaitForSingleObject(m_worker, static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
    }

private:
    static void Step(const std::wstring& path) {
        BlockedStep* self = s_self;
        if (self == nullptr) return;
        if (::WaitForSingleObject(self->m_release, 0) == WAIT_OBJECT_0) {
            if (::GetCurrentThreadId() == self->m_trappedId) ++self->m_after;
            return;
        }
        if (path.find(self->m_trap) == std::wstring::npos) return;
        self->m_trappedId = ::GetCurrentThreadId();
        self->m_trapped = ::OpenThread(SYNCHRONIZE, FALSE, self->m_trappedId);
        ::SetEvent(self->m_blocked);
        // Bounded, so a failing case cannot hang the run.
        ::WaitForSingleObject(self->m_release, 60000);
    }

    static BlockedStep* s_self;
    std::wstring m_trap;
    HANDLE m_blocked, m_release;
    HANDLE m_trapped = nullptr, m_worker = nullptr;
    std::atomic<DWORD> m_trappedId{0};
    std::atomic<int> m_after{0};
};
BlockedStep* BlockedStep::s_self = nullptr;

// A tree whose directory "trapdir" (ten files with a stream each) is where
// the worker blocks, beside a file with a stream found before it.
struct TrapTree {
    TempDir tree;
    TrapTree() {
        WriteBytes(tree / L"early\\a.txt", "a");
        WriteBytes(tree / L"early\\a.txt:s", "1");
        for (int i = 0; i < 10; ++i) {
            std::wstring f = tree / (L"trapdir\\f" + std::to_wstring(i) + L".txt");
            WriteBytes(f, "x");
            WriteBytes(f + L":late", "22");
        }
    }
};

}  // namespace

// Stop, then Scan again, while the old worker cannot move: neither waits for
// it, the new scan runs to its end, and once the old worker is let go nothing
// of it reaches the window.
TEST(ScanWindow, BlockedWorkerHoldsNeitherStopNorTheNextScan) {
    TrapTree trap;
    TempDir other;
    ASSERT_TRUE(WriteBytes(other / L"b.txt", "b"));
    WriteStream(other / L"b.txt", L"fresh", "333");

    BlockedStep step(L"\\trapdir");
    MainDialog d;
    StartFolderScan(d.hwnd(), trap.tree.path());
    ASSERT_TRUE(step.WaitBlocked(30000)) << "the walk never reached the trap";

    auto t = Clock::now();
    Click(d.hwnd(), IDC_BUTTON_STOP);
    const double stopMs = MsSince(t);
    EXPECT_LT(stopMs, 600.0) << "Stop waited for the blocked worker";
    EXPECT_GE(stopMs, 190.0) << "Stop waits 100 ms and pauses 100 ms";
    const std::wstring stopped = Status(d);
    EXPECT_EQ(stopped, FormatScanStopped(d->m_nFileCount, d->m_nStreamCount));

    ::SendMessageW(d.item(IDC_EDIT_FOLDER), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(other.path().c_str()));
    t = Clock::now();
    AsyncSend scan(d.item(IDC_BUTTON_SCAN), BM_CLICK, 0, 0);
    ASSERT_TRUE(scan.Wait(5000)) << "Scan waits for the blocked worker";
    EXPECT_LT(MsSince(t), 300.0);
    ASSERT_TRUE(WaitUntil([&] { return Status(d).compare(0, 4, L"扫描完成") == 0; }, 30000));
    const std::wstring done = Status(d);
    EXPECT_EQ(done, L"扫描完成！共扫描1个文件。找到1个项目含有NTFS数据流！");
    const std::vector<Row> rows = Rows(d.list());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (Row{L"fresh", L"3", other / L"b.txt"}));

    // The old worker goes on: nothing of it shows, and it walks no further.
    TextRecorder watch(d.item(IDC_STATIC_STATUS));
    step.Release();
    EXPECT_TRUE(step.WaitWorkerEnded(10000)) << "the stopped worker did not end";
    ::Sleep(300);
    EXPECT_TRUE(watch.Texts().empty()) << watch.Texts().size() << " status texts after the release";
    EXPECT_EQ(Status(d), done);
    EXPECT_EQ(Rows(d.list()), rows);
    EXPECT_EQ(d->m_nFileCount, 1);
    EXPECT_EQ(d->m_nStreamCount, 1);
    EXPECT_TRUE(Enabled(d, IDC_BUTTON_SCAN));
    EXPECT_FALSE(Enabled(d, IDC_BUTTON_STOP));
    EXPECT_EQ(step.StepsAfterRelease(), 0);
}

// Every way of ending the dialog ends the scan first and returns within the
// 100 ms wait, however long the worker stays blocked.
class ScanWindowEnd : public ::testing::TestWithParam<int> {};

TEST_P(ScanWindowEnd, EndsWithoutWaitingForABlockedWorker) {
    TrapTree trap;
    BlockedStep step(L"\\trapdir");
    ModalDialog<CVestrelDlg> d([] { return new CVestrelDlg; });
    // Past the title banner's animation, whose own end is not measured here.
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowVisible(d.item(IDC_PICTURE_BANNER)) != FALSE; }, 10000));
    StartFolderScan(d.hwnd(), trap.tree.path());
    ASSERT_TRUE(step.WaitBlocked(30000)) << "the walk never reached the trap";

    const auto t = Clock::now();
    switch (GetParam()) {
    case WM_CLOSE:
        ::PostMessageW(d.hwnd(), WM_CLOSE, 0, 0);
        break;
    default:  // Enter and Esc, as the dialog manager turns them into commands
        ::PostMessageW(d.hwnd(), WM_COMMAND, MAKEWPARAM(GetParam(), BN_CLICKED), 0);
        break;
    }
    // The dialog hides as it ends, once the handler has returned; its
    // destruction after that is not the scan's.
    const HWND window = d.hwnd();
    const bool ended = WaitUntil([&] { return !::IsWindowVisible(window); }, 5000);
    const double ms = MsSince(t);
    const INT_PTR result = d.WaitClosed(10000);
    step.Release();
    ASSERT_TRUE(ended);
    ASSERT_NE(result, -2) << "the dialog waited for the blocked worker";
    EXPECT_EQ(result, GetParam() == WM_CLOSE ? IDCANCEL : GetParam());
    EXPECT_LT(ms, 800.0) << "the window's thread was held";
    EXPECT_EQ(g_hScanThread, nullptr);
    // Ended first: once let go, the worker takes no further step.
    EXPECT_TRUE(step.WaitWorkerEnded(10000));
    EXPECT_EQ(step.StepsAfterRelease(), 0);
}

INSTANTIATE_TEST_SUITE_P(CloseEnterEsc, ScanWindowEnd, ::testing::Values(WM_CLOSE, IDOK, IDCANCEL));

// ---------------------------------------------------------------------------
// The list while rows arrive.

namespace {

// The list view as on Windows: its redraw switch goes on to the default
// handling, which takes WS_VISIBLE away while the redraw is off (here the
// list view keeps the switch to itself). A hook on the dialog's thread hands
// every list view's switch to the default handling first. Also counts the
// switches the result list is given.
HWND g_resultList = nullptr;
std::atomic<int> g_redrawOff{0};
bool g_asOnWindows = false;
LRESULT CALLBACK RedrawSwitchAsOnWindows(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION) {
        const CWPSTRUCT* m = reinterpret_cast<const CWPSTRUCT*>(lp);
        wchar_t cls[32] = {};
        if (m->message == WM_SETREDRAW && ::GetClassNameW(m->hwnd, cls, 32) && std::wstring(cls) == L"SysListView32") {
            if (m->hwnd == g_resultList && !m->wParam) ++g_redrawOff;
            if (g_asOnWindows) ::DefWindowProcW(m->hwnd, WM_SETREDRAW, m->wParam, m->lParam);
        }
    }
    return ::CallNextHookEx(nullptr, code, wp, lp);
}

class ListSubclass {
public:
    ListSubclass(HWND list, WNDPROC proc, WNDPROC* saved) : m_list(list), m_saved(saved) {
        *saved = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
    }
    ~ListSubclass() {
        if (::IsWindow(m_list)) ::SetWindowLongPtrW(m_list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(*m_saved));
    }

private:
    HWND m_list;
    WNDPROC* m_saved;
};

// Every file with a stream: rows keep coming for the whole scan.
void MakeRowTree(const TempDir& tree, int files) {
    for (int f = 0; f < files; ++f) {
        std::wstring file = tree / (L"d" + std::to_wstring(f / 100) + L"\\f" + std::to_wstring(f) + L".txt");
        ASSERT_TRUE(WriteBytes(file, "x"));
        WriteStream(file, L"r", "1");
    }
}

void SendMouse(DWORD flags) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = flags;
    ::SendInput(1, &in, sizeof in);
}

}  // namespace

// Param: the list view behaves as on Windows (its redraw switch hides it),
// or as here.
class ListWhileRowsArrive : public ::testing::TestWithParam<bool> {};

TEST_P(ListWhileRowsArrive, StaysVisibleAndTakesARightClick) {
    g_asOnWindows = GetParam();
    // As on Windows each insert is painted for itself under Wine: fewer rows.
    const int files = g_asOnWindows ? 200 : 1500;
    TempDir tree;
    MakeRowTree(tree, files);
    MainDialog d;
    HWND list = d.list();
    g_resultList = list;
    g_redrawOff = 0;
    HHOOK hook = ::SetWindowsHookExW(WH_CALLWNDPROC, RedrawSwitchAsOnWindows, nullptr, d.thread());
    ASSERT_NE(hook, nullptr);
    if (g_asOnWindows) {
        // The stand-in works: the list's redraw switch now hides it.
        ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
        EXPECT_FALSE(::GetWindowLongW(list, GWL_STYLE) & WS_VISIBLE);
        ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        ASSERT_TRUE(::GetWindowLongW(list, GWL_STYLE) & WS_VISIBLE);
        g_redrawOff = 0;
    }

    // WS_VISIBLE sampled from this thread while rows come in.
    StartFolderScan(d.hwnd(), tree.path());
    ASSERT_TRUE(WaitUntil([&] { return ItemCount(list) >= 1; }, 30000));
    int samples = 0, hidden = 0;
    const int rowsBefore = ItemCount(list);
    const auto t = Clock::now();
    while (MsSince(t) < 600 && Enabled(d, IDC_BUTTON_STOP)) {
        ++samples;
        if (!(::GetWindowLongW(list, GWL_STYLE) & WS_VISIBLE)) ++hidden;
        ::Sleep(1);
    }
    const int rowsDuring = ItemCount(list) - rowsBefore;
    EXPECT_GT(rowsDuring, 2) << "too few rows arrived while sampling";
    EXPECT_GT(samples, 50);
    EXPECT_EQ(hidden, 0) << "of " << samples << " samples";
    // As on Windows the switch is never used; here it keeps the inserts cheap.
    if (g_asOnWindows) {
        EXPECT_EQ(g_redrawOff.load(), 0);
    } else {
        EXPECT_GT(g_redrawOff.load(), 0);
    }

    // A right-click on the first row, through the input queue as a mouse
    // gives it: the list must be under the cursor, and its menu opens.
    RECT r{};
    r.left = LVIR_LABEL;
    ASSERT_TRUE(::SendMessageW(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&r)));
    POINT pt{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ::ClientToScreen(list, &pt);
    ASSERT_TRUE(Enabled(d, IDC_BUTTON_STOP)) << "the scan ended before the click";
    ::SetCursorPos(pt.x, pt.y);
    SendMouse(MOUSEEVENTF_RIGHTDOWN);
    SendMouse(MOUSEEVENTF_RIGHTUP);
    HWND menu = WaitForWindow(d.thread(), d.hwnd(), [](HWND w) {
        wchar_t cls[16] = {};
        ::GetClassNameW(w, cls, 16);
        return std::wstring(cls) == L"#32768";
    }, 5000);
    EXPECT_NE(menu, nullptr) << "the right-click did not reach the list";
    if (menu != nullptr) {
        EXPECT_EQ(d->m_nClickedItem, 0);
        EXPECT_EQ(d->m_strStreamName, L"r");
        ::PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
        WaitUntil([&] { return !::IsWindowVisible(menu); }, 5000);
    }
    ASSERT_TRUE(WaitUntil([&] { return Status(d).compare(0, 4, L"扫描完成") == 0; }, 120000));
    EXPECT_EQ(ItemCount(list), files);
    EXPECT_TRUE(::GetWindowLongW(list, GWL_STYLE) & WS_VISIBLE);
    ::UnhookWindowsHookEx(hook);
    g_resultList = nullptr;
}

INSTANTIATE_TEST_SUITE_P(AsOnWindowsAndHere, ListWhileRowsArrive, ::testing::Values(true, false));

// ---------------------------------------------------------------------------
// A row the list refuses.

namespace {

WNDPROC g_refusingProc = nullptr;
LRESULT CALLBACK RefuseNamedRows(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == LVM_INSERTITEMW && lp != 0) {
        const LVITEMW* item = reinterpret_cast<const LVITEMW*>(lp);
        if ((item->mask & LVIF_TEXT) && item->pszText != nullptr && std::wstring(item->pszText) == L"refused")
            return -1;
    }
    return ::CallWindowProcW(g_refusingProc, hwnd, msg, wp, lp);
}

}  // namespace

TEST(ScanWindow, ARowTheListRefusesIsNotAStop) {
    TempDir tree;
    ASSERT_TRUE(WriteBytes(tree / L"a.txt", "a"));
    WriteStream(tree / L"a.txt", L"first", "1");
    WriteStream(tree / L"a.txt", L"refused", "22");
    WriteStream(tree / L"a.txt", L"zlast", "333");
    ASSERT_TRUE(WriteBytes(tree / L"sub\\b.txt", "b"));
    WriteStream(tree / L"sub\\b.txt", L"refused", "4444");
    WriteStream(tree / L"sub\\b.txt", L"other", "55555");

    MainDialog d;
    ListSubclass sub(d.list(), &RefuseNamedRows, &g_refusingProc);
    ASSERT_TRUE(ScanFolder(d, tree.path()));
    EXPECT_EQ(Status(d), L"扫描完成！共扫描2个文件。找到3个项目含有NTFS数据流！");
    EXPECT_EQ(d->m_nFileCount, 2);
    EXPECT_EQ(d->m_nStreamCount, 3);
    std::vector<Row> rows = Rows(d.list());
    std::sort(rows.begin(), rows.end());
    std::vector<Row> expected = {{L"first", L"1", tree / L"a.txt"},
                                 {L"zlast", L"3", tree / L"a.txt"},
                                 {L"other", L"5", tree / L"sub\\b.txt"}};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(rows, expected);
}

// ---------------------------------------------------------------------------
// File-system redirection: turned off around each walk, open, view and
// delete call and back on before anything else; never off while the window
// is asked for something.

namespace {

using vestrel::FsCall;

struct RedirectionLog {
    std::atomic<int> disabled[4] = {}, reverted[4] = {}, wrongToken{0}, otherThread{0};
    std::atomic<int> offNow{0};          // guards off at this moment, all threads
    std::atomic<int> messagesWhileOff{0};
    bool fake = true;
    vestrel::FsRedirectionCalls platform = vestrel::PlatformFsRedirectionCalls();
};
RedirectionLog* g_log = nullptr;
thread_local PVOID t_token = nullptr;
thread_local int t_depth = 0;

BOOL RecordDisable(FsCall what, PVOID* old) {
    BOOL ok = TRUE;
    if (g_log->fake) {
        static std::atomic<intptr_t> next{0x1000};
        *old = reinterpret_cast<PVOID>(next += 0x10);
    } else {
        ok = g_log->platform.disable(what, old);
    }
    if (ok) {
        ++g_log->disabled[static_cast<int>(what)];
        t_token = *old;
        ++t_depth;
        ++g_log->offNow;
    }
    return ok;
}

BOOL RecordRevert(FsCall what, PVOID old) {
    ++g_log->reverted[static_cast<int>(what)];
    if (t_depth != 1) ++g_log->otherThread;  // a revert without its disable on this thread
    if (old != t_token) ++g_log->wrongToken;
    --t_depth;
    --g_log->offNow;
    return g_log->fake ? TRUE : g_log->platform.revert(what, old);
}

// Sees every message sent to a window of the dialog's thread: none may come
// while that thread has redirection off (it would have asked for it), and no
// scan request while the worker has it off (during the scan only the worker
// turns it off).
LRESULT CALLBACK WatchMessages(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION && g_log != nullptr) {
        const CWPSTRUCT* m = reinterpret_cast<const CWPSTRUCT*>(lp);
        if (t_depth != 0 || (m->message == WM_SCAN_REQUEST && g_log->offNow.load() != 0)) ++g_log->messagesWhileOff;
    }
    return ::CallNextHookEx(nullptr, code, wp, lp);
}

}  // namespace

class Redirection : public ::testing::TestWithParam<bool> {};

TEST_P(Redirection, OffOnlyAroundFileCallsAndAlwaysBackOn) {
    RedirectionLog log;
    log.fake = GetParam();
    g_log = &log;
    const vestrel::FsRedirectionCalls before = vestrel::SetFsRedirectionCalls({RecordDisable, RecordRevert});
    if (!log.fake) {
        // The platform's own pair in this (64-bit) process: off succeeds and
        // is reverted, or fails and leaves nothing to revert.
        vestrel::FsRedirectionOff probe(FsCall::kList);
        std::printf("[ wow64   ] platform redirection off: %s\n", probe.off() ? "yes" : "no (not a 32-bit process)");
    }

    TempDir tree;
    ASSERT_TRUE(WriteBytes(tree / L"a.txt", "a"));
    WriteStream(tree / L"a.txt", L"view", "shown text");
    ASSERT_TRUE(WriteBytes(tree / L"sub\\b.txt", "b"));
    WriteStream(tree / L"sub\\b.txt", L"gone", "x");
    {
        MainDialog d;
        HHOOK hook = ::SetWindowsHookExW(WH_CALLWNDPROC, WatchMessages, nullptr, d.thread());
        ASSERT_NE(hook, nullptr);
        ASSERT_TRUE(ScanFolder(d, tree.path()));
        ASSERT_EQ(ItemCount(d.list()), 2);
        const int viewRow = ItemText(d.list(), 0, 0) == L"view" ? 0 : 1;

        // View the first stream, then delete the other one, each recorded by
        // a right-click on its row as the commands expect.
        auto record = [&](int row) {
            RightClick click(d, row);
            ASSERT_NE(click.WaitMenu(), nullptr);
            EXPECT_TRUE(click.Cancel());
        };
        record(viewRow);
        {
            auto view = Command(d, ID_VIEW_STREAM);
            HWND viewer = WaitForWindow(d.thread(), d.hwnd(), IsViewer, 10000);
            ASSERT_NE(viewer, nullptr);
            EXPECT_EQ(WindowText(::GetDlgItem(viewer, IDC_EDIT_CONTENT)), L"shown text");
            Answer(viewer, IDC_BUTTON_CLOSE_VIEWER);
            EXPECT_TRUE(view->Wait(10000));
        }
        record(1 - viewRow);
        EXPECT_TRUE(Command(d, ID_DELETE_SELECTED)->Wait(10000));
        EXPECT_TRUE(WaitUntil([&] { return ItemCount(d.list()) == 1; }, 10000));
        EXPECT_FALSE(Exists(tree / L"sub\\b.txt:gone"));
        ::UnhookWindowsHookEx(hook);
    }
    vestrel::SetFsRedirectionCalls(before);
    g_log = nullptr;

    const char* names[] = {"list", "open", "view", "delete"};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(log.disabled[c].load(), log.reverted[c].load()) << names[c];
        if (log.fake) {
            EXPECT_GT(log.disabled[c].load(), 0) << names[c] << " never turned redirection off";
        }
    }
    EXPECT_EQ(log.offNow.load(), 0);
    EXPECT_EQ(log.wrongToken.load(), 0);
    EXPECT_EQ(log.otherThread.load(), 0);
    EXPECT_EQ(log.messagesWhileOff.load(), 0) << "a window was asked for something while redirection was off";
}

INSTANTIATE_TEST_SUITE_P(FakeAndPlatform, Redirection, ::testing::Values(true, false));
