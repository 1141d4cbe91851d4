// Where vestrel-ntfs reads its bytes from. A source is anything that can be
// read at an offset: a raw file or block device, a disk image container
// (split raw, E01, VHD/VHDX, VMDK, QCOW2), a Volume Shadow Copy store or an
// unlocked BitLocker volume. Everything above this layer (partition tables,
// the NTFS library) reads through it and does not know which one it has.
// Every source is opened read-only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SourceKind.h"

namespace vestrel::ntfs {

class Source {
public:
    virtual ~Source() = default;
    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    // Exactly `count` bytes at `offset`, or false (past the end, or the
    // container could not deliver them).
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t count) const = 0;
    // The size of what the source presents (the disk, not the container file).
    virtual uint64_t size() const = 0;
    // One line for people: kind and what it is made of.
    virtual std::string Describe() const = 0;
    virtual SourceKind kind() const = 0;
    // The name the user gave; messages start with it.
    const std::string& path() const { return path_; }

protected:
    explicit Source(std::string path) : path_(std::move(path)) {}
    std::string path_;
};

// Recognises what `path` holds from its content and opens it read-only.
// Null with `error` set to one line naming the file and what is wrong.
std::unique_ptr<Source> OpenSource(const std::string& path, std::string* error);

// Each kind's opener; `path` is known to hold that kind.
std::unique_ptr<Source> OpenRaw(const std::string& path, std::string* error);
std::unique_ptr<Source> OpenSplitRaw(const std::string& path, std::string* error);
std::unique_ptr<Source> OpenEwf(const std::string& path, std::string* error);
std::unique_ptr<Source> OpenVhdi(const std::string& path, std::string* error);
std::unique_ptr<Source> OpenVmdk(const std::string& path, std::string* error);
std::unique_ptr<Source> OpenQcow(const std::string& path, std::string* error);

// [offset, offset + length) of `base` as a source of its own; `base` must
// outlive it.
std::unique_ptr<Source> WindowOf(const Source& base, uint64_t offset, uint64_t length, const std::string& label);

// "1.0 GiB" style sizes for descriptions.
std::string HumanSize(uint64_t bytes);

}  // namespace vestrel::ntfs
