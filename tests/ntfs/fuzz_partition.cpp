// The input is a whole disk: partition tables, chains of extended boot
// records and boot sectors are whatever the bytes say. Reads must stay inside
// it, chains must end, and every answer must be one a caller can use.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "PartitionTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vestrel::ntfs;
    const DiskLayout layout = ReadDiskLayout(
        [&](uint64_t offset, void* out, size_t count) {
            if (offset > size || count > size - offset) return false;
            std::memcpy(out, data + offset, count);
            return true;
        },
        size);
    if (layout.sectorSize != kSectorSize && layout.sectorSize != kLargeSectorSize) __builtin_trap();
    // Four primary slots, each an extended partition at most kMaxLogical long.
    if (layout.kind == Layout::Mbr && layout.volumes.size() > 4 * (1 + kMaxLogical)) __builtin_trap();
    for (const Partition& p : layout.volumes) {
        if (p.offset > size || p.length > size - p.offset) __builtin_trap();
        // Rows of a partitioned disk name their partition; a bare volume's do not.
        if (p.label.empty() != (layout.kind == Layout::Volume)) __builtin_trap();
    }
    return 0;
}
