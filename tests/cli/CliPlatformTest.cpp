// The console program against the platform's rules, through its seams: every
// file call with WOW64 redirection off on its own thread, the flags of every
// open, the stream path each platform kind gets, the listing that reads no
// data, the backup privilege; and, as a child process, paths resolved as the
// platform resolves them.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Access.h"
#include "Commands.h"
#include "DirLink.h"
#include "FsRedirection.h"
#include "ImportHook.h"
#include "NtfsStream.h"
#include "ProgramDriver.h"
#include "StreamInfoChain.h"
#include "WinTestSupport.h"

using namespace testing_support;
using vestrel::FsCall;
using vestrel::StreamPlatform;

namespace {

const std::wstring kExe = VESTREL_CLI_EXE;
constexpr int kKinds = 5;  // FsCall values

std::string Narrow(const std::wstring& w) {
    std::string out;
    for (wchar_t c : w) out += c < 0x80 ? char(c) : '?';
    return out;
}

int RunCli(const std::vector<std::wstring>& args) { return vestrel::cli::Run(args); }

// --- the redirection pair and the platform's file calls ---------------------

struct PairLog {
    std::atomic<int> disabled[kKinds] = {}, reverted[kKinds] = {};
    std::atomic<int> nested{0}, unpaired{0};
    std::mutex lock;
    std::map<std::string, int> guarded, unguarded;  // file calls by name
};
PairLog* g_pairs = nullptr;
thread_local int t_depth = 0;
thread_local PVOID t_token = nullptr;

BOOL FakeDisable(FsCall what, PVOID* old) {
    static std::atomic<intptr_t> next{0x1000};
    *old = reinterpret_cast<PVOID>(next += 0x10);
    if (t_depth != 0) ++g_pairs->nested;
    ++t_depth;
    t_token = *old;
    ++g_pairs->disabled[int(what)];
    return TRUE;
}

BOOL FakeRevert(FsCall what, PVOID old) {
    // Its disable must be the one on this thread, and the only one.
    if (t_depth != 1 || old != t_token) ++g_pairs->unpaired;
    --t_depth;
    ++g_pairs->reverted[int(what)];
    return TRUE;
}

void Saw(const char* function) {
    if (g_pairs == nullptr) return;
    std::lock_guard<std::mutex> hold(g_pairs->lock);
    ++(t_depth == 1 ? g_pairs->guarded : g_pairs->unguarded)[function];
}

decltype(&::CreateFileW) g_createFile;
decltype(&::FindFirstFileW) g_findFirst;
decltype(&::FindFirstFileExW) g_findFirstEx;
decltype(&::FindNextFileW) g_findNext;
decltype(&::GetFileAttributesW) g_attributes;
decltype(&::GetFileAttributesExW) g_attributesEx;
decltype(&::DeleteFileW) g_delete;
decltype(&::CreateDirectoryW) g_createDirectory;

HANDLE WINAPI HookCreateFile(LPCWSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE t) {
    Saw("CreateFileW");
    return g_createFile(p, a, s, sa, d, f, t);
}
HANDLE WINAPI HookFindFirst(LPCWSTR p, LPWIN32_FIND_DATAW d) {
    Saw("FindFirstFileW");
    return g_findFirst(p, d);
}
HANDLE WINAPI HookFindFirstEx(LPCWSTR p, FINDEX_INFO_LEVELS l, LPVOID d, FINDEX_SEARCH_OPS o, LPVOID f, DWORD x) {
    Saw("FindFirstFileExW");
    return g_findFirstEx(p, l, d, o, f, x);
}
BOOL WINAPI HookFindNext(HANDLE h, LPWIN32_FIND_DATAW d) {
    Saw("FindNextFileW");
    return g_findNext(h, d);
}
DWORD WINAPI HookAttributes(LPCWSTR p) {
    Saw("GetFileAttributesW");
    return g_attributes(p);
}
BOOL WINAPI HookAttributesEx(LPCWSTR p, GET_FILEEX_INFO_LEVELS l, LPVOID d) {
    Saw("GetFileAttributesExW");
    return g_attributesEx(p, l, d);
}
BOOL WINAPI HookDelete(LPCWSTR p) {
    Saw("DeleteFileW");
    return g_delete(p);
}
BOOL WINAPI HookCreateDirectory(LPCWSTR p, LPSECURITY_ATTRIBUTES s) {
    Saw("CreateDirectoryW");
    return g_createDirectory(p, s);
}

template <class F>
void Hook(const char* name, F* original, F hook, int* missing) {
    void* before = HookImport(name, reinterpret_cast<void*>(hook));
    if (before == nullptr) ++*missing;
    *original = reinterpret_cast<F>(before);
}

// The program's file calls seen for as long as it lives.
class FileCallHooks {
public:
    FileCallHooks() {
        Hook("CreateFileW", &g_createFile, &HookCreateFile, &missing);
        Hook("FindFirstFileW", &g_findFirst, &HookFindFirst, &missing);
        Hook("FindFirstFileExW", &g_findFirstEx, &HookFindFirstEx, &missing);
        Hook("FindNextFileW", &g_findNext, &HookFindNext, &missing);
        Hook("GetFileAttributesW", &g_attributes, &HookAttributes, &missing);
        Hook("GetFileAttributesExW", &g_attributesEx, &HookAttributesEx, &missing);
        Hook("DeleteFileW", &g_delete, &HookDelete, &missing);
        Hook("CreateDirectoryW", &g_createDirectory, &HookCreateDirectory, &missing);
    }
    ~FileCallHooks() {
        HookImport("CreateFileW", reinterpret_cast<void*>(g_createFile));
        HookImport("FindFirstFileW", reinterpret_cast<void*>(g_findFirst));
        HookImport("FindFirstFileExW", reinterpret_cast<void*>(g_findFirstEx));
        HookImport("FindNextFileW", reinterpret_cast<void*>(g_findNext));
        HookImport("GetFileAttributesW", reinterpret_cast<void*>(g_attributes));
        HookImport("GetFileAttributesExW", reinterpret_cast<void*>(g_attributesEx));
        HookImport("DeleteFileW", reinterpret_cast<void*>(g_delete));
        HookImport("CreateDirectoryW", reinterpret_cast<void*>(g_createDirectory));
    }
    int missing = 0;
};

// A tree with file streams, a directory stream and a subdirectory.
struct Tree {
    TempDir tmp;
    std::wstring root = tmp / L"t";
    Tree() {
        WriteBytes(root + L"\\a.txt", "main");
        WriteBytes(root + L"\\a.txt:one", "1");
        WriteBytes(root + L"\\sub\\deep\\b.bin", "b");
        WriteBytes(root + L"\\sub\\deep\\b.bin:two", "two");
        WriteBytes(root + L"\\sub:ds", "on a directory");
    }
};

}  // namespace

