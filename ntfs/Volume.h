// A source opened read-only and the NTFS volumes mounted from it. Every read
// the library makes goes through our own device operations (pread at the
// volume's offset); every write it might attempt is refused.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "PartitionTable.h"

struct _ntfs_volume;

namespace vestrel::ntfs {

class Source {
public:
    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ~Source();
    // Opens a block device or image file for reading only.
    bool Open(const std::string& path, std::string* error);
    // Exactly `count` bytes at `offset`, or false.
    bool ReadAt(uint64_t offset, void* buffer, size_t count) const;
    int fd() const { return fd_; }
    uint64_t size() const { return size_; }
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
    std::string path_;
};

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
