// EnCase evidence files (E01, Ex01) through libewf: the first segment is
// given, the others are found beside it by the format's own naming.
#include <libewf.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "LibyalSource.h"
#include "ReadFully.h"

namespace vestrel::ntfs {
namespace {

using EwfCalls = LibyalCalls<libewf_handle_initialize, libewf_handle_open, LIBEWF_OPEN_READ, libewf_handle_close,
                             libewf_handle_free, libewf_handle_read_random, libewf_error_sprint, libewf_error_free>;

class EwfSource : public Source {
public:
    EwfSource(std::string path, LibyalHandle<EwfCalls> handle, uint64_t size, int segments, SourceKind kind)
        : Source(std::move(path)), handle_(std::move(handle)), size_(size), segments_(segments), kind_(kind) {}
    // The volume layer asks for a few hundred bytes at a time, mostly in
    // order; each of the library's reads costs a chunk lookup and a copy, so
    // whole blocks are kept here (a fixed few: memory stays flat).
    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override {
        if (offset > size_ || count > size_ - offset) return false;
        // A read of whole blocks and more (read-ahead's) goes straight to the
        // library: kept, it would only be copied once more.
        if (count >= 2 * kBlock) return handle_.ReadAt(offset, buffer, count);
        // Block by block: each piece ends at its block's end.
        const auto fromBlock = [this](uint8_t* out, size_t want, uint64_t at) -> ssize_t {
            const uint64_t start = at - at % kBlock;
            const Block* block = Find(start);
            if (block == nullptr) return -1;
            const size_t within = size_t(at - start);
            const size_t part = std::min(want, block->length - within);
            std::memcpy(out, block->data.data() + within, part);
            return ssize_t(part);
        };
        return ReadFully(fromBlock, buffer, count, offset) == count;
    }
    uint64_t size() const override { return size_; }
    std::string Describe() const override {
        return std::string(KindName(kind_)) + " evidence file (" + std::to_string(segments_) + " segment" +
               (segments_ == 1 ? "" : "s") + "), " + HumanSize(size_);
    }
    SourceKind kind() const override { return kind_; }

private:
    static constexpr uint64_t kBlock = 64 * 1024;
    static constexpr size_t kBlocks = 64;  // 4 MiB
    struct Block {
        uint64_t start = UINT64_MAX;
        size_t length = 0;
        std::vector<uint8_t> data;
    };

    // The block at `start`, read into the oldest slot when not held.
    const Block* Find(uint64_t start) const {
        for (const Block& b : blocks_)
            if (b.start == start) return &b;
        Block& b = blocks_[next_];
        next_ = (next_ + 1) % kBlocks;
        b.start = UINT64_MAX;
        b.length = size_t(std::min<uint64_t>(kBlock, size_ - start));
        b.data.resize(kBlock);
        if (!handle_.ReadAt(start, b.data.data(), b.length)) return nullptr;
        b.start = start;
        return &b;
    }

