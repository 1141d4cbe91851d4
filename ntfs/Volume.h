// The NTFS volumes mounted from a source. Every read the library makes goes
// through our own device operations (the source, at the volume's offset);
// every write it might attempt is refused.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "PartitionTable.h"
#include "Source.h"

struct _ntfs_volume;

namespace vestrel::ntfs {

// Keeps the library quiet: its messages are caught instead of printed, and
// the last one is offered as detail for our own.
void SilenceLibrary();
std::string TakeLibraryMessage();

class Volume {
public:
    ~Volume();
    // Mounts the volume at [offset, offset + length) of `source`, read-only.
    // A $MFTMirr that disagrees with $MFT does not stop it: the volume is
    // read through $MFT and warning() says so.
    static std::unique_ptr<Volume> Mount(const Source& source, const Partition& where, std::string* error);
    _ntfs_volume* get() const { return vol_; }
    // Damage the mount worked around; empty when there was none.
    const std::string& warning() const { return warning_; }

    // The library's view of the source: a window of it, read-only.
    struct Device;

private:
    Volume() = default;
    _ntfs_volume* vol_ = nullptr;
    std::unique_ptr<Device> device_;
    std::string warning_;
};

}  // namespace vestrel::ntfs
