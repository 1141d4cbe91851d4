// CNtfsStream on real files: streams are written through their stream path,
// as a user or another program would.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "NtfsStream.h"
#include "StreamEnumerator.h"
#include "WinSequences.h"

namespace {

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 7);
    return v;
}

// Whether the platform serves backup stream sequences at all (Wine does not).
bool PlatformBackupWorks(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    uint8_t buf[26];
    DWORD n = 0;
    LPVOID context = nullptr;
    const BOOL ok = BackupRead(h, buf, sizeof buf, &n, FALSE, FALSE, &context);
    const DWORD err = GetLastError();
    BackupRead(h, nullptr, 0, &n, TRUE, FALSE, &context);
    CloseHandle(h);
    return ok || (err != ERROR_NOT_SUPPORTED && err != ERROR_CALL_NOT_IMPLEMENTED);
}

class NtfsStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, tmp), 0u);
        dir_ = std::wstring(tmp) + L"vestrel_scan_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
               std::to_wstring(GetTickCount());
        ASSERT_TRUE(CreateDirectoryW(dir_.c_str(), nullptr));
    }

    void TearDown() override {
        // Stream siblings first where the platform keeps them as entries.
        for (int pass = 0; pass < 2; ++pass) {
            WIN32_FIND_DATAW fd;
            HANDLE find = FindFirstFileW((dir_ + L"\\*").c_str(), &fd);
            if (find == INVALID_HANDLE_VALUE) break;
            do {
                const std::wstring name = fd.cFileName;
                if (name == L"." || name == L"..") continue;
                if (pass == 0 && !IsStreamSiblingName(name)) continue;
                DeleteFileW((dir_ + L"\\" + name).c_str());
            } while (FindNextFileW(find, &fd));
            FindClose(find);
        }
        EXPECT_TRUE(RemoveDirectoryW(dir_.c_str())) << "temp directory left behind";
    }

    std::wstring Path(const wchar_t* name) const { return dir_ + L"\\" + name; }

    static void Write(const std::wstring& path, const std::vector<uint8_t>& data) {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
        DWORD n = 0;
        if (!data.empty()) {
            EXPECT_TRUE(WriteFile(h, data.data(), DWORD(data.size()), &n, nullptr));
        }
        EXPECT_EQ(n, data.size());
        CloseHandle(h);
    }

    static std::vector<uint8_t> Text(const char* s) { return std::vector<uint8_t>(s, s + strlen(s)); }

    std::wstring dir_;
};

struct Found {
    NtfsStreamList list;
    int count = 0;
    ~Found() { CNtfsStream::FreeStreamList(&list); }
    const NtfsStreamInfo* Get(const std::wstring& name) const {
        for (const NtfsStreamInfo* r : list) {
            if (r->strName == name) return r;
        }
        return nullptr;
    }
    std::vector<std::wstring> SortedNames() const {
        std::vector<std::wstring> names;
        for (const NtfsStreamInfo* r : list) names.push_back(r->strName);
        std::sort(names.begin(), names.end());
        return names;
    }
};

// The file's stream names as one enumeration finds them, sorted.
std::vector<std::wstring> StreamNamesOf(const std::wstring& file) {
    Found f;
    CNtfsStream::EnumStreams(file, &f.list);
    return f.SortedNames();
}

}  // namespace

TEST_F(NtfsStreamTest, FindsStreamsWithNamesSizesAndLeadingData) {
    const std::wstring file = Path(L"a.txt");
    Write(file, Text("main data of the file"));
    Write(file + L":one", Text("first"));
    Write(file + L":two", Pattern(150, 3));
    Write(file + L":empty", {});

    Found f;
    f.count = CNtfsStream::EnumStreams(file, &f.list);
    EXPECT_EQ(f.count, 3);
    EXPECT_EQ(f.SortedNames(), (std::vector<std::wstring>{L"empty", L"one", L"two"}));
    const NtfsStreamInfo* one = f.Get(L"one");
    const NtfsStreamInfo* two = f.Get(L"two");
    const NtfsStreamInfo* empty = f.Get(L"empty");
    ASSERT_TRUE(one && two && empty);
    EXPECT_EQ(one->dwSize, 5u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(one->byData), 5), "first");
    EXPECT_EQ(two->dwSize, 150u);
    EXPECT_EQ(std::vector<uint8_t>(two->byData, two->byData + 100), Pattern(100, 3));
    EXPECT_EQ(empty->dwSize, 0u);
    EXPECT_EQ(empty->byData[0], 0);
}

