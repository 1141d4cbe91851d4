// vestrel-cli.exe run as a child process on real trees written through stream
// paths (where the platform keeps streams as "file:stream" siblings, those).
// Every output is parsed back: csv by RFC 4180, json line by line.
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ProgramDriver.h"
#include "Report.h"
#include "OutputParse.h"
#include "WinTestSupport.h"

using namespace testing_support;

namespace {

const std::wstring kExe = VESTREL_CLI_EXE;

struct Listed {
    std::u16string path, stream;
    unsigned long long size = 0;
    bool directory = false;
    bool operator<(const Listed& o) const { return path != o.path ? path < o.path : stream < o.stream; }
    bool operator==(const Listed& o) const {
        return path == o.path && stream == o.stream && size == o.size && directory == o.directory;
    }
};

std::u16string U(const std::wstring& w) { return std::u16string(w.begin(), w.end()); }
std::string Utf8(const std::wstring& w) { return vestrel::report::ToUtf8(U(w)); }

void PrintTo(const Listed& r, std::ostream* os) {
    *os << vestrel::report::ToUtf8(r.path) << ":" << vestrel::report::ToUtf8(r.stream) << " " << r.size
        << (r.directory ? " dir" : " file");
}

ConsoleRun Cli(const std::vector<std::wstring>& args) { return RunConsole(kExe, args); }

// Rows of csv output, by the header's column names, sorted.
std::vector<Listed> CsvRows(const std::string& out, std::vector<std::string>* savedAs = nullptr) {
    const vestrel::testing::CsvText csv = vestrel::testing::ParseCsv(out);
    EXPECT_TRUE(csv.ok) << out;
    const std::vector<std::vector<std::string>>& records = csv.records;
    std::vector<Listed> rows;
    if (records.empty()) return rows;
    const std::vector<std::string>& header = records[0];
    auto col = [&](const char* name) {
        return size_t(std::find(header.begin(), header.end(), name) - header.begin());
    };
    const size_t path = col("path"), stream = col("stream"), size = col("size"), dir = col("directory"),
                 saved = col("saved_as");
    EXPECT_LT(dir, header.size()) << out;
    for (size_t i = 1; i < records.size(); ++i) {
        const auto& r = records[i];
        if (r.size() != header.size()) {
            ADD_FAILURE() << "record " << i << " has " << r.size() << " fields: " << out;
            continue;
        }
        Listed row;
        row.path = vestrel::report::FromUtf8(r[path]);
        row.stream = vestrel::report::FromUtf8(r[stream]);
        row.size = std::stoull(r[size]);
        row.directory = r[dir] == "true";
        EXPECT_TRUE(r[dir] == "true" || r[dir] == "false") << r[dir];
        if (savedAs != nullptr && saved < r.size()) savedAs->push_back(r[saved]);
        rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

using vestrel::testing::JsonObject;

std::vector<JsonObject> JsonLines(const std::string& text) {
    std::vector<JsonObject> objects;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        JsonObject o;
        EXPECT_TRUE(vestrel::testing::ParseJsonLine(text.substr(start, end - start), &o)) << text.substr(start, end - start);
        objects.push_back(o);
        start = end + 1;
    }
    return objects;
}

std::vector<Listed> JsonRows(const std::string& out) {
    std::vector<Listed> rows;
    for (JsonObject& o : JsonLines(out)) {
        // The first keys as they always were; the facts follow them.
        EXPECT_EQ(std::vector<std::string>(o.keys.begin(), o.keys.begin() + std::min<size_t>(4, o.keys.size())),
                  (std::vector<std::string>{"path", "stream", "size", "directory"}));
        rows.push_back({o.strings["path"], o.strings["stream"], o.numbers["size"], o.booleans["directory"]});
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::vector<Listed> Sorted(std::vector<Listed> rows) {
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::vector<std::wstring> DirectoryNames(const std::wstring& dir) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring n = fd.cFileName;
        if (n != L"." && n != L"..") names.push_back(n);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

// A tree with file streams, a directory stream, an excluded name and a
// subdirectory two levels down.
struct Tree {
    TempDir tmp;
    std::wstring root = tmp.path() + L"\\t";
    Tree() {
        WriteBytes(root + L"\\a.txt", "main");
        WriteBytes(root + L"\\a.txt:one", "1");
        WriteBytes(root + L"\\a.txt:Zone.Identifier", "[ZoneTransfer]\r\nZoneId=3\r\n");
        WriteBytes(root + L"\\plain.txt", "no streams");
        WriteBytes(root + L"\\sub\\deep\\b.bin", "b");
        WriteBytes(root + L"\\sub\\deep\\b.bin:two", std::string(70000, 'x'));
        WriteBytes(root + L"\\sub:dirstream", "on a directory");
    }
    Listed Row(const std::wstring& rel, const char16_t* stream, unsigned long long size, bool dir = false) const {
        return {U(rel.empty() ? root : root + L"\\" + rel), stream, size, dir};
    }
};

}  // namespace

TEST(CliList, DirectoryListsItsEntriesAndRecursionTheWholeTree) {
    Tree t;
    ConsoleRun shallow = Cli({L"list", L"--quiet", t.root});
    EXPECT_EQ(shallow.exitCode, 0u) << shallow.err;
    EXPECT_EQ(CsvRows(shallow.out), Sorted({t.Row(L"a.txt", u"one", 1), t.Row(L"sub", u"dirstream", 14, true)}));

    ConsoleRun deep = Cli({L"list", L"-r", t.root});
    EXPECT_EQ(deep.exitCode, 0u) << deep.err;
    EXPECT_EQ(CsvRows(deep.out), Sorted({t.Row(L"a.txt", u"one", 1), t.Row(L"sub", u"dirstream", 14, true),
                                         t.Row(L"sub\\deep\\b.bin", u"two", 70000)}));
    EXPECT_EQ(deep.err.find('\r'), std::string::npos) << "no progress line when stderr is not a console";

    ConsoleRun all = Cli({L"list", L"--all", L"--format", L"json", t.root + L"\\a.txt"});
    EXPECT_EQ(all.exitCode, 0u) << all.err;
    EXPECT_EQ(JsonRows(all.out), Sorted({t.Row(L"a.txt", u"one", 1), t.Row(L"a.txt", u"Zone.Identifier", 26)}));
}

// On a console the program writes wide text, so CJK names arrive as they
// are, and a live status line shows while a walk runs, gone at the end;
// --quiet shows none.
TEST(CliConsole, WideTextAndALiveStatusLine) {
    TempDir tmp;
    const std::wstring root = tmp.path() + L"\\\u62a5\u544a";
    WriteBytes(root + L"\\\u5e74\u5ea6.docx", "doc");
    WriteBytes(root + L"\\\u5e74\u5ea6.docx:\u6458\u8981", "summary");
    for (int i = 0; i < 1500; ++i) WriteBytes(root + L"\\many\\f" + std::to_wstring(i), "x");

    auto joined = [](const std::vector<std::wstring>& rows) {
        std::wstring all;
        for (const std::wstring& r : rows) all += r + L"\n";
        return all;
    };
    auto status = [](const std::wstring& row) { return row.find(L" entries, ") != std::wstring::npos; };

    ConsoleScreen shown = RunOnConsole(kExe, {L"list", L"-r", root});
    ASSERT_EQ(shown.exitCode, 0u) << shown.problem << Utf8(joined(shown.screen));
    const std::wstring screen = joined(shown.screen);
    EXPECT_NE(screen.find(L"\u5e74\u5ea6.docx"), std::wstring::npos) << Utf8(screen);
    EXPECT_NE(screen.find(L"\u6458\u8981"), std::wstring::npos) << Utf8(screen);
    EXPECT_EQ(screen.find(L" entries, "), std::wstring::npos) << "the status line is cleared: " << Utf8(screen);
    EXPECT_TRUE(std::any_of(shown.seen.begin(), shown.seen.end(), status)) << Utf8(joined(shown.seen));

    ConsoleScreen quiet = RunOnConsole(kExe, {L"list", L"-r", L"--quiet", root});
    ASSERT_EQ(quiet.exitCode, 0u) << quiet.problem;
    EXPECT_NE(joined(quiet.screen).find(L"\u6458\u8981"), std::wstring::npos);
    EXPECT_FALSE(std::any_of(quiet.seen.begin(), quiet.seen.end(), status)) << Utf8(joined(quiet.seen));
}

TEST(CliList, RelativePathsAndTableOutput) {
    Tree t;
    ConsoleRun r = RunConsole(kExe, {L"list", L"--format=table", L"-r", L"t\\sub\\..\\sub"}, t.tmp.path());
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_NE(r.out.find(Utf8(t.root + L"\\sub\\deep\\b.bin:two")), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("70000"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\\\\?\\"), std::string::npos) << "paths are shown as typed, never extended";
}

TEST(CliList, HostileStreamNamesParseBackFromCsvAndJson) {
    TempDir tmp;
    const std::wstring file = tmp / L"\x62a5\x544a ,x'.txt";
    WriteBytes(file, "m");
    // Written through the extended form: no trailing space or dot is dropped.
    // Quotes and control characters are kept where the platform stores them
    // (NTFS does; a file system without streams may refuse them in names).
    const struct {
        std::wstring name;
        bool required;
    } names[] = {{L"comma,here", true}, {L" lead and trail. ", true}, {L"\x6570\x636e\x6d41", true},
                 {L"emoji\xD83D\xDE00", true}, {L"quote\"d", false}, {L"new\nline", false}, {L"\x0001ctl", false}};
    std::vector<Listed> expected;
    for (const auto& n : names) {
        const std::wstring stream = L"\\\\?\\" + file + L":" + n.name;
        const bool made = WriteBytes(stream, "abc") && Exists(stream);
        if (!made && n.required) ADD_FAILURE() << "could not create stream " << Utf8(n.name);
        if (!made && !n.required) std::printf("[ info    ] stream name %s refused by the platform\n", Utf8(n.name).c_str());
        if (made) expected.push_back({U(file), U(n.name), 3, false});
    }
    // A lone surrogate is kept only where the platform can store it.
    const std::wstring lone = L"lone\xD800x";
    const bool loneStored = WriteBytes(L"\\\\?\\" + file + L":" + lone, "abc") && Exists(L"\\\\?\\" + file + L":" + lone);
    if (loneStored) expected.push_back({U(file), U(lone), 3, false});
    std::printf("[ info    ] lone surrogate stream name stored by the platform: %s\n", loneStored ? "yes" : "no");
    expected = Sorted(expected);

    ConsoleRun json = Cli({L"list", L"--format", L"json", tmp.path()});
    EXPECT_EQ(json.exitCode, 0u) << json.err;
    EXPECT_EQ(JsonRows(json.out), expected);

    ConsoleRun csv = Cli({L"list", L"--format", L"csv", tmp.path()});
    EXPECT_EQ(csv.exitCode, 0u) << csv.err;
    std::vector<Listed> csvRows = CsvRows(csv.out);
    if (loneStored) {  // csv is UTF-8 text: the lone surrogate cannot be said there
        for (Listed& e : expected) {
            if (e.stream == U(lone)) e.stream = u"lone\xFFFDx";
        }
        expected = Sorted(expected);
    }
    EXPECT_EQ(csvRows, expected);
}

TEST(CliList, ExitStatusesAndOneErrorLinePerUnreadableEntry) {
    Tree t;
    const std::wstring missing = t.root + L"\\no-such-file.txt";
    ConsoleRun partial = Cli({L"list", missing, t.root + L"\\a.txt"});
    EXPECT_EQ(partial.exitCode, 1u);
    EXPECT_EQ(CsvRows(partial.out), Sorted({t.Row(L"a.txt", u"one", 1)})) << "the walk goes on";
    EXPECT_NE(partial.err.find(Utf8(missing) + ": "), std::string::npos) << partial.err;
    EXPECT_EQ(std::count(partial.err.begin(), partial.err.end(), '\n'), 1) << partial.err;

    EXPECT_EQ(Cli({L"list", L"--fail-if-found", t.root}).exitCode, 3u);
    EXPECT_EQ(Cli({L"list", L"--fail-if-found", t.root + L"\\plain.txt"}).exitCode, 0u);
    EXPECT_EQ(Cli({L"list", L"--fail-if-found", missing, t.root}).exitCode, 3u) << "found beats partial";

    for (const std::vector<std::wstring>& bad :
         std::vector<std::vector<std::wstring>>{{}, {L"frobnicate"}, {L"list"}, {L"list", L"--format", L"xml", L"."},
                                                {L"list", L"--bogus", L"."}, {L"cat"}, {L"cat", L"a:b", L"c:d"},
                                                {L"extract", t.root}, {L"delete"}}) {
        ConsoleRun r = Cli(bad);
        EXPECT_EQ(r.exitCode, 2u) << (bad.empty() ? "" : Utf8(bad[0]));
        EXPECT_FALSE(r.err.empty());
        EXPECT_TRUE(r.out.empty());
    }
    ConsoleRun help = Cli({L"--help"});
    EXPECT_EQ(help.exitCode, 0u);
    for (const char* word : {"list", "cat", "extract", "delete", "Exit status"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    // The overview and then every command's help are exactly usage.txt,
    // which the release's README.txt quotes.
    std::string printed = help.out;
    for (const wchar_t* command : {L"list", L"cat", L"extract", L"delete"}) {
        ConsoleRun one = Cli({command, L"--help"});
        EXPECT_EQ(one.exitCode, 0u) << Utf8(command);
        EXPECT_EQ(one.err, "");
        printed += "\n" + one.out;
    }
    bool read = false;
    const std::string usage = ReadBytes(VESTREL_CLI_USAGE_TXT, &read);
    ASSERT_TRUE(read);
    printed.erase(std::remove(printed.begin(), printed.end(), '\r'), printed.end());
    EXPECT_EQ(printed, usage);
}

TEST(CliUsage, OptionsBelongToTheirCommandAndBundle) {
    Tree t;
    auto noCr = [](std::string text) {
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    };
    // An option of list given to cat: two lines, status 2, nothing written.
    const ConsoleRun refused = Cli({L"cat", L"--recursive", t.root + L"\\a.txt:one"});
    EXPECT_EQ(refused.exitCode, 2u);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(noCr(refused.err), "vestrel-cli: cat: unknown option --recursive\n"
                                 "Try 'vestrel-cli cat --help' for more information.\n");
    const ConsoleRun none = Cli({});
    EXPECT_EQ(none.exitCode, 2u);
    EXPECT_EQ(noCr(none.err), "vestrel-cli: no command given\nTry 'vestrel-cli --help' for more information.\n");
    // -rq is -r -q, --format=csv is --format csv: the whole tree, no progress.
    const ConsoleRun bundled = Cli({L"list", L"-rq", L"--format=csv", t.root});
    EXPECT_EQ(bundled.exitCode, 0u) << bundled.err;
    EXPECT_EQ(CsvRows(bundled.out), Sorted({t.Row(L"a.txt", u"one", 1), t.Row(L"sub", u"dirstream", 14, true),
                                            t.Row(L"sub\\deep\\b.bin", u"two", 70000)}));
    const ConsoleRun all = Cli({L"list", L"-ra", L"--format", L"csv", L"--", t.root + L"\\a.txt"});
    EXPECT_EQ(CsvRows(all.out), Sorted({t.Row(L"a.txt", u"one", 1), t.Row(L"a.txt", u"Zone.Identifier", 26)}));
    // Each command's help shows its own options only.
    const ConsoleRun list = Cli({L"list", L"--help"});
    EXPECT_EQ(list.exitCode, 0u);
    EXPECT_EQ(list.out.rfind("usage: vestrel-cli list [options] PATH...", 0), 0u) << list.out;
    for (const char* own : {"--recursive", "--follow-links", "--fail-if-found", "--kind"})
        EXPECT_NE(list.out.find(own), std::string::npos) << own;
    for (const char* other : {"--dry-run", "--to", "--index-format"})
        EXPECT_EQ(list.out.find(other), std::string::npos) << other;
    const ConsoleRun cat = Cli({L"cat", L"/?"});
    EXPECT_EQ(cat.exitCode, 0u);
    EXPECT_EQ(cat.out.rfind("usage: vestrel-cli cat FILE:STREAM", 0), 0u) << cat.out;
    EXPECT_EQ(cat.out.find("--recursive"), std::string::npos);
}

TEST(CliCat, WritesTheStreamByteForByte) {
    TempDir tmp;
    std::string bytes;
    for (int round = 0; round < 1200; ++round) {
        for (int b = 0; b < 256; ++b) bytes.push_back(char(b));
        bytes += "\r\n\n\x1a";
    }
    WriteBytes(tmp / L"f.bin", "main");
    ASSERT_TRUE(WriteBytes(tmp / L"f.bin:blob", bytes));
    ConsoleRun r = Cli({L"cat", tmp / L"f.bin:blob"});
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_TRUE(r.out == bytes) << "got " << r.out.size() << " bytes of " << bytes.size();

    WriteBytes(tmp / L"d\\x", "");
    WriteBytes(tmp / L"d:ds", "directory stream");
    ConsoleRun dir = Cli({L"cat", tmp / L"d:ds:$DATA"});
    EXPECT_EQ(dir.exitCode, 0u) << dir.err;
    EXPECT_EQ(dir.out, "directory stream");

    ConsoleRun missing = Cli({L"cat", tmp / L"f.bin:none"});
    EXPECT_EQ(missing.exitCode, 4u);
    EXPECT_TRUE(missing.out.empty());
    EXPECT_NE(missing.err.find("f.bin:none"), std::string::npos) << missing.err;
    EXPECT_EQ(Cli({L"cat", tmp / L"f.bin"}).exitCode, 2u) << "the unnamed stream is not a stream to cat";
    EXPECT_EQ(Cli({L"cat", tmp / L"f.bin::$DATA"}).exitCode, 2u);
}

TEST(CliLongPaths, NamesPastTheOldLimitAreListedReadExtractedAndDeleted) {
    TempDir tmp;
    // Built through the extended form, so that creation itself is not limited.
    const std::wstring ext = L"\\\\?\\" + tmp.path();
    std::wstring rel;
    for (int i = 0; i < 4; ++i) rel += L"\\" + std::wstring(70, wchar_t(L'a' + i));
    rel += L"\\" + std::wstring(60, L'f') + L".txt";
    ASSERT_TRUE(WriteBytes(ext + rel, "m"));
    ASSERT_TRUE(WriteBytes(ext + rel + L":long", "long stream"));
    const std::wstring shown = tmp.path() + rel;
    ASSERT_GT(shown.size(), 259u);

    ConsoleRun list = Cli({L"list", L"-r", tmp.path()});
    EXPECT_EQ(list.exitCode, 0u) << list.err;
    EXPECT_EQ(CsvRows(list.out), (std::vector<Listed>{{U(shown), u"long", 11, false}}));

    ConsoleRun cat = Cli({L"cat", shown + L":long"});
    EXPECT_EQ(cat.exitCode, 0u) << cat.err;
    EXPECT_EQ(cat.out, "long stream");

    const std::wstring out = tmp / L"out";
    ConsoleRun extract = Cli({L"extract", L"-r", tmp.path() + L"\\aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
                              L"--to", out});
    EXPECT_EQ(extract.exitCode, 0u) << extract.err;
    std::vector<std::string> saved;
    EXPECT_EQ(CsvRows(extract.out, &saved).size(), 1u);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(ReadBytes(out + L"\\" + std::wstring(saved[0].begin(), saved[0].end())), "long stream");

    ConsoleRun del = Cli({L"delete", shown + L":long"});
    EXPECT_EQ(del.exitCode, 0u) << del.err;
    EXPECT_FALSE(Exists(ext + rel + L":long"));
    EXPECT_TRUE(Exists(ext + rel));
}

TEST(CliExtract, NeverOverwritesNorEscapesAndIndexesWhatWentWhere) {
    Tree t;
    // Names that must not become paths of their own where they are copied.
    std::vector<Listed> expected = {t.Row(L"a.txt", u"one", 1), t.Row(L"sub", u"dirstream", 14, true),
                                    t.Row(L"sub\\deep\\b.bin", u"two", 70000)};
    for (const wchar_t* name : {L"..", L"CON", L"index.csv", L" x. "}) {
        const std::wstring stream = L"\\\\?\\" + t.root + L"\\a.txt:" + name;
        const bool made = WriteBytes(stream, "hostile") && Exists(stream);
        std::printf("[ info    ] stream named \"%ls\": %s\n", name, made ? "created" : "refused by the platform");
        if (made) expected.push_back(t.Row(L"a.txt", U(name).c_str(), 7));
    }
    expected = Sorted(expected);
    const std::wstring out = t.tmp / L"out";
    // What is there already stays as it is.
    WriteBytes(out + L"\\index.csv", "old index");
    ConsoleRun first = Cli({L"extract", L"-r", t.root, L"--to", out});
    EXPECT_EQ(first.exitCode, 0u) << first.err;
    std::vector<std::string> saved;
    const std::vector<Listed> rows = CsvRows(first.out, &saved);
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(ReadBytes(out + L"\\index.csv"), "old index");

    // Every copy sits directly in the directory, with the stream's bytes.
    std::vector<std::wstring> names = DirectoryNames(out);
    EXPECT_EQ(names.size(), 1 + 1 + rows.size()) << "old index, new index, one file per stream";
    std::set<std::string> distinct(saved.begin(), saved.end());
    EXPECT_EQ(distinct.size(), saved.size());
    for (const std::string& s : saved) {
        EXPECT_EQ(s.find_first_of("\\/:"), std::string::npos) << s;
        EXPECT_NE(s, "..");
        const std::u16string name = vestrel::report::FromUtf8(s);
        EXPECT_TRUE(Exists(out + L"\\" + std::wstring(name.begin(), name.end()))) << s;
    }

    // The index (the new one) says the same as the output.
    const std::u16string numbered = vestrel::report::NumberedName(u"index.csv", 1);
    const std::wstring newIndex = out + L"\\" + std::wstring(numbered.begin(), numbered.end());
    EXPECT_EQ(CsvRows(ReadBytes(newIndex)), rows);

    // A second run adds numbered copies and leaves the first ones alone.
    const std::string before = ReadBytes(out + L"\\" + std::wstring(saved[0].begin(), saved[0].end()));
    ConsoleRun second = Cli({L"extract", L"-r", t.root, L"--to", out, L"--index-format", L"json"});
    EXPECT_EQ(second.exitCode, 0u) << second.err;
    EXPECT_EQ(DirectoryNames(out).size(), names.size() + 1 + rows.size());
    EXPECT_EQ(ReadBytes(out + L"\\" + std::wstring(saved[0].begin(), saved[0].end())), before);
    std::vector<JsonObject> index = JsonLines(ReadBytes(out + L"\\index.jsonl"));
    EXPECT_EQ(index.size(), rows.size());
    for (JsonObject& o : index) {
        const std::u16string savedAs = o.strings["saved_as"];
        EXPECT_EQ(ReadBytes(out + L"\\" + std::wstring(savedAs.begin(), savedAs.end())).size(), o.numbers["size"]);
    }
}

TEST(CliDelete, RemovesNamedStreamsOnlyAndRefusesEverythingElse) {
    TempDir tmp;
    const std::wstring file = tmp / L"f.txt";
    WriteBytes(file, "main data");
    WriteBytes(file + L":keep", "k");
    WriteBytes(file + L":gone", "g");
    WriteBytes(tmp / L"d\\inside", "i");
    WriteBytes(tmp / L"d:ds", "dir stream");
    // A decoy whose name ends in a colon, where the platform allows one.
    const bool decoy = WriteBytes(tmp / L"decoy:", "decoy") && Exists(tmp / L"decoy:");
    std::printf("[ info    ] a file named with a trailing colon can exist here: %s\n", decoy ? "yes" : "no");

    for (const std::wstring& refused : {file, file + L":", file + L"::$DATA", file + L":$DATA",
                                        tmp / L"decoy:", tmp / L"d::$INDEX_ALLOCATION", file + L":keep:$EA"}) {
        // Refused even beside a valid path: nothing at all is touched.
        ConsoleRun r = Cli({L"delete", file + L":gone", refused});
        EXPECT_EQ(r.exitCode, 2u) << Utf8(refused);
        EXPECT_NE(r.err.find(Utf8(refused)), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_EQ(ReadBytes(file), "main data");
    EXPECT_TRUE(Exists(file + L":gone"));
    if (decoy) {
        EXPECT_EQ(ReadBytes(tmp / L"decoy:"), "decoy");
    }

    ConsoleRun dry = Cli({L"delete", L"--dry-run", file + L":gone"});
    EXPECT_EQ(dry.exitCode, 0u) << dry.err;
    EXPECT_EQ(dry.out, "would remove " + Utf8(file) + ":gone\n");
    EXPECT_TRUE(Exists(file + L":gone"));

    ConsoleRun del = Cli({L"delete", file + L":gone:$DATA", tmp / L"d:ds", file + L":never"});
    EXPECT_EQ(del.exitCode, 1u) << "the missing stream is an error; the others go";
    EXPECT_EQ(del.out, "removed " + Utf8(file) + ":gone\nremoved " + Utf8(tmp / L"d") + ":ds\n");
    EXPECT_NE(del.err.find(Utf8(file) + ":never"), std::string::npos) << del.err;
    EXPECT_FALSE(Exists(file + L":gone"));
    EXPECT_FALSE(Exists(tmp / L"d:ds"));
    EXPECT_EQ(ReadBytes(file), "main data");
    EXPECT_TRUE(Exists(file + L":keep"));
    EXPECT_EQ(ReadBytes(tmp / L"d\\inside"), "i");
}

TEST(CliProgram, CarriesItsVersionAndALongPathAwareManifest) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(kExe.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(kExe.c_str(), 0, size, info.data()));
    auto value = [&](const wchar_t* name) {
        wchar_t* text = nullptr;
        UINT len = 0;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
        return VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&text), &len) && text != nullptr
                   ? std::wstring(text)
                   : std::wstring();
    };
    EXPECT_EQ(value(L"ProductName"), L"Vestrel");
    EXPECT_EQ(value(L"ProductVersion"), L"1.2");

    HMODULE image = LoadLibraryExW(kExe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    HRSRC res = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(res, nullptr);
    const char* text = static_cast<const char*>(LockResource(LoadResource(image, res)));
    const std::string manifest(text, SizeofResource(image, res));
    FreeLibrary(image);
    for (const char* part : {"level=\"asInvoker\"", "<ws2:longPathAware>true</ws2:longPathAware>", "supportedOS Id"})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
}

// What the listing says about each stream, read back from csv: digests
// through CNG, the content kind, the zone fields, the host's times and id,
// the hidden executable behind a usual name, and the statuses.
TEST(CliFacts, KindDigestsZoneTimesAndTheHiddenExecutable) {
    TempDir tmp;
    const std::wstring root = tmp.path() + L"\\triage";
    WriteBytes(root + L"\\setup.exe", "MZ");
    WriteBytes(root + L"\\setup.exe:Zone.Identifier",
               "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://downloads.example.com/setup.exe\r\n");
    WriteBytes(root + L"\\report.docx", "PK");
    std::string exe(48 * 1024, '\x01');
    exe.replace(0, 2, "MZ");
    WriteBytes(root + L"\\report.docx:Zone.Identifier", exe);
    WriteBytes(root + L"\\notes.txt", "n");
    WriteBytes(root + L"\\notes.txt:run", "@echo off\r\n");
    WriteBytes(root + L"\\notes.txt:abc", "abc");

    auto table = [](const std::string& out) {
        std::map<std::string, std::map<std::string, std::string>> rows;
        const auto csv = vestrel::testing::ParseCsv(out);
        EXPECT_TRUE(csv.ok) << out;
        for (size_t i = 1; i < csv.records.size(); ++i) {
            std::map<std::string, std::string> row;
            for (size_t k = 0; k < csv.records[i].size() && k < csv.records[0].size(); ++k) row[csv.records[0][k]] = csv.records[i][k];
            const std::string path = row["path"];
            rows[path.substr(path.find_last_of('\\') + 1) + ":" + row["stream"]] = row;
        }
        return rows;
    };
    ConsoleRun r = Cli({L"list", L"-q", L"--hash", L"sha256,md5", root});
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    auto rows = table(r.out);
    EXPECT_EQ(rows.size(), 3u) << r.out;
    EXPECT_EQ(rows.count("setup.exe:Zone.Identifier"), 0u) << "a real zone file stays hidden";
    EXPECT_EQ(rows["report.docx:Zone.Identifier"]["kind"], "pe");
    EXPECT_NE(rows["report.docx:Zone.Identifier"]["note"], "");
    EXPECT_EQ(rows["notes.txt:run"]["kind"], "script");
    EXPECT_EQ(rows["notes.txt:abc"]["sha256"], "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(rows["notes.txt:abc"]["md5"], "900150983cd24fb0d6963f7d28e17f72");
    const std::string modified = rows["notes.txt:abc"]["modified"];
    EXPECT_EQ(modified.size(), 28u) << modified;
    EXPECT_EQ(modified.back(), 'Z');

    ConsoleRun zones = Cli({L"list", L"--zones", root});
    ASSERT_EQ(zones.exitCode, 0u) << zones.err;
    auto z = table(zones.out);
    EXPECT_EQ(z.size(), 2u) << zones.out;
    EXPECT_EQ(z["setup.exe:Zone.Identifier"]["zone_id"], "3");
    EXPECT_EQ(z["setup.exe:Zone.Identifier"]["host_url"], "https://downloads.example.com/setup.exe");

    ConsoleRun pe = Cli({L"list", L"--kind", L"pe", L"--min-size", L"49152", root});
    EXPECT_EQ(table(pe.out).size(), 1u) << pe.out;
    ConsoleRun over = Cli({L"list", L"--kind", L"pe", L"--min-size", L"49153", root});
    EXPECT_EQ(table(over.out).size(), 0u) << over.out;

    struct Case {
        std::vector<std::wstring> args;
        unsigned status;
    };
    const Case cases[] = {
        {{L"list", root + L"\\absent"}, 4u},
        {{L"list", root + L"\\absent", root}, 1u},
        {{L"list", L"--hash", L"sha512", root}, 2u},
        {{L"list", L"--kind", L"exe", root}, 2u},
        {{L"list", L"--format", L"jsonl", L"--excel", root}, 2u},
        {{L"/?"}, 0u},
        {{L"-V"}, 0u},
    };
    for (const Case& c : cases) EXPECT_EQ(Cli(c.args).exitCode, c.status) << Utf8(c.args.back());
    EXPECT_EQ(Cli({L"-V"}).out, "vestrel-cli " VESTREL_VERSION "\n");
}
