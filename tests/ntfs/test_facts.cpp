// vestrel-ntfs on a triage image: what it says about each stream (kind,
// zone fields, digests, times, MFT reference, flags), the notes on usual
// names that hold something else, the filters, timelines and statuses.
// Every output is parsed back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "CliRunner.h"
#include "Fixture.h"
#include "OutputParse.h"
#include "Report.h"

using namespace vestrel::ntfs::testing;
using vestrel::report::HashAlgorithm;
using vestrel::report::HexDigestOf;
using vestrel::testing::ParseCsv;

namespace {

std::string g_dir, g_image;

// "path:stream" -> column name -> value, from a csv listing.
using Table = std::map<std::string, std::map<std::string, std::string>>;

Table ReadTable(const std::string& csv) {
    Table out;
    const auto parsed = ParseCsv(csv);
    EXPECT_TRUE(parsed.ok);
    if (parsed.records.empty()) return out;
    const auto& header = parsed.records[0];
    for (size_t i = 1; i < parsed.records.size(); ++i) {
        const auto& r = parsed.records[i];
        EXPECT_EQ(r.size(), header.size());
        std::map<std::string, std::string> row;
        for (size_t k = 0; k < r.size() && k < header.size(); ++k) row[header[k]] = r[k];
        out[row["path"] + ":" + row["stream"]] = row;
    }
    return out;
}

const std::string kSetupZone = "\\Users\\a\\Downloads\\setup.exe:Zone.Identifier";
const std::string kHidden = "\\Users\\a\\Documents\\report.docx:Zone.Identifier";
const std::string kFavicon = "\\Users\\a\\Favorites\\site.url:favicon";
const std::string kScript = "\\Users\\a\\Documents\\notes.txt:run";
const std::string kBlob = "\\Users\\a\\Documents\\data.bin:blob";

class NtfsFacts : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!g_image.empty()) return;
        g_dir = TempDirectory();
        ASSERT_FALSE(g_dir.empty());
        std::string error;
        ASSERT_TRUE(vestrel::ntfs::fixture::BuildTriage(g_dir + "/triage.raw", &error)) << error;
        g_image = g_dir + "/triage.raw";
    }
    static void TearDownTestSuite() {
        std::filesystem::remove_all(g_dir);
        g_image.clear();
    }
};

}  // namespace

TEST_F(NtfsFacts, DefaultListingShowsTheHiddenExecutableWithANoteAndHidesTheRealZoneFile) {
    const RunResult r = RunNtfs({"list", "-r", "--format", "csv", g_image});
    ASSERT_EQ(r.status, 0) << r.err;
    const Table t = ReadTable(r.out);
    EXPECT_EQ(t.count(kSetupZone), 0u);
    EXPECT_EQ(t.count(kFavicon), 0u);
    ASSERT_EQ(t.count(kHidden), 1u) << r.out;
    EXPECT_EQ(t.at(kHidden).at("kind"), "pe");
    EXPECT_NE(t.at(kHidden).at("note").find("pe content"), std::string::npos) << t.at(kHidden).at("note");
    EXPECT_EQ(t.at(kHidden).at("resident"), "false");
    EXPECT_EQ(t.at(kScript).at("kind"), "script");
    EXPECT_EQ(t.at(kScript).at("resident"), "true");
    EXPECT_EQ(t.at(kScript).at("note"), "");
    EXPECT_EQ(t.at(kBlob).at("kind"), "binary");
    EXPECT_EQ(t.size(), 3u);

    // Identity and times: a user file's record, a sequence, and both sets of
    // times in UTC ISO 8601, equal for a file nobody touched since.
    const auto& row = t.at(kScript);
    EXPECT_GE(std::stoull(row.at("mft_record")), 16u);
    EXPECT_GE(std::stoull(row.at("mft_sequence")), 1u);
    for (const char* when : {"created", "modified", "accessed", "changed"}) {
        const std::string si = row.at(when), fn = row.at(std::string("fn_") + when);
        ASSERT_EQ(si.size(), 28u) << when << " " << si;
        EXPECT_EQ(si[10], 'T');
        EXPECT_EQ(si.back(), 'Z');
        EXPECT_EQ(si.substr(0, 16), fn.substr(0, 16)) << when;
    }

    const RunResult all = RunNtfs({"list", "-r", "-a", "--format", "csv", g_image});
    const Table ta = ReadTable(all.out);
    ASSERT_EQ(ta.count(kSetupZone), 1u);
    EXPECT_EQ(ta.at(kSetupZone).at("note"), "");
    EXPECT_EQ(ta.at(kSetupZone).at("host_url"), "https://downloads.example.com/setup.exe");
    EXPECT_EQ(ta.at(kFavicon).at("kind"), "image");
}

