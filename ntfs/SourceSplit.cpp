// Split raw: one image cut into equal segments ("disk.001", "disk.002", ...
// or "xaa", "xab", ...), the last possibly shorter. The first is given; the
// rest are found beside it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "ReadFully.h"
#include "Source.h"

namespace vestrel::ntfs {
namespace {

// Names looked at past the last segment before a set is taken as complete:
// a later one found there means a segment in between is missing.
constexpr uint64_t kGapLookahead = 16;
constexpr size_t kMaxSegments = 100000;

struct Segment {
    std::string path;
    uint64_t size;
};

class SplitSource : public Source {
public:
    SplitSource(std::string path, std::vector<Segment> segments, uint64_t segmentSize)
        : Source(std::move(path)), segments_(std::move(segments)), segmentSize_(segmentSize) {
        for (const Segment& s : segments_) size_ += s.size;
    }
    ~SplitSource() override {
        if (fd_ >= 0) ::close(fd_);
    }

    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override {
        if (offset > size_ || count > size_ - offset) return false;
        // Segment by segment: each piece ends at its segment's end.
        const auto fromSegment = [this](uint8_t* out, size_t want, uint64_t at) -> ssize_t {
            const size_t index = size_t(at / segmentSize_);
            const uint64_t within = at % segmentSize_;
            const size_t part = size_t(std::min<uint64_t>(want, segments_[index].size - within));
            return ReadSegment(index, within, out, part) ? ssize_t(part) : -1;
        };
        return ReadFully(fromSegment, buffer, count, offset) == count;
    }
    uint64_t size() const override { return size_; }
    std::string Describe() const override {
        return "split raw image (" + std::to_string(segments_.size()) + " segments), " + HumanSize(size_);
    }
    SourceKind kind() const override { return SourceKind::SplitRaw; }

private:
    // One segment open at a time: reads go mostly forward, and a set of
    // thousands of segments must not exhaust the descriptors.
    bool ReadSegment(size_t index, uint64_t offset, uint8_t* out, size_t count) const {
        if (index != open_) {
            if (fd_ >= 0) ::close(fd_);
            open_ = SIZE_MAX;
            fd_ = ::open(segments_[index].path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd_ < 0) return false;
            open_ = index;
        }
        return PreadFully(fd_, out, count, offset) == count;
    }

    std::vector<Segment> segments_;
    uint64_t segmentSize_;
    uint64_t size_ = 0;
    mutable int fd_ = -1;
    mutable size_t open_ = SIZE_MAX;
};

bool SizeOf(const std::string& path, uint64_t* size) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *size = uint64_t(st.st_size);
    return true;
}

}  // namespace

std::unique_ptr<Source> OpenSplitRaw(const std::string& path, std::string* error) {
    SegmentName scheme;
    if (!ParseSegmentName(path, &scheme)) return OpenRaw(path, error);
    std::vector<Segment> segments;
    uint64_t number = scheme.number;
    for (;; ++number) {
        const std::string name = SegmentFileName(scheme, number);
        uint64_t size = 0;
        if (name.empty() || !SizeOf(name, &size)) break;
        if (segments.size() == kMaxSegments) {
            *error = path + ": more than " + std::to_string(kMaxSegments) + " segments";
            return nullptr;
        }
        segments.push_back({name, size});
    }
    for (uint64_t later = number + 1; later <= number + kGapLookahead; ++later) {
        const std::string name = SegmentFileName(scheme, later);
        uint64_t size = 0;
        if (!name.empty() && SizeOf(name, &size)) {
            *error = path + ": segment " + SegmentFileName(scheme, number) + " is missing (" + name + " follows the gap)";
            return nullptr;
        }
    }
    // A name that only looks like a segment's: one file, read as it is.
    if (segments.size() < 2) return OpenRaw(path, error);
    const uint64_t segmentSize = segments[0].size;
    if (segmentSize == 0) {
        *error = path + ": the first segment is empty";
        return nullptr;
    }
    for (size_t i = 1; i < segments.size(); ++i) {
        const bool last = i + 1 == segments.size();
        if (segments[i].size == segmentSize || (last && segments[i].size < segmentSize && segments[i].size > 0))
            continue;
        if (segments[i].size > segmentSize) {
            *error = path + ": segment " + segments[0].path + " holds " + std::to_string(segmentSize) + " bytes, fewer than the one after it (" +
                     std::to_string(segments[i].size) + "): truncated, or not of this set";
            return nullptr;
        }
        *error = path + ": segment " + segments[i].path + " holds " + std::to_string(segments[i].size) + " bytes where every segment but the last holds " +
                 std::to_string(segmentSize) + " (truncated, or not of this set)";
        return nullptr;
    }
    return std::make_unique<SplitSource>(path, std::move(segments), segmentSize);
}

}  // namespace vestrel::ntfs
