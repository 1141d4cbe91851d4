// The walk's link rules on real directories, with the link test and the
// directory identity replaced, and whether the platform here can make a
// junction at all (then the real program is run through one).
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "DirLink.h"
#include "ProgramDriver.h"
#include "Walk.h"
#include "WinTestSupport.h"

using namespace testing_support;
using vestrel::cli::DirectoryId;
using vestrel::cli::WalkHooks;
using vestrel::cli::WalkOptions;

namespace {

struct Recorder : vestrel::cli::WalkVisitor {
    std::wstring base;
    std::vector<std::wstring> entries, notes, unreadable;
    std::wstring Rel(const std::wstring& p) const {
        return p.compare(0, base.size(), base) == 0 ? p.substr(std::min(p.size(), base.size() + 1)) : p;
    }
    void Entry(const std::wstring&, const std::wstring& path, bool, bool) override { entries.push_back(Rel(path)); }
    void Unreadable(const std::wstring& path, DWORD) override { unreadable.push_back(Rel(path)); }
    void Note(const std::wstring& path, const std::wstring&) override { notes.push_back(Rel(path)); }
};

// root\a\f.txt, root\loop (back to root), root\l1 and root\l2 (both to a).
// The "links" are plain directories with a file inside; the hooks make them
// links and give them the identity of their target.
struct LinkedTree {
    TempDir tmp;
    std::wstring root = L"\\\\?\\" + tmp.path();
    std::map<std::wstring, uint64_t> ids;
    LinkedTree() {
        for (const wchar_t* d : {L"a", L"loop", L"l1", L"l2"}) WriteBytes(root + L"\\" + d + L"\\f.txt", "x");
    }
    WalkHooks Hooks() {
        WalkHooks h;
        h.isLink = [](const WIN32_FIND_DATAW& fd) {
            const std::wstring n = fd.cFileName;
            return n == L"loop" || n == L"l1" || n == L"l2";
        };
        h.identify = [this](const std::wstring& path, const DirectoryId*, DirectoryId* id) -> DWORD {
            std::wstring rel = path.substr(std::min(path.size(), root.size()));
            if (rel == L"\\loop") rel = L"";
            if (rel == L"\\l1" || rel == L"\\l2") rel = L"\\a";
            auto it = ids.emplace(rel, ids.size() + 1).first;
            id->volume = 7;
            id->file = it->second;
            return 0;
        };
        return h;
    }
    Recorder Run(bool recursive, bool follow) {
        Recorder r;
        r.base = root;
        WalkOptions o;
        o.recursive = recursive;
        o.followLinks = follow;
        vestrel::cli::Walk(root, o, r, Hooks());
        std::sort(r.entries.begin(), r.entries.end());
        std::sort(r.notes.begin(), r.notes.end());
        return r;
    }
};

using Names = std::vector<std::wstring>;

}  // namespace

TEST(CliWalk, LinksAreListedButNotEnteredByDefault) {
    LinkedTree t;
    Recorder r = t.Run(true, false);
    EXPECT_EQ(r.entries, (Names{L"", L"a", L"a\\f.txt", L"l1", L"l2", L"loop"}));
    EXPECT_EQ(r.notes, (Names{L"l1", L"l2", L"loop"}));
    EXPECT_TRUE(r.unreadable.empty());

    Recorder flat = t.Run(false, false);
    EXPECT_EQ(flat.entries, (Names{L"", L"a", L"l1", L"l2", L"loop"}));
    EXPECT_TRUE(flat.notes.empty()) << "nothing to enter without recursion";
}

TEST(CliWalk, FollowedLinksNeverEnterADirectoryTwice) {
    LinkedTree t;
    Recorder r = t.Run(true, true);
    // a is entered once (directly, before or after one of its two links);
    // the loop back to the root is not entered at all.
    const size_t inside = std::count_if(r.entries.begin(), r.entries.end(), [](const std::wstring& e) {
        return e.size() > 6 && e.compare(e.size() - 6, 6, L"\\f.txt") == 0;
    });
    EXPECT_EQ(inside, 1u);
    // Which of a, l1 and l2 comes first depends on the listing order; the
    // other two are not entered, nor is the loop.
    EXPECT_EQ(r.notes.size(), 3u);
    EXPECT_EQ(std::count(r.notes.begin(), r.notes.end(), L"loop"), 1);
    EXPECT_TRUE(r.unreadable.empty());
}

