// What the source holds: a bare volume, MBR or GPT disks with NTFS and other
// partitions, and damaged tables that must not lead reads astray.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "DiskTables.h"
#include "PartitionTable.h"

using namespace vestrel::ntfs;

namespace {

struct Disk {
    std::vector<uint8_t> bytes;
    uint32_t sector;
    explicit Disk(uint64_t sectors, uint32_t sectorSize = kSectorSize)
        : bytes(sectors * sectorSize, 0), sector(sectorSize) {}
    uint8_t* At(uint64_t lba) { return bytes.data() + lba * sector; }
    void Ntfs(uint64_t lba) {
        std::memcpy(At(lba) + 3, "NTFS    ", 8);
        At(lba)[510] = 0x55;
        At(lba)[511] = 0xAA;
    }
    void Mbr(int slot, uint8_t type, uint32_t lba, uint32_t sectors) { tables::SetEntry(At(0), slot, type, lba, sectors); }
    // A GPT with `count` 128-byte entries at LBA 2.
    void Gpt(const std::vector<std::pair<uint64_t, uint64_t>>& parts, uint32_t count = 128) {
        std::vector<tables::GptEntry> entries;
        for (const auto& p : parts) entries.push_back({p.first, p.second});
        tables::WriteGpt(At(0), sector, bytes.size() / sector, entries, count);
    }
    void Chain(uint64_t extendedStart, const std::vector<tables::Logical>& logicals) {
        for (const auto& [lba, record] : tables::ExtendedChain(extendedStart, logicals))
            std::memcpy(At(lba), record.data(), record.size());
    }
    DiskLayout Read() {
        return ReadDiskLayout(
            [this](uint64_t offset, void* out, size_t count) {
                if (offset > bytes.size() || count > bytes.size() - offset) return false;
                std::memcpy(out, bytes.data() + offset, count);
                return true;
            },
            bytes.size());
    }
};

void ExpectVolumes(const DiskLayout& layout, const std::vector<Partition>& expected) {
    ASSERT_EQ(layout.volumes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(layout.volumes[i].label, expected[i].label);
        EXPECT_EQ(layout.volumes[i].offset, expected[i].offset) << expected[i].label;
        EXPECT_EQ(layout.volumes[i].length, expected[i].length) << expected[i].label;
    }
    EXPECT_TRUE(layout.problems.empty());
}

}  // namespace

TEST(PartitionTable, BareVolumeIsOneUnlabelledVolume) {
    Disk d(64);
    d.Ntfs(0);
    const DiskLayout layout = d.Read();
    EXPECT_EQ(layout.kind, Layout::Volume);
    ExpectVolumes(layout, {{"", 0, 64 * kSectorSize}});
}

TEST(PartitionTable, MbrKeepsOnlyNtfsPartitionsWithTheirSlotNumbers) {
    Disk d(400);
    d.Mbr(0, 0x07, 10, 100);
    d.Mbr(1, 0x83, 110, 50);  // not NTFS: skipped, but its slot number is not reused
    d.Mbr(2, 0x07, 200, 100);
    d.Ntfs(10);
    d.Ntfs(200);
    const DiskLayout layout = d.Read();
    EXPECT_EQ(layout.kind, Layout::Mbr);
    ExpectVolumes(layout, {{"p1", 10 * kSectorSize, 100 * kSectorSize}, {"p3", 200 * kSectorSize, 100 * kSectorSize}});
}

TEST(PartitionTable, MbrEntryBeyondTheEndIsAProblemNotARead) {
    Disk d(100);
    d.Mbr(0, 0x07, 90, 100);          // runs past the end
    d.Mbr(1, 0x07, 0xFFFFFFF0u, 16);  // starts past the end
    const DiskLayout layout = d.Read();
    EXPECT_TRUE(layout.volumes.empty());
    EXPECT_EQ(layout.problems.size(), 2u);
}

TEST(PartitionTable, GptListsEveryNtfsPartition) {
    Disk d(600);
    d.Gpt({{40, 139}, {200, 399}, {400, 499}});
    d.Ntfs(40);
    d.Ntfs(200);  // the third is not NTFS
    const DiskLayout layout = d.Read();
    EXPECT_EQ(layout.kind, Layout::Gpt);
    ExpectVolumes(layout, {{"p1", 40 * kSectorSize, 100 * kSectorSize}, {"p2", 200 * kSectorSize, 200 * kSectorSize}});
}

TEST(PartitionTable, GptChecksumMismatchIsSaidButReadAnyway) {
    Disk d(600);
    d.Gpt({{40, 139}});
    d.Ntfs(40);
    d.At(2)[100] ^= 1;  // inside the entry array, outside the used fields
    const DiskLayout layout = d.Read();
    EXPECT_EQ(layout.volumes.size(), 1u);
    ASSERT_EQ(layout.problems.size(), 1u);
    EXPECT_NE(layout.problems[0].find("checksum"), std::string::npos);
}

struct BadGpt {
    const char* what;
    uint32_t entryCount, entrySize;
    uint64_t arrayLba;
};

