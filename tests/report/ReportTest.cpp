#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "OutputParse.h"
#include "Report.h"

using namespace vestrel::report;
using vestrel::testing::JsonObject;
using vestrel::testing::ParseCsv;
using vestrel::testing::ParseJsonLine;

namespace {

const std::u16string kLoneHigh = std::u16string(1, char16_t(0xD83D));
const std::u16string kLoneLow = std::u16string(1, char16_t(0xDE00));
const std::u16string kPair = u"\U0001F600";

// Names a hostile volume can carry, and that every output must survive.
const std::vector<std::u16string> kHostileNames = {
    u"plain",
    u"with,comma",
    u"with \"quotes\"",
    u"line\r\nbreak",
    u" leading and trailing ",
    u"流数据",
    u"a" + kPair + u"b",
    u"lone" + kLoneHigh + u"high",
    u"lone" + kLoneLow + u"low",
    kLoneLow + kLoneHigh,  // a pair in the wrong order is two lone units
    u"tab\there\x01\x1f",
    u"back\\slash/and:colon",
    u"",
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::string Write(Format format, Columns columns, const std::vector<StreamRow>& rows) {
    std::string out;
    auto writer = RowWriter::Make(format, columns, [&](const std::string& s) { out += s; });
    for (const StreamRow& r : rows) writer->Row(r);
    writer->Finish();
    return out;
}

StreamRow Row(std::u16string path, std::u16string stream, uint64_t size, bool dir = false) {
    StreamRow r;
    r.path = std::move(path);
    r.stream = std::move(stream);
    r.size = size;
    r.isDirectory = dir;
    return r;
}

}  // namespace

// --- text ---

TEST(ReportText, Utf8RoundTripsEveryValidName) {
    for (const std::u16string& name : kHostileNames) {
        const bool hasLone = name.find(kLoneHigh) != std::u16string::npos ||
                             name.find(kLoneLow) != std::u16string::npos;
        if (hasLone) continue;
        EXPECT_EQ(FromUtf8(ToUtf8(name)), name);
    }
    EXPECT_EQ(ToUtf8(u"流"), "\xE6\xB5\x81");
    EXPECT_EQ(ToUtf8(kPair), "\xF0\x9F\x98\x80");
}

TEST(ReportText, LoneSurrogatesBecomeReplacementInUtf8) {
    EXPECT_EQ(ToUtf8(u"a" + kLoneHigh), "a\xEF\xBF\xBD");
    EXPECT_EQ(ToUtf8(kLoneLow + kLoneHigh), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(ReportText, InvalidUtf8BecomesReplacementWithoutSwallowingWhatFollows) {
    const std::u16string fffd(1, char16_t(0xFFFD));
    EXPECT_EQ(FromUtf8("a\xFFz"), u"a" + fffd + u"z");
    EXPECT_EQ(FromUtf8("\xC0\xAFz"), fffd + fffd + u"z");           // overlong '/'
    EXPECT_EQ(FromUtf8("\xED\xA0\x80z"), fffd + fffd + fffd + u"z");  // encoded surrogate
    EXPECT_EQ(FromUtf8("\xE6\xB5"), fffd + fffd);                     // cut short
    EXPECT_EQ(FromUtf8("\xF4\x90\x80\x80"), std::u16string(4, char16_t(0xFFFD)));  // past U+10FFFF
}

TEST(ReportText, JsonStringDecodesBackToTheExactUnits) {
    for (const std::u16string& name : kHostileNames) {
        JsonObject obj;
        ASSERT_TRUE(ParseJsonLine("{\"n\":" + JsonString(name) + "}", &obj)) << JsonString(name);
        EXPECT_EQ(obj.strings["n"], name) << JsonString(name);
    }
    EXPECT_EQ(JsonString(u"a" + kLoneHigh), "\"a\\ud83d\"");
}

TEST(ReportText, CsvFieldsParseBackWhole) {
    for (const std::u16string& name : kHostileNames) {
        const std::string field = ToUtf8(name);
        const auto parsed = ParseCsv(CsvField(field) + "," + CsvField("x") + "\r\n");
        ASSERT_TRUE(parsed.ok) << CsvField(field);
        ASSERT_EQ(parsed.records.size(), 1u) << CsvField(field);
        EXPECT_EQ(parsed.records[0], (std::vector<std::string>{field, "x"}));
    }
    EXPECT_EQ(CsvField("plain"), "plain");
}

// Facts (digests, zone fields, notes) reach the writers as UTF-8 and skip
// the round trip through UTF-16 when they are plain: the output must be what
// the round trip gives, on each side of every byte bound.
TEST(ReportText, Utf8FactsAreWrittenAsTheirUtf16FormWouldBe) {
    const std::vector<std::string> cases = {
        "", "plain", "\x1f", " ", "~", "\x7f", "\x80", "\xFF", "\"", "\\", "a\tb", "a\nb",
        "f\xC3\xA9", "\xE6\xB5", "\xE6\xB5\x81", "\xF0\x9F\x98\x80", "\xED\xA0\x80", "x,y", " lead",
    };
    for (const std::string& s : cases) {
        EXPECT_EQ(CleanUtf8(s), ToUtf8(FromUtf8(s))) << s;
        EXPECT_EQ(JsonStringUtf8(s), JsonString(FromUtf8(s))) << s;
    }
}

// --- writers ---

TEST(ReportWriters, CsvHasHeaderAndOneRecordPerRowWithChosenColumns) {
    std::vector<StreamRow> rows;
    for (const std::u16string& name : kHostileNames) rows.push_back(Row(u"C:\\d\\" + name, name, 5000000000ull));
    rows.back().isDirectory = true;
    for (auto& r : rows) r.volume = u"p2", r.savedAs = u"x~" + r.stream;

    const auto plain = ParseCsv(Write(Format::Csv, {}, rows));
    ASSERT_TRUE(plain.ok);
    ASSERT_EQ(plain.records.size(), rows.size() + 1);
    EXPECT_EQ(plain.records[0], (std::vector<std::string>{"path", "stream", "size", "directory"}));
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(plain.records[i + 1],
                  (std::vector<std::string>{ToUtf8(rows[i].path), ToUtf8(rows[i].stream), "5000000000",
                                            rows[i].isDirectory ? "true" : "false"}));
    }

    const auto full = ParseCsv(Write(Format::Csv, {true, true}, rows));
    ASSERT_TRUE(full.ok);
    EXPECT_EQ(full.records[0],
              (std::vector<std::string>{"volume", "path", "stream", "size", "directory", "saved_as"}));
    EXPECT_EQ(full.records[1][0], "p2");
    EXPECT_EQ(full.records[1][5], ToUtf8(rows[0].savedAs));
}

TEST(ReportWriters, JsonIsOneParseableObjectPerLine) {
    std::vector<StreamRow> rows;
    for (const std::u16string& name : kHostileNames) rows.push_back(Row(u"\\dir\\" + name, name, 7));
    rows[1].isDirectory = true;
    rows[2].size = UINT64_MAX;
    const auto lines = Lines(Write(Format::Json, {true, false}, rows));
    ASSERT_EQ(lines.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        JsonObject obj;
        ASSERT_TRUE(ParseJsonLine(lines[i], &obj)) << lines[i];
        EXPECT_EQ(obj.keys, (std::vector<std::string>{"volume", "path", "stream", "size", "directory"}));
        EXPECT_EQ(obj.strings["path"], rows[i].path);
        EXPECT_EQ(obj.strings["stream"], rows[i].stream);
        EXPECT_EQ(obj.numbers["size"], rows[i].size);
        EXPECT_EQ(obj.booleans["directory"], rows[i].isDirectory);
    }
}

TEST(ReportWriters, TableKeepsEachRowOnOneLineWithSizesAligned) {
    std::vector<StreamRow> rows;
    for (const std::u16string& name : kHostileNames) rows.push_back(Row(u"C:\\a", name, 12));
    rows[0].size = 123456789012ull;
    const auto lines = Lines(Write(Format::Table, {}, rows));
    ASSERT_EQ(lines.size(), rows.size() + 1);
    const size_t sizeEnd = lines[0].find("SIZE") + 4;
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].find("file  C:\\a:"), sizeEnd + 2) << lines[i];
        EXPECT_EQ(lines[i].find('\r'), std::string::npos);
    }
    EXPECT_NE(lines[1].find("123456789012  file"), std::string::npos);
}

