// Partition tables written byte by byte, for the unit tests and the disk
// image fixtures: MBR and extended boot records, and GPT with the checksums
// a reader verifies.
#pragma once
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace vestrel::ntfs::tables {

constexpr uint8_t kTypeNtfs = 0x07, kTypeLinux = 0x83, kTypeExtended = 0x0F, kTypeExtendedLink = 0x05;

void Put32(uint8_t* p, uint32_t v);
void Put64(uint8_t* p, uint64_t v);

// Slot `slot` (0 to 3) of the boot record (MBR or EBR) in `sector`, and the
// record's signature.
void SetEntry(uint8_t* sector, int slot, uint8_t type, uint32_t lba, uint32_t sectors);

struct GptEntry {
    uint64_t first, last;  // inclusive LBAs
};

// A GPT disk of `totalSectors` sectors of `sectorSize` bytes: the protective
// MBR at `disk`, the header in sector 1, `count` 128-byte entries (Basic
// Data partitions) from sector 2. `disk` holds at least 2 sectors and the
// entry array.
void WriteGpt(uint8_t* disk, uint32_t sectorSize, uint64_t totalSectors, const std::vector<GptEntry>& parts,
              uint32_t count = 128);

struct Logical {
    uint64_t record;   // LBA of its extended boot record
    uint64_t first;    // LBA of the partition
    uint64_t sectors;
    uint8_t type = kTypeNtfs;
};

// The extended boot records of a chain in the extended partition starting at
// `extendedStart`: record i holds logical partition i and links to record
// i + 1. Each comes with its LBA.
std::vector<std::pair<uint64_t, std::array<uint8_t, 512>>> ExtendedChain(uint64_t extendedStart,
                                                                          const std::vector<Logical>& logicals);

}  // namespace vestrel::ntfs::tables
