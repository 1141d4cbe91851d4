#include "PartitionTable.h"

#include <algorithm>
#include <cstring>

#include "Bytes.h"
#include "SourceKind.h"

namespace vestrel::ntfs {
namespace {

constexpr uint8_t kMbrProtective = 0xEE;
// A GPT entry array is normally 16 KiB; anything past 1 MiB is damage.
constexpr uint64_t kMaxGptArrayBytes = 1u << 20;
constexpr size_t kEntries = 446, kEntrySize = 16;

bool IsExtended(uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }
bool HasBootSignature(const uint8_t* sector) { return Le16(sector + 510) == 0xAA55; }

// What a boot sector that is not NTFS's says it is, where it says so plainly.
std::string FileSystemOf(const uint8_t* boot) {
    if (!HasBootSignature(boot)) return "";
    if (std::memcmp(boot + 3, "EXFAT   ", 8) == 0) return "exFAT";
    if (std::memcmp(boot + 82, "FAT32   ", 8) == 0 || std::memcmp(boot + 54, "FAT1", 4) == 0) return "FAT";
    return "";
}

struct Reader {
    const ReadAt& read;
    uint64_t sourceSize;
    uint32_t sector;
    DiskLayout* out;

    uint64_t Sectors() const { return sourceSize / sector; }
    void Problem(const std::string& what) const { out->problems.push_back(what); }

    // Keeps the partition when it lies inside the source and starts with NTFS.
    void Consider(const std::string& label, uint64_t firstLba, uint64_t sectors) const {
        if (sectors == 0) return;
        if (firstLba > Sectors() || sectors > Sectors() - firstLba) {
            Problem("partition " + label + " lies beyond the end of the source");
            return;
        }
        uint8_t boot[kSectorSize];
        if (!read(firstLba * sector, boot, sizeof boot)) {
            Problem("partition " + label + ": its first sector cannot be read");
            return;
        }
        const Partition partition{label, firstLba * sector, sectors * sector};
        if (IsNtfsBootSector(boot) || IsBitLockerBootSector(boot, sizeof boot)) out->volumes.push_back(partition);
        else out->others.push_back({partition, FileSystemOf(boot)});
    }

