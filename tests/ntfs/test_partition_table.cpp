// What the source holds: a bare volume, MBR or GPT disks with NTFS and other
// partitions, and damaged tables that must not lead reads astray.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "PartitionTable.h"

using namespace vestrel::ntfs;

namespace {

struct Disk {
    std::vector<uint8_t> bytes;
    explicit Disk(uint64_t sectors) : bytes(sectors * kSectorSize, 0) {}
    uint8_t* At(uint64_t lba) { return bytes.data() + lba * kSectorSize; }
    void Put32(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i)); }
    void Put64(uint8_t* p, uint64_t v) { for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i)); }
    void Ntfs(uint64_t lba) {
        std::memcpy(At(lba) + 3, "NTFS    ", 8);
        At(lba)[510] = 0x55;
        At(lba)[511] = 0xAA;
    }
    void Mbr(int slot, uint8_t type, uint32_t lba, uint32_t sectors) {
        uint8_t* e = At(0) + 446 + slot * 16;
        e[4] = type;
        Put32(e + 8, lba);
        Put32(e + 12, sectors);
        At(0)[510] = 0x55;
        At(0)[511] = 0xAA;
    }
    // A GPT with `count` 128-byte entries at LBA 2.
    void Gpt(const std::vector<std::pair<uint64_t, uint64_t>>& parts, uint32_t count = 128) {
        Mbr(0, 0xEE, 1, uint32_t(bytes.size() / kSectorSize - 1));
        uint8_t* entries = At(2);
        for (size_t i = 0; i < parts.size(); ++i) {
            entries[i * 128] = 0xA2;  // any non-zero type
            Put64(entries + i * 128 + 32, parts[i].first);
            Put64(entries + i * 128 + 40, parts[i].second);
        }
        uint8_t* h = At(1);
        std::memcpy(h, "EFI PART", 8);
        Put32(h + 12, 92);
        Put64(h + 72, 2);
        Put32(h + 80, count);
        Put32(h + 84, 128);
        Put32(h + 88, Crc32(entries, size_t(count) * 128));
        Put32(h + 16, 0);
        Put32(h + 16, Crc32(h, 92));
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
    d.Put32(h + 80, GetParam().entryCount);
    d.Put32(h + 84, GetParam().entrySize);
    d.Put64(h + 72, GetParam().arrayLba);
    const DiskLayout layout = d.Read();
    EXPECT_TRUE(layout.volumes.empty()) << GetParam().what;
    EXPECT_FALSE(layout.problems.empty()) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedGpt,
    ::testing::Values(BadGpt{"huge array", 0x100000, 128, 2}, BadGpt{"tiny entries", 128, 16, 2},
                      BadGpt{"array past the end", 128, 128, 599}, BadGpt{"array lba overflows", 128, 128, ~0ull / 256}));

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
