// The facts read from stream content and the new outputs, each rule pinned
// on both sides of its bound; outputs are parsed back, not compared whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
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

std::string Utf16Le(const std::u16string& s) {
    std::string out = "\xFF\xFE";
    for (char16_t c : s) out.push_back(char(c & 0xFF)), out.push_back(char(c >> 8));
    return out;
}
std::string Utf16Be(const std::u16string& s) {
    std::string out = "\xFE\xFF";
    for (char16_t c : s) out.push_back(char(c >> 8)), out.push_back(char(c & 0xFF));
    return out;
}
std::string Zone(const std::string& body) { return "[ZoneTransfer]\r\n" + body; }

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == sep) out.push_back(cur), cur.clear();
        else cur += c;
    }
    out.push_back(cur);
    return out;
}

// Reads from memory; fails at byte `failAt` to model a damaged run.
ReadAt MemoryReader(const std::string& bytes, uint64_t failAt = UINT64_MAX) {
    return [bytes, failAt](uint64_t offset, void* buffer, size_t want, size_t* got, std::string* error) {
        if (offset + want > failAt) {
            *error = "read error";
            return false;
        }
        const size_t n = offset >= bytes.size() ? 0 : std::min(want, size_t(bytes.size() - offset));
        std::copy(bytes.data() + offset, bytes.data() + offset + n, static_cast<char*>(buffer));
        *got = n;
        return true;
    };
}

}  // namespace

// --- digests ---

