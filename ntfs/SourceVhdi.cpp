// Virtual PC and Hyper-V disks through libvhdi: VHD (fixed, dynamic) and
// VHDX. A differencing disk holds only what changed from its parent; read on
// its own it would show zeros where the parent has data, so it is refused.
#include <fcntl.h>
#include <libvhdi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "LibyalError.h"
#include "Source.h"

namespace vestrel::ntfs {
namespace {

std::string TakeError(libvhdi_error_t** error) { return TakeLibyalError(error, libvhdi_error_sprint, libvhdi_error_free); }

class VhdiSource : public Source {
public:
    VhdiSource(std::string path, libvhdi_file_t* file, uint64_t size, SourceKind kind, uint32_t type)
        : Source(std::move(path)), file_(file), size_(size), kind_(kind), type_(type) {}
    ~VhdiSource() override {
        libvhdi_file_close(file_, nullptr);
        libvhdi_file_free(&file_, nullptr);
    }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override {
        if (offset > size_ || count > size_ - offset) return false;
        auto* out = static_cast<uint8_t*>(buffer);
        while (count > 0) {
            libvhdi_error_t* error = nullptr;
            const ssize_t got = libvhdi_file_read_buffer_at_offset(file_, out, count, off64_t(offset), &error);
            if (error != nullptr) libvhdi_error_free(&error);
            if (got <= 0) return false;
            out += got;
            offset += uint64_t(got);
            count -= size_t(got);
        }
        return true;
    }
    uint64_t size() const override { return size_; }
    std::string Describe() const override {
        return std::string(KindName(kind_)) + " (" + (type_ == LIBVHDI_DISK_TYPE_FIXED ? "fixed" : "dynamic") + "), " +
               HumanSize(size_);
    }
    SourceKind kind() const override { return kind_; }

private:
    libvhdi_file_t* file_;
    uint64_t size_;
    SourceKind kind_;
    uint32_t type_;
};

// A VHD's footer (its last 512 bytes; a dynamic disk also keeps a copy in
// its first) carries a checksum: the ones' complement of the sum of its
// bytes, the checksum's own four (big-endian, at 64) left out. The library
// does not check it; a damaged footer would describe the disk wrongly.
std::string CheckVhdFooters(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    struct stat st {};
    uint8_t head[512] = {}, tail[512] = {};
    const bool read = ::fstat(fd, &st) == 0 && st.st_size >= 512 && ::pread(fd, head, 512, 0) == 512 &&
                      ::pread(fd, tail, 512, st.st_size - 512) == 512;
    ::close(fd);
    if (!read) return "too short for a VHD footer";
    auto valid = [](const uint8_t* f) {
        uint32_t sum = 0;
        for (int i = 0; i < 512; ++i)
            if (i < 64 || i > 67) sum += f[i];
        const uint32_t stored = uint32_t(f[64]) << 24 | uint32_t(f[65]) << 16 | uint32_t(f[66]) << 8 | f[67];
        return uint32_t(~sum) == stored;
    };
    const bool headFooter = std::memcmp(head, "conectix", 8) == 0, tailFooter = std::memcmp(tail, "conectix", 8) == 0;
    if (tailFooter && !valid(tail)) return "the VHD footer's checksum does not match (a damaged footer)";
    if (headFooter && !valid(head)) return "the copy of the VHD footer at its start does not match its checksum (damaged)";
    if (headFooter && !tailFooter) return "the VHD footer at its end is missing (truncated or damaged)";
    return "";
}

}  // namespace

std::unique_ptr<Source> OpenVhdi(const std::string& path, std::string* error) {
    uint8_t first[8] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool isVhdx = fd >= 0 && ::pread(fd, first, 8, 0) == 8 && std::memcmp(first, "vhdxfile", 8) == 0;
    if (fd >= 0) ::close(fd);
    if (!isVhdx) {
        const std::string footer = CheckVhdFooters(path);
        if (!footer.empty()) {
            *error = path + ": " + footer;
            return nullptr;
        }
    }
    libvhdi_error_t* libError = nullptr;
    libvhdi_file_t* file = nullptr;
    if (libvhdi_file_initialize(&file, &libError) != 1) {
        *error = path + ": " + TakeError(&libError);
        return nullptr;
    }
    auto fail = [&](const std::string& what) {
        *error = path + ": " + what;
        libvhdi_file_close(file, nullptr);
        libvhdi_file_free(&file, nullptr);
        return nullptr;
    };
    if (libvhdi_file_open(file, path.c_str(), LIBVHDI_OPEN_READ, &libError) != 1) {
        *error = path + ": a damaged virtual disk (" + TakeError(&libError) + ")";
        libvhdi_file_free(&file, nullptr);
        return nullptr;
    }
    uint32_t type = 0;
    int version = 0;
    size64_t size = 0;
    if (libvhdi_file_get_disk_type(file, &type, &libError) != 1 ||
        libvhdi_file_get_file_type(file, &version, &libError) != 1 ||
        libvhdi_file_get_media_size(file, &size, &libError) != 1)
        return fail("a damaged virtual disk (" + TakeError(&libError) + ")");
    if (type == LIBVHDI_DISK_TYPE_DIFFERENTIAL)
        return fail("a differencing disk: it holds only changes to its parent disk; give the parent");
    if (type != LIBVHDI_DISK_TYPE_FIXED && type != LIBVHDI_DISK_TYPE_DYNAMIC)
        return fail("unknown disk type " + std::to_string(type));
    const SourceKind kind = version == LIBVHDI_FILE_TYPE_VHDX ? SourceKind::Vhdx : SourceKind::Vhd;
    return std::make_unique<VhdiSource>(path, file, uint64_t(size), kind, type);
}

}  // namespace vestrel::ntfs
