// Folder scans of the real main dialog over trees that misbehave: entries
// that come and go under the walk, a file another process holds open, very
// long names, a directory link loop, a directory that cannot be listed and a
// huge sparse stream. Each case checks what the user sees at the end: the
// status line with its counts and the rows (name, size, path).
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DirLink.h"
#include "VestrelDlg.h"
#include "WinTestSupport.h"
#include "resource.h"

using namespace testing_support;

namespace testing_support {
// Readable failures: a row as its three texts (long names by length).
void PrintTo(const Row& r, std::ostream* os) {
    auto shown = [](const std::wstring& t) {
        std::string out;
        for (wchar_t c : t) out += (c >= 32 && c < 127) ? char(c) : '?';
        return out.size() > 60 ? out.substr(0, 28) + "...(" + std::to_string(out.size()) + ")..." +
                                     out.substr(out.size() - 24)
                               : out;
    };
    *os << "{" << shown(r.name) << ", " << shown(r.size) << ", " << shown(r.path) << "}";
}
}  // namespace testing_support

namespace {

// ---------------------------------------------------------------------------
// Helper mode: the same program, started as "<exe> --hold-exclusive <file>
// <ready event> <release event>", opens the file for writing with no sharing
// and keeps it open until told to let go. It runs before any test starts.

const wchar_t kHoldArg[] = L"--hold-exclusive";

int HoldFileExclusively(const wchar_t* file, const wchar_t* ready, const wchar_t* release) {
    HANDLE h = ::CreateFileW(file, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 2;
    HANDLE readyEvent = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, ready);
    HANDLE releaseEvent = ::OpenEventW(SYNCHRONIZE, FALSE, release);
    if (readyEvent == nullptr || releaseEvent == nullptr) return 3;
    ::SetEvent(readyEvent);
    // Bounded, so a test that dies cannot leave the file locked for good.
    ::WaitForSingleObject(releaseEvent, 120000);
    ::CloseHandle(h);
    return 0;
}

bool RunHelperIfAsked() {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv != nullptr && argc == 5 && std::wstring(argv[1]) == kHoldArg)
        ::ExitProcess(static_cast<UINT>(HoldFileExclusively(argv[2], argv[3], argv[4])));
    if (argv != nullptr) ::LocalFree(argv);
    return true;
}

const bool g_helperChecked = RunHelperIfAsked();

// The helper process, holding `file` until this object goes.
class ExclusiveHolder {
public:
    explicit ExclusiveHolder(const std::wstring& file) {
        const std::wstring tag = std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(::GetTickCount());
        const std::wstring readyName = L"vestrel-flt-ready-" + tag, releaseName = L"vestrel-flt-release-" + tag;
        m_ready = ::CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
        m_release = ::CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str());
        wchar_t exe[MAX_PATH];
        ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
        std::wstring cmd = L"\"" + std::wstring(exe) + L"\" " + kHoldArg + L" \"" + file + L"\" " + readyName +
                           L" " + releaseName;
        STARTUPINFOW si{};
        si.cb = sizeof si;
        if (::CreateProcessW(exe, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &m_process)) {
            ::CloseHandle(m_process.hThread);
            HANDLE both[2] = {m_ready, m_process.hProcess};
            m_holding = ::WaitForMultipleObjects(2, both, FALSE, 20000) == WAIT_OBJECT_0;
        }
    }
    ~ExclusiveHolder() {
        ::SetEvent(m_release);
        if (m_process.hProcess != nullptr) {
            ::WaitForSingleObject(m_process.hProcess, 20000);
            ::CloseHandle(m_process.hProcess);
        }
        ::CloseHandle(m_ready);
        ::CloseHandle(m_release);
    }
    bool holding() const { return m_holding; }

private:
    HANDLE m_ready = nullptr, m_release = nullptr;
    PROCESS_INFORMATION m_process{};
    bool m_holding = false;
};

// ---------------------------------------------------------------------------
// Driving a scan

using Dlg = ModalDialog<CVestrelDlg>;
CVestrelDlg* MakeDialog() { return new CVestrelDlg; }

