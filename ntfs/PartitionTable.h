// Finds the NTFS volumes of a source: a bare volume, or the NTFS partitions of
// a whole-disk image with an MBR or GPT partition table. Portable: it reads
// through a callback and trusts nothing it reads.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vestrel::ntfs {

constexpr uint32_t kSectorSize = 512;

struct Partition {
    std::string label;    // "p1", "p2"... (table slot, 1-based); "" for a bare volume
    uint64_t offset = 0;  // bytes from the start of the source
    uint64_t length = 0;  // bytes
};

enum class Layout { Volume, Mbr, Gpt, Unknown };

struct DiskLayout {
    Layout kind = Layout::Unknown;
    std::vector<Partition> volumes;     // NTFS volumes only, in table order
    std::vector<std::string> problems;  // damage found on the way, one per line
};

// Reads exactly `count` bytes at `offset`; false when it cannot.
using ReadAt = std::function<bool(uint64_t offset, void* buffer, size_t count)>;

// True when the 512 bytes carry an NTFS boot sector's marks (OEM id and the
// 0x55AA signature).
bool IsNtfsBootSector(const uint8_t* sector);

// What the source holds. A partition entry is kept only when its first sector
// is an NTFS boot sector; entries that point outside the source are problems.
DiskLayout ReadDiskLayout(const ReadAt& read, uint64_t sourceSize);

// CRC-32 (IEEE, reflected) as GPT uses it.
uint32_t Crc32(const uint8_t* data, size_t size);

}  // namespace vestrel::ntfs