TEST(CliRedirection, EveryFileCallRunsWithRedirectionOffOnItsOwnThread) {
    Tree t;
    PairLog log;
    g_pairs = &log;
    const vestrel::FsRedirectionCalls before = vestrel::SetFsRedirectionCalls({FakeDisable, FakeRevert});
    struct Step {
        std::vector<std::wstring> args;
        FsCall kind;   // the kind the command's own opens use
        int atLeast;   // how many of them at the least
    };
    const std::wstring out = t.tmp / L"out";
    const Step steps[] = {
        {{L"list", L"-r", L"--quiet", L"--format", L"json", t.root}, FsCall::kOpen, 5},  // t, a.txt, sub, deep, b.bin
        {{L"cat", t.root + L"\\a.txt:one"}, FsCall::kView, 1},
        {{L"extract", L"-r", L"--quiet", t.root, L"--to", out}, FsCall::kWrite, 1 + 1 + 3},  // folder, index, copies
        {{L"delete", t.root + L"\\sub\\deep\\b.bin:two"}, FsCall::kDelete, 1},
    };
    {
        FileCallHooks hooks;
        ASSERT_EQ(hooks.missing, 0) << "a file call the program makes is not imported by name";
        for (const Step& s : steps) {
            const int kindBefore = log.disabled[int(s.kind)].load();
            const int listBefore = log.disabled[int(FsCall::kList)].load();
            EXPECT_EQ(RunCli(s.args), 0) << Narrow(s.args[0]);
            EXPECT_GE(log.disabled[int(s.kind)].load() - kindBefore, s.atLeast) << Narrow(s.args[0]);
            if (s.args[0] != L"delete" && s.args[0] != L"cat") {
                EXPECT_GT(log.disabled[int(FsCall::kList)].load(), listBefore) << Narrow(s.args[0]) << " walks";
            }
        }
        g_pairs = nullptr;
    }
    vestrel::SetFsRedirectionCalls(before);

    // What the commands did, done.
    EXPECT_FALSE(Exists(t.root + L"\\sub\\deep\\b.bin:two"));
    EXPECT_TRUE(Exists(out + L"\\index.csv"));
    for (int k = 0; k < kKinds; ++k) EXPECT_EQ(log.disabled[k].load(), log.reverted[k].load()) << "kind " << k;
    EXPECT_EQ(log.nested.load(), 0);
    EXPECT_EQ(log.unpaired.load(), 0);
    for (const auto& call : log.unguarded) ADD_FAILURE() << call.first << " ran " << call.second << " times with redirection on";
    for (const char* seen : {"CreateFileW", "FindFirstFileExW", "FindNextFileW", "GetFileAttributesExW", "CreateDirectoryW"})
        EXPECT_GT(log.guarded[seen], 0) << seen << " was never seen: the hooks would prove nothing";
}

// --- the flags of every open ------------------------------------------------

