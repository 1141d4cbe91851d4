// QEMU disks through libqcow. An image with a backing file holds only what
// changed from it, and an encrypted one needs a key: both are refused rather
// than read as zeros or ciphertext.
#include <fcntl.h>
#include <libqcow.h>
#include <unistd.h>

#include "LibyalSource.h"

namespace vestrel::ntfs {
namespace {

using QcowCalls = LibyalCalls<libqcow_file_initialize, libqcow_file_open, LIBQCOW_OPEN_READ, libqcow_file_close,
                              libqcow_file_free, libqcow_file_read_buffer_at_offset, libqcow_error_sprint, libqcow_error_free>;

// The header's backing file offset (big-endian, at byte 8; 0 for none).
bool HasBackingFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    uint8_t h[16] = {};
    const bool read = ::pread(fd, h, sizeof h, 0) == ssize_t(sizeof h);
    ::close(fd);
    if (!read) return false;
    for (int i = 8; i < 16; ++i)
        if (h[i] != 0) return true;
    return false;
}

}  // namespace

std::unique_ptr<Source> OpenQcow(const std::string& path, std::string* error) {
    if (HasBackingFile(path)) {
        *error = path + ": a QCOW image over a backing file: it holds only changes to it; give the backing image";
        return nullptr;
    }
    LibyalHandle<QcowCalls> file;
    if (!file.OpenFile(path, "a damaged QCOW image", error)) return nullptr;
    libqcow_error_t* libError = nullptr;
    uint32_t version = 0, method = 0;
    size64_t size = 0;
    if (libqcow_file_get_format_version(file.get(), &version, &libError) != 1 ||
        libqcow_file_get_encryption_method(file.get(), &method, &libError) != 1 ||
        libqcow_file_get_media_size(file.get(), &size, &libError) != 1) {
        *error = path + ": a damaged QCOW image (" + TakeError<QcowCalls>(&libError) + ")";
        return nullptr;
    }
    if (method != LIBQCOW_ENCRYPTION_METHOD_NONE) {
        *error = path + ": an encrypted QCOW image, which is not read";
        return nullptr;
    }
    return std::make_unique<LibyalSource<QcowCalls>>(path, std::move(file), uint64_t(size), SourceKind::Qcow,
                                                     "QCOW" + std::to_string(version));
}

}  // namespace vestrel::ntfs
