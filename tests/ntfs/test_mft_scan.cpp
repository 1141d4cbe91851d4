// The MFT-order listing read in-process against the directory walk on the
// same volumes: the same rows (as sets, record numbers included) on every
// fixture, with and without metadata files; on volumes with bytes flipped in
// their MFT, never a row the walk has not; and deleted files' streams found
// where they were, with the bytes they held.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string_view>

#include "Fixture.h"
#include "Source.h"
#include "MftScan.h"
#include "NtfsLib.h"
#include "Volume.h"
#include "Walk.h"

using namespace vestrel::ntfs;
using vestrel::report::ToUtf8;

namespace {

std::string Key(const vestrel::report::StreamRow& row) {
    return ToUtf8(row.path) + ":" + ToUtf8(row.stream) + " " + std::to_string(row.size) +
           (row.isDirectory ? " dir" : "") + " #" + std::to_string(row.record);
}

struct Listed {
    bool mounted = false;
    std::set<std::string> rows;
    std::vector<std::string> problems;
    std::map<std::string, std::string> deleted;  // key -> recovery
};

enum class How { Walk, Scan };

Listed List(const std::string& image, How how, bool all, bool deleted = false) {
    Listed out;
    std::string error;
    const std::unique_ptr<Source> source = OpenRaw(image, &error);
    if (!source) return out;
    std::unique_ptr<Volume> volume = Volume::Mount(*source, Partition{"", 0, source->size()}, &error);
    if (!volume) return out;
    out.mounted = true;
    const OnStream onStream = [&](const vestrel::report::StreamRow& row, _ntfs_inode*) {
        EXPECT_TRUE(out.rows.insert(Key(row)).second) << "listed twice: " << Key(row);
    };
    const OnProblem onProblem = [&](const std::u16string& path, const std::string& what) {
        out.problems.push_back(ToUtf8(path) + ": " + what);
    };
    if (how == How::Walk) {
        WalkOptions options;
        options.recursive = true;
        options.all = all;
        Walker(volume->get(), options, onStream, onProblem).Run(u"\\");
    } else {
        ScanOptions options;
        options.all = all;
        options.deleted = deleted;
        MftScan(volume->get(), options, onStream,
                [&](const vestrel::report::StreamRow& row, const DeletedStream& stream) {
                    std::string why;
                    out.deleted[Key(row)] = ToUtf8(RecoveryWord(CheckDeleted(volume->get(), stream, &why)));
                },
                onProblem)
            .Run();
    }
    return out;
}

std::string g_dir;

std::string Dir() {
    if (g_dir.empty()) {
        char pattern[] = "/tmp/vestrel-mft-XXXXXX";
        const char* made = mkdtemp(pattern);
        g_dir = made != nullptr ? made : "";
    }
    return g_dir;
}

// Each fixture built once, on first use.
std::string Image(const std::string& name) {
    static std::map<std::string, std::string> built;
    auto it = built.find(name);
    if (it != built.end()) return it->second;
    const std::string image = Dir() + "/" + name + ".raw";
    std::string error;
    bool ok = false;
    if (name == "standard") ok = fixture::BuildStandard(image, &error);
    else if (name == "loop") ok = fixture::BuildLoop(image, &error);
    else if (name == "moved") ok = fixture::BuildMoved(image, &error);
    else if (name == "compressed") ok = fixture::BuildCompressed(image, 100000, &error);
    else if (name == "demo") ok = fixture::BuildDemo(image, &error);
    else if (name == "bench") ok = fixture::BuildBench(image, 700, &error, 7);
    else if (name == "deleted") {
        fixture::DeletedFixture bytes;
        ok = fixture::BuildDeleted(image, &bytes, &error);
    }
    EXPECT_TRUE(ok) << name << ": " << error;
    return built[name] = ok ? image : "";
}

class EveryFixture : public ::testing::TestWithParam<std::tuple<std::string, bool>> {};

}  // namespace

TEST_P(EveryFixture, ScanListsWhatTheWalkLists) {
    const auto& [name, all] = GetParam();
    const std::string image = Image(name);
    ASSERT_FALSE(image.empty());
    const Listed walk = List(image, How::Walk, all), scan = List(image, How::Scan, all);
    ASSERT_TRUE(walk.mounted && scan.mounted);
    EXPECT_FALSE(walk.rows.empty());
    EXPECT_EQ(scan.rows, walk.rows);
    // Damage one of them saw, both saw (the loop's second name).
    EXPECT_EQ(scan.problems.empty(), walk.problems.empty())
        << (scan.problems.empty() ? "" : scan.problems[0]) << (walk.problems.empty() ? "" : walk.problems[0]);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, EveryFixture,
                         ::testing::Combine(::testing::Values("standard", "loop", "moved", "compressed", "demo",
                                                              "bench", "deleted"),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return std::get<0>(info.param) + (std::get<1>(info.param) ? "_all" : "");
                         });