TEST_F(NtfsStreamTest, ExcludedNamesAndMainDataAreNotListed) {
    const std::wstring plain = Path(L"plain.bin");
    Write(plain, Pattern(4000, 1));
    NtfsStreamList list;
    EXPECT_EQ(CNtfsStream::EnumStreams(plain, &list), 0);
    EXPECT_TRUE(list.empty());

    // A main stream of 3 bytes ends inside the first read; the stream after it
    // must still be found.
    const std::wstring file = Path(L"downloaded.exe");
    Write(file, Text("MZ!"));
    Write(file + L":Zone.Identifier", Text("[ZoneTransfer]\r\nZoneId=3\r\n"));
    Write(file + L":faviconX", Text("kept"));
    Found f;
    f.count = CNtfsStream::EnumStreams(file, &f.list);
    EXPECT_EQ(f.SortedNames(), (std::vector<std::wstring>{L"faviconX"}));
    EXPECT_EQ(f.count, 1);
}

TEST_F(NtfsStreamTest, UnopenableFilesReturnZeroAndLeaveTheListAlone) {
    NtfsStreamList list;
    list.push_back(new NtfsStreamInfo{L"earlier", 1, {}, 1});

    EXPECT_EQ(CNtfsStream::EnumStreams(L"", &list), 0);
    EXPECT_EQ(CNtfsStream::EnumStreams(Path(L"missing.txt"), &list), 0);

    const std::wstring busy = Path(L"busy.txt");
    Write(busy, Text("being written"));
    Write(busy + L":s", Text("stream"));
    HANDLE writer = CreateFileW(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CNtfsStream::EnumStreams(busy, &list), 0);
    CloseHandle(writer);
    EXPECT_EQ(list.size(), 1u);

    // Once the writer is gone the same file is read, and the count includes
    // what the list already held.
    EXPECT_EQ(CNtfsStream::EnumStreams(busy, &list), 2);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.back()->strName, L"s");

    CNtfsStream::FreeStreamList(&list);
    EXPECT_EQ(list.size(), 2u);
    EXPECT_TRUE(std::all_of(list.begin(), list.end(), [](NtfsStreamInfo* p) { return p == nullptr; }));
}

TEST_F(NtfsStreamTest, StopFlagAndDirectoriesAreHandled) {
    const std::wstring file = Path(L"s.txt");
    Write(file, Text("x"));
    Write(file + L":s", Text("y"));
    std::atomic<bool> stop{true};
    NtfsStreamList list;
    EXPECT_EQ(CNtfsStream::EnumStreams(file, &list, &stop), 0);
    EXPECT_TRUE(list.empty());

    // A directory opens with backup semantics and simply has no streams here.
    EXPECT_EQ(CNtfsStream::EnumStreams(dir_, &list), 0);
}

TEST_F(NtfsStreamTest, SiblingEntriesAreRecognised) {
    EXPECT_TRUE(IsStreamSiblingName(L"a.txt:s"));
    EXPECT_FALSE(IsStreamSiblingName(L"a.txt"));

    const std::wstring file = Path(L"Mixed.txt");
    Write(file, Text("m"));
    Write(file + L":b", Text("1"));
    Write(file + L":a", Text("2"));
    Write(Path(L"Mixed.txt.other"), Text("3"));  // shares the prefix, not a sibling
    EXPECT_EQ(vestrel::ListStreamSiblings(file), (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_TRUE(vestrel::ListStreamSiblings(Path(L"missing")).empty());
}

// Whatever serves the sequence must keep the platform's read and skip rules.
TEST_F(NtfsStreamTest, FileSequenceKeepsTheReadAndSkipRules) {
    const std::wstring file = Path(L"r.txt");
    Write(file, Text("abc"));
    Write(file + L":q", Pattern(300, 9));
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    {
        vestrel::FileStreamSequence seq(h, file);
        uint8_t buf[64] = {};
        uint32_t n = 0;
        ASSERT_TRUE(seq.Read(buf, 26, &n));
        ASSERT_EQ(n, 23u);  // header and 3 data bytes: the read stops at the unit's end
        EXPECT_EQ(seq.UsesSiblings(), !PlatformBackupWorks(file));
        EXPECT_EQ(buf[0], 1);
        EXPECT_EQ(buf[8], 3);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buf) + 20, 3), "abc");
        uint64_t skipped = 9;
        EXPECT_FALSE(seq.Skip(1, &skipped));  // at the next header: nothing moves
        EXPECT_EQ(skipped, 0u);

        ASSERT_TRUE(seq.Read(buf, 20, &n));
        ASSERT_EQ(n, 20u);
        EXPECT_EQ(buf[0], 4);
        EXPECT_EQ(buf[8] | buf[9] << 8, 300);
        const std::wstring expectName = L":q:$DATA";
        EXPECT_EQ(size_t(buf[16]), expectName.size() * 2);
        ASSERT_TRUE(seq.Read(buf, uint32_t(expectName.size() * 2), &n));
        EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t*>(buf), n / 2), expectName);

        EXPECT_TRUE(seq.Skip(250, &skipped));
        ASSERT_TRUE(seq.Read(buf, 64, &n));
        ASSERT_EQ(n, 50u);
        const std::vector<uint8_t> data = Pattern(300, 9);
        EXPECT_EQ(std::vector<uint8_t>(buf, buf + 50), std::vector<uint8_t>(data.begin() + 250, data.end()));
        ASSERT_TRUE(seq.Read(buf, 26, &n));
        EXPECT_EQ(n, 0u);  // the end
    }
    CloseHandle(h);
}

