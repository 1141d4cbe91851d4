// The Volume Shadow Copies of an NTFS volume (libvshadow): each store is a
// source of its own, the volume as it was when the copy was made.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "Source.h"

namespace vestrel::ntfs {

struct ShadowStore {
    unsigned number = 0;      // 1 for the oldest, as Windows numbers them
    uint64_t created = 0;     // FILETIME, UTC
    std::unique_ptr<Source> source;
};

// "vss3 2013-12-03T06:37:48Z": a store as a snapshot column shows it.
std::string SnapshotText(const ShadowStore& store);

// The stores of `volume` (an NTFS volume; it must outlive them), oldest
// first. True with none when the volume has no shadow copies; false with
// `error` when its catalog cannot be read.
bool OpenShadowStores(const Source& volume, std::vector<ShadowStore>* stores, std::string* error);

}  // namespace vestrel::ntfs