// The moved fixture's rows, spelled out: a file read before its directory,
// and a directory before its parent, still get their whole paths.
TEST(MftScan, RecordsBeforeTheirDirectoriesGetTheirPaths) {
    const Listed scan = List(Image("moved"), How::Scan, false);
    std::set<std::string> paths;
    for (const std::string& row : scan.rows) paths.insert(row.substr(0, row.find(' ')));
    EXPECT_EQ(paths, (std::set<std::string>{"\\late\\early.txt:e", "\\outer\\d1:ds", "\\outer\\d1\\g.txt:g"}));
    EXPECT_TRUE(scan.problems.empty());
}

// Bytes flipped in the MFT (the corruption test's seeds): the scan may find
// what a broken index hides from the walk, never a row the walk would list
// differently, and it says so when it passes a record over.
TEST(MftScan, DamagedRecordsArePassedOverAndSaid) {
    std::string clean;
    {
        std::ifstream in(Image("standard"), std::ios::binary);
        clean.assign(std::istreambuf_iterator<char>(in), {});
    }
    const auto* b = reinterpret_cast<const uint8_t*>(clean.data());
    const uint64_t cluster = uint64_t(b[11] | b[12] << 8) * b[13];
    uint64_t lcn = 0;
    for (int i = 7; i >= 0; --i) lcn = lcn << 8 | b[0x30 + i];
    const uint64_t mft = lcn * cluster;
    unsigned damagedSeen = 0;
    for (unsigned seed = 1; seed <= 12; ++seed) {
        std::string bytes = clean;
        std::mt19937 random(seed);
        const uint64_t from = mft + (seed % 2 ? 0 : 16 * 1024), to = mft + 128 * 1024;
        for (int i = 0; i < 48; ++i) {
            const uint64_t at = from + random() % (to - from);
            bytes[size_t(at)] = char(bytes[size_t(at)] ^ (1 << (random() % 8)));
        }
        const std::string image = Dir() + "/flipped.raw";
        std::ofstream(image, std::ios::binary) << bytes;
        const Listed walk = List(image, How::Walk, true), scan = List(image, How::Scan, true);
        if (!walk.mounted) continue;
        ASSERT_TRUE(scan.mounted);
        for (const std::string& row : scan.rows) {
            // A row of the scan the walk lacks is one whose directory the walk
            // could not read: the walk said so.
            if (walk.rows.count(row) == 0) {
                EXPECT_FALSE(walk.problems.empty()) << "seed " << seed << ": " << row;
            }
        }
        for (const std::string& row : walk.rows) {
            if (scan.rows.count(row) == 0) {
                EXPECT_FALSE(scan.problems.empty()) << "seed " << seed << ": " << row;
            }
        }
        if (!scan.problems.empty()) ++damagedSeen;
    }
    EXPECT_GT(damagedSeen, 0u);  // the seeds do hit records the scan reads
}

// One record damaged on purpose: the scan says which record and why, once,
// and lists everything else as the walk does (which cannot read it either).
struct RecordDamage {
    const char* what;
    size_t at;          // in the record
    uint32_t value;     // written there, little-endian
    int bytes;
    const char* said;
};
void PrintTo(const RecordDamage& c, std::ostream* out) { *out << c.what; }
class DamagedRecord : public ::testing::TestWithParam<RecordDamage> {};