void PrintTo(const BadGpt& c, std::ostream* out) { *out << c.what; }
class DamagedGpt : public ::testing::TestWithParam<BadGpt> {};

TEST_P(DamagedGpt, RefusedWithAProblem) {
    Disk d(600);
    d.Gpt({{40, 139}});
    d.Ntfs(40);
    uint8_t* h = d.At(1);
    tables::Put32(h + 80, GetParam().entryCount);
    tables::Put32(h + 84, GetParam().entrySize);
    tables::Put64(h + 72, GetParam().arrayLba);
    const DiskLayout layout = d.Read();
    EXPECT_TRUE(layout.volumes.empty()) << GetParam().what;
    EXPECT_FALSE(layout.problems.empty()) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedGpt,
    ::testing::Values(BadGpt{"huge array", 0x100000, 128, 2}, BadGpt{"tiny entries", 128, 16, 2},
                      BadGpt{"array past the end", 128, 128, 599}, BadGpt{"array lba overflows", 128, 128, ~0ull / 256}));

TEST(PartitionTable, GptWithFourKibSectorsCountsInThem) {
    Disk d(80, kLargeSectorSize);
    d.Gpt({{10, 29}, {40, 69}});
    d.Ntfs(10);
    d.Ntfs(40);
    const DiskLayout layout = d.Read();
    EXPECT_EQ(layout.kind, Layout::Gpt);
    EXPECT_EQ(layout.sectorSize, 4096u);
    ExpectVolumes(layout, {{"p1", 10 * 4096, 20 * 4096}, {"p2", 40 * 4096, 30 * 4096}});
}

// p1 NTFS, p2 an extended partition of the type under test, p3 NTFS after
// it; inside p2 an NTFS, a Linux and an NTFS logical partition.
class ExtendedMbr : public ::testing::TestWithParam<uint8_t> {};

TEST_P(ExtendedMbr, LogicalPartitionsAreNumberedFromFiveInChainOrder) {
    Disk d(1200);
    d.Mbr(0, tables::kTypeNtfs, 64, 100);
    d.Mbr(1, GetParam(), 200, 800);
    d.Mbr(2, tables::kTypeNtfs, 1000, 150);
    d.Chain(200, {{200, 210, 100}, {320, 330, 50, tables::kTypeLinux}, {400, 410, 300}});
    for (uint64_t lba : {64, 210, 330, 410, 1000}) d.Ntfs(lba);
    d.At(330)[3] = 'X';  // the Linux one is not NTFS
    const DiskLayout layout = d.Read();
    EXPECT_EQ(layout.kind, Layout::Mbr);
    ExpectVolumes(layout, {{"p1", 64 * kSectorSize, 100 * kSectorSize},
                           {"p5", 210 * kSectorSize, 100 * kSectorSize},
                           {"p7", 410 * kSectorSize, 300 * kSectorSize},
                           {"p3", 1000 * kSectorSize, 150 * kSectorSize}});
}

INSTANTIATE_TEST_SUITE_P(Types, ExtendedMbr, ::testing::Values(0x05, 0x0F, 0x85));

TEST(PartitionTable, ZeroSizeEntriesAreEmptyNotDamage) {
    Disk d(1000);
    d.Mbr(0, tables::kTypeNtfs, 64, 0);
    d.Mbr(1, tables::kTypeExtended, 0, 0);
    d.Mbr(2, tables::kTypeExtended, 200, 700);
    // An empty first logical slot takes no number; a zero-size link ends the chain.
    d.Chain(200, {{200, 200, 0}, {300, 310, 100}, {500, 510, 100}});
    tables::Put32(d.At(300) + 446 + 16 + 12, 0);
    for (uint64_t lba : {64, 310, 510}) d.Ntfs(lba);
    ExpectVolumes(d.Read(), {{"p5", 310 * kSectorSize, 100 * kSectorSize}});
}

struct BadChain {
    const char* what;
    void (*damage)(Disk* d);
    std::vector<std::string> labels;  // what is still listed
    const char* said;                 // part of the problem reported
};

void PrintTo(const BadChain& c, std::ostream* out) { *out << c.what; }
class DamagedExtended : public ::testing::TestWithParam<BadChain> {};

// Three logical NTFS partitions in p2 (sectors 200 to 899) of a 1000-sector
// disk, then the damage.
TEST_P(DamagedExtended, TheChainEndsWithAProblemAndKeepsWhatCameBefore) {
    Disk d(1000);
    d.Mbr(0, tables::kTypeNtfs, 64, 100);
    d.Mbr(1, tables::kTypeExtended, 200, 700);
    d.Chain(200, {{200, 210, 50}, {300, 310, 50}, {400, 410, 50}});
    for (uint64_t lba : {64, 210, 310, 410}) d.Ntfs(lba);
    GetParam().damage(&d);
    const DiskLayout layout = d.Read();
    std::vector<std::string> labels;
    for (const Partition& p : layout.volumes) labels.push_back(p.label);
    EXPECT_EQ(labels, GetParam().labels);
    ASSERT_EQ(layout.problems.size(), 1u) << (layout.problems.empty() ? "" : layout.problems[0]);
    EXPECT_NE(layout.problems[0].find(GetParam().said), std::string::npos) << layout.problems[0];
}