TEST_F(NtfsFacts, ZonesListsEveryZoneStreamWithItsFields) {
    const RunResult r = RunNtfs({"list", "-r", "--zones", "--format", "jsonl", g_image});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::map<std::u16string, vestrel::testing::JsonObject> rows;
    for (std::string line; std::getline(lines, line);) {
        vestrel::testing::JsonObject o;
        ASSERT_TRUE(vestrel::testing::ParseJsonLine(line, &o)) << line;
        rows[o.strings["path"]] = o;
    }
    ASSERT_EQ(rows.size(), 2u) << r.out;
    auto& setup = rows[u"\\Users\\a\\Downloads\\setup.exe"];
    EXPECT_EQ(setup.strings["zone_id"], u"3");
    EXPECT_EQ(setup.strings["host_url"], u"https://downloads.example.com/setup.exe");
    EXPECT_EQ(setup.strings["referrer_url"], u"https://mail.example.com/");
    EXPECT_EQ(setup.strings["note"], u"");
    auto& hidden = rows[u"\\Users\\a\\Documents\\report.docx"];
    EXPECT_EQ(hidden.strings["zone_id"], u"");
    EXPECT_NE(hidden.strings["note"], u"");
}

TEST_F(NtfsFacts, DigestsMatchTheBytesInListingAndExtractIndex) {
    const std::string exe = vestrel::ntfs::fixture::TriageExecutable();
    const RunResult r = RunNtfs({"list", "-r", "--hash", "sha256", "--hash", "md5,sha1", "--format", "csv", g_image});
    ASSERT_EQ(r.status, 0) << r.err;
    const Table t = ReadTable(r.out);
    EXPECT_EQ(t.at(kHidden).at("sha256"), HexDigestOf(HashAlgorithm::Sha256, exe));
    EXPECT_EQ(t.at(kHidden).at("md5"), HexDigestOf(HashAlgorithm::Md5, exe));
    EXPECT_EQ(t.at(kHidden).at("sha1"), HexDigestOf(HashAlgorithm::Sha1, exe));
    EXPECT_EQ(t.at(kBlob).at("sha256"), HexDigestOf(HashAlgorithm::Sha256, std::string("\x01\x02\x03", 3)));

    const std::string to = g_dir + "/out";
    const RunResult x = RunNtfs({"extract", "-r", "-q", "--hash", "sha256", "--index-format", "jsonl", g_image, "--to", to});
    ASSERT_EQ(x.status, 0) << x.err;
    std::istringstream lines(ReadFile(to + "/index.jsonl"));
    size_t checked = 0;
    for (std::string line; std::getline(lines, line);) {
        vestrel::testing::JsonObject o;
        ASSERT_TRUE(vestrel::testing::ParseJsonLine(line, &o)) << line;
        const std::string saved = vestrel::report::ToUtf8(o.strings["saved_as"]);
        EXPECT_EQ(vestrel::report::ToUtf8(o.strings["sha256"]), HexDigestOf(HashAlgorithm::Sha256, ReadFile(to + "/" + saved)))
            << saved;
        ++checked;
    }
    EXPECT_EQ(checked, 3u);
}

