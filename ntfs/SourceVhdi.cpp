// Virtual PC and Hyper-V disks through libvhdi: VHD (fixed, dynamic) and
// VHDX. A differencing disk holds only what changed from its parent; read on
// its own it would show zeros where the parent has data, so it is refused.
#include <fcntl.h>
#include <libvhdi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "LibyalSource.h"

namespace vestrel::ntfs {
namespace {

using VhdiCalls = LibyalCalls<libvhdi_file_initialize, libvhdi_file_open, LIBVHDI_OPEN_READ, libvhdi_file_close,
                              libvhdi_file_free, libvhdi_file_read_buffer_at_offset, libvhdi_error_sprint, libvhdi_error_free>;

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
    LibyalHandle<VhdiCalls> file;
    if (!file.OpenFile(path, "a damaged virtual disk", error)) return nullptr;
    auto fail = [&](const std::string& what) {
        *error = path + ": " + what;
        return nullptr;
    };
    libvhdi_error_t* libError = nullptr;
    uint32_t type = 0;
    int version = 0;
    size64_t size = 0;
    if (libvhdi_file_get_disk_type(file.get(), &type, &libError) != 1 ||
        libvhdi_file_get_file_type(file.get(), &version, &libError) != 1 ||
        libvhdi_file_get_media_size(file.get(), &size, &libError) != 1)
        return fail("a damaged virtual disk (" + TakeError<VhdiCalls>(&libError) + ")");
    if (type == LIBVHDI_DISK_TYPE_DIFFERENTIAL)
        return fail("a differencing disk: it holds only changes to its parent disk; give the parent");
    if (type != LIBVHDI_DISK_TYPE_FIXED && type != LIBVHDI_DISK_TYPE_DYNAMIC)
        return fail("unknown disk type " + std::to_string(type));
    const SourceKind kind = version == LIBVHDI_FILE_TYPE_VHDX ? SourceKind::Vhdx : SourceKind::Vhd;
    return std::make_unique<LibyalSource<VhdiCalls>>(
        path, std::move(file), uint64_t(size), kind,
        std::string(KindName(kind)) + " (" + (type == LIBVHDI_DISK_TYPE_FIXED ? "fixed" : "dynamic") + ")");
}

}  // namespace vestrel::ntfs