namespace {

struct Open {
    FsCall what;
    std::wstring path;
    DWORD access, share, flags;
};
std::mutex g_openLock;
std::vector<Open>* g_opens = nullptr;

void RecordOpen(FsCall what, LPCWSTR path, DWORD access, DWORD share, DWORD flags) {
    std::lock_guard<std::mutex> hold(g_openLock);
    if (g_opens != nullptr) g_opens->push_back({what, path, access, share, flags});
}

class OpenLog {
public:
    OpenLog() {
        g_opens = &opens;
        before_ = vestrel::SetFsOpenObserver(RecordOpen);
    }
    ~OpenLog() {
        vestrel::SetFsOpenObserver(before_);
        g_opens = nullptr;
    }
    std::vector<Open> opens;

private:
    vestrel::FsOpenObserver before_;
};

const std::wstring kExt = L"\\\\?\\";
constexpr DWORD kAllSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

TEST(CliOpens, StreamsOfALinkAreTheLinksAndListingSharesEverything) {
    Tree t;
    const std::wstring link = t.root + L"\\L";
    DirLink made(link, L"sub");
    ASSERT_TRUE(made.made() || !made.viaUnix()) << made.Why();
    if (made.made()) {
        ASSERT_TRUE(WriteBytes(link + L":own", "the link's own"));
    }
    std::printf("[ info    ] directory link: %s\n", made.made() ? "made" : "not made here");

    OpenLog log;
    for (bool follow : {false, true}) {
        std::vector<std::wstring> args = {L"list", L"-r", L"--quiet", L"--format", L"json", t.root};
        if (follow) args.insert(args.begin() + 1, L"--follow-links");
        EXPECT_EQ(RunCli(args), 0);
    }
    EXPECT_EQ(RunCli({L"cat", t.root + L"\\a.txt:one"}), 0);
    EXPECT_EQ(RunCli({L"extract", L"--quiet", t.root + L"\\a.txt", L"--to", t.tmp / L"out"}), 0);
    EXPECT_EQ(RunCli({L"delete", t.root + L"\\a.txt:one"}), 0);
    if (made.made()) {
        EXPECT_EQ(RunCli({L"cat", link + L":own"}), 0);
        EXPECT_EQ(RunCli({L"delete", link + L":own"}), 0);
        EXPECT_TRUE(Exists(t.root + L"\\sub:ds")) << "the target's stream is not touched";
    }

    int listing = 0, streamOpens = 0, linkOpens = 0;
    for (const Open& o : log.opens) {
        if (o.what == FsCall::kList || o.what == FsCall::kWrite) continue;  // identity, extracted copies
        EXPECT_NE(o.flags & FILE_FLAG_OPEN_REPARSE_POINT, 0u) << Narrow(o.path);
        EXPECT_NE(o.flags & FILE_FLAG_BACKUP_SEMANTICS, 0u) << Narrow(o.path);
        EXPECT_EQ(o.share, kAllSharing) << Narrow(o.path);
        if (o.path == kExt + link || o.path.compare(0, kExt.size() + link.size() + 1, kExt + link + L":") == 0)
            ++linkOpens;
        if (o.what == FsCall::kOpen && o.access == FILE_READ_ATTRIBUTES && o.path.find(L':', 6) == std::wstring::npos)
            ++listing;
        else
            ++streamOpens;
    }
    EXPECT_GE(listing, 2 * 5) << "each entry opened for its listing, in both walks";
    EXPECT_GE(streamOpens, 3) << "cat, extract and delete of a stream";
    if (made.made()) {
        EXPECT_GE(linkOpens, 2 + 2) << "the link listed in both walks, its stream read and deleted";
    }
}

// --- the stream path each platform kind gets ----------------------------------

TEST(CliStreamPaths, DeleteAddressesTheStreamNamedDataAsEachPlatformKindWants) {
    TempDir tmp;
    const std::wstring file = tmp / L"f.txt";
    ASSERT_TRUE(WriteBytes(file, "main data"));
    struct Case {
        StreamPlatform platform;
        const wchar_t* expectedOpen;  // after "\\?\" + file
        int exitCode;
        bool gone;
    } cases[] = {
        // Under Wine the real-stream forms name nothing: the delete fails,
        // and neither the sibling nor the file is touched.
        {StreamPlatform::kRealStreams, L":$DATA:$DATA", 1, false},
        {StreamPlatform::kUnknown, L":$DATA:$DATA", 1, false},
        {StreamPlatform::kSiblingFiles, L":$DATA", 0, true},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteBytes(file + L":$DATA", "stream named $DATA"));
        const StreamPlatform before = vestrel::SetStreamPlatform(c.platform);
        OpenLog log;
        const int rc = RunCli({L"delete", file + L":$DATA:$DATA"});
        vestrel::ResetStreamPlatform();
        EXPECT_EQ(before, StreamPlatform::kSiblingFiles) << "this platform keeps streams as sibling files";
        EXPECT_EQ(rc, c.exitCode) << int(c.platform);
        ASSERT_EQ(log.opens.size(), 1u);
        EXPECT_EQ(log.opens[0].what, FsCall::kDelete);
        EXPECT_EQ(log.opens[0].path, kExt + file + c.expectedOpen);
        EXPECT_EQ(!Exists(file + L":$DATA"), c.gone) << int(c.platform);
        EXPECT_EQ(ReadBytes(file), "main data");
    }
    // Refused before anything is opened: a second type, or the unnamed stream.
    for (const std::wstring& refused : {file + L":x:$DATA:$DATA", file + L":$DATA", file + L"::$DATA"}) {
        OpenLog log;
        EXPECT_EQ(RunCli({L"delete", refused}), 2) << Narrow(refused);
        EXPECT_TRUE(log.opens.empty());
    }
    EXPECT_EQ(ReadBytes(file), "main data");
}