// The columns of a listing that offers deleted files, in each format: after
// "directory", before "saved_as"; a live row says "no" with no recovery.
TEST(ReportWriters, DeletedColumnsInEveryFormat) {
    std::vector<StreamRow> rows = {Row(u"\\live.txt", u"s", 5), Row(u"\\$OrphanFiles\\gone.txt", u"t", 7)};
    rows[0].record = 64;
    rows[1].deleted = true, rows[1].record = 4294967297ull, rows[1].recovery = u"overwritten";
    for (auto& r : rows) r.savedAs = u"f";
    Columns columns;
    columns.deleted = true;
    columns.savedAs = true;

    const auto csv = ParseCsv(Write(Format::Csv, columns, rows));
    ASSERT_TRUE(csv.ok);
    ASSERT_EQ(csv.records.size(), 3u);
    EXPECT_EQ(csv.records[0], (std::vector<std::string>{"path", "stream", "size", "directory", "deleted", "record",
                                                        "recovery", "saved_as"}));
    EXPECT_EQ(csv.records[1], (std::vector<std::string>{"\\live.txt", "s", "5", "false", "no", "64", "", "f"}));
    EXPECT_EQ(csv.records[2], (std::vector<std::string>{"\\$OrphanFiles\\gone.txt", "t", "7", "false", "yes",
                                                        "4294967297", "overwritten", "f"}));

    const auto lines = Lines(Write(Format::Json, columns, rows));
    ASSERT_EQ(lines.size(), 2u);
    JsonObject obj;
    ASSERT_TRUE(ParseJsonLine(lines[1], &obj)) << lines[1];
    EXPECT_EQ(obj.keys, (std::vector<std::string>{"path", "stream", "size", "directory", "deleted", "record", "recovery",
                                                  "saved_as"}));
    EXPECT_EQ(obj.strings["deleted"], u"yes");
    EXPECT_EQ(obj.numbers["record"], 4294967297ull);
    EXPECT_EQ(obj.strings["recovery"], u"overwritten");

    const auto table = Lines(Write(Format::Table, columns, rows));
    ASSERT_EQ(table.size(), 3u);
    // The path starts in the same column on every line, the header's too.
    const size_t pathAt = table[0].find("PATH:STREAM");
    EXPECT_EQ(table[1].find("\\live.txt:s"), pathAt) << table[1];
    EXPECT_EQ(table[2].find("\\$OrphanFiles"), pathAt) << table[2];
    EXPECT_NE(table[2].find("yes"), std::string::npos);
    EXPECT_NE(table[2].find("overwritten"), std::string::npos);

    // Without the flag none of it shows.
    EXPECT_EQ(Lines(Write(Format::Csv, {}, rows))[0], "path,stream,size,directory\r");
}

