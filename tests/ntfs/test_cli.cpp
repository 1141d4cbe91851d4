// vestrel-ntfs run as a user runs it, on fixture images written at test
// time: what it lists, prints and extracts, its exit statuses, disk images
// with partition tables, damaged volumes, and that the source never changes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "CliRunner.h"
#include "Fixture.h"
#include "OutputParse.h"
#include "Report.h"

using namespace vestrel::ntfs;
using namespace vestrel::ntfs::testing;
using vestrel::report::FromUtf8;
using vestrel::report::ToUtf8;

namespace {

struct Images {
    std::string dir, standard, mbr, gpt, loop, extended, gpt4k;
    uint64_t mbrThirdOffset = 0;
};

Images* g_images = nullptr;

class NtfsCli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (g_images != nullptr) return;
        auto* images = new Images;
        images->dir = TempDirectory();
        ASSERT_FALSE(images->dir.empty());
        std::string error;
        images->standard = images->dir + "/standard.raw";
        ASSERT_TRUE(fixture::BuildStandard(images->standard, &error)) << error;
        // Small volumes of one file with one stream, for the disk images.
        const std::string a = images->dir + "/a.raw", b = images->dir + "/b.raw", c = images->dir + "/c.raw",
                          big = images->dir + "/big-sectors.raw";
        struct Small {
            std::string image;
            uint64_t partitionStart;
            uint32_t sectorSize;
            std::u16string file, stream;
            uint64_t size;
        };
        for (const Small& v : {Small{a, 2048, 512, u"\\one.txt", u"first", 5}, Small{b, 0, 512, u"\\two.txt", u"second", 6},
                               Small{c, 0, 512, u"\\three.txt", u"third", 7},
                               Small{big, 0, 4096, u"\\four.txt", u"fourth", 8}}) {
            ASSERT_TRUE(fixture::Format(v.image, 8u << 20, &error, v.partitionStart, v.sectorSize)) << error;
            fixture::Writer w;
            ASSERT_TRUE(w.Open(v.image, &error)) << error;
            ASSERT_TRUE(w.AddFile(v.file, {{v.stream, v.size}}));
            ASSERT_TRUE(w.Close());
        }
        images->extended = images->dir + "/extended.raw";
        ASSERT_TRUE(fixture::BuildExtendedDisk(images->extended, a, {b, c}, &error)) << error;
        images->gpt4k = images->dir + "/gpt4k.raw";
        ASSERT_TRUE(fixture::BuildDisk(images->gpt4k, "gpt", {big}, &error, 4096)) << error;
        images->mbr = images->dir + "/mbr.raw";
        images->gpt = images->dir + "/gpt.raw";
        ASSERT_TRUE(fixture::BuildDisk(images->mbr, "mbr", {a, b}, &error)) << error;
        ASSERT_TRUE(fixture::BuildDisk(images->gpt, "gpt", {a, b}, &error)) << error;
        images->mbrThirdOffset = (2048 + 16384 + 2048) * 512ull;  // p1 8 MiB, p2 1 MiB
        images->loop = images->dir + "/loop.raw";
        ASSERT_TRUE(fixture::BuildLoop(images->loop, &error)) << error;
        g_images = images;
    }
    static void TearDownTestSuite() {
        if (g_images == nullptr) return;
        std::filesystem::remove_all(g_images->dir);
        delete g_images;
        g_images = nullptr;
    }
    static const Images& I() { return *g_images; }
};

// "path:stream" -> (size, directory) of a csv listing, with its volume
// when the listing has one ("p1 \a:s").
struct Listing {
    std::map<std::string, std::pair<uint64_t, bool>> rows;
    std::vector<std::string> header;
    bool ok = false;
    bool Has(const std::string& key) const { return rows.count(key) != 0; }
    uint64_t Size(const std::string& key) const { return rows.at(key).first; }
};

Listing ParseListing(const std::string& csv) {
    Listing out;
    const auto parsed = vestrel::testing::ParseCsv(csv);
    if (!parsed.ok || parsed.records.empty()) return out;
    out.header = parsed.records[0];
    const bool volume = !out.header.empty() && out.header[0] == "volume";
    const size_t base = volume ? 1 : 0;
    for (size_t i = 1; i < parsed.records.size(); ++i) {
        const auto& r = parsed.records[i];
        if (r.size() < base + 4) return out;
        const std::string key = (volume ? r[0] + " " : "") + r[base] + ":" + r[base + 1];
        out.rows[key] = {std::stoull(r[base + 2]), r[base + 3] == "true"};
    }
    out.ok = true;
    return out;
}