// A name's trailing dot is part of it: "x." is not "x".
TEST(CliStreamPaths, TrailingDotsAndSpacesOfAStreamNameAreKept) {
    TempDir tmp;
    const std::wstring file = tmp / L"f.txt";
    ASSERT_TRUE(WriteBytes(file, "main"));
    ASSERT_TRUE(WriteBytes(kExt + file + L":x", "plain"));
    ASSERT_TRUE(WriteBytes(kExt + file + L":x.", "dotted"));
    ASSERT_TRUE(WriteBytes(kExt + file + L":x ", "spaced"));
    EXPECT_EQ(RunConsole(kExe, {L"cat", file + L":x"}).out, "plain");
    EXPECT_EQ(RunConsole(kExe, {L"cat", file + L":x."}).out, "dotted");
    EXPECT_EQ(RunConsole(kExe, {L"cat", file + L":x "}).out, "spaced");
    ConsoleRun del = RunConsole(kExe, {L"delete", file + L":x."});
    EXPECT_EQ(del.exitCode, 0u) << del.err;
    EXPECT_FALSE(Exists(kExt + file + L":x."));
    EXPECT_EQ(ReadBytes(kExt + file + L":x"), "plain");
    EXPECT_EQ(ReadBytes(kExt + file + L":x "), "spaced");
    EXPECT_EQ(ReadBytes(file), "main");
}

// --- listing without reading data -------------------------------------------

namespace {

struct StreamInfoFake {
    std::vector<uint8_t> chain;
    DWORD error = 0;  // non-zero: every call fails with it
    std::vector<DWORD> sizes;
};
StreamInfoFake* g_info = nullptr;
DWORD g_attributesValue = 0;

BOOL FakeStreamInfo(HANDLE, void* buffer, DWORD size) {
    g_info->sizes.push_back(size);
    if (g_info->error != 0) {
        SetLastError(g_info->error);
        return FALSE;
    }
    if (size < g_info->chain.size()) {
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    std::memcpy(buffer, g_info->chain.data(), g_info->chain.size());
    return TRUE;
}

BOOL FakeAttributes(HANDLE, DWORD* attributes) {
    *attributes = g_attributesValue;
    return TRUE;
}

using Listed = std::vector<std::pair<std::wstring, uint64_t>>;

Listed ListWithoutData(const std::wstring& path) {
    Listed out;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, kAllSharing, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    vestrel::ListStreamsWithoutData(h, path, [&](const vestrel::NamedStream& s) {
        out.emplace_back(s.name, s.size);
        return true;
    });
    CloseHandle(h);
    return out;
}

// n entries of 64 bytes each: ":s000000000000:$DATA" is 20 units, 24 + 40 = 64.
std::vector<StreamInfoEntry> Entries(size_t n) {
    std::vector<StreamInfoEntry> out;
    for (size_t i = 0; i < n; ++i) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%012zu", i);
        out.push_back({u":s" + std::u16string(digits, digits + 12) + u":$DATA", i});
    }
    return out;
}

// The file system's stream list answered by `fake`, with the platform kind
// forced, for one test; undone when it ends.
struct FakeStreamList {
    StreamInfoFake fake;
    vestrel::FileQueryCalls before;
    explicit FakeStreamList(StreamPlatform platform) {
        g_info = &fake;
        before = vestrel::SetFileQueryCalls({nullptr, FakeStreamInfo});
        vestrel::SetStreamPlatform(platform);
    }
    ~FakeStreamList() {
        vestrel::ResetStreamPlatform();
        vestrel::SetFileQueryCalls(before);
        g_info = nullptr;
    }
};

// A file with main data and the streams "one" (1 byte) and "two" (3 bytes).
struct OneTwoFile {
    TempDir tmp;
    std::wstring file = tmp / L"f.txt";
    bool made = WriteBytes(file, "main") && WriteBytes(file + L":one", "1") && WriteBytes(file + L":two", "abc");
};

}  // namespace

