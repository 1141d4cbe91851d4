#include "PartitionTable.h"

#include <cstring>

#include "Bytes.h"

namespace vestrel::ntfs {
namespace {

constexpr uint8_t kMbrProtective = 0xEE;
// A GPT entry array is normally 16 KiB; anything past 1 MiB is damage.
constexpr uint64_t kMaxGptArrayBytes = 1u << 20;

// Keeps the slot when it lies inside the source and starts with NTFS.
void Consider(const ReadAt& read, uint64_t sourceSize, unsigned slot, uint64_t firstLba,
              uint64_t sectors, DiskLayout* out) {
    const std::string label = "p" + std::to_string(slot);
    if (sectors == 0) return;
    if (firstLba > sourceSize / kSectorSize || sectors > sourceSize / kSectorSize - firstLba) {
        out->problems.push_back("partition " + label + " lies beyond the end of the source");
        return;
    }
    uint8_t boot[kSectorSize];
    if (!read(firstLba * kSectorSize, boot, sizeof boot)) {
        out->problems.push_back("partition " + label + ": its first sector cannot be read");
        return;
    }
    if (IsNtfsBootSector(boot))
        out->volumes.push_back({label, firstLba * kSectorSize, sectors * kSectorSize});
}

void ReadGpt(const ReadAt& read, uint64_t sourceSize, DiskLayout* out) {
    out->kind = Layout::Gpt;
    uint8_t header[kSectorSize];
    if (!read(kSectorSize, header, sizeof header) || std::memcmp(header, "EFI PART", 8) != 0) {
        out->problems.push_back("protective MBR without a GPT header");
        return;
    }
    const uint32_t headerSize = Le32(header + 12);
    if (headerSize < 92 || headerSize > kSectorSize) {
        out->problems.push_back("GPT header has an impossible size");
        return;
    }
    uint8_t copy[kSectorSize];
    std::memcpy(copy, header, headerSize);
    std::memset(copy + 16, 0, 4);
    if (Crc32(copy, headerSize) != Le32(header + 16))
        out->problems.push_back("GPT header checksum does not match (read anyway)");
    const uint64_t arrayLba = Le64(header + 72);
    const uint32_t count = Le32(header + 80);
    const uint32_t entrySize = Le32(header + 84);
    if (entrySize < 128 || entrySize % 8 != 0 || uint64_t(count) * entrySize > kMaxGptArrayBytes) {
        out->problems.push_back("GPT partition array has an impossible size");
        return;
    }
    const uint64_t bytes = uint64_t(count) * entrySize;
    if (arrayLba > sourceSize / kSectorSize || bytes > sourceSize - arrayLba * kSectorSize) {
        out->problems.push_back("GPT partition array lies beyond the end of the source");
        return;
    }
    std::vector<uint8_t> entries(bytes);
    if (bytes != 0 && !read(arrayLba * kSectorSize, entries.data(), entries.size())) {
        out->problems.push_back("GPT partition array cannot be read");
        return;
    }
    if (Crc32(entries.data(), entries.size()) != Le32(header + 88))
        out->problems.push_back("GPT partition array checksum does not match (read anyway)");
    static const uint8_t kUnused[16] = {};
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = entries.data() + uint64_t(i) * entrySize;
        if (std::memcmp(e, kUnused, 16) == 0) continue;
        const uint64_t first = Le64(e + 32), last = Le64(e + 40);
        if (last < first) {
            out->problems.push_back("partition p" + std::to_string(i + 1) + " ends before it starts");
            continue;
        }
        Consider(read, sourceSize, i + 1, first, last - first + 1, out);
    }
}

}  // namespace

bool IsNtfsBootSector(const uint8_t* sector) {
    return std::memcmp(sector + 3, "NTFS    ", 8) == 0 && sector[510] == 0x55 && sector[511] == 0xAA;
}

DiskLayout ReadDiskLayout(const ReadAt& read, uint64_t sourceSize) {
    DiskLayout out;
    uint8_t mbr[kSectorSize];
    if (sourceSize < kSectorSize || !read(0, mbr, sizeof mbr)) {
        out.problems.push_back("the first sector cannot be read");
        return out;
    }
    if (IsNtfsBootSector(mbr)) {
        out.kind = Layout::Volume;
        out.volumes.push_back({"", 0, sourceSize});
        return out;
    }
    if (Le16(mbr + 510) != 0xAA55) {
        out.problems.push_back("neither an NTFS boot sector nor a partition table at the start");
        return out;
    }
    for (int i = 0; i < 4; ++i) {
        if (mbr[446 + i * 16 + 4] == kMbrProtective) {
            ReadGpt(read, sourceSize, &out);
            return out;
        }
    }
    out.kind = Layout::Mbr;
    for (unsigned i = 0; i < 4; ++i) {
        const uint8_t* e = mbr + 446 + i * 16;
        if (e[4] == 0) continue;
        Consider(read, sourceSize, i + 1, Le32(e + 8), Le32(e + 12), &out);
    }
    return out;
}

uint32_t Crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

}  // namespace vestrel::ntfs
