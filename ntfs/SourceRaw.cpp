// A raw image file or block device, read with pread.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ReadFully.h"
#include "Source.h"

namespace vestrel::ntfs {
namespace {

class RawSource : public Source {
public:
    RawSource(std::string path, int fd, uint64_t size, bool device)
        : Source(std::move(path)), fd_(fd), size_(size), device_(device) {}
    ~RawSource() override { ::close(fd_); }

    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override {
        if (offset > size_ || count > size_ - offset) return false;
        return PreadFully(fd_, buffer, count, offset) == count;
    }
    uint64_t size() const override { return size_; }
    std::string Describe() const override {
        return std::string(device_ ? "block device" : "raw image") + ", " + HumanSize(size_);
    }
    SourceKind kind() const override { return SourceKind::Raw; }

private:
    int fd_;
    uint64_t size_;
    bool device_;
};

}  // namespace

std::unique_ptr<Source> OpenRaw(const std::string& path, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))) {
        *error = path + ": not an image file or block device";
        ::close(fd);
        return nullptr;
    }
    // Block devices report no st_size; their end is where a seek lands.
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0) {
        *error = path + ": " + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<RawSource>(path, fd, uint64_t(end), S_ISBLK(st.st_mode));
}

}  // namespace vestrel::ntfs
