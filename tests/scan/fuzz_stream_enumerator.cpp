// Arbitrary bytes as a backup stream sequence: the enumeration must end,
// stay in bounds and account for every record it appends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "MemorySequence.h"
#include "StreamEnumerator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto seq = vestrel::MemorySequence::FromRaw(std::vector<uint8_t>(data, data + size));
    NtfsStreamList list;
    const int count = EnumStreamsFromSequence(seq, &list);
    if (count < 0 || size_t(count) != list.size()) std::abort();
    for (const NtfsStreamInfo* r : list) {
        if (r == nullptr) std::abort();
    }
    // Bytes delivered can never exceed the input.
    if (seq.TotalBytesRead() > size) std::abort();
    FreeStreamList(&list);
    return 0;
}
