// vestrel-ntfs on deleted files, as a user runs it: list --deleted with its
// columns in each format, The Sleuth Kit naming the same deleted streams,
// cat --deleted giving back the bytes, extract marking what was overwritten,
// and the options' misuse refused.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "CliRunner.h"
#include "Fixture.h"
#include "OutputParse.h"

using namespace vestrel::ntfs;
using namespace vestrel::ntfs::testing;

namespace {

std::string g_dir, g_image;
fixture::DeletedFixture g_bytes;

class Deleted : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!g_image.empty()) return;
        g_dir = TempDirectory();
        std::string error;
        ASSERT_TRUE(fixture::BuildDeleted(g_dir + "/deleted.raw", &g_bytes, &error)) << error;
        g_image = g_dir + "/deleted.raw";
    }
    static void TearDownTestSuite() {
        std::filesystem::remove_all(g_dir);
        g_image.clear();
    }
};

// "path:stream" -> {deleted, recovery} of a csv listing, by column name.
std::map<std::string, std::pair<std::string, std::string>> Rows(const std::string& csv) {
    const auto parsed = vestrel::testing::ParseCsv(csv);
    EXPECT_TRUE(parsed.ok);
    std::map<std::string, std::pair<std::string, std::string>> out;
    if (parsed.records.empty()) return out;
    const std::vector<std::string>& header = parsed.records[0];
    const auto column = [&](const char* name) {
        return size_t(std::find(header.begin(), header.end(), name) - header.begin());
    };
    const size_t deleted = column("deleted"), recovery = column("recovery");
    if (deleted == header.size() || recovery == header.size()) {
        ADD_FAILURE() << "no deleted/recovery columns";
        return out;
    }
    for (size_t i = 1; i < parsed.records.size(); ++i) {
        const auto& r = parsed.records[i];
        if (r.size() != header.size()) {
            ADD_FAILURE() << "a row of " << r.size() << " fields";
            continue;
        }
        out[r[0] + ":" + r[1]] = {r[deleted], r[recovery]};
    }
    return out;
}

}  // namespace

TEST_F(Deleted, ListShowsDeletedStreamsWithTheirColumns) {
    const RunResult r = RunNtfs({"list", "-r", "--deleted", "--format", "csv", g_image});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("path,stream,size,directory,deleted,record,recovery,", 0), 0u) << r.out;
    const std::map<std::string, std::pair<std::string, std::string>> expected = {
        {"\\keep\\live.txt:live", {"no", ""}},
        {"\\keep\\gone.txt:res", {"yes", "recovered"}},
        {"\\keep\\gone.txt:big", {"yes", "recovered"}},
        {"\\$OrphanFiles\\orphan.txt:o", {"yes", "recovered"}},
        {"\\reused.txt:carrier", {"yes", "overwritten"}},
    };
    EXPECT_EQ(Rows(r.out), expected);

    // Without --deleted: the live stream alone, and no new columns.
    const RunResult plain = RunNtfs({"list", "-r", "--format", "csv", g_image});
    EXPECT_EQ(plain.status, 0);
    const auto listed = vestrel::testing::ParseCsv(plain.out);
    ASSERT_TRUE(listed.ok);
    ASSERT_EQ(listed.records.size(), 2u) << plain.out;
    EXPECT_EQ(std::find(listed.records[0].begin(), listed.records[0].end(), "deleted"), listed.records[0].end());
    EXPECT_EQ(std::vector<std::string>(listed.records[1].begin(), listed.records[1].begin() + 4),
              (std::vector<std::string>{"\\keep\\live.txt", "live", "5", "false"}));

    const RunResult json = RunNtfs({"list", "-r", "--deleted", "--format", "json", g_image});
    ASSERT_EQ(json.status, 0);
    unsigned deleted = 0;
    size_t at = 0;
    for (std::string line; at < json.out.size(); at += line.size() + 1) {
        line = json.out.substr(at, json.out.find('\n', at) - at);
        vestrel::testing::JsonObject object;
        ASSERT_TRUE(vestrel::testing::ParseJsonLine(line, &object)) << line;
        ASSERT_EQ(object.strings.count("deleted"), 1u) << line;
        if (object.strings.at("deleted") == u"yes") {
            ++deleted;
            EXPECT_GT(object.numbers.at("record"), 15u);
            EXPECT_FALSE(object.strings.at("recovery").empty());
        }
    }
    EXPECT_EQ(deleted, 4u);
}

// The Sleuth Kit's own listing of deleted entries names the same streams.
TEST_F(Deleted, TheSleuthKitNamesTheSameDeletedStreams) {
    if (std::system("command -v fls >/dev/null 2>&1") != 0) GTEST_SKIP() << "fls (sleuthkit) is not installed";
    const std::string listing = g_dir + "/fls.txt";
    ASSERT_EQ(std::system(("fls -rd -p '" + g_image + "' > '" + listing + "'").c_str()), 0);
    std::set<std::string> fls;
    const std::string text = ReadFile(listing);
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || line.find(':', tab) == std::string::npos) continue;  // no stream named
        std::string path = "\\" + line.substr(tab + 1);
        for (char& c : path) c = c == '/' ? '\\' : c;
        fls.insert(path);
    }
    const RunResult r = RunNtfs({"list", "-r", "--deleted", "--format", "csv", g_image});
    std::set<std::string> ours;
    for (const auto& [key, row] : Rows(r.out))
        if (row.first == "yes") ours.insert(key);
    EXPECT_EQ(ours, fls);
}