TEST_F(NtfsFacts, FiltersKeepWhatTheyNameAndNothingElse) {
    struct Case {
        std::vector<std::string> options;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {{"--kind", "pe"}, {kHidden}},
        {{"--kind", "pe,script"}, {kHidden, kScript}},
        {{"--name", "RUN"}, {kScript}},
        {{"--name", "r?n", "--name", "blob"}, {kScript, kBlob}},
        {{"--exclude", "*\\documents\\*"}, {}},
        {{"--exclude", "*\\notes.txt"}, {kHidden, kBlob}},
        {{"--max-size", "3"}, {kBlob}},
        {{"--max-size", "2"}, {}},
        {{"--min-size", "49152"}, {kHidden}},
        {{"--min-size", "49153"}, {}},
        {{"-a", "--name", "zone.identifier", "--min-size", "1"}, {kSetupZone, kHidden}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"list", "-r", "--format", "csv"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(g_image);
        const RunResult r = RunNtfs(args);
        ASSERT_EQ(r.status, 0) << c.options[0] << " " << r.err;
        std::vector<std::string> keys;
        for (const auto& [key, row] : ReadTable(r.out)) keys.push_back(key);
        std::vector<std::string> expected = c.keys;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(keys, expected) << c.options[0] << " " << (c.options.size() > 1 ? c.options[1] : "");
    }
}

TEST_F(NtfsFacts, BodyFileFeedsMactime) {
    const RunResult r = RunNtfs({"list", "-r", "--hash", "md5", "--format", "body", g_image});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        size_t bars = 0;
        for (char c : line) bars += c == '|';
        EXPECT_EQ(bars, 10u) << line;
    }
    EXPECT_EQ(count, 3u);
    if (std::system("command -v mactime >/dev/null 2>&1") != 0) GTEST_SKIP() << "mactime not installed";
    const std::string body = g_dir + "/body.txt";
    std::ofstream(body) << r.out;
    const RunResult listing = RunNtfs({"list", "-r", "--format", "csv", g_image});
    const std::string modified = ReadTable(listing.out).at(kScript).at("modified").substr(0, 19) + "Z";
    const std::string out = g_dir + "/timeline.csv";
    ASSERT_EQ(std::system(("mactime -b " + body + " -z UTC -d -y > " + out).c_str()), 0);
    bool seen = false;
    for (const auto& rec : ParseCsv(ReadFile(out)).records) {
        if (rec.size() == 8 && rec[7] == kScript && rec[0] == modified && rec[2].find('m') != std::string::npos) seen = true;
    }
    EXPECT_TRUE(seen) << ReadFile(out);
}

TEST_F(NtfsFacts, StatusesTellOutcomesApart) {
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const std::string zeros = g_dir + "/zeros.raw";
    std::ofstream(zeros, std::ios::binary) << std::string(1 << 20, '\0');
    const Case cases[] = {
        {{"list", g_image}, 0},
        {{"list", "-r", "--fail-if-found", g_image}, 3},
        {{"list", "-r", "--fail-if-found", "--kind", "elf", g_image}, 0},
        {{"list", "--offset", "0s", g_image}, 0},
        {{"list", "--offset", "1s", g_image}, 4},
        {{"list", g_dir + "/absent.raw"}, 4},
        {{"list", zeros}, 4},
        {{"list", g_image, "\\no\\such\\path"}, 4},
        {{"list", "--hash", "sha512", g_image}, 2},
        {{"list", "--kind", "exe", g_image}, 2},
        {{"list", "--format", "jsonl", "--excel", g_image}, 2},
        {{"list", "--min-size", "-1", g_image}, 2},
        {{"list", "--offset", "2048x", g_image}, 2},
        {{"-V"}, 0},
        {{"cat", g_image, "\\Users\\a\\Documents\\data.bin:blob:$data"}, 0},
        {{"cat", g_image, "\\Users\\a\\Documents\\data.bin:blob:$DATAX"}, 2},
        {{"cat", g_image, "\\Users\\a\\Documents\\data.bin:nothere"}, 4},
    };
    for (const Case& c : cases) {
        const RunResult r = RunNtfs(c.args);
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        EXPECT_EQ(r.status, c.status) << joined << "\n" << r.err;
        if (c.status == 2 || c.status == 4) {
            EXPECT_NE(r.err, "") << joined;
        }
    }
}

TEST_F(NtfsFacts, ExcelCsvStartsWithAByteOrderMark) {
    const RunResult r = RunNtfs({"list", "-r", "--format", "csv", "--excel", g_image});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.compare(0, 3, "\xEF\xBB\xBF"), 0);
    EXPECT_EQ(ReadTable(r.out.substr(3)).size(), 3u);
}