std::wstring Status(const Dlg& d) { return WindowText(d.item(IDC_STATIC_STATUS)); }

struct Outcome {
    bool finished = false;
    double seconds = 0;
    std::wstring status;
    int files = 0, streams = 0;
    std::vector<Row> rows;  // sorted
};

// Scans `folder` with the folder scope and waits for the completion step
// (Scan given back and the completion message written).
Outcome ScanFolder(Dlg& d, const std::wstring& folder, int timeoutMs = 120000) {
    const auto start = std::chrono::steady_clock::now();
    StartFolderScan(d.hwnd(), folder);
    Outcome o;
    o.finished = WaitUntil([&] {
        return ::IsWindowEnabled(d.item(IDC_BUTTON_SCAN)) && Status(d).compare(0, 4, L"扫描完成") == 0;
    }, timeoutMs);
    o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    o.status = Status(d);
    o.files = d->m_nFileCount;
    o.streams = d->m_nStreamCount;
    o.rows = Rows(d.item(IDC_LIST_RESULT));
    std::sort(o.rows.begin(), o.rows.end());
    return o;
}

// What every finished scan must show, whatever the tree did.
void ExpectConsistent(const Outcome& o) {
    ASSERT_TRUE(o.finished) << "the scan did not end";
    EXPECT_EQ(o.status, FormatScanComplete(o.files, o.streams));
    EXPECT_EQ(static_cast<int>(o.rows.size()), o.streams);
    EXPECT_TRUE(std::adjacent_find(o.rows.begin(), o.rows.end()) == o.rows.end()) << "a row is listed twice";
}

std::vector<Row> Sorted(std::vector<Row> rows) {
    std::sort(rows.begin(), rows.end());
    return rows;
}

void WriteStream(const std::wstring& file, const std::wstring& stream, const std::string& data) {
    ASSERT_TRUE(WriteBytes(file + L":" + stream, data)) << "stream of " << stream.size() << " characters";
}