TEST_F(Deleted, CatGivesTheBytesADeletedStreamHeld) {
    struct Case {
        std::string stream, bytes;
    };
    for (const Case& c : {Case{"\\keep\\gone.txt:res", g_bytes.resident}, Case{"/keep/gone.txt:big", g_bytes.nonResident},
                          Case{"\\$OrphanFiles\\orphan.txt:o", g_bytes.orphan}}) {
        const RunResult r = RunNtfs({"cat", "--deleted", g_image, c.stream});
        EXPECT_EQ(r.status, 0) << c.stream << ": " << r.err;
        EXPECT_EQ(r.out, c.bytes) << c.stream;
        EXPECT_EQ(r.err, "") << c.stream;
    }
    // Overwritten: what lies there now, said to be untrustworthy.
    const RunResult reused = RunNtfs({"cat", "--deleted", g_image, "\\reused.txt:carrier"});
    EXPECT_EQ(reused.status, 1);
    EXPECT_EQ(reused.out.size(), g_bytes.reused.size());
    EXPECT_NE(reused.err.find("not trustworthy"), std::string::npos) << reused.err;
    // A live file's stream is not a deleted one.
    const RunResult live = RunNtfs({"cat", "--deleted", g_image, "\\keep\\live.txt:live"});
    EXPECT_EQ(live.status, 1);
    EXPECT_EQ(live.out, "");
    EXPECT_NE(live.err.find("no deleted file holds it"), std::string::npos) << live.err;
}

TEST_F(Deleted, CatByRecordNumber) {
    const RunResult list = RunNtfs({"list", "-r", "--deleted", "--format", "csv", g_image});
    const auto parsed = vestrel::testing::ParseCsv(list.out);
    ASSERT_FALSE(parsed.records.empty());
    const auto& header = parsed.records[0];
    const size_t at = size_t(std::find(header.begin(), header.end(), "record") - header.begin());
    ASSERT_LT(at, header.size());
    std::string record;
    for (const auto& row : parsed.records)
        if (row.size() == header.size() && row[0] == "\\keep\\gone.txt" && row[1] == "res") record = row[at];
    ASSERT_FALSE(record.empty());
    const RunResult right = RunNtfs({"cat", "--deleted", "--record", record, g_image, "\\keep\\gone.txt:res"});
    EXPECT_EQ(right.status, 0);
    EXPECT_EQ(right.out, g_bytes.resident);
    const RunResult wrong =
        RunNtfs({"cat", "--deleted", "--record", std::to_string(std::stoul(record) + 1), g_image, "\\keep\\gone.txt:res"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.out, "");
}

TEST_F(Deleted, ExtractWritesEveryStreamAndNamesTheOverwrittenOne) {
    const std::string to = g_dir + "/out";
    const RunResult r = RunNtfs({"extract", "-r", "--deleted", "--quiet", g_image, "--to", to});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto index = vestrel::testing::ParseCsv(ReadFile(to + "/index.csv"));
    ASSERT_EQ(index.records.size(), 6u);
    const auto& header = index.records[0];
    EXPECT_EQ(std::vector<std::string>(header.begin(), header.begin() + 7),
              (std::vector<std::string>{"path", "stream", "size", "directory", "deleted", "record", "recovery"}));
    ASSERT_EQ(header.back(), "saved_as");
    std::map<std::string, std::string> saved;
    for (size_t i = 1; i < index.records.size(); ++i)
        saved[index.records[i][0] + ":" + index.records[i][1]] = index.records[i].back();
    EXPECT_EQ(ReadFile(to + "/" + saved["\\keep\\gone.txt:big"]), g_bytes.nonResident);
    EXPECT_EQ(ReadFile(to + "/" + saved["\\$OrphanFiles\\orphan.txt:o"]), g_bytes.orphan);
    const std::string overwritten = saved["\\reused.txt:carrier"];
    ASSERT_GE(overwritten.size(), 12u);
    EXPECT_EQ(overwritten.substr(overwritten.size() - 12), ".overwritten");
    EXPECT_EQ(ReadFile(to + "/" + overwritten).size(), g_bytes.reused.size());
}

TEST_F(Deleted, MisusedOptionsAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {"list", "--deleted", g_image},                           // not the whole tree
        {"list", "-r", "--deleted", g_image, "\\keep"},           // below the root
        {"extract", "--deleted", g_image, "--to", g_dir + "/x"},  // not the whole tree
        {"list", "-r", "--sort", "name", g_image},
        {"cat", "--record", "66", g_image, "\\keep\\gone.txt:res"},  // --record without --deleted
        {"cat", "--deleted", "--record", "sixty", g_image, "\\keep\\gone.txt:res"},
    };
    for (const auto& args : cases) {
        const RunResult r = RunNtfs(args);
        EXPECT_EQ(r.status, 2) << args[0] << " " << args[1] << " " << args[2];
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(g_dir + "/x"));
}
