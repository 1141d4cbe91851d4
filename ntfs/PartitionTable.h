// Finds the NTFS volumes of a source: a bare volume, or the NTFS partitions of
// a whole-disk image with an MBR or GPT partition table. Portable: it reads
// through a callback and trusts nothing it reads.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vestrel::ntfs {

// The unit of MBR addresses, and of GPT ones unless its header sits one 4 KiB
// sector in: a plain MBR does not say which sector size it was written for.
constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kLargeSectorSize = 4096;
// Logical partitions followed in one extended partition before giving up.
constexpr unsigned kMaxLogical = 256;

struct Partition {
    // As Linux numbers partitions: "p1" to "p4" for an MBR slot, "p5" on for
    // the logical ones in chain order, the entry number on a GPT disk; "" for
    // a bare volume.
    std::string label;
    uint64_t offset = 0;  // bytes from the start of the source
    uint64_t length = 0;  // bytes
};

enum class Layout { Volume, Mbr, Gpt, Unknown };

struct DiskLayout {
    Layout kind = Layout::Unknown;
    uint32_t sectorSize = kSectorSize;  // the unit of the table's addresses
    std::vector<Partition> volumes;     // NTFS (and BitLocker) volumes only, in table order
    // The partitions passed over, in table order, with what their first
    // sector shows ("FAT", "exFAT", or "" when nothing known).
    std::vector<std::pair<Partition, std::string>> others;
    std::vector<std::string> problems;  // damage found on the way, one per line
};

// Reads exactly `count` bytes at `offset`; false when it cannot.
using ReadAt = std::function<bool(uint64_t offset, void* buffer, size_t count)>;

// True when the 512 bytes carry an NTFS boot sector's marks (OEM id and the
// 0x55AA signature).
bool IsNtfsBootSector(const uint8_t* sector);

// What the source holds. A partition entry is kept only when its first sector
// is an NTFS boot sector or BitLocker's; entries that point outside the source are problems.
// The logical partitions of MBR extended partitions are followed through
// their chain of boot records; a chain that loops or leaves the extended
// partition ends there with a problem.
DiskLayout ReadDiskLayout(const ReadAt& read, uint64_t sourceSize);

// CRC-32 (IEEE, reflected) as GPT uses it.
uint32_t Crc32(const uint8_t* data, size_t size);

}  // namespace vestrel::ntfs
