// Shadow copies on a volume Windows wrote (testdata/vss/vsstest.raw.xz: a
// bare 1 GiB NTFS volume labelled "vsstest" with two stores, made
// 2013-12-03 06:35:09 and 06:37:48 UTC). Its only named streams are those of
// the metadata files ($BadClus:$Bad, $Repair:$Config, $Tops:$T, $Secure:$SDS),
// on the live volume and in both stores alike. The image is unpacked into
// the build directory once; without it the tests are skipped.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "CliRunner.h"
#include "OutputParse.h"

using namespace vestrel::ntfs::testing;

namespace {

const std::string kPacked = std::string(VESTREL_TESTDATA) + "/vss/vsstest.raw.xz";
const std::string kImage = std::string(VESTREL_TEST_SCRATCH) + "/vsstest.raw";

bool Unpacked() {
    struct stat st {};
    if (::stat(kImage.c_str(), &st) == 0 && st.st_size == 1073741824) return true;
    // Sparse: the volume is mostly empty.
    const std::string command = "xz -dc '" + kPacked + "' | cp --sparse=always /dev/stdin '" + kImage + ".part' && mv '" +
                                kImage + ".part' '" + kImage + "'";
    return std::system(command.c_str()) == 0;
}

class NtfsShadows : public ::testing::Test {
protected:
    void SetUp() override {
        struct stat st {};
        if (::stat(kPacked.c_str(), &st) != 0) GTEST_SKIP() << "the shadow copy test image is absent: " << kPacked;
        ASSERT_TRUE(Unpacked()) << kImage;
    }
};

const char* const kStreams[] = {"\\$BadClus:$Bad", "\\$Extend\\$RmMetadata\\$Repair:$Config",
                                 "\\$Extend\\$RmMetadata\\$TxfLog\\$Tops:$T", "\\$Secure:$SDS"};
const char* const kSnapshots[] = {"", "vss1 2013-12-03T06:35:09Z", "vss2 2013-12-03T06:37:48Z"};

}  // namespace

TEST_F(NtfsShadows, EveryStoreIsListedAfterTheLiveVolumeWithItsNumberAndTime) {
    const uint64_t hash = HashFile(kImage);
    // In directory order, so that each store's rows come as the live volume's do.
    const RunResult r = RunNtfs({"list", "-r", "--sort", "path", "--all", "--shadows", "--format", "csv", kImage}, 120);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto csv = vestrel::testing::ParseCsv(r.out);
    ASSERT_TRUE(csv.ok);
    ASSERT_EQ(csv.records.size(), 1u + 3 * 4) << r.out;
    EXPECT_EQ(std::vector<std::string>(csv.records[0].begin(), csv.records[0].begin() + 5),
              (std::vector<std::string>{"snapshot", "path", "stream", "size", "directory"}));
    for (size_t snapshot = 0; snapshot < 3; ++snapshot)
        for (size_t i = 0; i < 4; ++i) {
            const auto& row = csv.records[1 + snapshot * 4 + i];
            EXPECT_EQ(row[0], kSnapshots[snapshot]);
            EXPECT_EQ(row[1] + ":" + row[2], kStreams[i]);
        }
    // Without --shadows: the live volume only, and no snapshot column.
    const RunResult live = RunNtfs({"list", "-r", "--all", "--format", "json", kImage}, 120);
    ASSERT_EQ(live.status, 0) << live.err;
    EXPECT_EQ(live.out.find("snapshot"), std::string::npos);
    EXPECT_EQ(std::count(live.out.begin(), live.out.end(), '\n'), 4);
    EXPECT_EQ(HashFile(kImage), hash);
}