// Writes through an already "\\?\"-prefixed path, past the ordinary limits.
bool WriteLong(const std::wstring& longPath, const std::string& data) {
    HANDLE h = ::CreateFileW(longPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD n = 0;
    const BOOL ok = data.empty() || ::WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
    ::CloseHandle(h);
    return ok && n == data.size();
}

std::wstring Long(const std::wstring& path) { return L"\\\\?\\" + path; }


double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

// ---------------------------------------------------------------------------
// 1. Files and directories deleted and created while the walk runs.

namespace {

// Deletes and creates files and directories (each file with one stream) in
// the tree's directories until told to stop; counts every file and stream
// that existed at any time, for the bounds of the counts.
class Churner {
public:
    Churner(const std::wstring& root, int dirs) : m_root(root), m_dirs(dirs) {}
    ~Churner() { Stop(); }

    void AddInitial(int dir, int n) {
        for (int i = 0; i < n; ++i) {
            std::wstring file = Dir(dir) + L"\\c" + std::to_wstring(m_next++) + L".txt";
            m_ever.insert(file);
            if (WriteBytes(file, "churn") && WriteBytes(file + L":c", "cc")) m_files.push_back(file);
        }
    }
    // Starts a round: from here on every file present counts as "ever present".
    void Start() {
        m_everFiles = static_cast<int>(m_files.size());
        for (const auto& d : m_subdirs) m_everFiles += static_cast<int>(d.second.size());
        m_changes = 0;
        m_run = true;
        m_thread = std::thread([this] { Run(); });
    }
    void Stop() {
        m_run = false;
        if (m_thread.joinable()) m_thread.join();
    }
    int everFiles() const { return m_everFiles; }  // each churn file carries one stream
    int changes() const { return m_changes; }
    bool IsChurnRow(const Row& r) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return r.name == L"c" && r.size == L"2" && m_ever.count(r.path) != 0;
    }

private:
    std::wstring Dir(int i) const { return m_root + L"\\d" + std::to_wstring(i); }

    bool MakeFile(const std::wstring& file) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ever.insert(file);
        }
        ++m_everFiles;  // counted before it can be seen
        return WriteBytes(file, "churn") && WriteBytes(file + L":c", "cc");
    }
    // The stream goes first: where streams are sibling entries, deleting the
    // file alone would leave its stream behind for a later file of that name.
    static bool RemoveFile(const std::wstring& file) {
        ::DeleteFileW((file + L":c").c_str());
        return ::DeleteFileW(file.c_str()) != FALSE;
    }

    void Run() {
        std::mt19937 rng(12345);
        while (m_run) {
            const int dir = static_cast<int>(rng() % m_dirs);
            // As many files go as come, around a steady size.
            unsigned action = rng() % 4;
            if (action == 0 && m_files.size() >= kMaxFiles) action = 1;
            switch (action) {
            case 0: {  // a new file
                std::wstring file = Dir(dir) + L"\\c" + std::to_wstring(m_next++) + L".txt";
                if (MakeFile(file)) m_files.push_back(file);
                break;
            }
            case 1:  // a file goes (it may be open for the scan: then it stays)
                if (!m_files.empty()) {
                    size_t i = rng() % m_files.size();
                    if (RemoveFile(m_files[i])) {
                        m_files.erase(m_files.begin() + static_cast<std::ptrdiff_t>(i));
                    }
                }
                break;
            default:  // a directory of two files comes, or one goes
                if (m_subdirs.size() < 4 || (action == 2 && m_subdirs.size() < kMaxDirs)) {
                    std::wstring sub = Dir(dir) + L"\\cdir" + std::to_wstring(m_next++);
                    ::CreateDirectoryW(sub.c_str(), nullptr);
                    std::vector<std::wstring> files;
                    for (int k = 0; k < 2; ++k) {
                        std::wstring file = sub + L"\\f" + std::to_wstring(k) + L".txt";
                        if (MakeFile(file)) files.push_back(file);
                    }
                    m_subdirs.push_back({sub, files});
                } else {
                    size_t i = rng() % m_subdirs.size();
                    auto& entry = m_subdirs[i];
                    for (auto it = entry.second.begin(); it != entry.second.end();) {
                        it = RemoveFile(*it) ? entry.second.erase(it) : it + 1;
                    }
                    if (entry.second.empty() && ::RemoveDirectoryW(entry.first.c_str()))
                        m_subdirs.erase(m_subdirs.begin() + static_cast<std::ptrdiff_t>(i));
                }
                break;
            }
            ++m_changes;
            ::Sleep(2);
        }
    }

    static constexpr size_t kMaxFiles = 100, kMaxDirs = 20;
    std::wstring m_root;
    int m_dirs;
    int m_next = 0;
    std::vector<std::wstring> m_files;
    std::vector<std::pair<std::wstring, std::vector<std::wstring>>> m_subdirs;
    std::mutex m_mutex;
    std::set<std::wstring> m_ever;
    std::atomic<int> m_everFiles{0};
    std::atomic<int> m_changes{0};
    std::atomic<bool> m_run{false};
    std::thread m_thread;
};

}  // namespace