// --- names ---

TEST(ReportNames, ExclusionIsTheEnginesRule) {
    EXPECT_TRUE(IsExcludedName(u"Zone.Identifier"));
    EXPECT_TRUE(IsExcludedName(u"FAVICON"));
    EXPECT_TRUE(IsExcludedName(u"OECustomProperty"));
    EXPECT_FALSE(IsExcludedName(u"favicon2"));
    EXPECT_FALSE(IsExcludedName(u"zone.identifier "));
    EXPECT_FALSE(IsExcludedName(u""));
}

class SafeExtractNameTest : public ::testing::TestWithParam<std::pair<std::u16string, std::u16string>> {};

TEST_P(SafeExtractNameTest, CannotEscapeOrCollideWithDevicesAndStaysShort) {
    const auto& [rel, stream] = GetParam();
    const std::u16string name = SafeExtractName(rel, stream);
    ASSERT_FALSE(name.empty());
    EXPECT_LE(name.size(), 200u);
    EXPECT_NE(name, u".");
    EXPECT_NE(name, u"..");
    EXPECT_EQ(name.find_first_of(u"\\/:*?\"<>|"), std::u16string::npos);
    for (char16_t c : name) EXPECT_GE(c, 0x20);
    EXPECT_NE(name.back(), u'.');
    EXPECT_NE(name.back(), u' ');
    for (size_t i = 0; i < name.size(); ++i) {
        const bool high = name[i] >= 0xD800 && name[i] <= 0xDBFF;
        const bool low = name[i] >= 0xDC00 && name[i] <= 0xDFFF;
        if (high) {
            ASSERT_LT(i + 1, name.size());
            EXPECT_TRUE(name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF);
            ++i;
        } else {
            EXPECT_FALSE(low);
        }
    }
    std::u16string upper;
    for (char16_t c : name.substr(0, name.find(u'.'))) upper.push_back(c >= u'a' && c <= u'z' ? c - 32 : c);
    for (const char16_t* dev : {u"CON", u"NUL", u"AUX", u"PRN", u"COM1", u"LPT9"}) EXPECT_NE(upper, dev);
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, SafeExtractNameTest,
    ::testing::Values(std::make_pair(u"a\\b.txt", u"s"), std::make_pair(u"..\\..\\etc", u"passwd"),
                      std::make_pair(u"../..", u".."), std::make_pair(u"", u""), std::make_pair(u".", u"."),
                      std::make_pair(u"\\", u"x"), std::make_pair(u"CON", u""), std::make_pair(u"nul.txt", u""),
                      std::make_pair(u"dir", u"trailing. . "), std::make_pair(u"x", u"a:b*c?d\"e<f>g|h"),
                      std::make_pair(u"x", u"ctl\x01\x1f"), std::make_pair(u"x", kLoneHigh + u"y" + kLoneLow),
                      std::make_pair(std::u16string(300, u'a'), std::u16string(300, u'b')),
                      std::make_pair(std::u16string(182, u'a'), kPair + kPair + kPair)));