TEST(CliNoDataListing, TheFileSystemsListWhereItAnswersTheBackupWalkWhereNot) {
    const OneTwoFile f;
    ASSERT_TRUE(f.made);
    const std::wstring& file = f.file;
    const Listed siblings = {{L"one", 1}, {L"two", 3}};
    FakeStreamList list(StreamPlatform::kRealStreams);
    StreamInfoFake& fake = list.fake;

    // Answered: exactly what the file system lists, the buffer grown as asked
    // (16 KiB first; a list of exactly that size fits, one entry more does not).
    for (size_t n : {size_t(1), size_t(256), size_t(257), size_t(600)}) {
        fake = {};
        fake.chain = StreamInfoChain(Entries(n));
        ASSERT_EQ(fake.chain.size(), n * 64);
        const Listed got = ListWithoutData(file);
        ASSERT_EQ(got.size(), n);
        EXPECT_EQ(got.back().second, n - 1);
        std::vector<DWORD> sizes = {16384};
        if (n > 256) sizes.push_back(32768);
        if (n > 512) sizes.push_back(65536);
        EXPECT_EQ(fake.sizes, sizes) << n;
    }
    // The named streams only, with their full sizes and the name "$DATA" kept.
    fake = {};
    fake.chain = StreamInfoChain({{u"::$DATA", 4}, {u":$DATA:$DATA", 5}, {u":big:$DATA", 0x100000005ull}});
    EXPECT_EQ(ListWithoutData(file), (Listed{{L"$DATA", 5}, {L"big", 4294967301ull}}));
    // No stream at all.
    fake = {};
    fake.error = ERROR_HANDLE_EOF;
    EXPECT_EQ(ListWithoutData(file), Listed{});
    // Not answered (another file system) or a damaged answer: the backup walk,
    // here the sibling files.
    for (DWORD error : {DWORD(ERROR_INVALID_PARAMETER), DWORD(ERROR_INVALID_FUNCTION), DWORD(ERROR_NOT_SUPPORTED)}) {
        fake = {};
        fake.error = error;
        EXPECT_EQ(ListWithoutData(file), siblings) << error;
    }
    fake = {};
    fake.chain = StreamInfoChain({{u":s:$DATA", 1, 8}});
    EXPECT_EQ(ListWithoutData(file), siblings) << "a next offset inside the entry";

    // Where streams are sibling files the file system is not asked.
    vestrel::SetStreamPlatform(StreamPlatform::kSiblingFiles);
    fake = {};
    EXPECT_EQ(ListWithoutData(file), siblings);
    EXPECT_TRUE(fake.sizes.empty());
}

// A listing opens each entry for its attributes only, which no sharing mode
// refuses; only where the file system has no stream list does it open the
// entry again for reading, as the backup walk needs.
TEST(CliNoDataListing, TheEntryIsOpenedForReadingOnlyWhereTheBackupWalkNeedsIt) {
    const OneTwoFile f;
    ASSERT_TRUE(f.made);
    FakeStreamList list(StreamPlatform::kRealStreams);
    const struct {
        StreamPlatform platform;
        DWORD error;  // of the file system's list; 0: it answers
        std::vector<DWORD> entryOpens;
    } cases[] = {
        {StreamPlatform::kRealStreams, 0, {FILE_READ_ATTRIBUTES}},
        {StreamPlatform::kRealStreams, ERROR_HANDLE_EOF, {FILE_READ_ATTRIBUTES}},
        {StreamPlatform::kRealStreams, ERROR_INVALID_PARAMETER, {FILE_READ_ATTRIBUTES, GENERIC_READ}},
        {StreamPlatform::kRealStreams, ERROR_NOT_SUPPORTED, {FILE_READ_ATTRIBUTES, GENERIC_READ}},
        {StreamPlatform::kSiblingFiles, ERROR_INVALID_PARAMETER, {FILE_READ_ATTRIBUTES}},
    };
    for (const auto& c : cases) {
        list.fake = {};
        list.fake.error = c.error;
        list.fake.chain = StreamInfoChain({{u"::$DATA", 4}, {u":one:$DATA", 1}, {u":two:$DATA", 3}});
        vestrel::SetStreamPlatform(c.platform);
        OpenLog log;
        RunCli({L"list", L"--quiet", L"--format", L"csv", f.file});
        std::vector<DWORD> entryOpens;
        for (const Open& o : log.opens) {
            if (o.what == FsCall::kOpen && o.path.find(L':', 6) == std::wstring::npos) entryOpens.push_back(o.access);
        }
        EXPECT_EQ(entryOpens, c.entryOpens) << int(c.platform) << " " << c.error;
    }
}