TEST(ScanFaults, EntriesChangingUnderTheWalkLoseNothingThatStayed) {
    TempDir tree;
    const int kDirs = 10, kStable = 40;
    std::vector<Row> stableRows;
    std::vector<std::wstring> stableFiles;
    for (int dir = 0; dir < kDirs; ++dir) {
        for (int f = 0; f < kStable; ++f) {
            std::wstring file = tree / (L"d" + std::to_wstring(dir) + L"\\s" + std::to_wstring(f) + L".txt");
            stableFiles.push_back(file);
            ASSERT_TRUE(WriteBytes(file, "stable"));
            if (f % 3 == 0) {
                WriteStream(file, L"keep", "kept");
                stableRows.push_back({L"keep", L"4", file});
            }
        }
    }
    stableRows = Sorted(stableRows);
    Churner churn(tree.path(), kDirs);
    for (int dir = 0; dir < kDirs; ++dir) churn.AddInitial(dir, 5);

    Dlg d(MakeDialog);
    // The walk writes each entry's path into the status line once, so a
    // file's count there is how often the walk reached it.
    TextRecorder shown(d.item(IDC_STATIC_STATUS));
    {
        // The same tree standing still: the figures the churn rounds vary from.
        Outcome o = ScanFolder(d, tree.path());
        std::printf("[ churn   ] still tree: %.2f s, files %d, rows %d\n", o.seconds, o.files, o.streams);
        ExpectConsistent(o);
        EXPECT_EQ(o.files, kDirs * kStable + kDirs * 5);
        EXPECT_EQ(o.streams, static_cast<int>(stableRows.size()) + kDirs * 5);
    }
    for (int round = 0; round < 3; ++round) {
        shown.Clear();
        churn.Start();
        Outcome o = ScanFolder(d, tree.path());
        churn.Stop();
        std::printf("[ churn   ] round %d: %.2f s, %d changes, files %d (stable %d, churn ever %d), rows %d\n", round,
                    o.seconds, churn.changes(), o.files, kDirs * kStable, churn.everFiles(), o.streams);
        ExpectConsistent(o);
        EXPECT_GT(churn.changes(), 20) << "the tree hardly changed while the scan ran";
        // Every file that stayed is counted, every stream of those is listed;
        // beyond that only files and streams that existed at some point.
        int reachedOnce = 0;
        for (const std::wstring& f : stableFiles) reachedOnce += shown.Times(f) == 1;
        EXPECT_EQ(reachedOnce, kDirs * kStable) << "files that stayed were missed or counted twice";
        EXPECT_GE(o.files, kDirs * kStable);
        EXPECT_LE(o.files, kDirs * kStable + churn.everFiles());
        std::vector<Row> stableSeen, other;
        for (const Row& r : o.rows) {
            if (r.name == L"keep") stableSeen.push_back(r);
            else other.push_back(r);
        }
        EXPECT_EQ(stableSeen, stableRows);
        for (const Row& r : other) EXPECT_TRUE(churn.IsChurnRow(r)) << "unexpected row " << r.path.size();
        EXPECT_LE(static_cast<int>(other.size()), churn.everFiles());
    }
}

// ---------------------------------------------------------------------------
// 2. A file that another process holds open for writing, without sharing.

