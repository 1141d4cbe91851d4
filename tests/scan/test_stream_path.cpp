// The stream path joiner over the three platform kinds, and the parser of
// the file system's stream list: the two places where a stream name becomes
// something the file system acts on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "StreamInfo.h"
#include "StreamInfoChain.h"
#include "StreamPath.h"

using vestrel::JoinStreamPath;
using vestrel::StreamPlatform;

namespace {

const StreamPlatform kReal = StreamPlatform::kRealStreams;
const StreamPlatform kSibling = StreamPlatform::kSiblingFiles;
const StreamPlatform kUnknown = StreamPlatform::kUnknown;

struct JoinCase {
    const char16_t* file;
    const char16_t* name;
    StreamPlatform platform;
    const char16_t* expected;  // u"" when the pair must be refused
};

std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? char(c) : '?';
    return out;
}

void PrintTo(const JoinCase& c, std::ostream* os) {
    *os << Narrow(c.file) << " + " << Narrow(c.name) << " (" << int(c.platform) << ")";
}

class StreamPathJoin : public ::testing::TestWithParam<JoinCase> {};

TEST_P(StreamPathJoin, NamesThatStreamOrNothing) {
    const JoinCase& c = GetParam();
    EXPECT_EQ(JoinStreamPath(std::u16string(c.file), std::u16string(c.name), c.platform), std::u16string(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    ThreeKinds, StreamPathJoin,
    ::testing::Values(
        // Real streams: the type always spelt out, so that no name can end
        // up naming the unnamed stream or lose its trailing dots and spaces.
        JoinCase{u"C:\\d\\a.txt", u"s", kReal, u"C:\\d\\a.txt:s:$DATA"},
        JoinCase{u"C:\\d\\a.txt", u"$DATA", kReal, u"C:\\d\\a.txt:$DATA:$DATA"},
        JoinCase{u"C:\\d\\a.txt", u"x.", kReal, u"C:\\d\\a.txt:x.:$DATA"},
        JoinCase{u"C:\\d\\a.txt", u" ", kReal, u"C:\\d\\a.txt: :$DATA"},
        JoinCase{u"C:\\d\\a.txt", u"x .. ", kReal, u"C:\\d\\a.txt:x .. :$DATA"},
        JoinCase{u"a.txt", u"s", kReal, u"a.txt:s:$DATA"},
        JoinCase{u"C:\\d\\a.txt", u"$DATA:$DATA", kReal, u""},
        JoinCase{u"C:\\d\\a.txt", u"x:$DATA", kReal, u""},
        JoinCase{u"C:\\d\\a.txt", u":", kReal, u""},
        JoinCase{u"C:\\d\\a.txt", u"a\\b", kReal, u""},
        JoinCase{u"C:\\d\\a.txt", u"a/b", kReal, u""},
        JoinCase{u"C:\\d\\a.txt", u"", kReal, u""},
        JoinCase{u"", u"s", kReal, u""},
        // Unknown: the same safe form.
        JoinCase{u"C:\\d\\a.txt", u"s", kUnknown, u"C:\\d\\a.txt:s:$DATA"},
        JoinCase{u"C:\\d\\a.txt", u"$DATA", kUnknown, u"C:\\d\\a.txt:$DATA:$DATA"},
        JoinCase{u"C:\\d\\a.txt", u"x:$DATA", kUnknown, u""},
        JoinCase{u"C:\\d\\a.txt", u"", kUnknown, u""},
        // Sibling files: the sibling's own name; a trailing dot or space is
        // kept by the "\\?\" form, which only an absolute file can take.
        JoinCase{u"C:\\d\\a.txt", u"s", kSibling, u"C:\\d\\a.txt:s"},
        JoinCase{u"C:\\d\\a.txt", u"$DATA", kSibling, u"C:\\d\\a.txt:$DATA"},
        JoinCase{u"C:\\d\\a.txt", u"x.y", kSibling, u"C:\\d\\a.txt:x.y"},
        JoinCase{u"C:\\d\\a.txt", u" x", kSibling, u"C:\\d\\a.txt: x"},
        JoinCase{u"C:\\d\\a.txt", u"x.", kSibling, u"\\\\?\\C:\\d\\a.txt:x."},
        JoinCase{u"C:\\d\\a.txt", u"x ", kSibling, u"\\\\?\\C:\\d\\a.txt:x "},
        JoinCase{u"C:\\d\\a.txt", u" ", kSibling, u"\\\\?\\C:\\d\\a.txt: "},
        JoinCase{u"\\\\?\\C:\\d\\a.txt", u"x.", kSibling, u"\\\\?\\C:\\d\\a.txt:x."},
        JoinCase{u"\\\\srv\\share\\a.txt", u"x.", kSibling, u"\\\\?\\UNC\\srv\\share\\a.txt:x."},
        JoinCase{u"a.txt", u"x.", kSibling, u""},
        JoinCase{u"C:a.txt", u"x.", kSibling, u""},
        JoinCase{u"C:/d/a.txt", u"x.", kSibling, u""},
        JoinCase{u"\\\\.\\C:\\a.txt", u"x.", kSibling, u""},
        JoinCase{u"C:\\d\\a.txt", u"$DATA:$DATA", kSibling, u""},
        JoinCase{u"C:\\d\\a.txt", u"x:$DATA", kSibling, u""},
        JoinCase{u"C:\\d\\a.txt", u"", kSibling, u""},
        JoinCase{u"", u"s", kSibling, u""}));

// Whatever the name, the result is never one of the spellings of the file
// itself or of its unnamed data. Where streams are sibling files, the
// platform takes "FILE:$DATA" literally, as the sibling of that name.
TEST(StreamPathJoin, NeverTheFileItself) {
    const std::u16string file = u"C:\\d\\a.txt";
    const std::u16string names[] = {u"$DATA", u"$DATA:$DATA", u":$DATA", u"::$DATA", u"x:$DATA", u"$data",
                                    u" ", u".", u"..", u". .", u"", u":", u"\\", u"$DATA.", u"$DATA "};
    const std::vector<std::u16string> always = {file, file + u":", file + u"::$DATA", file + u": ", file + u":.",
                                                u"\\\\?\\" + file, u"\\\\?\\" + file + u"::$DATA"};
    std::vector<std::u16string> onStreams = always;
    onStreams.push_back(file + u":$DATA");
    onStreams.push_back(file + u":$data");
    for (StreamPlatform p : {kReal, kSibling, kUnknown}) {
        for (const std::u16string& name : names) {
            const std::u16string joined = JoinStreamPath(file, name, p);
            for (const std::u16string& bad : p == kSibling ? always : onStreams)
                EXPECT_NE(joined, bad) << Narrow(name) << " on kind " << int(p);
        }
    }
}

TEST(StreamPathJoin, WorksOnTheWideStringToo) {
    EXPECT_EQ(JoinStreamPath(std::wstring(L"C:\\a"), std::wstring(L"s"), kReal), L"C:\\a:s:$DATA");
    EXPECT_EQ(JoinStreamPath(std::wstring(L"C:\\a"), std::wstring(L"s."), kSibling), L"\\\\?\\C:\\a:s.");
}

// --- the file system's stream list ---------------------------------------

using Entry = testing_support::StreamInfoEntry;

std::vector<uint8_t> Chain(const std::vector<Entry>& entries) { return testing_support::StreamInfoChain(entries); }

struct Parsed {
    bool ok;
    std::vector<std::pair<std::u16string, uint64_t>> streams;
    std::vector<bool> excluded;
};

Parsed Parse(const std::vector<uint8_t>& bytes, size_t size) {
    std::vector<vestrel::NamedStream> streams;
    Parsed p;
    p.ok = vestrel::ParseStreamInfo(bytes.data(), size, &streams);
    for (const auto& s : streams) {
        p.streams.emplace_back(std::u16string(s.name.begin(), s.name.end()), s.size);
        p.excluded.push_back(s.excluded);
        EXPECT_EQ(s.preview, nullptr);
    }
    return p;
}

Parsed Parse(const std::vector<uint8_t>& bytes) { return Parse(bytes, bytes.size()); }

using Streams = std::vector<std::pair<std::u16string, uint64_t>>;

TEST(StreamInfoList, NamedDataStreamsWithTheirFullSizes) {
    const Parsed p = Parse(Chain({{u"::$DATA", 4},
                                  {u":s:$DATA", 5},
                                  {u":$DATA:$DATA", 7},
                                  {u":big:$DATA", 0x100000005ull},
                                  {u":low:$data", 1},
                                  {u":Zone.Identifier:$DATA", 26},
                                  {u":idx:$INDEX_ALLOCATION", 9},
                                  {u":$DATA", 3}}));
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.streams, (Streams{{u"s", 5}, {u"$DATA", 7}, {u"big", 4294967301ull}, {u"low", 1},
                                  {u"Zone.Identifier", 26}}));
    EXPECT_EQ(p.excluded, (std::vector<bool>{false, false, false, false, true}));
}

// Each bound of an entry, one unit inside and one outside.
TEST(StreamInfoList, EntriesOutsideTheBufferEndTheListKeepingWhatCameBefore) {
    const std::vector<uint8_t> two = Chain({{u":a:$DATA", 1}, {u":b:$DATA", 2}});
    const size_t firstLength = 24 + 16;  // ":a:$DATA" is 16 bytes, already 8-aligned
    EXPECT_EQ(Parse(two).streams, (Streams{{u"a", 1}, {u"b", 2}}));
    EXPECT_TRUE(Parse(two, firstLength + 24 + 16).ok) << "the second entry ends exactly at the buffer's end";
    const Parsed cut = Parse(two, firstLength + 24 + 15);
    EXPECT_FALSE(cut.ok);
    EXPECT_EQ(cut.streams, (Streams{{u"a", 1}}));
    EXPECT_FALSE(Parse(two, firstLength + 23).ok) << "the second header does not fit";
    EXPECT_EQ(Parse(two, firstLength + 23).streams, (Streams{{u"a", 1}}));
    EXPECT_FALSE(Parse(two, 23).ok);
    EXPECT_FALSE(Parse(two, 0).ok);

    // A header alone, with no name: nothing, and a good end.
    EXPECT_TRUE(Parse(Chain({{u"", 0}})).ok);
    EXPECT_TRUE(Parse(Chain({{u"", 0}})).streams.empty());

    // Name lengths: odd, or one unit past what is there.
    EXPECT_FALSE(Parse(Chain({{u":a:$DATA", 1, -1, 15}})).ok);
    std::vector<uint8_t> exact = Chain({{u":a:$DATA", 1}});
    EXPECT_TRUE(Parse(exact, 24 + 16).ok);
    EXPECT_FALSE(Parse(exact, 24 + 14).ok);
}

TEST(StreamInfoList, NextOffsetsMustMovePastTheNameAndStayInside) {
    const size_t length = 24 + 16;
    // One byte short of the entry's name: would reread its own name.
    EXPECT_FALSE(Parse(Chain({{u":a:$DATA", 1, int64_t(length) - 1}, {u":b:$DATA", 2}})).ok);
    EXPECT_TRUE(Parse(Chain({{u":a:$DATA", 1, int64_t(length)}, {u":b:$DATA", 2}})).ok);
    // Pointing exactly at the end, or past it.
    const std::vector<uint8_t> toEnd = Chain({{u":a:$DATA", 1, int64_t(length)}});
    const Parsed atEnd = Parse(toEnd);
    EXPECT_FALSE(atEnd.ok);
    EXPECT_EQ(atEnd.streams, (Streams{{u"a", 1}}));
    EXPECT_FALSE(Parse(Chain({{u":a:$DATA", 1, 0x7FFFFFF8}, {u":b:$DATA", 2}})).ok);
    EXPECT_FALSE(Parse(Chain({{u":a:$DATA", 1, 0xFFFFFFF8}, {u":b:$DATA", 2}})).ok);
}

}  // namespace