TEST(CliWalk, UnidentifiableOrMissingDirectoriesAreReportedAndTheWalkGoesOn) {
    LinkedTree t;
    WalkHooks h = t.Hooks();
    h.identify = [&](const std::wstring& path, const DirectoryId*, DirectoryId* id) -> DWORD {
        if (path.size() >= 2 && path.compare(path.size() - 2, 2, L"\\a") == 0) return ERROR_ACCESS_DENIED;
        id->file = path.size();
        return 0;
    };
    Recorder r;
    r.base = t.root;
    WalkOptions o;
    o.recursive = true;
    vestrel::cli::Walk(t.root, o, r, h);
    EXPECT_EQ(r.unreadable, (Names{L"a"}));
    EXPECT_EQ(std::count(r.entries.begin(), r.entries.end(), L"a\\f.txt"), 0);

    Recorder missing;
    vestrel::cli::Walk(t.root + L"\\nothing", o, missing, h);
    EXPECT_EQ(missing.unreadable.size(), 1u);
    EXPECT_TRUE(missing.entries.empty());
}

// Only the root and the links entered are identified in full; every other
// directory takes the volume of the directory listing it.
TEST(CliWalk, OnlyTheRootAndLinksAreIdentifiedInFull) {
    LinkedTree t;
    WalkHooks h = t.Hooks();
    std::map<std::wstring, bool> full;  // relative path -> no listing identity given
    const auto inner = h.identify;
    h.identify = [&](const std::wstring& path, const DirectoryId* within, DirectoryId* id) -> DWORD {
        const std::wstring rel = path.substr(std::min(path.size(), t.root.size()));
        if (rel == L"\\a") {
            EXPECT_TRUE(within != nullptr && within->file == t.ids.at(L"")) << "the root's identity, which lists a";
        }
        full[rel] = within == nullptr;
        return inner(path, within, id);
    };
    Recorder r;
    WalkOptions o;
    o.recursive = o.followLinks = true;
    vestrel::cli::Walk(t.root, o, r, h);
    EXPECT_TRUE(full.at(L""));
    EXPECT_FALSE(full.at(L"\\a"));
    for (const wchar_t* link : {L"\\loop", L"\\l1", L"\\l2"}) EXPECT_TRUE(full.at(link)) << link;
}

// The platform's cheap identity (file id alone, volume from the listing
// directory) is the full one: a loop is caught whichever way a directory was
// reached. Two directories differ.
TEST(CliWalk, PlatformIdentityIsTheSameCheapOrFull) {
    TempDir tmp;
    WriteBytes(tmp / L"a\\b\\f.txt", "x");
    const WalkHooks h = WalkHooks::Platform();
    const std::wstring root = L"\\\\?\\" + tmp.path();
    DirectoryId top, full, cheap, other;
    ASSERT_EQ(h.identify(root, nullptr, &top), 0u);
    ASSERT_EQ(h.identify(root + L"\\a", nullptr, &full), 0u);
    ASSERT_EQ(h.identify(root + L"\\a", &top, &cheap), 0u);
    ASSERT_EQ(h.identify(root + L"\\a\\b", &full, &other), 0u);
    EXPECT_EQ(cheap.volume, full.volume);
    EXPECT_EQ(cheap.file, full.file);
    EXPECT_NE(other.file, full.file);
    EXPECT_NE(h.identify(root + L"\\missing", &top, &other), 0u);
}