TEST(ScanFaults, FileHeldOpenElsewhereIsCountedAndTheScanGoesOn) {
    TempDir tree;
    ASSERT_TRUE(WriteBytes(tree / L"a.txt", "a"));
    WriteStream(tree / L"a.txt", L"first", "1");
    ASSERT_TRUE(WriteBytes(tree / L"busy.txt", "being written"));
    WriteStream(tree / L"busy.txt", L"x", "xx");
    WriteStream(tree / L"busy.txt", L"y", "yyy");
    ASSERT_TRUE(WriteBytes(tree / L"sub\\z.txt", "z"));
    WriteStream(tree / L"sub\\z.txt", L"last", "4444");
    const std::vector<Row> others = Sorted({{L"first", L"1", tree / L"a.txt"}, {L"last", L"4", tree / L"sub\\z.txt"}});

    Dlg d(MakeDialog);
    {
        ExclusiveHolder holder(tree / L"busy.txt");
        ASSERT_TRUE(holder.holding()) << "the helper process did not open the file";
        // The hold is real: a reader is refused.
        HANDLE probe = ::CreateFileW((tree / L"busy.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        EXPECT_EQ(probe, INVALID_HANDLE_VALUE);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        if (probe != INVALID_HANDLE_VALUE) ::CloseHandle(probe);

        Outcome o = ScanFolder(d, tree.path());
        ExpectConsistent(o);
        EXPECT_EQ(o.status, L"扫描完成！共扫描3个文件。找到2个项目含有NTFS数据流！");
        EXPECT_EQ(o.rows, others);
    }
    // Let go, the same file's streams are found again.
    Outcome o = ScanFolder(d, tree.path());
    ExpectConsistent(o);
    EXPECT_EQ(o.files, 3);
    EXPECT_EQ(o.rows, Sorted({others[0], others[1], {L"x", L"2", tree / L"busy.txt"}, {L"y", L"3", tree / L"busy.txt"}}));
}

// ---------------------------------------------------------------------------
// 3. Names of 255 characters, and directories whose search pattern is exactly
// at and one past the 259-character limit.

TEST(ScanFaults, LongNamesAreListedAndThePatternLimitIsExact) {
    TempDir tree;
    const std::wstring longFile = tree / std::wstring(255, L'f');
    ASSERT_TRUE(WriteBytes(longFile, "x"));
    // Where streams are sibling entries (Wine), a 255-character file has no
    // room left for any stream name; it is then a plain file.
    const bool longFileHasStream = WriteBytes(longFile + L":short", "12");

    // A stream name of 255 characters where the file system takes it; where
    // streams are sibling entries (Wine) the entry's name, file name and
    // colon included, is what must fit in 255, so the longest stream there
    // beside a one-letter file has 253 characters.
    const std::wstring shortFile = tree / L"s";
    ASSERT_TRUE(WriteBytes(shortFile, "s"));
    std::wstring longStream(255, L'n');
    if (!WriteBytes(shortFile + L":" + longStream, "abc")) {
        longStream.resize(253);
        WriteStream(shortFile, longStream, "abc");
    }
    std::printf("[ names   ] longest stream name written: %u characters; stream on the 255-character file: %s\n",
                static_cast<unsigned>(longStream.size()), longFileHasStream ? "yes" : "no");

    // "<dir>\*.*" of exactly 259 characters is listed; one more is refused.
    const size_t room = 259 - 4 - tree.path().size() - 1;  // name length of the first
    ASSERT_LE(room + 1, 255u);
    const std::wstring atLimit = tree / (L"A" + std::wstring(room - 1, L'a'));
    const std::wstring pastLimit = tree / (L"B" + std::wstring(room, L'b'));
    ASSERT_EQ((atLimit + L"\\*.*").size(), 259u);
    ASSERT_EQ((pastLimit + L"\\*.*").size(), 260u);
    ASSERT_TRUE(::CreateDirectoryW(Long(atLimit).c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(Long(pastLimit).c_str(), nullptr));
    ASSERT_TRUE(WriteLong(Long(atLimit + L"\\in.txt"), "in"));
    ASSERT_TRUE(WriteLong(Long(atLimit + L"\\in.txt:at"), "at"));
    ASSERT_TRUE(WriteLong(Long(pastLimit + L"\\out.txt"), "out"));
    ASSERT_TRUE(WriteLong(Long(pastLimit + L"\\out.txt:past"), "past"));

    {
        Dlg d(MakeDialog);
        Outcome o = ScanFolder(d, tree.path());
        ExpectConsistent(o);
        // out.txt lies past the limit: neither counted nor listed.
        EXPECT_EQ(o.files, 3);
        std::vector<Row> expected = {{longStream, L"3", shortFile}, {L"at", L"2", atLimit + L"\\in.txt"}};
        if (longFileHasStream) expected.push_back({L"short", L"2", longFile});
        EXPECT_EQ(o.rows, Sorted(expected));
    }
    for (const std::wstring& gone : {atLimit + L"\\in.txt:at", atLimit + L"\\in.txt", pastLimit + L"\\out.txt:past",
                                     pastLimit + L"\\out.txt"})
        ::DeleteFileW(Long(gone).c_str());
    ::RemoveDirectoryW(Long(atLimit).c_str());
    ::RemoveDirectoryW(Long(pastLimit).c_str());
}

// ---------------------------------------------------------------------------
// 4. A directory link that points to its own parent: walked into again and
// again, each level one link name longer, until the pattern limit ends it.

TEST(ScanFaults, DirectoryLinkLoopEndsAtThePatternLimit) {
    TempDir tree;
    ASSERT_TRUE(WriteBytes(tree / L"a.txt", "a"));
    WriteStream(tree / L"a.txt", L"s", "ss");
    ASSERT_TRUE(WriteBytes(tree / L"sub\\b.txt", "b"));

    const std::wstring name(20, L'L');
    DirLink link(tree / name, L".");
    ASSERT_TRUE(link.made() || !link.viaUnix()) << link.Why();
    if (!link.made()) GTEST_SKIP() << "no directory link without the privilege: " << link.Why();

    // Which levels the walk reaches: tree, tree\L..., tree\L...\L..., ...
    int files = 0;
    std::vector<Row> rows;
    for (std::wstring dir = tree.path(); (dir + L"\\*.*").size() <= 259; dir += L"\\" + name) {
        ++files;
        rows.push_back({L"s", L"2", dir + L"\\a.txt"});
        if ((dir + L"\\sub\\*.*").size() <= 259) ++files;
    }
    ASSERT_GT(rows.size(), 3u);

    Dlg d(MakeDialog);
    std::vector<double> times;
    for (int run = 0; run < 3; ++run) {
        Outcome o = ScanFolder(d, tree.path(), 60000);
        ExpectConsistent(o);
        EXPECT_EQ(o.files, files);
        EXPECT_EQ(o.rows, Sorted(rows));
        times.push_back(o.seconds);
    }
    std::printf("[ loop    ] %u levels, %d files: %.3f / %.3f / %.3f s\n", static_cast<unsigned>(rows.size()), files,
                times[0], times[1], times[2]);
    EXPECT_LT(Median(times), 20.0);
}

// A one-letter link makes a loop deeper than the platform follows (Linux
// stops at 40 links in one path): the walk must end there too.
TEST(ScanFaults, DeepLinkLoopEndsToo) {
    TempDir tree;
    ASSERT_TRUE(WriteBytes(tree / L"a.txt", "a"));
    WriteStream(tree / L"a.txt", L"s", "ss");
    DirLink link(tree / L"L", L".");
    ASSERT_TRUE(link.made() || !link.viaUnix()) << link.Why();
    if (!link.made()) GTEST_SKIP() << "no directory link without the privilege: " << link.Why();

    Dlg d(MakeDialog);
    Outcome o = ScanFolder(d, tree.path(), 60000);
    ExpectConsistent(o);
    std::printf("[ loop    ] one-letter link: %d files, %.3f s\n", o.files, o.seconds);
    // a.txt is seen once per level reached, at least a few levels deep and
    // never past the pattern limit.
    const int maxLevels = static_cast<int>((259 - 4 - tree.path().size()) / 2) + 1;
    EXPECT_GT(o.files, 3);
    EXPECT_LE(o.files, maxLevels);
    EXPECT_EQ(o.streams, o.files);
    for (const Row& r : o.rows) {
        EXPECT_EQ(r.name, L"s");
        EXPECT_EQ(r.path.substr(r.path.size() - 6), L"\\a.txt");
    }
    EXPECT_LT(o.seconds, 20.0);
}

// ---------------------------------------------------------------------------
// 5. A directory that cannot be listed, and a file that cannot be opened.
// A name ending in a dot exists on disk but no ordinary path reaches it (the
// dot is dropped when a path is made whole), so listing "locked.\*.*" and
// opening "dot." fail as for any entry that refuses access.

TEST(ScanFaults, UnlistableDirectoryIsPassedOver) {
    TempDir tree;
    ASSERT_TRUE(WriteBytes(tree / L"a.txt", "a"));
    WriteStream(tree / L"a.txt", L"before", "1");
    const std::wstring locked = tree / L"locked.";
    ASSERT_TRUE(::CreateDirectoryW(Long(locked).c_str(), nullptr));
    ASSERT_TRUE(WriteLong(Long(locked + L"\\hidden.txt"), "h"));
    ASSERT_TRUE(WriteLong(Long(locked + L"\\hidden.txt:h"), "h"));
    const std::wstring dotFile = tree / L"dot.";
    ASSERT_TRUE(WriteLong(Long(dotFile), "d"));
    ASSERT_TRUE(WriteLong(Long(dotFile + L":d"), "d"));
    ASSERT_TRUE(WriteBytes(tree / L"z.txt", "z"));
    WriteStream(tree / L"z.txt", L"after", "22");
    ASSERT_TRUE(WriteBytes(tree / L"zsub\\c.txt", "c"));
    WriteStream(tree / L"zsub\\c.txt", L"deeper", "333");

    WIN32_FIND_DATAW fd;
    HANDLE find = ::FindFirstFileW((locked + L"\\*.*").c_str(), &fd);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "the directory can be listed after all";
    if (find != INVALID_HANDLE_VALUE) ::FindClose(find);

    {
        Dlg d(MakeDialog);
        Outcome o = ScanFolder(d, tree.path());
        ExpectConsistent(o);
        // dot. is counted without rows; nothing inside locked. is reached.
        EXPECT_EQ(o.status, L"扫描完成！共扫描4个文件。找到3个项目含有NTFS数据流！");
        EXPECT_EQ(o.rows, Sorted({{L"before", L"1", tree / L"a.txt"},
                                  {L"after", L"2", tree / L"z.txt"},
                                  {L"deeper", L"3", tree / L"zsub\\c.txt"}}));
    }
    for (const std::wstring& gone : {locked + L"\\hidden.txt:h", locked + L"\\hidden.txt", dotFile + L":d", dotFile})
        ::DeleteFileW(Long(gone).c_str());
    ::RemoveDirectoryW(Long(locked).c_str());
}

// ---------------------------------------------------------------------------
// 6. A sparse stream of 4 GiB + 5 bytes: listed with its whole size, the
// stream after it still found, and its data never read.

TEST(ScanFaults, HugeSparseStreamIsListedWithoutBeingRead) {
    TempDir small, big;
    for (const TempDir* t : {&small, &big}) {
        ASSERT_TRUE(WriteBytes(*t / L"a.txt", "main"));
        WriteStream(*t / L"a.txt", L"tail", "1234");
    }
    WriteStream(small / L"a.txt", L"big", "12345");
    {
        HANDLE h = ::CreateFileW((big / L"a.txt:big").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD unused = 0;
        ::DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &unused, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = (LONGLONG(1) << 32) + 5;
        EXPECT_TRUE(::SetFilePointerEx(h, end, nullptr, FILE_BEGIN));
        EXPECT_TRUE(::SetEndOfFile(h));
        LARGE_INTEGER size{};
        EXPECT_TRUE(::GetFileSizeEx(h, &size));
        ::CloseHandle(h);
        ASSERT_EQ(size.QuadPart, end.QuadPart);
    }

    Dlg d(MakeDialog);
    std::vector<double> smallTimes, bigTimes;
    for (int run = 0; run < 5; ++run) {
        Outcome s = ScanFolder(d, small.path());
        ExpectConsistent(s);
        EXPECT_EQ(s.rows, Sorted({{L"big", L"5", small / L"a.txt"}, {L"tail", L"4", small / L"a.txt"}}));
        smallTimes.push_back(s.seconds);

        Outcome b = ScanFolder(d, big.path());
        ExpectConsistent(b);
        EXPECT_EQ(b.status, L"扫描完成！共扫描1个文件。找到2个项目含有NTFS数据流！");
        EXPECT_EQ(b.rows, Sorted({{L"big", L"4294967301", big / L"a.txt"}, {L"tail", L"4", big / L"a.txt"}}));
        bigTimes.push_back(b.seconds);
    }
    const double s = Median(smallTimes), b = Median(bigTimes);
    std::printf("[ sparse  ] median of 5: 5-byte stream %.3f s, 4 GiB + 5 stream %.3f s (min %.3f / %.3f, max %.3f / %.3f)\n",
                s, b, *std::min_element(smallTimes.begin(), smallTimes.end()),
                *std::min_element(bigTimes.begin(), bigTimes.end()),
                *std::max_element(smallTimes.begin(), smallTimes.end()),
                *std::max_element(bigTimes.begin(), bigTimes.end()));
    // Reading 4 GiB, even of holes, takes seconds; skipping it takes nothing.
    EXPECT_LT(b - s, 2.0);
    EXPECT_LT(b, 5 * std::max(s, 0.1));
}
