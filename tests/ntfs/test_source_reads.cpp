// Reads answered in parts (pread, a container library's read at an offset)
// and the one handle sequence every libyal container goes through, against a
// fake library that answers in small pieces and logs its calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "CliRunner.h"
#include "LibyalSource.h"
#include "ReadFully.h"

using namespace vestrel::ntfs;

TEST(ReadFully, AsksAgainForTheRestAndStopsAtTheFirstAnswerThatEndsIt) {
    struct Case {
        const char* name;
        size_t count;
        std::vector<ssize_t> answers;
        size_t read;
    };
    const Case cases[] = {
        {"whole at once", 8, {8}, 8},
        {"in pieces", 8, {3, 1, 4}, 8},
        {"the end first", 8, {3, 0}, 3},
        {"an error", 8, {3, -1}, 3},
        {"exactly the rest", 8, {3, 5}, 8},
        {"one past the rest", 8, {3, 6}, 3},
        {"nothing asked", 0, {}, 0},
    };
    const std::string data = "abcdefghijk";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string got(c.count, '.');
        size_t next = 0;
        std::vector<std::pair<uint64_t, size_t>> asked;
        const size_t read = ReadFully(
            [&](uint8_t* out, size_t want, uint64_t at) -> ssize_t {
                asked.push_back({at, want});
                const ssize_t answer = c.answers.at(next++);
                if (answer > 0) std::memcpy(out, data.data() + (at - 100), std::min(size_t(answer), want));
                return answer;
            },
            &got[0], c.count, 100);
        EXPECT_EQ(read, c.read);
        EXPECT_EQ(next, c.answers.size());  // no call after the one that ended it
        EXPECT_EQ(got.substr(0, read), data.substr(0, read));
        // Each call asks for what is missing, where it is missing.
        for (size_t i = 0, done = 0; i < asked.size(); done += size_t(c.answers[i]), ++i)
            EXPECT_EQ(asked[i], (std::pair<uint64_t, size_t>{100 + done, c.count - done})) << i;
    }
}

TEST(ReadFully, PreadSaysWhyItStoppedShort) {
    const std::string dir = vestrel::ntfs::testing::TempDirectory();
    const std::string path = dir + "/ten.bin";
    std::ofstream(path, std::ios::binary) << "0123456789";
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    const int fd = fileno(f);
    char buffer[16] = {};
    EXPECT_EQ(PreadFully(fd, buffer, 10, 0), 10u);
    EXPECT_EQ(std::string(buffer, 10), "0123456789");
    EXPECT_EQ(PreadFully(fd, buffer, 1, 9), 1u);
    EXPECT_EQ(buffer[0], '9');
    errno = 0;
    EXPECT_EQ(PreadFully(fd, buffer, 2, 9), 1u);
    EXPECT_EQ(errno, EIO);
    errno = 0;
    EXPECT_EQ(PreadFully(fd, buffer, 1, 10), 0u);
    EXPECT_EQ(errno, EIO);
    std::fclose(f);
    EXPECT_EQ(PreadFully(-1, buffer, 1, 0), 0u);
    EXPECT_EQ(errno, EBADF);
    std::filesystem::remove_all(dir);
}

namespace {

// A library whose handle holds `bytes`, reads at most three bytes a call and
// fails past them with an error of its own.
struct FakeLibrary {
    static inline std::vector<std::string> log;
    static inline std::string bytes = "0123456789";
    static inline bool initializeFails = false, openFails = false;
    static inline int errorsMade = 0, errorsFreed = 0;
};
struct FakeError {
    std::string text;
};
struct FakeHandle {};

int MakeError(FakeError** error, const char* text) {
    *error = new FakeError{text};
    ++FakeLibrary::errorsMade;
    return -1;
}
int FakeInitialize(FakeHandle** h, FakeError** error) {
    if (FakeLibrary::initializeFails) return MakeError(error, "out of fakes");
    *h = new FakeHandle;
    return 1;
}
int FakeOpen(FakeHandle*, const char* path, int flags, FakeError** error) {
    FakeLibrary::log.push_back(std::string("open ") + path + " " + std::to_string(flags));
    return FakeLibrary::openFails ? MakeError(error, "\nbad header...\nunable to open file.") : 1;
}
int FakeClose(FakeHandle*, FakeError**) {
    FakeLibrary::log.push_back("close");
    return 0;
}
int FakeFree(FakeHandle** h, FakeError**) {
    FakeLibrary::log.push_back("free");
    delete *h;
    *h = nullptr;
    return 1;
}
ssize_t FakeRead(FakeHandle*, void* buffer, size_t count, off64_t offset, FakeError** error) {
    if (uint64_t(offset) >= FakeLibrary::bytes.size()) return MakeError(error, "read past the end.\nunable to read.");
    const size_t n = std::min({count, size_t(3), FakeLibrary::bytes.size() - size_t(offset)});
    std::memcpy(buffer, FakeLibrary::bytes.data() + offset, n);
    return ssize_t(n);
}
int FakeSprint(FakeError* error, char* text, size_t size) { return std::snprintf(text, size, "%s", error->text.c_str()); }
void FakeErrorFree(FakeError** error) {
    delete *error;
    *error = nullptr;
    ++FakeLibrary::errorsFreed;
}

using FakeCalls = LibyalCalls<FakeInitialize, FakeOpen, 0x71, FakeClose, FakeFree, FakeRead, FakeSprint, FakeErrorFree>;
using FakeStoreCalls = LibyalHandedOutCalls<FakeFree, FakeRead, FakeSprint, FakeErrorFree>;

}  // namespace