    LibyalHandle<EwfCalls> handle_;
    uint64_t size_;
    mutable Block blocks_[kBlocks];
    mutable size_t next_ = 0;
    int segments_;
    SourceKind kind_;
};

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The library's glob stops at the first name it cannot find. A set with a
// segment missing in the middle would then open as a shorter one, so the
// names past the end are looked at too (".E05" where ".E04" is missing).
std::string GapAfter(const std::string& last) {
    const size_t dot = last.rfind('.');
    if (dot == std::string::npos || last.size() - dot != 4) return "";
    if (!(last[dot + 2] >= '0' && last[dot + 2] <= '9' && last[dot + 3] >= '0' && last[dot + 3] <= '9')) return "";
    const int number = (last[dot + 2] - '0') * 10 + (last[dot + 3] - '0');
    for (int later = number + 2; later <= 99 && later <= number + 16; ++later) {
        std::string name = last.substr(0, dot + 2);
        name += char('0' + later / 10);
        name += char('0' + later % 10);
        if (IsFile(name)) {
            std::string missing = last.substr(0, dot + 2);
            missing += char('0' + (number + 1) / 10);
            missing += char('0' + (number + 1) % 10);
            return "segment " + missing + " is missing (" + name + " follows the gap)";
        }
    }
    return "";
}

// An E01 segment names its own place in the set (a 16-bit number after the
// signature); a renamed or swapped segment would otherwise be read in the
// wrong order without complaint.
std::string CheckSegmentNumber(const std::string& name, int expected) {
    uint8_t header[13] = {};
    FILE* f = std::fopen(name.c_str(), "rb");
    if (f == nullptr) return "segment " + name + " cannot be opened";
    const size_t got = std::fread(header, 1, sizeof header, f);
    std::fclose(f);
    if (got != sizeof header) return "segment " + name + " is too short for a segment header";
    const SourceKind kind = RecognizeContent(header, got, nullptr, 0);
    if (kind == SourceKind::Ewf2) return "";  // numbered in a layout of its own
    if (kind != SourceKind::Ewf) return "segment " + name + " is not an evidence file segment";
    const int number = header[9] | header[10] << 8;
    if (number != expected)
        return "segment " + name + " holds segment " + std::to_string(number) + ", expected " + std::to_string(expected) +
               " (segments out of order or renamed)";
    return "";
}

}  // namespace

std::unique_ptr<Source> OpenEwf(const std::string& path, std::string* error) {
    libewf_error_t* libError = nullptr;
    char** names = nullptr;
    int count = 0;
    if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &libError) != 1 || count < 1) {
        *error = path + ": the segment files cannot be found (" + TakeError<EwfCalls>(&libError) + ")";
        return nullptr;
    }
    std::string problem = GapAfter(names[count - 1]);
    for (int i = 0; i < count && problem.empty(); ++i) problem = CheckSegmentNumber(names[i], i + 1);
    if (!problem.empty()) {
        libewf_glob_free(names, count, nullptr);
        *error = path + ": " + problem;
        return nullptr;
    }
    LibyalHandle<EwfCalls> handle;
    if (!handle.Initialize(&libError)) {
        libewf_glob_free(names, count, nullptr);
        *error = path + ": " + TakeError<EwfCalls>(&libError);
        return nullptr;
    }
    // No limit on the segments held open: this version of the library
    // misreads a set when its pool of open files is limited at all.
    const bool opened = handle.Open(&libError, names, count);
    libewf_glob_free(names, count, nullptr);
    size64_t size = 0;
    if (!opened || libewf_handle_get_media_size(handle.get(), &size, &libError) != 1) {
        *error = path + ": a damaged or incomplete evidence file set (" + TakeError<EwfCalls>(&libError) + ")";
        return nullptr;
    }
    // The last segment ends with a "done" section and every one carries
    // its tables; a set that opened without them is cut short.
    if (libewf_handle_segment_files_corrupted(handle.get(), nullptr) == 1) {
        *error = path + ": the evidence file set is incomplete or damaged (a segment is truncated, or the last is missing)";
        return nullptr;
    }
    uint8_t first[8] = {};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f != nullptr) {
        if (std::fread(first, 1, sizeof first, f) != sizeof first) first[0] = 0;
        std::fclose(f);
    }
    const SourceKind kind = RecognizeContent(first, sizeof first, nullptr, 0);
    return std::make_unique<EwfSource>(path, std::move(handle), uint64_t(size), count, kind == SourceKind::Ewf2 ? kind : SourceKind::Ewf);
}

}  // namespace vestrel::ntfs

// This version of the library keeps the buffer of a chunk it failed to read
// (a damaged chunk table or checksum); the leak checker is told so rather
// than ending a run that handled the damage.
extern "C" const char* __lsan_default_suppressions() { return "leak:libewf_chunk_data_initialize\n"; }