TEST_P(DamagedRecord, SaidOnceAndPassedOver) {
    const RecordDamage& c = GetParam();
    std::string bytes;
    {
        std::ifstream in(Image("standard"), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
    uint64_t lcn = 0;
    for (int i = 7; i >= 0; --i) lcn = lcn << 8 | b[0x30 + i];
    const size_t mft = size_t(lcn * uint64_t(b[11] | b[12] << 8) * b[13]);
    // The record holding sizes.txt's name.
    const std::u16string name = u"sizes.txt";
    const std::string needle(reinterpret_cast<const char*>(name.data()), name.size() * 2);
    size_t record = 0;
    for (size_t at = mft + 16 * 1024; at + 1024 <= bytes.size() && record == 0; at += 1024)
        if (std::string_view(bytes.data() + at, 1024).find(needle) != std::string_view::npos) record = at;
    ASSERT_NE(record, 0u);
    for (int i = 0; i < c.bytes; ++i) bytes[record + c.at + size_t(i)] = char(c.value >> (8 * i));
    const std::string image = Dir() + "/one-damaged.raw";
    std::ofstream(image, std::ios::binary) << bytes;

    const Listed walk = List(image, How::Walk, false), scan = List(image, How::Scan, false);
    ASSERT_TRUE(scan.mounted);
    EXPECT_EQ(scan.rows, walk.rows);
    for (const std::string& row : scan.rows) EXPECT_EQ(row.find("sizes.txt"), std::string::npos) << row;
    ASSERT_EQ(scan.problems.size(), 1u);
    const std::string label = "$MFT record " + std::to_string((record - mft) / 1024) + ": ";
    EXPECT_EQ(scan.problems[0].substr(0, label.size()), label) << scan.problems[0];
    EXPECT_NE(scan.problems[0].find(c.said), std::string::npos) << scan.problems[0];
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedRecord,
    ::testing::Values(RecordDamage{"update sequence number torn", 510, 0xBEEF, 2, "update sequence"},
                      RecordDamage{"in use past the record", 24, 1025, 4, "contradict"},
                      RecordDamage{"first attribute past what is in use", 20, 1016, 2, "contradict"},
                      RecordDamage{"zeroed signature", 0, 0, 4, "holds no file record"}));

TEST(MftScan, DeletedFilesAreFoundWhereTheyWere) {
    const Listed scan = List(Image("deleted"), How::Scan, false, true);
    std::map<std::string, std::string> byPath;
    for (const auto& [key, recovery] : scan.deleted) byPath[key.substr(0, key.find(' '))] = recovery;
    const std::map<std::string, std::string> expected = {
        {"\\keep\\gone.txt:res", "recovered"},
        {"\\keep\\gone.txt:big", "recovered"},
        {"\\$OrphanFiles\\orphan.txt:o", "recovered"},  // its directory went too
        {"\\reused.txt:carrier", "overwritten"},        // the filler took its clusters
    };
    EXPECT_EQ(byPath, expected);
    // Deleted rows never show up as live ones.
    std::set<std::string> live;
    for (const std::string& row : scan.rows) live.insert(row.substr(0, row.find(' ')));
    EXPECT_EQ(live, (std::set<std::string>{"\\keep\\live.txt:live"}));
    EXPECT_TRUE(scan.problems.empty()) << scan.problems[0];
}

TEST(MftScan, DeletedStreamsGiveTheBytesTheyHeld) {
    const std::string image = Dir() + "/deleted-bytes.raw";
    fixture::DeletedFixture bytes;
    std::string error;
    ASSERT_TRUE(fixture::BuildDeleted(image, &bytes, &error)) << error;
    const std::unique_ptr<Source> source = OpenRaw(image, &error);
    ASSERT_TRUE(source) << error;
    auto volume = Volume::Mount(*source, Partition{"", 0, source->size()}, &error);
    ASSERT_TRUE(volume) << error;
    std::map<std::string, std::string> read;
    ScanOptions options;
    options.live = false;
    options.deleted = true;
    MftScan(volume->get(), options, nullptr,
            [&](const vestrel::report::StreamRow& row, const DeletedStream& stream) {
                std::string content, why;
                EXPECT_TRUE(ReadDeleted(volume->get(), stream,
                                        [&](const char* data, size_t size) {
                                            content.append(data, size);
                                            return true;
                                        },
                                        &why))
                    << why;
                EXPECT_EQ(content.size(), row.size);
                read[ToUtf8(row.path + u":" + row.stream)] = content;
            },
            [](const std::u16string&, const std::string& what) { ADD_FAILURE() << what; })
        .Run();
    EXPECT_EQ(read["\\keep\\gone.txt:res"], bytes.resident);
    EXPECT_EQ(read["\\keep\\gone.txt:big"], bytes.nonResident);
    EXPECT_EQ(read["\\$OrphanFiles\\orphan.txt:o"], bytes.orphan);
    // Overwritten: as many bytes as it had, but no longer its own.
    EXPECT_EQ(read["\\reused.txt:carrier"].size(), bytes.reused.size());
    EXPECT_NE(read["\\reused.txt:carrier"], bytes.reused);
}

namespace {
class RemoveImages : public ::testing::Environment {
public:
    void TearDown() override {
        if (!g_dir.empty()) std::filesystem::remove_all(g_dir);
    }
};
const auto* g_cleanup = ::testing::AddGlobalTestEnvironment(new RemoveImages);
}  // namespace