uint8_t* LinkOf(Disk* d, uint64_t record) { return d->At(record) + 446 + 16; }

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedExtended,
    ::testing::Values(
        BadChain{"loop back to the first record", [](Disk* d) { tables::Put32(LinkOf(d, 400) + 8, 0); tables::Put32(LinkOf(d, 400) + 12, 50); LinkOf(d, 400)[4] = 0x05; },
                 {"p1", "p5", "p6", "p7"}, "loops"},
        BadChain{"record linked to itself", [](Disk* d) { tables::Put32(LinkOf(d, 300) + 8, 100); },
                 {"p1", "p5", "p6"}, "loops"},
        BadChain{"link past the end of the source",
                 [](Disk* d) {
                     tables::SetEntry(d->At(0), 1, tables::kTypeExtended, 200, 5000);
                     tables::Put32(LinkOf(d, 300) + 8, 4000);
                 },
                 {"p1", "p5", "p6"}, "beyond the end of the source"},
        BadChain{"link outside the extended partition", [](Disk* d) { tables::Put32(LinkOf(d, 200) + 8, 750); },
                 {"p1", "p5"}, "outside its extended partition"},
        BadChain{"extended partition inside the extended one",
                 [](Disk* d) { d->At(300)[446 + 4] = tables::kTypeExtendedLink; },
                 {"p1", "p5", "p6"}, "holds an extended partition"},
        BadChain{"record without a signature", [](Disk* d) { d->At(400)[511] = 0; }, {"p1", "p5", "p6"},
                 "no boot record signature"},
        BadChain{"link of a data type", [](Disk* d) { LinkOf(d, 200)[4] = tables::kTypeLinux; }, {"p1", "p5"},
                 "not extended"},
        BadChain{"extended partition at the table itself",
                 [](Disk* d) { tables::SetEntry(d->At(0), 1, tables::kTypeExtended, 0, 900); }, {"p1"},
                 "starts at the partition table"},
        BadChain{"extended partition past the end",
                 [](Disk* d) { tables::SetEntry(d->At(0), 1, tables::kTypeExtended, 1000, 900); }, {"p1"},
                 "beyond the end of the source"}));

TEST(PartitionTable, AnEndlessChainStopsAtTheLimit) {
    const unsigned count = kMaxLogical + 20;
    Disk d(16 + 2 * count);
    d.Mbr(0, tables::kTypeExtended, 16, 2 * count);
    std::vector<tables::Logical> logicals;
    for (unsigned i = 0; i < count; ++i) {
        logicals.push_back({16 + 2 * i, 17 + 2 * i, 1});
        d.Ntfs(17 + 2 * i);
    }
    d.Chain(16, logicals);
    const DiskLayout layout = d.Read();
    ASSERT_EQ(layout.volumes.size(), kMaxLogical);
    EXPECT_EQ(layout.volumes.back().label, "p" + std::to_string(4 + kMaxLogical));
    ASSERT_EQ(layout.problems.size(), 1u);
    EXPECT_NE(layout.problems[0].find("more than"), std::string::npos);
}

TEST(PartitionTable, NeitherVolumeNorTableIsAProblem) {
    Disk d(8);
    EXPECT_TRUE(d.Read().volumes.empty());
    EXPECT_FALSE(d.Read().problems.empty());
    Disk tiny(0);
    EXPECT_FALSE(tiny.Read().problems.empty());
}

TEST(PartitionTable, Crc32MatchesTheStandardCheckValue) {
    const char* text = "123456789";
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(text), 9), 0xCBF43926u);
}

// Where an MBR partition may end: on the source's last sector, and not one
// past it; likewise where it may start.
struct MbrBound {
    const char* what;
    uint32_t first, sectors;
    bool kept;
};
void PrintTo(const MbrBound& c, std::ostream* out) { *out << c.what; }
class MbrBounds : public ::testing::TestWithParam<MbrBound> {};

TEST_P(MbrBounds, KeptExactlyWhenInsideTheSource) {
    const MbrBound& c = GetParam();
    Disk d(100);
    d.Mbr(0, 0x07, c.first, c.sectors);
    if (c.first < 100) d.Ntfs(c.first);
    const DiskLayout layout = d.Read();
    if (c.kept) {
        ExpectVolumes(layout, {{"p1", uint64_t(c.first) * kSectorSize, uint64_t(c.sectors) * kSectorSize}});
    } else {
        EXPECT_TRUE(layout.volumes.empty());
        ASSERT_EQ(layout.problems.size(), 1u);
        EXPECT_NE(layout.problems[0].find("beyond the end"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, MbrBounds,
                         ::testing::Values(MbrBound{"ends on the last sector", 10, 90, true},
                                           MbrBound{"ends one past it", 10, 91, false},
                                           MbrBound{"one sector, the last", 99, 1, true},
                                           MbrBound{"two sectors from the last", 99, 2, false},
                                           MbrBound{"ends one before it", 10, 89, true}));