// Identity on file systems that know no ids, or only 128-bit ones: an id of
// 0 or all ones (either kind) never makes a directory look entered, so -r
// reaches the bottom; 64-bit halves that repeat under distinct 128-bit ids
// are distinct directories; a known id that repeats is still caught.
TEST(CliWalk, UnknownIdsNeverStopTheWalkAndWideIdsAreCompared) {
    TempDir tmp;
    WriteBytes(tmp / L"a\\b\\f.txt", "x");
    const std::wstring root = L"\\\\?\\" + tmp.path();
    struct Case {
        const char* what;
        bool wide;
        uint64_t low, high;  // every directory's id; high + depth with `perDepthHigh`
        bool perDepthHigh;
        bool reachesBottom;
    };
    const Case cases[] = {
        {"index 0", false, 0, 0, false, true},
        {"index all ones", false, UINT64_MAX, 0, false, true},
        {"128-bit 0", true, 0, 0, false, true},
        {"128-bit all ones", true, UINT64_MAX, UINT64_MAX, false, true},
        {"index 1 repeated", false, 1, 0, false, false},
        {"index all ones less 1 repeated", false, UINT64_MAX - 1, 0, false, false},
        {"128-bit low all ones, high not", true, UINT64_MAX, UINT64_MAX - 1, false, false},
        {"128-bit high 0, low 1", true, 1, 0, false, false},
        {"same low half, distinct high halves", true, 5, 1, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WalkHooks h;
        h.isLink = [](const WIN32_FIND_DATAW&) { return false; };
        h.identify = [&](const std::wstring& path, const DirectoryId*, DirectoryId* id) -> DWORD {
            id->wide = c.wide;
            id->volume = 3;
            id->file = c.low;
            id->fileHigh = c.perDepthHigh ? c.high + std::count(path.begin() + root.size(), path.end(), L'\\') : c.high;
            return 0;
        };
        Recorder r;
        r.base = root;
        WalkOptions o;
        o.recursive = true;
        vestrel::cli::Walk(root, o, r, h);
        std::sort(r.entries.begin(), r.entries.end());
        if (c.reachesBottom) {
            EXPECT_EQ(r.entries, (Names{L"", L"a", L"a\\b", L"a\\b\\f.txt"}));
            EXPECT_TRUE(r.notes.empty());
        } else {
            EXPECT_EQ(r.entries, (Names{L"", L"a"}));
            EXPECT_EQ(r.notes, (Names{L"a"}));
        }
    }
    // The two kinds never match, even with equal numbers.
    DirectoryId narrow, wide;
    narrow.file = wide.file = 9;
    wide.wide = true;
    EXPECT_TRUE(narrow < wide || wide < narrow);
}

// Whether this platform can make a junction through the documented control
// code. Where it can, the real program is run through a junction loop.
TEST(CliWalk, JunctionLoopOnThePlatform) {
    TempDir tmp;
    WriteBytes(tmp / L"a\\f.txt", "x");
    WriteBytes(tmp / L"a\\f.txt:s", "s");
    const std::wstring link = tmp / L"a\\back";
    ASSERT_TRUE(CreateDirectoryW(link.c_str(), nullptr));
    HANDLE h = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const std::wstring target = L"\\??\\" + tmp / L"a";
    const std::wstring print = tmp / L"a";
    std::vector<BYTE> buf(8 + 8 + (target.size() + print.size() + 2) * 2, 0);
    auto put16 = [&](size_t at, size_t v) { buf[at] = BYTE(v); buf[at + 1] = BYTE(v >> 8); };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    memcpy(buf.data(), &tag, 4);
    put16(4, buf.size() - 8);
    put16(8, 0);
    put16(10, target.size() * 2);
    put16(12, (target.size() + 1) * 2);
    put16(14, print.size() * 2);
    memcpy(&buf[16], target.c_str(), target.size() * 2);
    memcpy(&buf[16 + (target.size() + 1) * 2], print.c_str(), print.size() * 2);
    DWORD n = 0;
    const BOOL made = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buf.data(), DWORD(buf.size()), nullptr, 0, &n, nullptr);
    const DWORD err = made ? 0 : GetLastError();
    CloseHandle(h);
    const bool isJunction = (GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                            GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES;
    std::printf("[ info    ] FSCTL_SET_REPARSE_POINT: %s (error %lu), reparse attribute %s\n", made ? "done" : "failed",
                err, isJunction ? "set" : "absent");
    if (!made || !isJunction) {
        RemoveDirectoryW(link.c_str());
        GTEST_SKIP() << "no junctions on this platform; the loop guard is covered through the walk's hooks";
    }
    ConsoleRun plain = RunConsole(VESTREL_CLI_EXE, {L"list", L"-r", tmp.path()}, L"", 30000);
    EXPECT_EQ(plain.exitCode, 0u) << plain.err;
    EXPECT_NE(plain.err.find("back"), std::string::npos) << "the junction not entered is said";
    ConsoleRun follow = RunConsole(VESTREL_CLI_EXE, {L"list", L"-r", L"--follow-links", tmp.path()}, L"", 30000);
    EXPECT_EQ(follow.exitCode, 0u) << follow.err;
    EXPECT_EQ(std::count(follow.out.begin(), follow.out.end(), '\n'), 2) << follow.out;  // header + one row
    RemoveDirectoryW(link.c_str());
}

// A directory link back to its own directory, run through the real program:
// without --follow-links it is either a link not entered (where the platform
// marks it as one) or a directory already entered (where it looks like a
// plain directory, as Unix links do under Wine); with it, a repeat. Either
// way the loop ends at once: one row, one line about the link.
TEST(CliWalk, DirectoryLinkLoopEndsAtOnceInTheRealProgram) {
    TempDir tmp;
    WriteBytes(tmp / L"a\\f.txt", "x");
    WriteBytes(tmp / L"a\\f.txt:s", "s");
    DirLink link(tmp / L"a\\L", L".");
    ASSERT_TRUE(link.made() || !link.viaUnix()) << link.Why();
    if (!link.made()) GTEST_SKIP() << "no directory link without the privilege: " << link.Why();
    for (bool follow : {false, true}) {
        std::vector<std::wstring> args = {L"list", L"-r", tmp.path()};
        if (follow) args.insert(args.begin() + 1, L"--follow-links");
        ConsoleRun r = RunConsole(VESTREL_CLI_EXE, args, L"", 30000);
        EXPECT_EQ(r.exitCode, 0u) << r.err;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << "header and a\\f.txt:s only: " << r.out;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find("\\L: "), std::string::npos) << r.err;
    }
}
