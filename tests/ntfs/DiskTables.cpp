#include "DiskTables.h"

#include <algorithm>
#include <cstring>

#include "PartitionTable.h"

namespace vestrel::ntfs::tables {

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

void Put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

void SetEntry(uint8_t* sector, int slot, uint8_t type, uint32_t lba, uint32_t sectors) {
    uint8_t* e = sector + 446 + slot * 16;
    e[4] = type;
    Put32(e + 8, lba);
    Put32(e + 12, sectors);
    sector[510] = 0x55;
    sector[511] = 0xAA;
}

void WriteGpt(uint8_t* disk, uint32_t sectorSize, uint64_t totalSectors, const std::vector<GptEntry>& parts,
              uint32_t count) {
    SetEntry(disk, 0, 0xEE, 1, uint32_t(std::min<uint64_t>(totalSectors - 1, 0xFFFFFFFFu)));
    static const uint8_t kBasicData[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                           0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
    uint8_t* entries = disk + 2 * sectorSize;
    const uint64_t arraySectors = (uint64_t(count) * 128 + sectorSize - 1) / sectorSize;
    for (size_t i = 0; i < parts.size() && i < count; ++i) {
        uint8_t* p = entries + i * 128;
        std::memcpy(p, kBasicData, 16);
        p[16] = uint8_t(i + 1);  // a unique partition id
        Put64(p + 32, parts[i].first);
        Put64(p + 40, parts[i].last);
    }
    uint8_t* h = disk + sectorSize;
    std::memcpy(h, "EFI PART", 8);
    Put32(h + 8, 0x00010000);
    Put32(h + 12, 92);
    Put32(h + 16, 0);
    Put64(h + 24, 1);
    Put64(h + 32, totalSectors - 1);
    Put64(h + 40, 2 + arraySectors);
    Put64(h + 48, totalSectors - 2 - arraySectors);
    Put64(h + 72, 2);
    Put32(h + 80, count);
    Put32(h + 84, 128);
    Put32(h + 88, Crc32(entries, size_t(count) * 128));
    Put32(h + 16, Crc32(h, 92));
}

std::vector<std::pair<uint64_t, std::array<uint8_t, 512>>> ExtendedChain(uint64_t extendedStart,
                                                                          const std::vector<Logical>& logicals) {
    std::vector<std::pair<uint64_t, std::array<uint8_t, 512>>> out;
    for (size_t i = 0; i < logicals.size(); ++i) {
        const Logical& l = logicals[i];
        std::array<uint8_t, 512> record{};
        SetEntry(record.data(), 0, l.type, uint32_t(l.first - l.record), uint32_t(l.sectors));
        if (i + 1 < logicals.size()) {
            const Logical& next = logicals[i + 1];
            SetEntry(record.data(), 1, kTypeExtendedLink, uint32_t(next.record - extendedStart),
                     uint32_t(next.first + next.sectors - next.record));
        }
        out.emplace_back(l.record, record);
    }
    return out;
}

}  // namespace vestrel::ntfs::tables
