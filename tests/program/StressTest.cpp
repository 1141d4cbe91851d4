// The real program through many Scan/Stop cycles on a large tree: it must
// keep answering, the buttons and the status line must agree with the rows,
// nothing may change after a stop, and handles and memory must not grow.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstddef>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <winternl.h>

#include "ProgramDriver.h"
#include "WinTestSupport.h"
#include "resource.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

// Small enough that a full scan under Wine takes about a second and a half,
// so the cycles that wait for the end stay cheap.
constexpr int kFiles = 400;
constexpr int kDirs = 20;
constexpr int kCycles = 200;
constexpr int kWarmUpCycles = 10;
constexpr UINT kAnswerMs = 10000;  // far beyond the 200 ms a stop blocks the window

// Seconds since t, for the printed figures.
double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// The tree: kFiles files spread over kDirs directories; every 20th file has
// 1 to 3 streams of 1 to 300 bytes, written through their stream paths.
std::vector<Row> MakeTree(const std::wstring& root) {
    std::minstd_rand rng(20261207u);
    std::vector<Row> streams;
    for (int f = 0; f < kFiles; ++f) {
        std::wstring file = root + L"\\d" + std::to_wstring(f % kDirs) + L"\\f" + std::to_wstring(f) + L".dat";
        EXPECT_TRUE(WriteBytes(file, "x")) << f;
        if (f % 20 != 0) continue;
        int n = 1 + static_cast<int>(rng() % 3);
        for (int s = 0; s < n; ++s) {
            int size = 1 + static_cast<int>(rng() % 300);
            std::wstring name = L"s" + std::to_wstring(s);
            EXPECT_TRUE(WriteBytes(file + L":" + name, std::string(static_cast<size_t>(size), 's')));
            streams.push_back({name, std::to_wstring(size), file});
        }
    }
    return streams;
}

// The files of the tree in the order a depth-first walk of the listings meets
// them (stream entries stored beside their files are not files of their own).
void WalkFiles(const std::wstring& dir, std::vector<std::wstring>* files) {
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((dir + L"\\*.*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = fd.cFileName;
        if (name.find(L':') != std::wstring::npos) continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name != L"." && name != L"..") WalkFiles(dir + L"\\" + name, files);
        } else {
            files->push_back(dir + L"\\" + name);
        }
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
}

// A message to another process's window that fails instead of hanging when
// the window does not answer in time.
bool SendTimed(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result = nullptr) {
    DWORD_PTR r = 0;
    bool ok = ::SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_NORMAL, kAnswerMs, &r) != 0;
    if (result) *result = static_cast<LRESULT>(r);
    return ok;
}

bool Answers(HWND hwnd) {
    DWORD_PTR r = 0;
    return ::SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 5000, &r) != 0;
}