    void Gpt() const;
    void Extended(uint64_t start, uint64_t sectors, unsigned* number) const;
};

void Reader::Gpt() const {
    out->kind = Layout::Gpt;
    out->sectorSize = sector;
    std::vector<uint8_t> header(sector);
    if (!read(sector, header.data(), header.size()) || std::memcmp(header.data(), "EFI PART", 8) != 0) {
        Problem("protective MBR without a GPT header");
        return;
    }
    const uint32_t headerSize = Le32(&header[12]);
    if (headerSize < 92 || headerSize > sector) {
        Problem("GPT header has an impossible size");
        return;
    }
    std::vector<uint8_t> copy(header.begin(), header.begin() + headerSize);
    std::memset(&copy[16], 0, 4);
    if (Crc32(copy.data(), headerSize) != Le32(&header[16]))
        Problem("GPT header checksum does not match (read anyway)");
    const uint64_t arrayLba = Le64(&header[72]);
    const uint32_t count = Le32(&header[80]);
    const uint32_t entrySize = Le32(&header[84]);
    if (entrySize < 128 || entrySize % 8 != 0 || uint64_t(count) * entrySize > kMaxGptArrayBytes) {
        Problem("GPT partition array has an impossible size");
        return;
    }
    const uint64_t bytes = uint64_t(count) * entrySize;
    if (arrayLba > Sectors() || bytes > sourceSize - arrayLba * sector) {
        Problem("GPT partition array lies beyond the end of the source");
        return;
    }
    std::vector<uint8_t> entries(bytes);
    if (bytes != 0 && !read(arrayLba * sector, entries.data(), entries.size())) {
        Problem("GPT partition array cannot be read");
        return;
    }
    if (Crc32(entries.data(), entries.size()) != Le32(&header[88]))
        Problem("GPT partition array checksum does not match (read anyway)");
    static const uint8_t kUnused[16] = {};
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = entries.data() + uint64_t(i) * entrySize;
        if (std::memcmp(e, kUnused, 16) == 0) continue;
        const std::string label = "p" + std::to_string(i + 1);
        const uint64_t first = Le64(e + 32), last = Le64(e + 40);
        if (last < first) {
            Problem("partition " + label + " ends before it starts");
            continue;
        }
        Consider(label, first, last - first + 1);
    }
}

// Each extended boot record holds the logical partition (relative to the
// record itself) and the link to the next record (relative to the start of
// the extended partition). Empty entries take no number, as in Linux.
void Reader::Extended(uint64_t start, uint64_t sectors, unsigned* number) const {
    std::vector<uint64_t> seen;
    uint64_t at = start;
    for (;;) {
        const std::string where = "the logical partition table at sector " + std::to_string(at);
        if (seen.size() == kMaxLogical) {
            Problem("more than " + std::to_string(kMaxLogical) + " logical partitions; the rest are not read");
            return;
        }
        if (std::find(seen.begin(), seen.end(), at) != seen.end()) {
            Problem(where + " was already read: the chain of logical partitions loops; it ends here");
            return;
        }
        seen.push_back(at);
        uint8_t ebr[kSectorSize];
        if (at >= Sectors() || !read(at * sector, ebr, sizeof ebr)) {
            Problem(where + " lies beyond the end of the source");
            return;
        }
        if (!HasBootSignature(ebr)) {
            Problem(where + " has no boot record signature; the chain ends here");
            return;
        }
        const uint8_t* data = ebr + kEntries;
        const uint8_t* link = data + kEntrySize;
        const uint32_t dataSectors = Le32(data + 12);
        if (data[4] != 0 && dataSectors != 0) {
            if (IsExtended(data[4])) {
                Problem(where + " holds an extended partition instead of a logical one; not followed");
            } else {
                Consider("p" + std::to_string(*number), at + Le32(data + 8), dataSectors);
                ++*number;
            }
        }
        if (link[4] == 0 || Le32(link + 12) == 0) return;  // the last one
        if (!IsExtended(link[4])) {
            Problem(where + " links on with a partition type that is not extended; the chain ends here");
            return;
        }
        const uint64_t next = start + Le32(link + 8);
        if (next >= start + sectors) {
            Problem(where + " links to sector " + std::to_string(next) +
                    ", outside its extended partition; the chain ends here");
            return;
        }
        at = next;
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
    if (IsNtfsBootSector(mbr) || IsBitLockerBootSector(mbr, sizeof mbr)) {
        out.kind = Layout::Volume;
        out.volumes.push_back({"", 0, sourceSize});
        return out;
    }
    if (!HasBootSignature(mbr)) {
        out.problems.push_back("neither an NTFS boot sector nor a partition table at the start");
        return out;
    }
    for (size_t i = 0; i < 4; ++i) {
        if (mbr[kEntries + i * kEntrySize + 4] != kMbrProtective) continue;
        // The GPT header is in the second sector, whichever size that is.
        uint8_t mark[8];
        const uint32_t sector =
            read(kSectorSize, mark, sizeof mark) && std::memcmp(mark, "EFI PART", 8) == 0 ? kSectorSize
            : read(kLargeSectorSize, mark, sizeof mark) && std::memcmp(mark, "EFI PART", 8) == 0
                ? kLargeSectorSize
                : kSectorSize;
        Reader{read, sourceSize, sector, &out}.Gpt();
        return out;
    }
    out.kind = Layout::Mbr;
    const Reader reader{read, sourceSize, kSectorSize, &out};
    unsigned logical = 5;
    for (unsigned i = 0; i < 4; ++i) {
        const uint8_t* e = mbr + kEntries + i * kEntrySize;
        const uint32_t first = Le32(e + 8), sectors = Le32(e + 12);
        const std::string label = "p" + std::to_string(i + 1);
        if (e[4] == 0 || sectors == 0) continue;
        if (!IsExtended(e[4])) {
            reader.Consider(label, first, sectors);
        } else if (first == 0) {
            out.problems.push_back("extended partition " + label + " starts at the partition table itself; not followed");
        } else if (first >= reader.Sectors()) {
            out.problems.push_back("extended partition " + label + " lies beyond the end of the source");
        } else {
            reader.Extended(first, sectors, &logical);
        }
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