// A file another program holds open without sharing is still listed: the
// listing's open asks no access that sharing governs.
TEST(CliNoDataListing, AFileHeldWithoutSharingIsListed) {
    const OneTwoFile f;
    ASSERT_TRUE(f.made);
    HANDLE held = CreateFileW(f.file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    // Sharing is in force: an open for reading is refused.
    HANDLE reader = CreateFileW(f.file.c_str(), GENERIC_READ, kAllSharing, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(reader, INVALID_HANDLE_VALUE);
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    EXPECT_EQ(RunCli({L"list", L"--quiet", L"--fail-if-found", L"--format", L"csv", f.file}), 3)
        << "its two streams listed (status 3: found), not refused (1)";
    CloseHandle(held);
}

// The dialog lists a placeholder's or an offline file's streams without
// reading: the same records, no data preview, no stream opened for it.
TEST(CliNoDataListing, TheDialogsEnumerationOfAFileWhoseDataIsElsewhere) {
    const OneTwoFile f;
    ASSERT_TRUE(f.made);
    const std::wstring& file = f.file;
    const vestrel::FileQueryCalls before = vestrel::SetFileQueryCalls({FakeAttributes, nullptr});
    const struct {
        DWORD attributes;
        bool remote;
    } cases[] = {
        {0, false},
        {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, false},
        {FILE_ATTRIBUTE_SPARSE_FILE | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_COMPRESSED, false},
        {FILE_ATTRIBUTE_ENCRYPTED | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, false},
        {0x00020000 /* NO_SCRUB_DATA */, false},
        {0x00080000 /* PINNED */, false},
        {0x00100000 /* UNPINNED */, false},
        {0x00200000, false},
        {0x00800000, false},
        {FILE_ATTRIBUTE_OFFLINE, true},
        {0x00040000 /* RECALL_ON_OPEN */, true},
        {0x00400000 /* RECALL_ON_DATA_ACCESS */, true},
        {0x00400000 | 0x00100000, true},
    };
    for (const auto& c : cases) {
        g_attributesValue = c.attributes;
        OpenLog log;
        NtfsStreamList list;
        EXPECT_EQ(CNtfsStream::EnumStreams(file, &list), 2);
        std::vector<std::wstring> names;
        std::vector<uint32_t> sizes;
        bool anyData = false;
        for (NtfsStreamInfo* r : list) {
            names.push_back(r->strName);
            sizes.push_back(r->dwSize);
            for (uint8_t b : r->byData) anyData = anyData || b != 0;
        }
        CNtfsStream::FreeStreamList(&list);
        EXPECT_EQ(names, (std::vector<std::wstring>{L"one", L"two"})) << std::hex << c.attributes;
        EXPECT_EQ(sizes, (std::vector<uint32_t>{1, 3})) << std::hex << c.attributes;
        EXPECT_EQ(anyData, !c.remote) << std::hex << c.attributes;
        EXPECT_EQ(log.opens.size(), c.remote ? 1u : 3u) << std::hex << c.attributes
                                                      << ": only the file itself is opened when its data is elsewhere";
    }
    vestrel::SetFileQueryCalls(before);
}

// vestrel-cli lists such a file's streams without opening any of them: the
// kind and digests that would need their bytes are not read, and the names
// only content could have shown stay hidden (status 3: something listed).
TEST(CliNoDataListing, AListingOpensNoStreamOfAFileWhoseDataIsElsewhere) {
    TempDir tmp;
    const std::wstring file = tmp / L"f.txt";
    ASSERT_TRUE(WriteBytes(file, "main"));
    ASSERT_TRUE(WriteBytes(file + L":one", "plain words"));
    ASSERT_TRUE(WriteBytes(file + L":Zone.Identifier", "MZ" + std::string(98, '\0')));
    const vestrel::FileQueryCalls before = vestrel::SetFileQueryCalls({FakeAttributes, nullptr});
    const struct {
        std::vector<std::wstring> options;
        int here, remote;  // statuses: data on the disk, data elsewhere
    } cases[] = {
        {{}, 3, 3},
        {{L"--name", L"zone.identifier"}, 3, 0},  // an executable behind the usual name
        {{L"--name", L"zone.identifier", L"--all"}, 3, 3},
        {{L"--kind", L"text"}, 3, 0},
        {{L"--hash", L"sha256", L"--min-size", L"11", L"--max-size", L"11"}, 3, 3},
    };
    for (DWORD attributes : {DWORD(0), DWORD(FILE_ATTRIBUTE_OFFLINE), DWORD(0x00040000), DWORD(0x00400000)}) {
        g_attributesValue = attributes;
        const bool remote = attributes != 0;
        for (const auto& c : cases) {
            std::vector<std::wstring> args = {L"list", L"--quiet", L"--fail-if-found", L"--format", L"csv"};
            args.insert(args.end(), c.options.begin(), c.options.end());
            args.push_back(file);
            OpenLog log;
            EXPECT_EQ(RunCli(args), remote ? c.remote : c.here) << std::hex << attributes << " " << Narrow(args[5]);
            int streamOpens = 0;
            for (const Open& o : log.opens) streamOpens += o.path.find(L':', 6) != std::wstring::npos;
            if (remote)
                EXPECT_EQ(streamOpens, 0) << std::hex << attributes;
            else
                EXPECT_GE(streamOpens, 1) << "content read where the data is here";
        }
    }
    vestrel::SetFileQueryCalls(before);
}

// --- the backup privilege -----------------------------------------------------

namespace {

struct TokenFake {
    bool open = true, lookup = true, adjust = true;
    DWORD error = ERROR_SUCCESS;
    int adjusted = 0, closed = 0;
    TOKEN_PRIVILEGES asked{};
    LUID luid{0x11, 0x22};
};
TokenFake* g_token = nullptr;

vestrel::cli::TokenCalls FakeToken() {
    vestrel::cli::TokenCalls calls;
    calls.openProcessToken = [](DWORD access, HANDLE* token) -> BOOL {
        EXPECT_EQ(access & TOKEN_ADJUST_PRIVILEGES, DWORD(TOKEN_ADJUST_PRIVILEGES));
        *token = reinterpret_cast<HANDLE>(intptr_t(0x5150));
        return g_token->open;
    };
    calls.lookupBackupPrivilege = [](LUID* luid) -> BOOL {
        *luid = g_token->luid;
        return g_token->lookup;
    };
    calls.adjust = [](HANDLE token, TOKEN_PRIVILEGES* privileges) -> BOOL {
        EXPECT_EQ(token, reinterpret_cast<HANDLE>(intptr_t(0x5150)));
        ++g_token->adjusted;
        g_token->asked = *privileges;
        return g_token->adjust;
    };
    calls.lastError = []() -> DWORD { return g_token->error; };
    calls.close = [](HANDLE token) {
        EXPECT_EQ(token, reinterpret_cast<HANDLE>(intptr_t(0x5150)));
        ++g_token->closed;
    };
    return calls;
}

}  // namespace

TEST(CliPrivilege, BackupPrivilegeEnabledWhereHeldAndNothingElse) {
    using vestrel::cli::PrivilegeResult;
    const struct {
        bool open, lookup, adjust;
        DWORD error;
        PrivilegeResult result;
        int adjusted, closed;
    } cases[] = {
        {true, true, true, ERROR_SUCCESS, PrivilegeResult::kEnabled, 1, 1},
        {true, true, true, ERROR_NOT_ALL_ASSIGNED, PrivilegeResult::kNotHeld, 1, 1},
        {true, true, false, ERROR_ACCESS_DENIED, PrivilegeResult::kFailed, 1, 1},
        {true, false, true, ERROR_NO_SUCH_PRIVILEGE, PrivilegeResult::kFailed, 0, 1},
        {false, true, true, ERROR_ACCESS_DENIED, PrivilegeResult::kFailed, 0, 0},
    };
    for (const auto& c : cases) {
        TokenFake fake;
        fake.open = c.open;
        fake.lookup = c.lookup;
        fake.adjust = c.adjust;
        fake.error = c.error;
        g_token = &fake;
        EXPECT_EQ(vestrel::cli::EnableBackupPrivilege(FakeToken()), c.result) << c.error;
        EXPECT_EQ(fake.adjusted, c.adjusted);
        EXPECT_EQ(fake.closed, c.closed) << "the token is closed exactly when it was opened";
        if (c.adjusted != 0) {
            EXPECT_EQ(fake.asked.PrivilegeCount, 1u);
            EXPECT_EQ(fake.asked.Privileges[0].Attributes, DWORD(SE_PRIVILEGE_ENABLED));
            EXPECT_EQ(fake.asked.Privileges[0].Luid.LowPart, fake.luid.LowPart);
            EXPECT_EQ(fake.asked.Privileges[0].Luid.HighPart, fake.luid.HighPart);
        }
        g_token = nullptr;
    }
    // And the platform's own: whatever this token holds, the call comes back.
    const PrivilegeResult real = vestrel::cli::EnableBackupPrivilege();
    std::printf("[ info    ] backup privilege here: %s\n",
                real == PrivilegeResult::kEnabled ? "enabled" : real == PrivilegeResult::kNotHeld ? "not held" : "failed");
    EXPECT_NE(real, PrivilegeResult::kFailed);
}

// --- paths as the platform resolves them (child process) --------------------

namespace {

// "path:stream" of each csv row ("path,stream,size,directory"), one a line.
std::string JoinedPaths(const std::string& csv) {
    std::string out;
    size_t start = csv.find('\n');  // past the header
    while (start != std::string::npos && start + 1 < csv.size()) {
        const size_t end = csv.find('\n', start + 1);
        std::string line = csv.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t first = line.find(',');
        const size_t second = line.find(',', first + 1);
        out += line.substr(0, first) + ":" + line.substr(first + 1, second - first - 1) + "\n";
        start = end;
    }
    return out;
}

}  // namespace

TEST(CliResolvedPaths, EachDrivesCurrentDirectoryComesFromItsVariable) {
    // A folder on drive Z (the Unix root under Wine) and a current directory on C.
    wchar_t name[64];
    std::swprintf(name, 64, L"Z:\\tmp\\vestrel-drive-%lu-%lu", GetCurrentProcessId(), GetTickCount());
    const std::wstring folder = name;
    ASSERT_TRUE(WriteBytes(folder + L"\\sub\\a.txt", "a"));
    ASSERT_TRUE(WriteBytes(folder + L"\\sub\\a.txt:s", "stream"));
    TempDir cwd;
    ASSERT_EQ(towupper(cwd.path()[0]), L'C') << "the test needs its temporary folder on another drive";

    ASSERT_TRUE(SetEnvironmentVariableW(L"=Z:", folder.c_str()));
    ConsoleRun relative = RunConsole(kExe, {L"list", L"--format", L"csv", L"Z:sub"}, cwd.path());
    ASSERT_TRUE(SetEnvironmentVariableW(L"=Z:", nullptr));
    EXPECT_EQ(relative.exitCode, 0u) << relative.err;
    EXPECT_EQ(JoinedPaths(relative.out), Narrow(folder) + "\\sub\\a.txt:s\n") << relative.out;

    // Without it, "Z:sub" is below Z:'s root, where there is none.
    ConsoleRun rootRelative = RunConsole(kExe, {L"list", L"--format", L"csv", L"Z:sub"}, cwd.path());
    EXPECT_EQ(rootRelative.exitCode, 4u) << rootRelative.out;
    EXPECT_NE(rootRelative.err.find("Z:\\sub: "), std::string::npos) << rootRelative.err;

    DeleteFileW((folder + L"\\sub\\a.txt:s").c_str());
    DeleteFileW((folder + L"\\sub\\a.txt").c_str());
    RemoveDirectoryW((folder + L"\\sub").c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST(CliResolvedPaths, DotsSpacesAndParentsAsEveryProgramTakesThemButNotInTheLiteralForm) {
    TempDir tmp;
    ASSERT_TRUE(WriteBytes(tmp / L"a.txt", "a"));
    ASSERT_TRUE(WriteBytes(tmp / L"a.txt:s", "s"));
    ASSERT_TRUE(WriteBytes(tmp / L"sub\\x", "x"));
    const std::string expected = Narrow(tmp / L"a.txt") + ":s\n";
    for (const std::wstring& typed : {tmp / L"a.txt", tmp / L"a.txt.", tmp / L"a.txt. . ", tmp / L"a.txt ",
                                      tmp / L"sub\\..\\a.txt", tmp / L"sub\\..\\.\\a.txt..", tmp.path() + L"/sub/../a.txt"}) {
        ConsoleRun r = RunConsole(kExe, {L"list", L"--format", L"csv", typed});
        EXPECT_EQ(r.exitCode, 0u) << Narrow(typed) << r.err;
        EXPECT_EQ(JoinedPaths(r.out), expected) << Narrow(typed);
    }
    // Typed in the "\\?\" form the name is exactly what was typed.
    for (const std::wstring& literal : {kExt + tmp / L"a.txt.", kExt + tmp / L"sub\\..\\a.txt"}) {
        ConsoleRun r = RunConsole(kExe, {L"list", L"--format", L"csv", literal});
        EXPECT_EQ(r.exitCode, 4u) << Narrow(literal) << r.out;
        EXPECT_EQ(JoinedPaths(r.out), "") << Narrow(literal);
    }
    ConsoleRun exact = RunConsole(kExe, {L"list", L"--format", L"csv", kExt + tmp / L"a.txt"});
    EXPECT_EQ(JoinedPaths(exact.out), expected);
}

TEST(CliResolvedPaths, DeviceNamesAreRefusedClearly) {
    TempDir tmp;
    const struct {
        std::vector<std::wstring> args;
        DWORD exitCode;
        bool device;
    } cases[] = {
        {{L"list", L"NUL"}, 4, true},
        {{L"list", L"con"}, 4, true},
        {{L"list", tmp / L"COM1.txt"}, 4, true},
        {{L"list", tmp / L"NUL "}, 4, true},
        {{L"list", tmp / L"COM0"}, 4, true},
        {{L"list", tmp / L"LPT\u00B9"}, 4, true},
        {{L"list", tmp / L"com\u00B3.log"}, 4, true},
        {{L"list", L"\\\\.\\C:"}, 4, true},
        {{L"cat", L"CON:s"}, 2, true},
        {{L"delete", tmp / L"nul.txt:s"}, 2, true},
        {{L"extract", tmp.path(), L"--to", L"PRN"}, 2, true},
        // Neighbours: ordinary names, only missing.
        {{L"list", tmp / L"COM10"}, 4, false},
        {{L"list", tmp / L"COM\u2074"}, 4, false},
        {{L"list", tmp / L"NULL"}, 4, false},
        {{L"list", tmp / L"NUL\\x"}, 4, false},
        {{L"cat", tmp / L"CONIN:s"}, 4, false},
    };
    for (const auto& c : cases) {
        ConsoleRun r = RunConsole(kExe, c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << Narrow(c.args.back()) << r.err;
        EXPECT_EQ(r.err.find("names a device, not a file") != std::string::npos, c.device)
            << Narrow(c.args.back()) << ": " << r.err;
        // One line; a usage error adds where the command's help is.
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.exitCode == 2 ? 2 : 1) << r.err;
        if (c.exitCode == 2) {
            EXPECT_NE(r.err.find("\nTry 'vestrel-cli " + Narrow(c.args[0]) + " --help' for more information."),
                      std::string::npos) << r.err;
        }
    }
}