// The list's rows read from the program's own memory: list-view texts are not
// carried between processes, so the item record and the text buffer live in
// a block allocated inside the program.
class RemoteList {
public:
    RemoteList(HANDLE process, HWND list) : m_process(process), m_list(list) {
        m_block = static_cast<char*>(
            ::VirtualAllocEx(process, nullptr, kBlock, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
    ~RemoteList() {
        if (m_block) ::VirtualFreeEx(m_process, m_block, 0, MEM_RELEASE);
    }
    bool ok() const { return m_block != nullptr; }

    int Count() const {
        LRESULT n = -1;
        return SendTimed(m_list, LVM_GETITEMCOUNT, 0, 0, &n) ? static_cast<int>(n) : -1;
    }

    // Empty with *ok false when the program did not answer or memory failed.
    // Texts are fetched a batch of rows at a time: one write of the item
    // records, one message per text, one read of all the texts.
    std::vector<Row> Rows(bool* ok) const {
        std::vector<Row> rows;
        *ok = false;
        int n = Count();
        if (n < 0) return rows;
        LVITEMW* remoteItems = reinterpret_cast<LVITEMW*>(m_block);
        wchar_t* remoteTexts = reinterpret_cast<wchar_t*>(m_block + kSlots * sizeof(LVITEMW));
        std::vector<LVITEMW> items(kSlots);
        std::vector<wchar_t> texts(static_cast<size_t>(kSlots) * kChars);
        for (int first = 0; first < n; first += kSlots / 3) {
            int count = std::min(kSlots / 3, n - first);
            for (int i = 0; i < count * 3; ++i) {
                items[i] = LVITEMW{};
                items[i].iSubItem = i % 3;
                items[i].pszText = remoteTexts + static_cast<size_t>(i) * kChars;
                items[i].cchTextMax = kChars;
            }
            SIZE_T bytes = static_cast<SIZE_T>(count) * 3 * sizeof(LVITEMW), done = 0;
            if (!::WriteProcessMemory(m_process, remoteItems, items.data(), bytes, &done) || done != bytes)
                return rows;
            std::vector<int> lengths(static_cast<size_t>(count) * 3);
            for (int i = 0; i < count * 3; ++i) {
                LRESULT len = 0;
                if (!SendTimed(m_list, LVM_GETITEMTEXTW, static_cast<WPARAM>(first + i / 3),
                               reinterpret_cast<LPARAM>(remoteItems + i), &len))
                    return rows;
                if (len < 0 || len >= kChars - 1) return rows;  // cut short: not a text we can compare
                lengths[i] = static_cast<int>(len);
            }
            bytes = static_cast<SIZE_T>(count) * 3 * kChars * sizeof(wchar_t);
            if (!::ReadProcessMemory(m_process, remoteTexts, texts.data(), bytes, &done) || done != bytes) return rows;
            for (int r = 0; r < count; ++r) {
                auto text = [&](int col) {
                    size_t slot = static_cast<size_t>(r) * 3 + col;
                    return std::wstring(&texts[slot * kChars], static_cast<size_t>(lengths[slot]));
                };
                rows.push_back({text(0), text(1), text(2)});
            }
        }
        *ok = true;
        return rows;
    }

private:
    static constexpr int kSlots = 3 * 32;  // texts per batch: 32 rows
    static constexpr int kChars = 1024;    // per text; the tree's paths are far shorter
    static constexpr SIZE_T kBlock = kSlots * (sizeof(LVITEMW) + kChars * sizeof(wchar_t));

    HANDLE m_process;
    HWND m_list;
    char* m_block = nullptr;
};

// Handles of one process from the system's handle table, for platforms whose
// per-process handle count is not filled in; 0 when the table cannot be read.
DWORD HandlesInTable(DWORD pid) {
    struct Entry {
        ULONG ownerPid;
        BYTE objectType, flags;
        USHORT value;
        PVOID object;
        ULONG access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return 0;
    const ULONG kSystemHandleInformation = 16;
    const LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
    for (ULONG size = 1 << 20; size <= (64u << 20); size *= 2) {
        std::vector<char> buf(size);
        ULONG needed = 0;
        LONG st = query(kSystemHandleInformation, buf.data(), size, &needed);
        if (st == kLengthMismatch) continue;
        if (st != 0) return 0;
        const Table* t = reinterpret_cast<const Table*>(buf.data());
        ULONG fits = static_cast<ULONG>((size - offsetof(Table, entries)) / sizeof(Entry));
        DWORD n = 0;
        for (ULONG i = 0; i < t->count && i < fits; ++i) n += t->entries[i].ownerPid == pid;
        return n;
    }
    return 0;
}

// Committed private memory of a process, summed over its regions: what the
// private usage figure means, for platforms that leave that figure at 0.
SIZE_T PrivateCommitted(HANDLE process) {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION mbi;
    for (char* at = nullptr; ::VirtualQueryEx(process, at, &mbi, sizeof mbi) == sizeof mbi;) {
        if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) total += mbi.RegionSize;
        char* next = static_cast<char*>(mbi.BaseAddress) + mbi.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return total;
}

struct Usage {
    DWORD handles = 0;       // GetProcessHandleCount
    DWORD tableHandles = 0;  // the system handle table
    SIZE_T privateUsage = 0, workingSet = 0, privateCommitted = 0;
    DWORD gdi = 0, user = 0;
    // The figures compared: the platform's own where it gives them.
    DWORD Handles() const { return handles != 0 ? handles : tableHandles; }
    SIZE_T Private() const { return privateUsage != 0 ? privateUsage : privateCommitted; }
};

Usage Measure(HANDLE query, DWORD pid) {
    Usage u;
    if (!::GetProcessHandleCount(query, &u.handles)) u.handles = 0;
    u.tableHandles = HandlesInTable(pid);
    PROCESS_MEMORY_COUNTERS_EX pmc{};
    pmc.cb = sizeof pmc;
    if (::GetProcessMemoryInfo(query, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc)) {
        u.privateUsage = pmc.PrivateUsage;
        u.workingSet = pmc.WorkingSetSize;
    }
    u.privateCommitted = PrivateCommitted(query);
    u.gdi = ::GetGuiResources(query, GR_GDIOBJECTS);
    u.user = ::GetGuiResources(query, GR_USEROBJECTS);
    return u;
}

void Print(const char* when, const Usage& u) {
    std::printf("[stress] %-7s GetProcessHandleCount %lu, handle table %lu; PrivateUsage %.0f KiB, "
                "WorkingSetSize %.0f KiB, private committed %.0f KiB; GDI objects %lu, USER objects %lu\n",
                when, static_cast<unsigned long>(u.handles), static_cast<unsigned long>(u.tableHandles),
                u.privateUsage / 1024.0, u.workingSet / 1024.0, u.privateCommitted / 1024.0,
                static_cast<unsigned long>(u.gdi), static_cast<unsigned long>(u.user));
}

// "...%d个文件。找到%d个..." read back; false when the text has another form.
bool ParseCounts(const std::wstring& status, const std::wstring& prefix, int* files, int* streams) {
    if (status.compare(0, prefix.size(), prefix) != 0) return false;
    int f = -1, s = -1;
    if (swscanf(status.c_str() + prefix.size(), L"%d", &f) != 1) return false;
    size_t at = status.find(L"找到");
    if (at == std::wstring::npos || swscanf(status.c_str() + at + 2, L"%d", &s) != 1) return false;
    *files = f;
    *streams = s;
    return true;
}

std::wstring Completed(int files, int streams) {
    return L"扫描完成！共扫描" + std::to_wstring(files) + L"个文件。找到" + std::to_wstring(streams) +
           L"个项目含有NTFS数据流！";
}
std::wstring Stopped(int files, int streams) {
    return L"扫描被停止！扫描" + std::to_wstring(files) + L"个文件。找到" + std::to_wstring(streams) +
           L"个项目含有NTFS数据流！";
}

bool Enabled(HWND main, int id) { return ::IsWindowEnabled(::GetDlgItem(main, id)) != FALSE; }

// A pointer click: the system gives none to a disabled button, so neither does
// this (a BM_CLICK would reach it regardless). False when the button was
// disabled or its window did not answer.
bool UserClick(HWND button) {
    if (!::IsWindowEnabled(button)) return false;
    return SendTimed(button, BM_CLICK, 0, 0);
}

}  // namespace

TEST(Stress, TwoHundredScanStopCyclesKeepTheWindowConsistentAndLeakNothing) {
    auto started = Clock::now();
    TempDir tree;
    std::vector<Row> expected = MakeTree(tree.path());
    std::vector<std::wstring> walk;
    WalkFiles(tree.path(), &walk);
    ASSERT_EQ(walk.size(), static_cast<size_t>(kFiles));
    const int kStreams = static_cast<int>(expected.size());
    std::printf("[stress] tree: %d files, %d streams, made in %.2f s\n", kFiles, kStreams, Since(started));

    RunningProgram program(VESTREL_EXE);
    ASSERT_TRUE(program.started());
    HWND main = program.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    HWND status = ::GetDlgItem(main, IDC_STATIC_STATUS);
    HWND scan = ::GetDlgItem(main, IDC_BUTTON_SCAN);
    HWND stop = ::GetDlgItem(main, IDC_BUTTON_STOP);
    RemoteList list(program.process(), ::GetDlgItem(main, IDC_LIST_RESULT));
    ASSERT_TRUE(list.ok());
    HANDLE query = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, program.processId());
    ASSERT_NE(query, nullptr);

    // A first full scan gives the order in which the walk adds rows; every
    // stopped scan must have added exactly a beginning of it.
    auto t = Clock::now();
    ASSERT_TRUE(ScanFolderAndWait(main, tree.path(), 60000));
    double fullScan = Since(t);
    ASSERT_EQ(WindowText(status), Completed(kFiles, kStreams));
    bool ok = false;
    std::vector<Row> reference = list.Rows(&ok);
    ASSERT_TRUE(ok);
    {
        std::vector<Row> a = reference, b = expected;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        ASSERT_TRUE(a == b) << "the rows of a full scan are not the streams of the tree";
    }
    // Which walked file each reference row belongs to; rows follow the walk.
    std::map<std::wstring, int> walkIndex;
    for (size_t i = 0; i < walk.size(); ++i) walkIndex[walk[i]] = static_cast<int>(i);
    std::vector<int> rowFile;
    for (const Row& r : reference) {
        ASSERT_EQ(walkIndex.count(r.path), 1u) << "row path not in the tree";
        rowFile.push_back(walkIndex[r.path]);
        ASSERT_TRUE(rowFile.size() == 1 || rowFile[rowFile.size() - 2] <= rowFile.back())
            << "rows do not follow the walk order";
    }
    std::printf("[stress] full scan %.2f s\n", fullScan);

    Usage first = Measure(query, program.processId()), warm, end;
    std::minstd_rand rng(424242u);
    int stoppedCycles = 0, completedCycles = 0;
    double stopMsMax = 0, stopMsSum = 0;
    auto cyclesStarted = Clock::now();
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        if (cycle == kWarmUpCycles) warm = Measure(query, program.processId());

        ASSERT_TRUE(UserClick(scan)) << "Scan disabled or not answered";
        EXPECT_FALSE(Enabled(main, IDC_BUTTON_SCAN));
        EXPECT_TRUE(Enabled(main, IDC_BUTTON_STOP));

        // Mostly a stop somewhere inside the walk, from at once to 300 ms in;
        // every 25th cycle only after the scan has ended.
        bool waitForEnd = cycle % 25 == 24;
        if (waitForEnd) {
            ASSERT_TRUE(WaitUntil([&] { return !Enabled(main, IDC_BUTTON_STOP); }, 60000));
            ::Sleep(static_cast<DWORD>(rng() % 101));
        } else {
            ::Sleep(static_cast<DWORD>(rng() % 301));
        }
        auto clicked = Clock::now();
        bool stopDelivered = UserClick(stop);
        if (stopDelivered) {
            double ms = Since(clicked) * 1000;
            stopMsSum += ms;
            stopMsMax = std::max(stopMsMax, ms);
        }

        ASSERT_TRUE(Answers(main)) << "the window stopped answering after Stop";
        EXPECT_TRUE(Enabled(main, IDC_BUTTON_SCAN));
        EXPECT_FALSE(Enabled(main, IDC_BUTTON_STOP));

        std::wstring text = WindowText(status);
        std::vector<Row> rows = list.Rows(&ok);
        ASSERT_TRUE(ok) << "rows could not be read";
        int files = -1, streams = -1;
        if (ParseCounts(text, L"扫描完成！共扫描", &files, &streams)) {
            // The walk ended first: Stop was disabled by then, so the click
            // did nothing and the complete result stands.
            ++completedCycles;
            EXPECT_EQ(text, Completed(kFiles, kStreams));
            EXPECT_TRUE(rows == reference);
        } else {
            ASSERT_TRUE(ParseCounts(text, L"扫描被停止！扫描", &files, &streams)) << "status after Stop: " << ::testing::PrintToString(text);
            ++stoppedCycles;
            EXPECT_TRUE(stopDelivered) << "a stop message without a Stop click";
            EXPECT_EQ(text, Stopped(files, streams));
            EXPECT_EQ(streams, static_cast<int>(rows.size()));
            ASSERT_GE(files, 0);
            ASSERT_LE(files, kFiles);
            ASSERT_LE(rows.size(), reference.size());
            EXPECT_TRUE(std::equal(rows.begin(), rows.end(), reference.begin()))
                << "the rows are not the beginning of a full scan's rows";
            // The file count is the files handed to the enumeration: every row
            // is of one of them, and every stream of all but the last is listed
            // (a stop may cut the last file's streams short).
            if (!rows.empty()) {
                EXPECT_LT(rowFile[rows.size() - 1], files);
            }
            if (rows.size() < reference.size()) {
                EXPECT_GE(rowFile[rows.size()], files - 1);
            }
        }
        if (waitForEnd) {
            EXPECT_FALSE(stopDelivered);
            EXPECT_EQ(text, Completed(kFiles, kStreams));
        }

        // Nothing the stopped worker still does may show.
        ::Sleep(150);
        EXPECT_EQ(WindowText(status), text);
        EXPECT_EQ(list.Count(), static_cast<int>(rows.size()));
        EXPECT_TRUE(Enabled(main, IDC_BUTTON_SCAN));
        EXPECT_FALSE(Enabled(main, IDC_BUTTON_STOP));
        if (::testing::Test::HasFatalFailure()) return;
    }
    double cycles = Since(cyclesStarted);
    end = Measure(query, program.processId());
    std::printf("[stress] %d cycles in %.1f s (%.0f ms each): %d stopped, %d already complete; "
                "Stop blocks the window %.0f ms on average, %.0f ms at most\n",
                kCycles, cycles, cycles * 1000 / kCycles, stoppedCycles, completedCycles,
                stoppedCycles ? stopMsSum / stoppedCycles : 0.0, stopMsMax);
    Print("start", first);
    Print("warm-up", warm);
    Print("end", end);
    EXPECT_GE(stoppedCycles, kCycles / 2);

    // Handles: each cycle opens and closes a worker thread, listings and
    // files; a leak of one per cycle would show as +190.
    ASSERT_GT(warm.Handles(), 0u) << "no handle figure on this platform";
    EXPECT_LE(end.Handles(), warm.Handles() + 10);
    // Private memory: a thread stack (1 MiB reserved, tens of KiB committed)
    // or a row store leaked per cycle would pass this margin within the 190
    // cycles after the warm-up.
    ASSERT_GT(warm.Private(), 0u) << "no private memory figure on this platform";
    EXPECT_LE(end.Private(), warm.Private() + 4 * 1048576);
    if (warm.gdi == 0 && warm.user == 0 && end.gdi == 0 && end.user == 0) {
        std::printf("[stress] GetGuiResources gives 0 here: GUI objects not compared\n");
    } else {
        // Where the platform counts them: a brush, font or window leaked per
        // cycle would show as +190.
        EXPECT_LE(end.gdi, warm.gdi + 10);
        EXPECT_LE(end.user, warm.user + 10);
    }

    // A last full scan after all the stops sees every file and every stream.
    // (The status may already read complete from the last cycle: the end is
    // when Stop is disabled again with the completion message.)
    ASSERT_TRUE(UserClick(scan));
    ASSERT_TRUE(WaitUntil([&] { return !Enabled(main, IDC_BUTTON_STOP) &&
                                       WindowText(status).rfind(L"扫描完成", 0) == 0; }, 60000));
    EXPECT_EQ(WindowText(status), Completed(kFiles, kStreams));
    std::vector<Row> last = list.Rows(&ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(last == reference);
    ::CloseHandle(query);
    std::printf("[stress] total %.1f s\n", Since(started));
}