std::string Pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = char('a' + i % 26);
    return data;
}

std::vector<vestrel::testing::JsonObject> ReadJsonLines(const std::string& path) {
    std::vector<vestrel::testing::JsonObject> out;
    std::istringstream lines(ReadFile(path));
    std::string line;
    while (std::getline(lines, line)) {
        vestrel::testing::JsonObject o;
        EXPECT_TRUE(vestrel::testing::ParseJsonLine(line, &o)) << line;
        out.push_back(o);
    }
    return out;
}

const std::string kCjkStream = "\xE6\xB5\x81\xE5\x90\x8D\xE7\xA7\xB0";  // 流名称
const std::string kCjkFile = "\xE6\x96\x87\xE4\xBB\xB6.txt";            // 文件.txt

}  // namespace

TEST_F(NtfsCli, RecursiveListingFindsEveryNamedStreamWithItsFullSize) {
    const RunResult r = RunNtfs({"list", "-r", "--format", "csv", I().standard});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const Listing l = ParseListing(r.out);
    ASSERT_TRUE(l.ok) << r.out;
    // The first columns as they always were; the facts follow them.
    ASSERT_GE(l.header.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(l.header.begin(), l.header.begin() + 4),
              (std::vector<std::string>{"path", "stream", "size", "directory"}));
    const std::map<std::string, uint64_t> expected = {
        {"\\sizes.txt:s0", 0},       {"\\sizes.txt:s1", 1},       {"\\sizes.txt:s100", 100},
        {"\\sizes.txt:s101", 101},   {"\\excluded.txt:faviconX", 5}, {"\\names.txt:" + kCjkStream, 9},
        {"\\names.txt:x" + std::string(254, 'L'), 2}, {"\\dir:dirstream", 10}, {"\\dir\\inner.txt:inner", 6},
        {"\\linka.txt:linked", 7},   {"\\dir\\linkb.txt:linked", 7}, {"\\sparse.bin:big", (4ull << 30) + 5},
        {"\\sparse.bin:after", 3},   {"\\packed.txt:large", 65536}, {"\\" + kCjkFile + ":hidden", 11},
        {"\\db\\dc\\dd\\de\\df\\dg\\dh\\di\\dj\\dk\\dl\\dm\\dn\\do\\dp\\dq\\dr\\ds\\dt\\du\\leaf.txt:deep", 4}};
    for (const auto& [key, size] : expected) {
        ASSERT_TRUE(l.Has(key)) << key;
        EXPECT_EQ(l.Size(key), size) << key;
    }
    EXPECT_TRUE(l.rows.at("\\dir:dirstream").second);
    EXPECT_FALSE(l.rows.at("\\dir\\inner.txt:inner").second);
    // The file with an attribute list: every one of its 300 streams, once.
    size_t many = 0;
    for (const auto& row : l.rows) many += row.first.rfind("\\many.txt:", 0) == 0;
    EXPECT_EQ(many, 300u);
    EXPECT_EQ(l.rows.size(), expected.size() + 300);
    // Excluded names and metadata files are left out.
    for (const auto& row : l.rows) {
        EXPECT_NE(row.first.rfind("\\$", 0), 0u) << row.first;
        EXPECT_EQ(row.first.find("Zone.Identifier"), std::string::npos);
    }
}

TEST_F(NtfsCli, AllAddsTheExcludedNamesAndTheMetadataFiles) {
    const RunResult r = RunNtfs({"list", "-r", "--all", "--format", "csv", I().standard});
    ASSERT_EQ(r.status, 0) << r.err;
    const Listing l = ParseListing(r.out);
    for (const char* key : {"\\excluded.txt:Zone.Identifier", "\\excluded.txt:FAVICON",
                            "\\excluded.txt:oeCustomProperty", "\\$Secure:$SDS", "\\$BadClus:$Bad"})
        EXPECT_TRUE(l.Has(key)) << key;
}

