// QEMU disks through libqcow. An image with a backing file holds only what
// changed from it, and an encrypted one needs a key: both are refused rather
// than read as zeros or ciphertext.
#include <fcntl.h>
#include <libqcow.h>
#include <unistd.h>

#include "LibyalError.h"
#include "Source.h"

namespace vestrel::ntfs {
namespace {

std::string TakeError(libqcow_error_t** error) { return TakeLibyalError(error, libqcow_error_sprint, libqcow_error_free); }

class QcowSource : public Source {
public:
    QcowSource(std::string path, libqcow_file_t* file, uint64_t size, uint32_t version)
        : Source(std::move(path)), file_(file), size_(size), version_(version) {}
    ~QcowSource() override {
        libqcow_file_close(file_, nullptr);
        libqcow_file_free(&file_, nullptr);
    }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override {
        if (offset > size_ || count > size_ - offset) return false;
        auto* out = static_cast<uint8_t*>(buffer);
        while (count > 0) {
            libqcow_error_t* error = nullptr;
            const ssize_t got = libqcow_file_read_buffer_at_offset(file_, out, count, off64_t(offset), &error);
            if (error != nullptr) libqcow_error_free(&error);
            if (got <= 0) return false;
            out += got;
            offset += uint64_t(got);
            count -= size_t(got);
        }
        return true;
    }
    uint64_t size() const override { return size_; }
    std::string Describe() const override { return "QCOW" + std::to_string(version_) + ", " + HumanSize(size_); }
    SourceKind kind() const override { return SourceKind::Qcow; }

private:
    libqcow_file_t* file_;
    uint64_t size_;
    uint32_t version_;
};

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
    libqcow_error_t* libError = nullptr;
    libqcow_file_t* file = nullptr;
    if (libqcow_file_initialize(&file, &libError) != 1) {
        *error = path + ": " + TakeError(&libError);
        return nullptr;
    }
    if (libqcow_file_open(file, path.c_str(), LIBQCOW_OPEN_READ, &libError) != 1) {
        *error = path + ": a damaged QCOW image (" + TakeError(&libError) + ")";
        libqcow_file_free(&file, nullptr);
        return nullptr;
    }
    uint32_t version = 0, method = 0;
    size64_t size = 0;
    std::string problem;
    if (libqcow_file_get_format_version(file, &version, &libError) != 1 ||
        libqcow_file_get_encryption_method(file, &method, &libError) != 1 ||
        libqcow_file_get_media_size(file, &size, &libError) != 1)
        problem = "a damaged QCOW image (" + TakeError(&libError) + ")";
    else if (method != LIBQCOW_ENCRYPTION_METHOD_NONE)
        problem = "an encrypted QCOW image, which is not read";
    if (!problem.empty()) {
        *error = path + ": " + problem;
        libqcow_file_close(file, nullptr);
        libqcow_file_free(&file, nullptr);
        return nullptr;
    }
    return std::make_unique<QcowSource>(path, file, uint64_t(size), version);
}

}  // namespace vestrel::ntfs