TEST(LibyalSource, OpensReadOnlyReadsWholeRequestsWithinItsSizeAndClosesBeforeFreeing) {
    using Log = std::vector<std::string>;
    struct Case {
        const char* name;
        bool initializeFails, openFails;
        const char* said;
        Log log;
    };
    const Case cases[] = {
        {"no handle", true, false, "disk.img: out of fakes", {}},
        {"not opened", false, true, "disk.img: a damaged fake (bad header)", {"open disk.img 113", "free"}},
        {"opened", false, false, "", {"open disk.img 113", "close", "free"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeLibrary::log.clear();
        FakeLibrary::initializeFails = c.initializeFails;
        FakeLibrary::openFails = c.openFails;
        FakeLibrary::errorsMade = FakeLibrary::errorsFreed = 0;
        std::string error;
        {
            LibyalHandle<FakeCalls> handle;
            EXPECT_EQ(handle.OpenFile("disk.img", "a damaged fake", &error), *c.said == '\0');
            EXPECT_EQ(handle.open(), *c.said == '\0');
        }
        EXPECT_EQ(error, c.said);
        EXPECT_EQ(FakeLibrary::log, c.log);
        EXPECT_EQ(FakeLibrary::errorsFreed, FakeLibrary::errorsMade);
    }

    // The source's size is one past what the library holds: a read reaching
    // that byte fails inside the library, and its error is freed.
    FakeLibrary::log.clear();
    auto under = std::shared_ptr<const void>(nullptr, [](const void*) { FakeLibrary::log.push_back("catalog released"); });
    {
        LibyalHandle<FakeCalls> handle;
        std::string error;
        ASSERT_TRUE(handle.OpenFile("disk.img", "a damaged fake", &error)) << error;
        LibyalSource<FakeCalls> source("disk.img", std::move(handle), 11, SourceKind::Qcow, "FAKE1", std::move(under));
        EXPECT_EQ(source.Describe(), "FAKE1, 11 bytes");
        EXPECT_EQ(source.kind(), SourceKind::Qcow);
        char got[12] = {};
        ASSERT_TRUE(source.ReadAt(0, got, 10));
        EXPECT_EQ(std::string(got, 10), "0123456789");
        EXPECT_TRUE(source.ReadAt(9, got, 1));
        EXPECT_TRUE(source.ReadAt(11, got, 0));
        EXPECT_FALSE(source.ReadAt(12, got, 0));
        EXPECT_FALSE(source.ReadAt(9, got, 3));  // past the size: the library is not asked
        EXPECT_EQ(FakeLibrary::errorsMade, 0);
        EXPECT_FALSE(source.ReadAt(8, got, 3));  // within it, but the library fails
        EXPECT_EQ(FakeLibrary::errorsMade, 1);
        EXPECT_EQ(FakeLibrary::errorsFreed, 1);
    }
    EXPECT_EQ(FakeLibrary::log, (std::vector<std::string>{"open disk.img 113", "close", "free", "catalog released"}));

    // A handle the library handed out is freed, never closed.
    FakeLibrary::log.clear();
    {
        LibyalSource<FakeStoreCalls> store("disk.img", LibyalHandle<FakeStoreCalls>(new FakeHandle), 10, SourceKind::Shadow,
                                           "store 1");
        char got[4] = {};
        EXPECT_TRUE(store.ReadAt(6, got, 4));
        EXPECT_EQ(std::string(got, 4), "6789");
    }
    EXPECT_EQ(FakeLibrary::log, (std::vector<std::string>{"free"}));
}