TEST_F(NtfsCli, WithoutRecursionOnlyThePathAndItsEntries) {
    const RunResult root = RunNtfs({"list", "--format", "csv", I().standard});
    ASSERT_EQ(root.status, 0) << root.err;
    const Listing top = ParseListing(root.out);
    EXPECT_TRUE(top.Has("\\dir:dirstream"));
    EXPECT_TRUE(top.Has("\\sizes.txt:s1"));
    EXPECT_FALSE(top.Has("\\dir\\inner.txt:inner"));

    const RunResult dir = RunNtfs({"list", "--format", "csv", I().standard, "/dir/"});
    ASSERT_EQ(dir.status, 0) << dir.err;
    const Listing d = ParseListing(dir.out);
    EXPECT_EQ(d.rows.size(), 3u) << dir.out;
    EXPECT_TRUE(d.Has("\\dir:dirstream") && d.Has("\\dir\\inner.txt:inner") && d.Has("\\dir\\linkb.txt:linked"));

    const RunResult file = RunNtfs({"list", "--format", "csv", I().standard, "\\sizes.txt"});
    EXPECT_EQ(ParseListing(file.out).rows.size(), 4u);
    const RunResult plain = RunNtfs({"list", "--format", "csv", I().standard, "\\plain.txt"});
    EXPECT_EQ(plain.status, 0);
    EXPECT_TRUE(ParseListing(plain.out).rows.empty());
}

TEST_F(NtfsCli, JsonAndTableCarryTheSameRows) {
    const RunResult json = RunNtfs({"list", "--format", "json", I().standard, "\\sparse.bin"});
    ASSERT_EQ(json.status, 0) << json.err;
    const std::string jsonPath = I().dir + "/list.json";
    std::ofstream(jsonPath) << json.out;
    std::map<std::u16string, uint64_t> sizes;
    for (auto o : ReadJsonLines(jsonPath)) {
        EXPECT_EQ(o.strings["path"], u"\\sparse.bin");
        EXPECT_FALSE(o.booleans["directory"]);
        sizes[o.strings["stream"]] = o.numbers["size"];
    }
    EXPECT_EQ(sizes, (std::map<std::u16string, uint64_t>{{u"big", (4ull << 30) + 5}, {u"after", 3}}));

    const RunResult table = RunNtfs({"list", "--format", "table", I().standard, "\\names.txt"});
    ASSERT_EQ(table.status, 0);
    EXPECT_NE(table.out.find("\\names.txt:" + kCjkStream), std::string::npos) << table.out;
    // Not a terminal: csv unless asked.
    const RunResult plain = RunNtfs({"list", I().standard, "\\names.txt"});
    EXPECT_EQ(plain.out.rfind("path,stream,size,directory", 0), 0u);
}

TEST_F(NtfsCli, ASparseFourGigabyteStreamListsWithoutReadingIt) {
    const RunResult r = RunNtfs({"list", "--format", "csv", I().standard, "\\sparse.bin"});
    ASSERT_EQ(r.status, 0);
    EXPECT_LT(r.seconds, 3.0);  // reading 4 GiB of zeros would take far longer under the sanitizers
}

TEST_F(NtfsCli, FailIfFoundAndUsageStatuses) {
    EXPECT_EQ(RunNtfs({"list", "--fail-if-found", I().standard, "\\sizes.txt"}).status, 3);
    EXPECT_EQ(RunNtfs({"list", "--fail-if-found", I().standard, "\\plain.txt"}).status, 0);
    // Excluded names alone are not a finding, unless --all shows them.
    const std::vector<std::vector<std::string>> usage = {
        {},
        {"frobnicate", I().standard},
        {"list"},
        {"list", "--format", "xml", I().standard},
        {"list", "--offset", "12x", I().standard},
        {"list", I().standard, "\\a", "\\b"},
        {"cat", I().standard, "\\sizes.txt"},
        {"cat", I().standard, "\\sizes.txt:"},
        {"cat", I().standard, "\\sizes.txt::$DATA"},  // the main data is not a stream
        {"cat", I().standard, "\\sizes.txt:$data"},   // nor is it named by its type alone
        {"extract", I().standard},
        {"extract", I().standard, "--to", I().dir + "/x", "--index-format", "table"},
        {"list", "--volume", "p9", I().mbr},
        {"cat", I().mbr, "\\one.txt:first"},  // two volumes: which one?
    };
    for (const auto& args : usage) {
        const RunResult r = RunNtfs(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "(none)" : args[0]) << " " << r.err;
        EXPECT_NE(r.err, "");
    }
    EXPECT_EQ(RunNtfs({"--help"}).status, 0);
}

