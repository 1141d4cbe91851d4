// The input is a whole disk: partition tables and boot sectors are whatever
// the bytes say. Reads must stay inside it and every answer must too.
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
    for (const Partition& p : layout.volumes) {
        if (p.offset > size || p.length > size - p.offset) __builtin_trap();
    }
    return 0;
}