TEST(ReportHash, KnownVectorsWholeAndInPieces) {
    struct Case {
        HashAlgorithm algorithm;
        std::string input, hex;
    };
    const std::string million(1000000, 'a');
    const Case cases[] = {
        {HashAlgorithm::Md5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {HashAlgorithm::Md5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {HashAlgorithm::Sha1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {HashAlgorithm::Sha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {HashAlgorithm::Sha256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {HashAlgorithm::Sha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {HashAlgorithm::Sha256, million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HexDigestOf(c.algorithm, c.input), c.hex) << HashName(c.algorithm);
        // Odd-sized pieces: block boundaries must not matter.
        auto h = Hasher::Make(c.algorithm);
        ASSERT_TRUE(h);
        for (size_t at = 0; at < c.input.size(); at += 4099) h->Update(c.input.data() + at, std::min<size_t>(4099, c.input.size() - at));
        EXPECT_EQ(h->HexDigest(), c.hex) << HashName(c.algorithm);
    }
}

TEST(ReportHash, HashListsAreCheckedWordByWord) {
    struct Case {
        const char* text;
        bool ok;
        size_t count;
    };
    const Case cases[] = {{"sha256", true, 1}, {"md5,sha1,sha256", true, 3}, {"sha256,sha256", true, 1},
                          {"", false, 0},      {"sha256,", false, 0},         {",md5", false, 0},
                          {"SHA256", false, 0}, {"sha512", false, 0},         {"sha2566", false, 0}};
    for (const Case& c : cases) {
        std::vector<HashAlgorithm> list;
        std::string bad;
        EXPECT_EQ(ParseHashList(c.text, &list, &bad), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(list.size(), c.count) << c.text;
        }
    }
}

// --- Zone.Identifier ---

TEST(ReportZone, ReadsTheFieldsInEveryEncoding) {
    const std::u16string text = u"[ZoneTransfer]\r\nZoneId=3\r\nReferrerUrl=https://example.com/p\r\n"
                                u"HostUrl=https://example.com/f\u00e9.exe\r\nAppZoneId=4\r\n"
                                u"LastWriterPackageFamilyName=Microsoft.Edge_8wekyb3d8bbwe\r\n";
    const std::string utf8 = ToUtf8(text);
    std::string ansi = utf8;
    ansi.replace(ansi.find("\xC3\xA9"), 2, "\xE9");
    for (const std::string& bytes : {utf8, "\xEF\xBB\xBF" + utf8, Utf16Le(text), Utf16Be(text), ansi}) {
        const ZoneParse z = ParseZoneIdentifier(bytes, bytes.size());
        EXPECT_TRUE(z.wellFormed) << z.problem;
        EXPECT_EQ(z.info.zoneId, "3");
        EXPECT_EQ(z.info.hostUrl, "https://example.com/f\xC3\xA9.exe");
        EXPECT_EQ(z.info.referrerUrl, "https://example.com/p");
        EXPECT_EQ(z.info.appZoneId, "4");
        EXPECT_EQ(z.info.lastWriterPackageFamilyName, "Microsoft.Edge_8wekyb3d8bbwe");
    }
    // Windows-1252's own block: 0x80 is the euro sign, not U+0080.
    EXPECT_EQ(ParseZoneIdentifier(Zone("ZoneId=3\nHostUrl=\x80\n"), 30).info.hostUrl, "\xE2\x82\xAC");
}

TEST(ReportZone, MalformedAndHostileFilesAreNotWellFormed) {
    struct Case {
        std::string bytes;
        uint64_t size;  // 0: the bytes' own size
        bool wellFormed;
        const char* zoneId;
    };
    const std::string big(kMaxZoneFileSize, ' ');
    const Case cases[] = {
        {Zone("ZoneId=3\n"), 0, true, "3"},
        {Zone("zoneid = 3 \n; a comment\n"), 0, true, "3"},  // keys are case-insensitive, blanks trimmed
        {Zone("ZoneId=0"), 0, true, "0"},
        {Zone("ZoneId=4"), 0, true, "4"},
        {Zone("ZoneId=5"), 0, false, "5"},
        {Zone("ZoneId=-1"), 0, false, "-1"},
        {Zone("ZoneId=33"), 0, false, "33"},
        {Zone("HostUrl=x"), 0, false, ""},                       // no ZoneId
        {"ZoneId=3\n", 0, false, ""},                             // no section
        {"[Other]\nZoneId=3\n", 0, false, ""},                    // not in the section
        {Zone("ZoneId=3\nZoneId=0\n"), 0, false, "3"},            // repeated: the first kept
        {Zone("ZoneId=3\nHostUrl=a\nhosturl=b\n"), 0, false, "3"},
        {Zone("ZoneId=3\n[ZoneTransfer]\nZoneId=1\n"), 0, false, "3"},
        {Zone("ZoneId=3\nnonsense\n"), 0, false, "3"},
        {Zone("ZoneId=3\n") + std::string("\0\x01", 2), 0, false, ""},  // binary
        {std::string("MZ\x90\x00\x03", 5) + Zone("ZoneId=3\n"), 0, false, ""},
        {"\xFF\xFE[\x00Z", 0, false, ""},                         // UTF-16 cut in half
        {"", 0, false, ""},
        {Zone("ZoneId=3\n") + big.substr(0, kMaxZoneFileSize - Zone("ZoneId=3\n").size()), 0, true, "3"},
        {Zone("ZoneId=3\n") + big.substr(0, kMaxZoneFileSize - Zone("ZoneId=3\n").size() + 1), 0, false, "3"},
        {Zone("ZoneId=3\n"), 48 * 1024, false, "3"},             // the rest never read
    };
    for (const Case& c : cases) {
        const ZoneParse z = ParseZoneIdentifier(c.bytes, c.size == 0 ? c.bytes.size() : c.size);
        EXPECT_EQ(z.wellFormed, c.wellFormed) << c.bytes.substr(0, 60);
        EXPECT_EQ(z.wellFormed, z.problem.empty()) << c.bytes.substr(0, 60);
        EXPECT_EQ(z.info.zoneId, c.zoneId) << c.bytes.substr(0, 60);
    }
}

// --- content kind ---

TEST(ReportKind, FirstBytesDecideAndOneByteShortDoesNot) {
    struct Case {
        std::string head;
        const char* kind;
    };
    const std::string zip = std::string("PK\x03\x04", 4) + std::string(26, '\0');
    const Case cases[] = {
        {"MZ\x90", "pe"},
        {"M", "text"},
        {"\x7F" "ELF\x02", "elf"},
        {"\x7F" "EL", "binary"},
        {"#!/bin/sh\necho hi\n", "script"},
        {"@ECHO OFF\r\n", "script"},
        {"  @echo off", "script"},
        {"$c = New-Object Net.WebClient", "script"},
        {"Set o = CreateObject(\"WScript.Shell\")", "script"},
        {ToUtf8(u"") + Utf16Le(u"IEX (Invoke-Expression $x)"), "script"},
        {zip + "[Content_Types].xml", "office"},
        {zip + "word/document.xml", "office"},
        {zip + "payload.exe", "archive"},
        {std::string("PK\x03", 3), "binary"},
        {"7z\xBC\xAF\x27\x1C", "archive"},
        {"7z\xBC\xAF\x27", "binary"},
        {"Rar!\x1A\x07\x00", "archive"},
        {"MSCF\0\0\0\0", "archive"},
        {"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", "office"},
        {"\xD0\xCF\x11\xE0\xA1\xB1\x1A", "binary"},
        {"%PDF-1.7", "pdf"},
        {"%PDF", "text"},
        {"\x89PNG\r\n\x1A\n", "image"},
        {"\x89PNG\r\n\x1A", "binary"},
        {"GIF89a", "image"},
        {"GIF89", "text"},
        {"\xFF\xD8\xFF\xE0", "image"},
        {std::string("\0\0\1\0\1\0", 6), "image"},  // icon
        {"Hello, world\r\n", "text"},
        {"caf\xC3\xA9", "text"},
        {"caf\xE9", "binary"},  // not UTF-8: no script host reads it as text
        {Utf16Le(u"plain words"), "text"},
        {std::string("\0\1\2\3", 4), "binary"},
    };
    for (const Case& c : cases) EXPECT_EQ(DetectKind(c.head, c.head.size()), c.kind) << c.head;
    EXPECT_EQ(DetectKind("", 0), "empty");
    EXPECT_EQ(DetectKind("MZ", 0), "empty");
    // A probe that cuts a UTF-8 character in two is still text.
    std::string cut(kKindProbeBytes - 1, 'a');
    cut += "\xE6";
    EXPECT_EQ(DetectKind(cut, 1 << 20), "text");
}

// --- what the usual names hold ---

TEST(ReportFacts, UsualNamesAreHiddenOnlyWhenTheyHoldWhatTheNameSays) {
    struct Case {
        std::u16string stream;
        std::string content;
        bool noted;
    };
    const std::string zone = Zone("ZoneId=3\r\nHostUrl=https://example.com/a.zip\r\n");
    std::string evasion(48 * 1024, '\0');
    evasion.replace(0, 2, "MZ");
    const std::string png = "\x89PNG\r\n\x1A\n";
    const Case cases[] = {
        {u"Zone.Identifier", zone, false},
        {u"ZONE.IDENTIFIER", zone, false},
        {u"Zone.Identifier", evasion, true},
        {u"Zone.Identifier", Zone("ZoneId=3\nZoneId=0\n"), true},
        {u"Zone.Identifier", "#!/bin/sh\n", true},
        {u"favicon", png + std::string(100, 'x'), false},
        {u"favicon", png + std::string(kMaxFaviconSize - png.size(), 'x'), false},
        {u"favicon", png + std::string(kMaxFaviconSize - png.size() + 1, 'x'), true},
        {u"favicon", "MZ", true},
        {u"OECustomProperty", std::string("\x01\x00\x02\x00", 4), false},
        {u"OECustomProperty", std::string(kMaxCustomPropertySize, '\x01'), false},
        {u"OECustomProperty", std::string(kMaxCustomPropertySize + 1, '\x01'), true},
        {u"OECustomProperty", "%PDF-1.4", true},
    };
    for (const Case& c : cases) {
        StreamRow row;
        row.stream = c.stream;
        row.size = c.content.size();
        std::string error;
        FactOptions options;
        options.kind = true;
        ASSERT_TRUE(ReadFacts(options, MemoryReader(c.content), &row, &error)) << error;
        EXPECT_EQ(!row.note.empty(), c.noted) << ToUtf8(c.stream) << " " << c.content.size() << ": " << row.note;
    }
    // The evasion case says what it found.
    StreamRow row;
    row.stream = u"Zone.Identifier";
    row.size = evasion.size();
    std::string error;
    ASSERT_TRUE(ReadFacts({}, MemoryReader(evasion), &row, &error));
    EXPECT_NE(row.note.find("pe"), std::string::npos) << row.note;
    EXPECT_NE(row.note.find("49152"), std::string::npos) << row.note;
}

TEST(ReportFacts, DigestsCoverTheWholeStreamAndAreEmptyWhenItCannotBeRead) {
    std::string content(3 * (1 << 20) + 17, 'q');
    content[0] = 'M', content[1] = 'Z';
    FactOptions options;
    options.kind = true;
    options.hashes = {HashAlgorithm::Sha256, HashAlgorithm::Md5};
    StreamRow row;
    row.stream = u"s";
    row.size = content.size();
    std::string error;
    ASSERT_TRUE(ReadFacts(options, MemoryReader(content), &row, &error)) << error;
    EXPECT_EQ(row.sha256, HexDigestOf(HashAlgorithm::Sha256, content));
    EXPECT_EQ(row.md5, HexDigestOf(HashAlgorithm::Md5, content));
    EXPECT_TRUE(row.sha1.empty());
    EXPECT_EQ(row.kind, "pe");

    StreamRow broken;
    broken.stream = u"s";
    broken.size = content.size();
    EXPECT_FALSE(ReadFacts(options, MemoryReader(content, 2 << 20), &broken, &error));
    EXPECT_TRUE(broken.sha256.empty());
    EXPECT_TRUE(broken.md5.empty());
    EXPECT_EQ(broken.kind, "pe");  // the head was read before the failure

    // A stream shorter than its recorded size is a failure too, not a digest
    // of what happened to be there.
    StreamRow shortRow;
    shortRow.stream = u"s";
    shortRow.size = content.size() + 1;
    EXPECT_FALSE(ReadFacts(options, MemoryReader(content), &shortRow, &error));
    EXPECT_TRUE(shortRow.sha256.empty());
}

// --- filters ---

TEST(ReportFilter, GlobsFoldCaseAsNtfsAndMatchWhole) {
    struct Case {
        std::u16string pattern, text;
        bool match;
    };
    const Case cases[] = {
        {u"zone.*", u"Zone.Identifier", true},   {u"ZONE.IDENTIFIER", u"zone.identifier", true},
        {u"a?", u"a", false},                    {u"a?", u"ab", true},
        {u"a?", u"abc", false},                  {u"*", u"", true},
        {u"?", u"", false},                      {u"*.exe", u"x.EXE", true},
        {u"*.exe", u"x.exe.txt", false},         {u"\u00e9t\u00e9", u"\u00c9T\u00c9", true},
        {u"\u0434\u0430\u043d\u043d\u044b\u0435", u"\u0414\u0410\u041d\u041d\u042b\u0415", true},
        {u"*\\temp\\*", u"\\Users\\a\\Temp\\x.txt", true},
        {u"*\\temp\\*", u"\\Users\\a\\Temporary\\x", false},
        {u"a*a*a*a*a*a*a*a*b", std::u16string(5000, u'a'), false},
    };
    for (const Case& c : cases) EXPECT_EQ(GlobMatch(c.pattern, c.text), c.match) << ToUtf8(c.pattern) << " ~ " << ToUtf8(c.text);
}

TEST(ReportFilter, SizeBoundsAreInclusiveOnBothSides) {
    Filters f;
    f.minSize = 10;
    f.maxSize = 20;
    StreamRow row;
    row.stream = u"s";
    for (uint64_t size : {9, 10, 20, 21}) {
        row.size = size;
        EXPECT_EQ(f.KeepsByName(row), size >= 10 && size <= 20) << size;
    }
    f = Filters();
    f.names = {u"zone.*", u"evil"};
    f.excludes = {u"*\\skip\\*"};
    const struct {
        std::u16string path, stream;
        bool kept;
    } rows[] = {{u"\\a", u"Zone.Identifier", true}, {u"\\a", u"EVIL", true}, {u"\\a", u"evil2", false},
                {u"\\skip\\a", u"evil", false}, {u"\\skipped\\a", u"evil", true}};
    for (const auto& r : rows) {
        row.path = r.path, row.stream = r.stream, row.size = 1;
        EXPECT_EQ(f.KeepsByName(row), r.kept) << ToUtf8(r.path) << ":" << ToUtf8(r.stream);
    }
    std::vector<std::string> kinds;
    std::string bad;
    EXPECT_TRUE(ParseKindList("pe,script", &kinds, &bad));
    f.kinds = kinds;
    EXPECT_TRUE(f.KeepsKind("pe"));
    EXPECT_FALSE(f.KeepsKind("text"));
    for (const char* wrong : {"", "pe,", "exe", "PE", "pe,,script"}) {
        std::vector<std::string> k;
        EXPECT_FALSE(ParseKindList(wrong, &k, &bad)) << wrong;
    }
}

// --- command-line values ---

TEST(ReportOptions, OffsetsInBytesOrSectorsWithOverflowRefused) {
    struct Case {
        const char* text;
        bool ok;
        uint64_t value;
    };
    const Case cases[] = {
        {"0", true, 0},
        {"1048576", true, 1048576},
        {"2048s", true, 1048576},
        {"2048S", true, 1048576},
        {"0s", true, 0},
        {"18446744073709551615", true, UINT64_MAX},
        {"18446744073709551616", false, 0},
        {"36028797018963967s", true, 36028797018963967ull * 512},
        {"36028797018963968s", false, 0},
        {"s", false, 0},
        {"", false, 0},
        {"-1", false, 0},
        {"12k", false, 0},
        {"2048ss", false, 0},
        {" 2048", false, 0},
    };
    for (const Case& c : cases) {
        uint64_t v = 0;
        EXPECT_EQ(ParseOffset(c.text, &v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

// --- names ---

TEST(ReportNames, DeviceNamesWithTrailingSpacesAndExtensionsAreReserved) {
    struct Case {
        std::u16string name;
        bool reserved;
    };
    const Case cases[] = {{u"CON", true},      {u"con", true},      {u"con ", true},     {u"con  .txt", true},
                          {u"con.txt", true},  {u" con", false},    {u"cons", false},    {u"co", false},
                          {u"COM0", true},     {u"com9", true},     {u"COM", false},     {u"COM10", false},
                          {u"LPT1 .x", true},  {u"CONOUT$", true},  {u"CONIN$ ", true},  {u"NUL\u00e9", false},
                          {u"AUX", true},      {u"PRN.", true}};
    for (const Case& c : cases) EXPECT_EQ(IsReservedDeviceName(c.name), c.reserved) << ToUtf8(c.name);
    // And the extraction name built from one is never the device.
    EXPECT_EQ(SafeExtractName(u"con .txt", u"s")[0], u'_');
    EXPECT_NE(SafeExtractName(u"cons.txt", u"s")[0], u'_');
}

// --- times ---

TEST(ReportTimes, IsoAndUnixTimesAtTheCalendarsEdges) {
    struct Case {
        uint64_t ntfs;
        const char* iso;
    };
    const Case cases[] = {
        {0, ""},
        {1, "1601-01-01T00:00:00.0000001Z"},
        {116444736000000000ull, "1970-01-01T00:00:00.0000000Z"},
        {125963423990000000ull, "2000-02-29T23:59:59.0000000Z"},
        {125963424000000000ull, "2000-03-01T00:00:00.0000000Z"},
        {94405824000000000ull, "1900-03-01T00:00:00.0000000Z"},
        {157520160000000000ull, "2100-03-01T00:00:00.0000000Z"},
        {133801200000000000ull + 9999999, "2024-12-31T12:00:00.9999999Z"},
    };
    for (const Case& c : cases) EXPECT_EQ(IsoTime(c.ntfs), c.iso) << c.ntfs;
    EXPECT_EQ(UnixTime(116444736000000000ull - 1), 0);
    EXPECT_EQ(UnixTime(116444736000000000ull + 9999999), 0);
    EXPECT_EQ(UnixTime(116444736000000000ull + 10000000), 1);
    EXPECT_EQ(UnixTime(133801200000000000ull), 1735646400);
}

// --- outputs ---

namespace {

StreamRow Full() {
    StreamRow r;
    r.path = u"\\Users\\a\\dl.exe";
    r.stream = u"Zone.Identifier";
    r.size = 120;
    r.kind = "text";
    r.sha256 = "ab";
    r.zone.zoneId = "3";
    r.zone.hostUrl = "=HYPERLINK(\"http://x\")";
    r.times = {133801200000000000ull, 133801200010000000ull, 133801200020000000ull, 133801200030000000ull};
    r.nameTimes = r.times;
    r.hasReference = true;
    r.mftRecord = 64;
    r.mftSequence = 2;
    r.flags.known = true;
    r.flags.resident = true;
    r.note = "-note";
    return r;
}

Columns Everything() {
    Columns c;
    c.kind = c.md5 = c.sha1 = c.sha256 = c.zone = c.times = c.nameTimes = c.reference = c.fileId = c.flags = c.note = true;
    c.volume = c.savedAs = true;
    return c;
}

std::string Write(Format format, Columns columns, const std::vector<StreamRow>& rows, WriterOptions options = {}) {
    std::string out;
    auto writer = RowWriter::Make(format, columns, [&](const std::string& s) { out += s; }, options);
    for (const StreamRow& r : rows) writer->Row(r);
    writer->Finish();
    return out;
}

}  // namespace

TEST(ReportColumns, CsvAndJsonCarryTheSameNamedColumnsInOrder) {
    const Columns all = Everything();
    const auto names = ColumnNames(all);
    const auto csv = ParseCsv(Write(Format::Csv, all, {Full()}));
    ASSERT_TRUE(csv.ok);
    ASSERT_EQ(csv.records.size(), 2u);
    EXPECT_EQ(csv.records[0], names);
    ASSERT_EQ(csv.records[1].size(), names.size());
    auto at = [&](const std::string& name) {
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == name) return csv.records[1][i];
        return std::string("<missing>");
    };
    EXPECT_EQ(at("zone_id"), "3");
    EXPECT_EQ(at("host_url"), "=HYPERLINK(\"http://x\")");  // plain csv stays faithful
    EXPECT_EQ(at("modified"), "2024-12-31T12:00:01.0000000Z");
    EXPECT_EQ(at("fn_changed"), "2024-12-31T12:00:03.0000000Z");
    EXPECT_EQ(at("mft_record"), "64");
    EXPECT_EQ(at("resident"), "true");
    EXPECT_EQ(at("sparse"), "false");
    EXPECT_EQ(at("note"), "-note");

    JsonObject obj;
    ASSERT_TRUE(ParseJsonLine(Write(Format::Json, all, {Full()}), &obj));
    EXPECT_EQ(obj.keys, names);
    EXPECT_EQ(obj.numbers["mft_sequence"], 2u);
    EXPECT_EQ(obj.booleans["resident"], true);
    EXPECT_EQ(obj.strings["kind"], u"text");

    // Flags a source does not know are empty, not a guess of false.
    StreamRow unknown = Full();
    unknown.flags = {};
    unknown.hasReference = false;
    JsonObject u;
    ASSERT_TRUE(ParseJsonLine(Write(Format::Json, all, {unknown}), &u));
    EXPECT_EQ(u.strings["sparse"], u"");
    EXPECT_EQ(u.strings["mft_record"], u"");

    // A time not known is an empty cell in both, never a 1601 date.
    StreamRow timeless = Full();
    timeless.times.modified = 0;
    timeless.nameTimes = {};
    JsonObject t;
    ASSERT_TRUE(ParseJsonLine(Write(Format::Json, all, {timeless}), &t));
    EXPECT_EQ(t.strings["modified"], u"");
    EXPECT_EQ(t.strings["fn_created"], u"");
    EXPECT_EQ(t.strings["created"], u"2024-12-31T12:00:00.0000000Z");
    const auto tc = ParseCsv(Write(Format::Csv, all, {timeless}));
    ASSERT_TRUE(tc.ok);
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == "modified" || names[i].rfind("fn_", 0) == 0) {
            EXPECT_EQ(tc.records[1][i], "") << names[i];
        }
    }
}

TEST(ReportColumns, ExcelCsvHasABomAndNeutralisesFormulaCellsOnly) {
    Columns c;
    c.zone = c.note = true;
    std::vector<StreamRow> rows;
    for (const char* lead : {"=", "+", "-", "@", "\t", "\r", "a", " =", "'"}) {
        StreamRow r = Full();
        r.stream = FromUtf8(std::string(lead) + "cmd|' /C calc'!A0");
        rows.push_back(r);
    }
    const std::string text = Write(Format::Csv, c, rows, {true});
    ASSERT_EQ(text.compare(0, 3, "\xEF\xBB\xBF"), 0);
    const auto parsed = ParseCsv(text.substr(3));
    ASSERT_TRUE(parsed.ok);
    ASSERT_EQ(parsed.records.size(), rows.size() + 1);
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string original = ToUtf8(rows[i].stream);
        const bool formula = std::string("=+-@\t\r").find(original[0]) != std::string::npos;
        EXPECT_EQ(parsed.records[i + 1][1], formula ? "'" + original : original) << original;
        EXPECT_EQ(parsed.records[i + 1][2], "120");  // numbers untouched
    }
    // Without --excel: no mark and every cell as it is.
    const std::string plain = Write(Format::Csv, c, rows);
    EXPECT_NE(plain.compare(0, 3, "\xEF\xBB\xBF"), 0);
    EXPECT_EQ(ParseCsv(plain).records[1][1], ToUtf8(rows[0].stream));
}

TEST(ReportColumns, CsvQuotesEveryLineBreakOnItsOwn) {
    for (const char* name : {"bare\rcr", "bare\nlf", "\r", "a\r\nb", "trail\r"}) {
        const auto parsed = ParseCsv(CsvField(name) + ",x\r\n");
        ASSERT_TRUE(parsed.ok) << name;
        ASSERT_EQ(parsed.records.size(), 1u) << name;
        EXPECT_EQ(parsed.records[0], (std::vector<std::string>{name, "x"}));
    }
}

TEST(ReportBody, LinesHaveElevenFieldsAndHostileNamesCannotShiftThem) {
    StreamRow r = Full();
    r.stream = u"a|b\nc";
    r.md5 = "900150983cd24fb0d6963f7d28e17f72";
    const auto fields = Split(BodyLine(r), '|');
    ASSERT_EQ(fields.size(), 11u) << BodyLine(r);
    EXPECT_EQ(fields[0], r.md5);
    EXPECT_EQ(fields[1], "\\Users\\a\\dl.exe:a?b?c");
    EXPECT_EQ(fields[2], "64-128");
    EXPECT_EQ(fields[6], "120");
    EXPECT_EQ(fields[7], "1735646402");   // accessed
    EXPECT_EQ(fields[8], "1735646401");   // modified
    EXPECT_EQ(fields[9], "1735646403");   // changed
    EXPECT_EQ(fields[10], "1735646400");  // created
    StreamRow none;
    none.path = u"\\x";
    none.stream = u"s";
    EXPECT_EQ(Split(BodyLine(none), '|')[0], "0");
}

// mactime itself reads the lines back and puts each time in its place.
TEST(ReportBody, MactimeReadsTheLines) {
    if (std::system("command -v mactime >/dev/null 2>&1") != 0) GTEST_SKIP() << "mactime (sleuthkit) not installed";
    char dir[] = "/tmp/vestrel-body-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string body = std::string(dir) + "/body.txt", out = std::string(dir) + "/out.csv";
    StreamRow r = Full();
    r.stream = u"payload";
    {
        std::ofstream f(body);
        f << Write(Format::Body, {}, {r});
    }
    ASSERT_EQ(std::system(("mactime -b " + body + " -z UTC -d -y > " + out + " 2>/dev/null").c_str()), 0);
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    const auto records = ParseCsv(text.str()).records;
    std::vector<std::string> macb;
    for (const auto& rec : records) {
        if (rec.size() < 8 || rec.back().find("dl.exe:payload") == std::string::npos) continue;
        macb.push_back(rec[0] + " " + rec[2]);
    }
    std::string all;
    for (const auto& m : macb) all += m + "\n";
    EXPECT_EQ(macb.size(), 4u) << text.str();
    EXPECT_NE(all.find("2024-12-31T12:00:00Z ...b"), std::string::npos) << all;
    EXPECT_NE(all.find("2024-12-31T12:00:01Z m..."), std::string::npos) << all;
    EXPECT_NE(all.find("2024-12-31T12:00:02Z .a.."), std::string::npos) << all;
    EXPECT_NE(all.find("2024-12-31T12:00:03Z ..c."), std::string::npos) << all;
    std::system(("rm -rf " + std::string(dir)).c_str());
}

TEST(ReportNames, StreamSpecTakesExactlyDataAsItsType) {
    struct Case {
        std::u16string given, name;  // name "" when refused
    };
    const Case cases[] = {
        {u"s", u"s"},          {u"s:$DATA", u"s"},     {u"s:$data", u"s"},  {u"s:$Data", u"s"},
        {u"s:$DATAX", u""},    {u"s:$DATA ", u""},     {u"s:$DAT", u""},    {u"s:", u""},
        {u"s:$DATA:x", u""},   {u"s:$BITMAP", u""},    {u":$DATA", u""},    {u"", u""},
        {u"\u6d41:$DATA", u"\u6d41"}, {u"$DATA", u""},   {u"$data", u""},       {u"$DATA:$DATA", u"$DATA"},
        {u"$DATAX", u"$DATAX"},  {u"$DAT", u"$DAT"},
    };
    for (const Case& c : cases) {
        std::u16string name;
        std::string error;
        EXPECT_EQ(ParseStreamSpec(c.given, &name, &error), !c.name.empty()) << ToUtf8(c.given);
        if (!c.name.empty()) {
            EXPECT_EQ(name, c.name) << ToUtf8(c.given);
        } else {
            EXPECT_FALSE(error.empty()) << ToUtf8(c.given);
        }
    }
}

// A stream left unread (its file's data is elsewhere) is listed with a note
// unless only its content could have shown it: a usual name stays hidden
// without --all/--zones, and --kind cannot keep what it cannot judge.
TEST(ReportListing, UnreadStreamsAreNotedOrHiddenAsTheOptionsSay) {
    struct Case {
        const char* name;
        bool all, zones;
        std::vector<std::string> kinds;
        bool kept;
    };
    const Case cases[] = {
        {"payload", false, false, {}, true},
        {"Zone.Identifier", false, false, {}, false},
        {"favicon", false, false, {}, false},
        {"Zone.Identifier", true, false, {}, true},
        {"Zone.Identifier", false, true, {}, true},
        {"payload", false, false, {"pe"}, false},
        {"payload", true, false, {"pe", "script"}, false},
    };
    for (const Case& c : cases) {
        Listing listing;
        listing.all = c.all;
        listing.zones = c.zones;
        listing.filters.kinds = c.kinds;
        StreamRow row;
        row.stream = FromUtf8(c.name);
        row.size = 100;
        EXPECT_EQ(listing.LeaveUnread(&row), c.kept) << c.name << " all " << c.all << " zones " << c.zones;
        if (c.kept) {
            EXPECT_NE(row.note.find("not read"), std::string::npos) << row.note;
            EXPECT_TRUE(row.kind.empty() && row.sha256.empty());
        }
    }
}