TEST_F(NtfsCli, OptionsBelongToTheirCommandAndBundle) {
    // An option of list given to cat: two lines, status 2, nothing written.
    const RunResult refused = RunNtfs({"cat", "--recursive", I().standard, "\\sizes.txt:s101"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "vestrel-ntfs: cat: unknown option --recursive\n"
                           "Try 'vestrel-ntfs cat --help' for more information.\n");
    const RunResult none = RunNtfs({});
    EXPECT_EQ(none.err, "vestrel-ntfs: no command given\nTry 'vestrel-ntfs --help' for more information.\n");
    const RunResult body = RunNtfs({"list", I().standard, "\\a", "\\b"});
    EXPECT_EQ(body.err, "vestrel-ntfs: list needs SOURCE and at most one PATH\n"
                        "Try 'vestrel-ntfs list --help' for more information.\n");
    // -rq is -r -q and --format=csv is --format csv: the same rows.
    const RunResult apart = RunNtfs({"list", "-r", "-q", "--format", "csv", I().standard});
    const RunResult bundled = RunNtfs({"list", "-rq", "--format=csv", I().standard});
    ASSERT_EQ(bundled.status, 0) << bundled.err;
    EXPECT_EQ(bundled.out, apart.out);
    EXPECT_NE(bundled.out, RunNtfs({"list", "-q", "--format=csv", I().standard}).out) << "-r in the bundle counts";
    // Each command's help shows its own options only.
    const RunResult list = RunNtfs({"list", "--help"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out.rfind("usage: vestrel-ntfs list [options] SOURCE [PATH]\n", 0), 0u) << list.out;
    for (const char* own : {"--recursive", "--sort", "--deleted", "--shadows", "--fail-if-found"})
        EXPECT_NE(list.out.find(own), std::string::npos) << own;
    for (const char* other : {"--record", "--to", "--index-format"})
        EXPECT_EQ(list.out.find(other), std::string::npos) << other;
    const RunResult cat = RunNtfs({"cat", "-h"});
    EXPECT_EQ(cat.status, 0);
    EXPECT_NE(cat.out.find("--record N"), std::string::npos) << cat.out;
    EXPECT_EQ(cat.out.find("--recursive"), std::string::npos) << cat.out;
    const RunResult version = RunNtfs({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "vestrel-ntfs " VESTREL_VERSION "\n");
}

TEST_F(NtfsCli, CatWritesTheStreamBytesExactly) {
    const RunResult r = RunNtfs({"cat", I().standard, "\\sizes.txt:s101"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Pattern(101));
    EXPECT_EQ(RunNtfs({"cat", I().standard, "/sizes.txt:s0"}).out, "");
    EXPECT_EQ(RunNtfs({"cat", I().standard, "\\sizes.txt:s100:$DATA"}).out, Pattern(100));
    EXPECT_EQ(RunNtfs({"cat", I().standard, "\\names.txt:" + kCjkStream}).out, Pattern(9));
    EXPECT_EQ(RunNtfs({"cat", I().standard, "\\dir:dirstream"}).out, Pattern(10));
    EXPECT_EQ(RunNtfs({"cat", I().standard, "\\many.txt:mLn"}).out, Pattern(8));
    EXPECT_EQ(RunNtfs({"cat", I().standard, "\\packed.txt:large"}).out, Pattern(65536));

    const RunResult missing = RunNtfs({"cat", I().standard, "\\sizes.txt:nothere"});
    EXPECT_EQ(missing.status, 4);
    EXPECT_NE(missing.err.find("no such stream"), std::string::npos) << missing.err;
    const RunResult noFile = RunNtfs({"cat", I().standard, "\\nofile.txt:s"});
    EXPECT_EQ(noFile.status, 4);
    EXPECT_NE(noFile.err.find("no such file"), std::string::npos) << noFile.err;
}

TEST_F(NtfsCli, ExtractNeverOverwritesAndIndexesWhatWentWhere) {
    const std::string to = I().dir + "/extract";
    const RunResult first = RunNtfs({"extract", "-r", I().standard, "\\dir", "--to", to});
    ASSERT_EQ(first.status, 0) << first.err;
    const auto index = vestrel::testing::ParseCsv(ReadFile(to + "/index.csv"));
    ASSERT_TRUE(index.ok);
    ASSERT_EQ(index.records.size(), 4u);
    EXPECT_EQ(index.records[0].back(), "saved_as");
    std::set<std::string> names;
    for (size_t i = 1; i < index.records.size(); ++i) {
        const auto& row = index.records[i];
        const std::string saved = row.back();
        names.insert(saved);
        EXPECT_EQ(saved.find('/'), std::string::npos);
        EXPECT_EQ(ReadFile(to + "/" + saved), Pattern(std::stoull(row[2]))) << saved;
    }
    EXPECT_EQ(names.size(), 3u);

    // Again into the same folder: new names, the first files untouched.
    std::ofstream(to + "/" + *names.begin(), std::ios::app) << "marker";
    const RunResult second = RunNtfs({"extract", "-r", I().standard, "\\dir", "--to", to, "--index-format", "json"});
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_NE(ReadFile(to + "/" + *names.begin()).find("marker"), std::string::npos);
    const auto rows = ReadJsonLines(to + "/index.jsonl");
    EXPECT_EQ(rows.size(), 3u);
    for (auto o : rows) {
        const std::string saved = ToUtf8(o.strings["saved_as"]);
        EXPECT_EQ(names.count(saved), 0u) << saved << " was reused";
        EXPECT_EQ(ReadFile(to + "/" + saved).size(), o.numbers["size"]);
    }
    const RunResult third = RunNtfs({"extract", I().standard, "\\dir", "--to", to});
    EXPECT_EQ(third.status, 0);
    struct stat st {};
    EXPECT_EQ(stat((to + "/index (1).csv").c_str(), &st), 0) << third.err;
}

TEST_F(NtfsCli, ExtractFitsLongAndWideNamesIntoLinuxFileNames) {
    const std::string to = I().dir + "/names";
    const RunResult r = RunNtfs({"extract", I().standard, "\\names.txt", "--to", to, "--index-format", "json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = ReadJsonLines(to + "/index.jsonl");
    EXPECT_EQ(rows.size(), 2u);
    for (auto o : rows) {
        const std::string saved = ToUtf8(o.strings["saved_as"]);
        EXPECT_LE(saved.size(), 255u);
        EXPECT_EQ(ReadFile(to + "/" + saved), Pattern(o.numbers["size"]));
    }
}

TEST_F(NtfsCli, ACompressedStreamListsPrintsAndExtractsItsExactBytes) {
    const std::string image = I().dir + "/compressed.raw";
    constexpr uint64_t kSize = 150001;  // two whole compression units and part of a third
    std::string error;
    ASSERT_TRUE(fixture::BuildCompressed(image, kSize, &error)) << error;
    ASSERT_TRUE(fixture::StreamIsCompressed(image, u"\\packed.bin", u"packed"));
    const std::string expected = fixture::CompressibleText(kSize);
    struct stat before {}, after {};
    ASSERT_EQ(stat(image.c_str(), &before), 0);
    const uint64_t hash = HashFile(image);

    const RunResult list = RunNtfs({"list", "--format", "csv", image, "\\packed.bin"});
    ASSERT_EQ(list.status, 0) << list.err;
    const Listing l = ParseListing(list.out);
    ASSERT_TRUE(l.Has("\\packed.bin:packed")) << list.out;
    EXPECT_EQ(l.rows.size(), 1u) << list.out;
    EXPECT_EQ(l.Size("\\packed.bin:packed"), kSize);

    const RunResult cat = RunNtfs({"cat", image, "\\packed.bin:packed"});
    ASSERT_EQ(cat.status, 0) << cat.err;
    EXPECT_EQ(cat.out.size(), expected.size());
    EXPECT_TRUE(cat.out == expected) << "cat differs from the written bytes";

    const std::string to = I().dir + "/packed";
    const RunResult extract = RunNtfs({"extract", image, "\\packed.bin", "--to", to});
    ASSERT_EQ(extract.status, 0) << extract.err;
    const auto index = vestrel::testing::ParseCsv(ReadFile(to + "/index.csv"));
    ASSERT_TRUE(index.ok);
    ASSERT_EQ(index.records.size(), 2u);
    const std::string saved = ReadFile(to + "/" + index.records[1].back());
    EXPECT_EQ(saved.size(), expected.size());
    EXPECT_TRUE(saved == expected) << "extracted file differs from the written bytes";

    EXPECT_EQ(HashFile(image), hash);
    ASSERT_EQ(stat(image.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST_F(NtfsCli, DiskImagesListEveryNtfsPartition) {
    for (const std::string& disk : {I().mbr, I().gpt}) {
        const RunResult r = RunNtfs({"list", "-r", "--format", "csv", disk});
        ASSERT_EQ(r.status, 0) << r.err;
        const Listing l = ParseListing(r.out);
        ASSERT_TRUE(l.ok);
        EXPECT_EQ(l.header[0], "volume");
        const std::string second = disk == I().mbr ? "p3" : "p2";  // the MBR disk has a Linux p2
        EXPECT_EQ(l.rows.size(), 2u) << r.out;
        EXPECT_TRUE(l.Has("p1 \\one.txt:first")) << r.out;
        EXPECT_TRUE(l.Has(second + " \\two.txt:second")) << r.out;
        const RunResult one = RunNtfs({"list", "--volume", second, "--format", "csv", disk});
        EXPECT_EQ(ParseListing(one.out).rows.size(), 1u);
        EXPECT_EQ(RunNtfs({"cat", "--volume", second, disk, "\\two.txt:second"}).out, Pattern(6));
    }
    const RunResult offset = RunNtfs({"list", "--offset", std::to_string(I().mbrThirdOffset), "--format", "csv", I().mbr});
    ASSERT_EQ(offset.status, 0) << offset.err;
    const Listing l = ParseListing(offset.out);
    EXPECT_EQ(l.header[0], "path");
    EXPECT_TRUE(l.Has("\\two.txt:second"));
    const RunResult wrong = RunNtfs({"list", "--offset", "512", I().mbr});
    EXPECT_EQ(wrong.status, 4);
    EXPECT_NE(wrong.err.find("no NTFS boot sector"), std::string::npos);
}

TEST_F(NtfsCli, LogicalPartitionsAreListedWithTheNumbersLinuxGivesThem) {
    const RunResult r = RunNtfs({"list", "-r", "--format", "csv", I().extended});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const Listing l = ParseListing(r.out);
    ASSERT_TRUE(l.ok) << r.out;
    EXPECT_EQ(l.header[0], "volume");
    // p2 is the extended partition, p6 the Linux logical one between.
    std::set<std::string> keys;
    for (const auto& row : l.rows) keys.insert(row.first);
    EXPECT_EQ(keys, (std::set<std::string>{"p1 \\one.txt:first", "p5 \\two.txt:second", "p7 \\three.txt:third"}));

    const RunResult one = RunNtfs({"list", "--volume", "p7", "--format", "csv", I().extended});
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_TRUE(ParseListing(one.out).Has("p7 \\three.txt:third")) << one.out;
    EXPECT_EQ(ParseListing(one.out).rows.size(), 1u);
    EXPECT_EQ(RunNtfs({"cat", "--volume", "p5", I().extended, "\\two.txt:second"}).out, Pattern(6));
    EXPECT_EQ(RunNtfs({"list", "--volume", "p6", I().extended}).status, 2);

    // The first extended boot record linked to itself: said, and the chain
    // read so far still listed.
    std::string bytes = ReadFile(I().extended);
    const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
    const uint64_t ebr = uint64_t(b[470] | b[471] << 8 | b[472] << 16 | uint32_t(b[473]) << 24) * 512;
    std::fill(bytes.begin() + long(ebr + 446 + 16 + 8), bytes.begin() + long(ebr + 446 + 16 + 12), '\0');
    const std::string looped = I().dir + "/looped-chain.raw";
    std::ofstream(looped, std::ios::binary) << bytes;
    const RunResult loop = RunNtfs({"list", "-r", "--format", "csv", looped}, 20);
    ASSERT_FALSE(loop.timedOut);
    EXPECT_EQ(loop.status, 1);
    EXPECT_NE(loop.err.find("loops"), std::string::npos) << loop.err;
    const Listing ll = ParseListing(loop.out);
    EXPECT_TRUE(ll.Has("p1 \\one.txt:first") && ll.Has("p5 \\two.txt:second")) << loop.out;
    EXPECT_EQ(ll.rows.size(), 2u) << loop.out;
}

TEST_F(NtfsCli, AGptDiskWithFourKibSectorsIsRead) {
    const RunResult r = RunNtfs({"list", "-r", "--format", "csv", I().gpt4k});
    ASSERT_EQ(r.status, 0) << r.err;
    const Listing l = ParseListing(r.out);
    EXPECT_EQ(l.rows.size(), 1u) << r.out;
    ASSERT_TRUE(l.Has("p1 \\four.txt:fourth")) << r.out;
    EXPECT_EQ(l.Size("p1 \\four.txt:fourth"), 8u);
    EXPECT_EQ(RunNtfs({"cat", I().gpt4k, "\\four.txt:fourth"}).out, Pattern(8));
}

TEST_F(NtfsCli, DirectoriesSpanningManyIndexBlocksHaveEveryEntryListedOnce) {
    // 120 directories of 25 files: the root's index and each directory's
    // spill into index blocks, and the walk enters each directory from the
    // middle of the root's.
    const std::string image = I().dir + "/wide.raw";
    std::string error;
    ASSERT_TRUE(fixture::BuildBench(image, 3000, &error, 25)) << error;
    const RunResult r = RunNtfs({"list", "-r", "--format", "csv", image});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto csv = vestrel::testing::ParseCsv(r.out);
    ASSERT_TRUE(csv.ok);
    std::set<std::string> expected, listed;
    for (unsigned i = 0; i < 3000; i += 20)
        expected.insert("\\d" + std::to_string(i / 25) + "\\f" + std::to_string(i) + ".txt:s");
    for (size_t i = 1; i < csv.records.size(); ++i) listed.insert(csv.records[i][0] + ":" + csv.records[i][1]);
    EXPECT_EQ(csv.records.size() - 1, expected.size());
    EXPECT_EQ(listed, expected);
    std::filesystem::remove(image);
}

TEST_F(NtfsCli, NoCommandChangesASingleByteOfTheSource) {
    const std::vector<std::vector<std::string>> commands = {
        {"list", "-r", "--all", I().standard},
        {"cat", I().standard, "\\sparse.bin:after"},
        {"cat", I().standard, "\\nofile:s"},
        {"extract", "-r", "--all", I().standard, "--to", I().dir + "/ro", "\\dir"},
        {"list", "-r", I().mbr},
        {"list", "-r", I().extended},
        {"list", "-r", I().gpt4k},
        {"list", "-r", I().loop},
    };
    for (const auto& args : commands) {
        const std::string& source = args[args[0] == "extract" ? 3 : args.size() - (args[0] == "cat" ? 2 : 1)];
        struct stat before {}, after {};
        ASSERT_EQ(stat(source.c_str(), &before), 0) << source;
        const uint64_t hash = HashFile(source);
        const RunResult r = RunNtfs(args);
        // 4: a path the command names is not in the volume (\\nofile.txt).
        EXPECT_TRUE(r.status == 0 || r.status == 1 || r.status == 4) << args[0] << " " << r.err;
        EXPECT_EQ(HashFile(source), hash) << args[0] << " changed " << source;
        ASSERT_EQ(stat(source.c_str(), &after), 0);
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    }
}

TEST_F(NtfsCli, ADirectoryLoopIsReportedAndTheRestListed) {
    const RunResult r = RunNtfs({"list", "-r", "--format", "csv", I().loop}, 20);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("directory loop"), std::string::npos) << r.err;
    const Listing l = ParseListing(r.out);
    EXPECT_TRUE(l.Has("\\loop:top"));
    EXPECT_TRUE(l.Has("\\loop\\inner\\f.txt:s"));
    EXPECT_TRUE(l.Has("\\after.txt:t"));
}

namespace {

// The image's bytes, with the volume's MFT location from its boot sector.
struct Image {
    std::string bytes;
    uint64_t mftOffset = 0, mirrorOffset = 0;
    explicit Image(const std::string& path) : bytes(ReadFile(path)) {
        const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
        const uint64_t cluster = uint64_t(b[11] | b[12] << 8) * b[13];
        uint64_t lcn = 0, mirror = 0;
        for (int i = 7; i >= 0; --i) lcn = lcn << 8 | b[0x30 + i];
        for (int i = 7; i >= 0; --i) mirror = mirror << 8 | b[0x38 + i];
        mftOffset = lcn * cluster;
        mirrorOffset = mirror * cluster;
    }
    // The MFT record (1 KiB) of the user file carrying `name`.
    size_t RecordOf(const std::u16string& name) const {
        const std::string needle(reinterpret_cast<const char*>(name.data()), name.size() * 2);
        for (size_t at = size_t(mftOffset) + 16 * 1024; at + 1024 <= bytes.size(); at += 1024) {
            if (bytes.compare(at, 4, "FILE") != 0) break;
            if (std::string_view(bytes.data() + at, 1024).find(needle) != std::string_view::npos) return at;
        }
        return 0;
    }
    void Save(const std::string& path) const { std::ofstream(path, std::ios::binary) << bytes; }
};

}  // namespace

TEST_F(NtfsCli, DamagedVolumesSayWhatIsWrongAndListWhatTheyCan) {
    const Image clean(I().standard);
    ASSERT_NE(clean.mftOffset, 0u);

    Image zeroed = clean;
    const size_t record = zeroed.RecordOf(u"sizes.txt");
    ASSERT_NE(record, 0u);
    std::fill(zeroed.bytes.begin() + long(record), zeroed.bytes.begin() + long(record) + 1024, '\0');
    const std::string zeroedPath = I().dir + "/zeroed.raw";
    zeroed.Save(zeroedPath);
    // The walk reaches the lost record through its directory and names the
    // file; reading $MFT in order finds a record the MFT's bitmap has in use
    // holding nothing, and names the record. The same rows either way.
    const RunResult z = RunNtfs({"list", "-r", "--sort", "path", "--format", "csv", zeroedPath});
    EXPECT_EQ(z.status, 1);
    EXPECT_NE(z.err.find("\\sizes.txt"), std::string::npos) << z.err;
    const Listing zl = ParseListing(z.out);
    EXPECT_TRUE(zl.Has("\\names.txt:" + kCjkStream));
    EXPECT_TRUE(zl.Has("\\dir\\inner.txt:inner"));
    EXPECT_FALSE(zl.Has("\\sizes.txt:s1"));
    const RunResult zm = RunNtfs({"list", "-r", "--format", "csv", zeroedPath});
    EXPECT_EQ(zm.status, 1);
    EXPECT_NE(zm.err.find("$MFT record"), std::string::npos) << zm.err;
    EXPECT_NE(zm.err.find("holds no file record"), std::string::npos) << zm.err;
    const auto lines = [](const std::string& text) {
        std::multiset<std::string> out;
        for (size_t at = 0, end; at < text.size(); at = end + 1) {
            end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            out.insert(text.substr(at, end - at));
        }
        return out;
    };
    EXPECT_EQ(lines(zm.out), lines(z.out));

    Image boot = clean;
    std::fill(boot.bytes.begin(), boot.bytes.begin() + 512, '\0');
    const std::string bootPath = I().dir + "/noboot.raw";
    boot.Save(bootPath);
    const RunResult b = RunNtfs({"list", bootPath});
    EXPECT_EQ(b.status, 4);
    EXPECT_NE(b.err.find("neither an NTFS boot sector nor a partition table"), std::string::npos) << b.err;

    Image badBoot = clean;
    badBoot.bytes[11] = 3;  // bytes per sector: 515
    const std::string badBootPath = I().dir + "/badboot.raw";
    badBoot.Save(badBootPath);
    const RunResult bb = RunNtfs({"list", badBootPath});
    EXPECT_EQ(bb.status, 1);
    EXPECT_NE(bb.err.find("not a readable NTFS volume"), std::string::npos) << bb.err;

    const std::string truncated = I().dir + "/truncated.raw";
    std::ofstream(truncated, std::ios::binary) << clean.bytes.substr(0, size_t(clean.mftOffset) + 40 * 1024);
    const RunResult t = RunNtfs({"list", "-r", truncated}, 20);
    EXPECT_EQ(t.status, 1);
    EXPECT_FALSE(t.timedOut);
    EXPECT_NE(t.err, "");

    const RunResult folder = RunNtfs({"list", I().dir});
    EXPECT_EQ(folder.status, 4);
    EXPECT_NE(folder.err.find("not an image file or block device"), std::string::npos) << folder.err;

    const RunResult missing = RunNtfs({"list", I().dir + "/absent.raw"});
    EXPECT_EQ(missing.status, 4);
    EXPECT_NE(missing.err.find("No such file"), std::string::npos);
}

TEST_F(NtfsCli, AMirrorThatDisagreesWithTheMftIsSaidAndEverythingStillListed) {
    const Image clean(I().standard);
    ASSERT_NE(clean.mirrorOffset, 0u);
    ASSERT_NE(clean.mirrorOffset, clean.mftOffset);
    const RunResult reference = RunNtfs({"list", "-r", "--format", "csv", I().standard});
    ASSERT_EQ(reference.status, 0) << reference.err;
    struct Damage {
        const char* what;
        size_t at, length;  // bytes from the start of the mirror
        char value;         // written there; 0 with length 1 flips the byte's lowest bit instead
    };
    const Damage damages[] = {
        {"the copy of $MFT's sequence number", 0x10, 1, 0},
        {"every mirrored record zeroed", 0, 4096, '\0'},
        {"the copy of $MFTMirr's record signature", 1024, 4, 'X'},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        Image image = clean;
        char* at = &image.bytes[size_t(clean.mirrorOffset) + damage.at];
        if (damage.length == 1 && damage.value == 0) *at ^= 1;
        else std::fill(at, at + damage.length, damage.value);
        const std::string path = I().dir + "/mirror.raw";
        image.Save(path);
        struct stat before {}, after {};
        ASSERT_EQ(stat(path.c_str(), &before), 0);
        const uint64_t hash = HashFile(path);

        const RunResult r = RunNtfs({"list", "-r", "--format", "csv", path});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("$MFTMirr"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("read through $MFT"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, reference.out);
        const RunResult cat = RunNtfs({"cat", path, "\\sizes.txt:s101"});
        EXPECT_EQ(cat.status, 1);
        EXPECT_EQ(cat.out, Pattern(101));

        EXPECT_EQ(HashFile(path), hash);
        ASSERT_EQ(stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    }
}