TEST(ReportNames, DifferentLongNamesStayApartAndShortOnesReadable) {
    const std::u16string longDir(250, u'd');
    EXPECT_NE(SafeExtractName(longDir + u"1", u"s"), SafeExtractName(longDir + u"2", u"s"));
    EXPECT_EQ(SafeExtractName(u"docs\\a.txt", u"secret.bin"), u"docs_a.txt~secret.bin");
    EXPECT_EQ(SafeExtractName(u"", u"s"), u"_root~s");
}

TEST(ReportNames, NumberedNameGoesBeforeTheExtension) {
    EXPECT_EQ(NumberedName(u"a.txt~s.bin", 2), u"a.txt~s (2).bin");
    EXPECT_EQ(NumberedName(u"noext", 1), u"noext (1)");
    EXPECT_EQ(NumberedName(u".hidden", 3), u".hidden (3)");
}

// --- statuses and options ---

TEST(ReportStatus, UsageBeatsFoundBeatsPartial) {
    EXPECT_EQ(FinalStatus(false, false, false, false), kExitOk);
    EXPECT_EQ(FinalStatus(false, true, false, false), kExitOk);
    EXPECT_EQ(FinalStatus(false, true, false, true), kExitPartial);
    EXPECT_EQ(FinalStatus(false, true, true, true), kExitFound);
    EXPECT_EQ(FinalStatus(false, false, true, true), kExitPartial);
    EXPECT_EQ(FinalStatus(true, true, true, true), kExitUsage);
}

// --- progress ---

TEST(ReportProgress, AtMostTenUpdatesASecondAndClearedAtTheEnd) {
    Progress p(60);
    int shown = 0;
    for (uint64_t ms = 0; ms < 1000; ms += 5) {
        if (!p.Tick(ms, u"C:\\x").empty()) ++shown;
    }
    EXPECT_EQ(p.Entries(), 200u);
    EXPECT_GE(shown, 8);
    EXPECT_LE(shown, 10);
    const std::string clear = p.Clear();
    EXPECT_EQ(clear.front(), '\r');
    EXPECT_EQ(clear.back(), '\r');
    EXPECT_EQ(p.Clear(), "");
    EXPECT_EQ(Progress().Clear(), "");  // nothing shown, nothing to clear
}

TEST(ReportProgress, LongFoldersKeepTheirTailWithinTheWidth) {
    Progress p(40);
    p.Tick(0, u"");
    const std::u16string folder = u"C:\\" + std::u16string(100, u'x') + u"\\深层目录";
    const std::string line = p.Tick(200, folder);
    ASSERT_FALSE(line.empty());
    EXPECT_NE(line.find("...xx"), std::string::npos);
    EXPECT_NE(line.find(ToUtf8(u"\\深层目录")), std::string::npos);
    // Columns: ASCII one each, the four CJK characters two each.
    const size_t columns = line.size() - 1 - 4 * 3 + 4 * 2;
    EXPECT_LE(columns, 40u);

    // A shorter line after a longer one pads over the rest.
    const std::string shorter = p.Tick(400, u"C:\\y");
    EXPECT_EQ(shorter.size(), columns + 1);
}