TEST_F(NtfsShadows, VolumeNamesOneStoreAndCatReadsFromIt) {
    const RunResult liveSds = RunNtfs({"cat", kImage, "\\$Secure:$SDS"}, 120);
    ASSERT_EQ(liveSds.status, 0) << liveSds.err;
    ASSERT_EQ(liveSds.out.size(), 263492u);
    for (const char* store : {"vss1", "vss2", "@vss2"}) {
        SCOPED_TRACE(store);
        const RunResult one = RunNtfs({"list", "-r", "--all", "--volume", store, "--format", "csv", kImage}, 120);
        ASSERT_EQ(one.status, 0) << one.err;
        const auto csv = vestrel::testing::ParseCsv(one.out);
        ASSERT_EQ(csv.records.size(), 5u) << one.out;
        const std::string number = std::string(store).substr(std::string(store).find('v'));
        for (size_t i = 1; i < 5; ++i) EXPECT_EQ(csv.records[i][0].substr(0, number.size() + 1), number + " ");
        const RunResult sds = RunNtfs({"cat", "--volume", store, kImage, "\\$Secure:$SDS"}, 120);
        EXPECT_EQ(sds.status, 0) << sds.err;
        EXPECT_TRUE(sds.out == liveSds.out);
    }
    // One past the last store, store 0 and a malformed name are the user's
    // mistakes; cat over several volumes needs one chosen.
    struct Bad {
        std::vector<std::string> args;
        const char* said;
    };
    for (const Bad& b : {Bad{{"list", "--volume", "vss3", kImage}, "no shadow copy vss3 (the volume has 2)"},
                         Bad{{"list", "--volume", "vss0", kImage}, "--volume takes"},
                         Bad{{"list", "--volume", "p1@vs1", kImage}, "--volume takes"},
                         Bad{{"cat", "--shadows", kImage, "\\$Secure:$SDS"}, "choose one with --volume"}}) {
        const RunResult r = RunNtfs(b.args, 120);
        EXPECT_EQ(r.status, 2) << b.args[2];
        EXPECT_NE(r.err.find(b.said), std::string::npos) << r.err;
    }
}

TEST_F(NtfsShadows, ExtractFromAStoreGoesToItsOwnFolder) {
    const std::string dir = TempDirectory();
    const RunResult r = RunNtfs({"extract", "-r", "--all", "--quiet", "--volume", "vss2", kImage, "\\$Extend", "--to", dir}, 120);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto csv = vestrel::testing::ParseCsv(ReadFile(dir + "/index.csv"));
    ASSERT_EQ(csv.records.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(csv.records[0].begin(), csv.records[0].begin() + 5),
              (std::vector<std::string>{"snapshot", "path", "stream", "size", "directory"}));
    EXPECT_EQ(csv.records[0].back(), "saved_as");
    EXPECT_EQ(csv.records[1][0], "vss2 2013-12-03T06:37:48Z");
    EXPECT_EQ(csv.records[1].back().substr(0, 5), "vss2_");
    EXPECT_EQ(ReadFile(dir + "/" + csv.records[1].back()).size(), std::stoull(csv.records[1][3]));
    std::system(("rm -rf '" + dir + "'").c_str());
}

TEST_F(NtfsShadows, InfoShowsTheSerialLabelAndStoresAsTheSleuthKitReadsThem) {
    const RunResult r = RunNtfs({"info", "--format", "json", kImage}, 120);
    ASSERT_EQ(r.status, 0) << r.err;
    // fsstat (The Sleuth Kit) reads the same serial number and name.
    const std::string expected = "{\"volume\":\"\",\"offset\":0,\"length\":1073741824,\"file_system\":\"NTFS\","
                                 "\"bitlocker\":\"\",\"serial\":\"C45E30FD5E30EA36\",\"label\":\"vsstest\","
                                 "\"snapshots\":[{\"store\":\"vss1\",\"created\":\"2013-12-03T06:35:09Z\"},"
                                 "{\"store\":\"vss2\",\"created\":\"2013-12-03T06:37:48Z\"}],\"problem\":\"\"}";
    EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
    const RunResult table = RunNtfs({"info", "--format", "table", kImage}, 120);
    ASSERT_EQ(table.status, 0);
    EXPECT_NE(table.out.find("  shadows  2\n    vss1  2013-12-03T06:35:09Z\n    vss2  2013-12-03T06:37:48Z\n"),
              std::string::npos)
        << table.out;
}
