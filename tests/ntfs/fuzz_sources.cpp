// The source layer's own parsing, on any bytes: recognising a container from
// a file's first and last bytes, a VMDK descriptor's extent lines, segment
// names and snapshot times. Each answer must be one a caller can use.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "SourceKind.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vestrel::ntfs;
    // The same bytes as a file's head and, from its end, its tail.
    const size_t tail = size < kTailBytes ? size : kTailBytes;
    const SourceKind kind = RecognizeContent(data, size < kHeadBytes ? size : kHeadBytes, data + size - tail, tail);
    if (std::strcmp(KindName(kind), "unknown") == 0) __builtin_trap();

    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<VmdkExtent> extents;
    std::string error;
    if (ParseVmdkDescriptor(text, &extents, &error)) {
        if (extents.empty() || extents.size() > kMaxVmdkExtents) __builtin_trap();
        for (const VmdkExtent& e : extents)
            if ((e.type == "ZERO") != e.file.empty() || e.file.find('"') != std::string::npos) __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();
    }

    SegmentName scheme;
    if (ParseSegmentName(text, &scheme)) {
        if (scheme.width < 2) __builtin_trap();
        // The name given is the scheme's name for its own number.
        if (SegmentFileName(scheme, scheme.number) != text) __builtin_trap();
    }

    uint64_t filetime = 0;
    std::memcpy(&filetime, data, size < 8 ? size : 8);
    const std::string iso = FiletimeIso(filetime);
    if (iso.size() < 20 || iso.back() != 'Z' || iso[iso.size() - 10] != 'T') __builtin_trap();
    return 0;
}
