// The user guide's demonstration image: vestrel-ntfs finds exactly the
// demonstration streams, with their sizes, and reads back their exact bytes,
// so the guide's Linux outputs describe the same documents as its pictures.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>

#include "CliRunner.h"
#include "DemoTree.h"
#include "Fixture.h"
#include "Report.h"

using namespace vestrel::ntfs;
using namespace vestrel::ntfs::testing;
using testing_support::DemoDocuments;
using vestrel::report::ToUtf8;

namespace {

using Row = std::tuple<std::string, std::string, std::string>;  // path, stream, size

const std::string kRoot = "\\Users\\demo\\Documents";

std::string DemoImage() {
    static const std::string image = [] {
        const std::string path = TempDirectory() + "/demo.img";
        std::string error;
        EXPECT_TRUE(fixture::BuildDemo(path, &error)) << error;
        return path;
    }();
    return image;
}

std::set<Row> ListedRows(bool all) {
    std::vector<std::string> args{"list", "-r", "--format", "csv"};
    if (all) args.push_back("--all");
    args.push_back(DemoImage());
    args.push_back(kRoot);
    RunResult r = RunNtfs(args);
    EXPECT_EQ(r.status, 0) << r.err;
    std::set<Row> rows;
    size_t at = r.out.find('\n');  // after the header
    while (at != std::string::npos && at + 1 < r.out.size()) {
        const size_t end = r.out.find('\n', at + 1);
        std::string line = r.out.substr(at + 1, end - at - 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // path,stream,size,directory; the demonstration names hold no commas.
        const size_t c1 = line.find(','), c2 = line.find(',', c1 + 1), c3 = line.find(',', c2 + 1);
        rows.insert({line.substr(0, c1), line.substr(c1 + 1, c2 - c1 - 1), line.substr(c2 + 1, c3 - c2 - 1)});
        at = end;
    }
    return rows;
}

std::set<Row> ExpectedRows(bool all) {
    std::set<Row> rows;
    for (const auto& f : DemoDocuments())
        for (const auto& s : f.streams)
            if (all || s.listed)
                rows.insert({kRoot + "\\" + ToUtf8(f.path), ToUtf8(s.name), std::to_string(s.bytes.size())});
    return rows;
}

TEST(DemoImage, ListsExactlyTheDemonstrationStreams) {
    EXPECT_EQ(ListedRows(false), ExpectedRows(false));
    EXPECT_EQ(ListedRows(true), ExpectedRows(true));  // with the Zone.Identifier marks
    EXPECT_GT(ExpectedRows(true).size(), ExpectedRows(false).size());
}

TEST(DemoImage, EveryStreamReadsBackByteForByte) {
    for (const auto& f : DemoDocuments()) {
        for (const auto& s : f.streams) {
            const std::string path = kRoot + "\\" + ToUtf8(f.path) + ":" + ToUtf8(s.name);
            RunResult r = RunNtfs({"cat", DemoImage(), path});
            EXPECT_EQ(r.status, 0) << path << ": " << r.err;
            EXPECT_EQ(r.out, s.bytes) << path;
        }
    }
}

}  // namespace
