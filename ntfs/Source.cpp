// Recognising a source and opening it as the kind it is.
#include "Source.h"
#include "ReadAhead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ReadFully.h"

namespace vestrel::ntfs {

std::string HumanSize(uint64_t bytes) {
    static const char* const kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024) return std::to_string(bytes) + " bytes";
    double value = double(bytes);
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

namespace {

class WindowSource : public Source {
public:
    WindowSource(const Source& base, uint64_t offset, uint64_t length, const std::string& label)
        : Source(base.path() + (label.empty() ? "" : " " + label)), base_(base), offset_(offset), length_(length) {}
    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override {
        if (offset > length_ || count > length_ - offset) return false;
        return base_.ReadAt(offset_ + offset, buffer, count);
    }
    uint64_t size() const override { return length_; }
    std::string Describe() const override {
        return HumanSize(length_) + " at offset " + std::to_string(offset_) + " of " + base_.Describe();
    }
    SourceKind kind() const override { return SourceKind::Window; }

private:
    const Source& base_;
    uint64_t offset_, length_;
};

// The first bytes and the last sector of a regular file; false (errno set)
// when it cannot be read.
bool ReadEnds(int fd, uint64_t size, std::vector<uint8_t>* head, std::vector<uint8_t>* tail) {
    head->resize(size_t(std::min<uint64_t>(size, kHeadBytes)));
    tail->resize(size_t(std::min<uint64_t>(size, kTailBytes)));
    return PreadFully(fd, head->data(), head->size(), 0) == head->size() &&
           PreadFully(fd, tail->data(), tail->size(), size - tail->size()) == tail->size();
}

}  // namespace

std::unique_ptr<Source> WindowOf(const Source& base, uint64_t offset, uint64_t length, const std::string& label) {
    return std::make_unique<WindowSource>(base, offset, length, label);
}

std::unique_ptr<Source> OpenSource(const std::string& path, std::string* error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        *error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    // A device is read as it is: no container lives on a disk itself.
    if (!S_ISREG(st.st_mode)) return OpenRaw(path, error);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    std::vector<uint8_t> head, tail;
    const bool read = ReadEnds(fd, uint64_t(st.st_size), &head, &tail);
    const int readErrno = errno;
    ::close(fd);
    if (!read) {
        *error = path + ": " + std::strerror(readErrno);
        return nullptr;
    }
    switch (RecognizeContent(head.data(), head.size(), tail.data(), tail.size())) {
        case SourceKind::Ewf:
        // Inflating chunks is the cost of reading an E01: done ahead of need
        // through a second handle, and by the reader while it would wait.
        case SourceKind::Ewf2: {
            std::unique_ptr<Source> ewf = OpenEwf(path, error);
            if (ewf == nullptr) return ewf;
            std::string ignored;  // without a second handle the read-ahead shares the first
            std::unique_ptr<Source> helper = OpenEwf(path, &ignored);
            return WithReadAhead(std::move(ewf), size_t(128) << 10, 16, std::move(helper));
        }
        case SourceKind::EwfLogical:
            *error = path + ": a logical evidence file (L01), which holds files, not a disk or volume";
            return nullptr;
        case SourceKind::Vhd:
        case SourceKind::Vhdx: return OpenVhdi(path, error);
        case SourceKind::VmdkSparse:
        case SourceKind::VmdkCowd:
        case SourceKind::VmdkText: return OpenVmdk(path, error);
        case SourceKind::Qcow: return WithReadAhead(OpenQcow(path, error));
        default: break;
    }
    // Raw bytes: one file, or the first of a set of segments beside it.
    SegmentName scheme;
    if (ParseSegmentName(path, &scheme)) return OpenSplitRaw(path, error);
    return OpenRaw(path, error);
}

}  // namespace vestrel::ntfs