// A listing asks names and sizes only: where streams are sibling entries it
// sizes them from the entries and opens none, so a stream another program
// holds without sharing is still listed; its data cannot be read through such
// a sequence, and a read fails instead of delivering anything.
TEST_F(NtfsStreamTest, NamesOnlySequenceListsStreamsItCannotOpen) {
    const std::wstring file = Path(L"held.txt");
    Write(file, Text("main"));
    Write(file + L":a", Text("abc"));
    Write(file + L":busy", Pattern(300, 1));
    Write(file + L":z", {});
    if (PlatformBackupWorks(file)) GTEST_SKIP() << "the platform's sequence reads through the file's own handle";
    HANDLE busy = CreateFileW((file + L":busy").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    auto listing = [&](vestrel::StreamUse use) {
        std::vector<std::pair<std::wstring, uint64_t>> found;
        vestrel::FileStreamSequence seq(h, file, use);
        vestrel::WalkNamedStreams(seq, 0, [&](const vestrel::NamedStream& s) {
            found.emplace_back(s.name, s.size);
            return true;
        });
        return found;
    };
    using Found = std::vector<std::pair<std::wstring, uint64_t>>;
    EXPECT_EQ(listing(vestrel::StreamUse::kNamesOnly), (Found{{L"a", 3}, {L"busy", 300}, {L"z", 0}}));
    EXPECT_EQ(listing(vestrel::StreamUse::kData), (Found{{L"a", 3}, {L"z", 0}})) << "one it cannot open is left out";
    {
        vestrel::FileStreamSequence seq(h, file, vestrel::StreamUse::kNamesOnly);
        uint8_t buf[64];
        uint32_t n = 0;
        ASSERT_TRUE(seq.Read(buf, 24, &n));  // the main unit, whole
        ASSERT_EQ(n, 24u);
        const uint32_t nameBytes = uint32_t(std::wstring(L":a:$DATA").size() * 2);
        ASSERT_TRUE(seq.Read(buf, 20 + nameBytes, &n));
        ASSERT_EQ(n, 20 + nameBytes);
        n = 99;
        EXPECT_FALSE(seq.Read(buf, 3, &n));
        EXPECT_EQ(n, 0u);
    }
    CloseHandle(h);
    CloseHandle(busy);
}

// Siblings are indexed per directory; the index must follow streams added,
// resized and deleted between enumerations, and keep directories apart.
TEST_F(NtfsStreamTest, EnumerationFollowsStreamsChangedSinceTheLastOne) {
    const std::wstring file = Path(L"live.txt");
    Write(file, Text("main"));
    Write(file + L":first", Text("1"));
    EXPECT_EQ(StreamNamesOf(file), (std::vector<std::wstring>{L"first"}));
    Write(file + L":second", Text("22"));
    Write(file + L":first", Text("longer now"));
    {
        Found f;
        CNtfsStream::EnumStreams(file, &f.list);
        ASSERT_EQ(f.SortedNames(), (std::vector<std::wstring>{L"first", L"second"}));
        EXPECT_EQ(f.Get(L"first")->dwSize, 10u);
    }
    ASSERT_TRUE(DeleteFileW((file + L":first").c_str()));
    EXPECT_EQ(StreamNamesOf(file), (std::vector<std::wstring>{L"second"}));
    // Same file name in a subdirectory: its own streams only.
    ASSERT_TRUE(CreateDirectoryW(Path(L"sub").c_str(), nullptr));
    const std::wstring other = Path(L"sub\\live.txt");
    Write(other, Text("other"));
    Write(other + L":third", Text("3"));
    EXPECT_EQ(StreamNamesOf(other), (std::vector<std::wstring>{L"third"}));
    DeleteFileW((other + L":third").c_str());
    DeleteFileW(other.c_str());
    RemoveDirectoryW(Path(L"sub").c_str());
}
