#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "CliPaths.h"
#include "StreamPath.h"

using namespace vestrel::cli;

namespace {

// What a test case is shown as: the typed text, non-ASCII as \uXXXX.
std::string Shown(const char16_t* text) {
    std::string out;
    for (const char16_t* p = text; *p != 0; ++p) {
        if (*p >= 0x20 && *p < 0x7F) {
            out += char(*p);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04X", unsigned(*p));
            out += hex;
        }
    }
    return "\"" + out + "\"";
}

struct AbsoluteCase {
    const char16_t* typed;
    const char16_t* current;
    const char16_t* expected;  // "" for refused
};

void PrintTo(const AbsoluteCase& c, std::ostream* os) {
    *os << Shown(c.typed) << " in " << Shown(c.current) << " -> " << Shown(c.expected);
}

class AbsolutePaths : public ::testing::TestWithParam<AbsoluteCase> {};

TEST_P(AbsolutePaths, ResolveAgainstTheCurrentDirectory) {
    const AbsoluteCase& c = GetParam();
    EXPECT_EQ(AbsolutePath(c.typed, c.current), std::u16string(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, AbsolutePaths,
    ::testing::Values(
        AbsoluteCase{u"a.txt", u"C:\\work", u"C:\\work\\a.txt"},
        AbsoluteCase{u".\\sub/x\\..\\y\\", u"C:\\work", u"C:\\work\\sub\\y"},
        AbsoluteCase{u"..\\..\\..\\..", u"C:\\work\\a", u"C:\\"},  // never above the root
        AbsoluteCase{u"c:/Temp//x", u"D:\\w", u"C:\\Temp\\x"},
        AbsoluteCase{u"\\top", u"D:\\w\\v", u"D:\\top"},
        AbsoluteCase{u"C:x", u"C:\\w", u"C:\\w\\x"},   // same drive: the current directory
        AbsoluteCase{u"E:x", u"C:\\w", u"E:\\x"},      // other drive: its root
        AbsoluteCase{u"C:\\", u"D:\\w", u"C:\\"},
        AbsoluteCase{u"\\\\srv\\share\\a\\..\\b", u"C:\\w", u"\\\\srv\\share\\b"},
        AbsoluteCase{u"x", u"\\\\srv\\share\\d", u"\\\\srv\\share\\d\\x"},
        AbsoluteCase{u"\\\\?\\C:\\a\\..\\b", u"C:\\w", u"\\\\?\\C:\\a\\..\\b"},  // extended: as typed
        AbsoluteCase{u"", u"C:\\w", u""},
        AbsoluteCase{u"\\\\srv", u"C:\\w", u""},
        AbsoluteCase{u"\\\\.\\PhysicalDrive0", u"C:\\w", u""},
        AbsoluteCase{u"a", u"not absolute", u""}));

TEST(ExtendedPaths, RoundTripToWhatTheUserTypes) {
    const std::u16string longName(300, u'n');
    const struct {
        std::u16string absolute, extended;
    } cases[] = {
        {u"C:\\a\\b", u"\\\\?\\C:\\a\\b"},
        {u"C:\\", u"\\\\?\\C:\\"},
        {u"\\\\srv\\share\\x", u"\\\\?\\UNC\\srv\\share\\x"},
        {u"C:\\" + longName + u"\\" + longName, u"\\\\?\\C:\\" + longName + u"\\" + longName},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtendedPath(c.absolute), c.extended);
        EXPECT_EQ(ExtendedPath(c.extended), c.extended);  // already extended stays
        EXPECT_EQ(DisplayPath(c.extended), c.absolute);
    }
    EXPECT_EQ(DisplayPath(u"relative\\x"), u"relative\\x");
}

TEST(ExtendedPaths, RelativeNamesStartAtTheRootsOwnName) {
    EXPECT_EQ(PathUnderRootsParent(u"\\\\?\\C:\\a\\b", u"\\\\?\\C:\\a\\b\\c\\d.txt"), u"b\\c\\d.txt");
    EXPECT_EQ(PathUnderRootsParent(u"\\\\?\\C:\\a\\b", u"\\\\?\\C:\\a\\b"), u"b");
    EXPECT_EQ(PathUnderRootsParent(u"\\\\?\\C:\\a\\b\\", u"\\\\?\\C:\\a\\b\\x"), u"b\\x");
    EXPECT_EQ(PathUnderRootsParent(u"\\\\?\\C:\\", u"\\\\?\\C:\\x\\y"), u"C\\x\\y");
    EXPECT_EQ(PathUnderRootsParent(u"\\\\?\\UNC\\s\\h", u"\\\\?\\UNC\\s\\h\\f"), u"h\\f");
    EXPECT_EQ(PathUnderRootsParent(u"\\\\?\\C:\\a\\b", u"\\\\?\\C:\\a\\bc\\d"), u"");  // a sibling, not below
    EXPECT_EQ(PathUnderRootsParent(u"\\\\?\\C:\\a\\b", u"\\\\?\\D:\\x"), u"");
}

struct StreamCase {
    const char16_t* typed;
    const char16_t* file;    // expected file part ("" when refused)
    const char16_t* stream;  // expected stream name ("" when refused)
};

void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << Shown(c.typed) << " -> " << Shown(c.file) << " : " << Shown(c.stream);
}

class StreamPaths : public ::testing::TestWithParam<StreamCase> {};

TEST_P(StreamPaths, SplitOrRefuse) {
    const StreamCase& c = GetParam();
    const StreamPath sp = ParseStreamPath(c.typed);
    const bool refused = std::u16string(c.stream).empty();
    EXPECT_EQ(!sp.error.empty(), refused) << sp.error;
    if (!refused) {
        EXPECT_EQ(sp.file, std::u16string(c.file));
        EXPECT_EQ(sp.stream, std::u16string(c.stream));
    } else {
        EXPECT_TRUE(sp.stream.empty());  // nothing a caller could act on
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, StreamPaths,
    ::testing::Values(
        StreamCase{u"a.txt:s", u"a.txt", u"s"},
        StreamCase{u"C:\\d\\a.txt:s", u"C:\\d\\a.txt", u"s"},
        StreamCase{u"C:a.txt:s", u"C:a.txt", u"s"},
        StreamCase{u"a.txt:s:$DATA", u"a.txt", u"s"},
        StreamCase{u"a.txt:s:$data", u"a.txt", u"s"},
        StreamCase{u"\\\\?\\C:\\d\\a.txt:x y,\"z\"", u"\\\\?\\C:\\d\\a.txt", u"x y,\"z\""},
        StreamCase{u"C:\\d.x:y\\file", u"", u""},  // the colon is before the last separator
        StreamCase{u"C:\\d\\dir:s", u"C:\\d\\dir", u"s"},  // a directory's stream
        // A stream named "$DATA": addressed with its type, it is that stream.
        StreamCase{u"a.txt:$DATA:$DATA", u"a.txt", u"$DATA"},
        StreamCase{u"a.txt:x:$DATA:$DATA", u"", u""},
        // Each of these names the unnamed stream or no data stream at all.
        StreamCase{u"a.txt", u"", u""},
        StreamCase{u"a.txt:", u"", u""},
        StreamCase{u"decoy:", u"", u""},
        StreamCase{u"a.txt::$DATA", u"", u""},
        StreamCase{u"a.txt:$DATA", u"", u""},
        StreamCase{u"a.txt:$Data", u"", u""},
        StreamCase{u"dir::$INDEX_ALLOCATION", u"", u""},
        StreamCase{u"a.txt:s:$BITMAP", u"", u""},
        StreamCase{u"a.txt:s:$DATA:x", u"", u""},
        // The type is the whole of what follows: nothing may trail or be missing.
        StreamCase{u"a.txt:s:$DATAX", u"", u""},
        StreamCase{u"a.txt:s:$DATA ", u"", u""},
        StreamCase{u"a.txt:s:$DAT", u"", u""},
        StreamCase{u"a.txt:s:", u"", u""},
        StreamCase{u":s", u"", u""},
        StreamCase{u"C::s", u"", u""},
        StreamCase{u"C:", u"", u""},
        StreamCase{u"", u"", u""}));

TEST(StreamPaths, JoinIsTheInverseOfTheSplit) {
    const StreamPath sp = ParseStreamPath(u"C:\\d\\\x6587\x4EF6.txt:\xD800x");
    ASSERT_TRUE(sp.error.empty());
    EXPECT_EQ(vestrel::JoinStreamPath(sp.file, sp.stream, vestrel::StreamPlatform::kSiblingFiles),
              u"C:\\d\\\x6587\x4EF6.txt:\xD800x");
}

struct DeviceCase {
    const char16_t* typed;
    bool device;
};

void PrintTo(const DeviceCase& c, std::ostream* os) { *os << Shown(c.typed) << (c.device ? " device" : " file"); }

class DeviceNames : public ::testing::TestWithParam<DeviceCase> {};

TEST_P(DeviceNames, RefusedWhereverTheLastComponentIsOne) {
    EXPECT_EQ(NamesDevice(GetParam().typed), GetParam().device);
}

INSTANTIATE_TEST_SUITE_P(
    EachBound, DeviceNames,
    ::testing::Values(
        DeviceCase{u"NUL", true}, DeviceCase{u"nul", true}, DeviceCase{u"CON", true}, DeviceCase{u"PRN", true},
        DeviceCase{u"AUX", true}, DeviceCase{u"CONIN$", true}, DeviceCase{u"conout$", true},
        DeviceCase{u"C:\\x\\NUL", true}, DeviceCase{u"C:NUL", true}, DeviceCase{u"x/aux", true},
        DeviceCase{u"NUL.txt", true}, DeviceCase{u"NUL.tar.gz", true}, DeviceCase{u"NUL ", true},
        DeviceCase{u"NUL .txt", true}, DeviceCase{u"NUL.", true}, DeviceCase{u"COM1.txt", true},
        // Ports: one digit 0-9 or a superscript one to three.
        DeviceCase{u"COM0", true}, DeviceCase{u"COM1", true}, DeviceCase{u"COM9", true}, DeviceCase{u"lpt0", true},
        DeviceCase{u"LPT9", true}, DeviceCase{u"COM\u00B9", true}, DeviceCase{u"COM\u00B2", true},
        DeviceCase{u"COM\u00B3", true}, DeviceCase{u"LPT\u00B9", true}, DeviceCase{u"LPT\u00B3.log", true},
        DeviceCase{u"COM10", false}, DeviceCase{u"COM", false}, DeviceCase{u"COM\u2074", false},
        DeviceCase{u"COM\u00B0", false}, DeviceCase{u"COMA", false}, DeviceCase{u"LPT", false},
        DeviceCase{u"NULL", false}, DeviceCase{u"NU", false}, DeviceCase{u" NUL", false}, DeviceCase{u"xNUL", false},
        DeviceCase{u"CONIN", false}, DeviceCase{u"a.NUL", false}, DeviceCase{u"C:\\NUL\\x", false},
        DeviceCase{u"C:\\x\\", false}, DeviceCase{u"", false},
        // Typed in the "\\?\" form, a name is only a name.
        DeviceCase{u"\\\\?\\C:\\x\\NUL", false}));

}  // namespace
