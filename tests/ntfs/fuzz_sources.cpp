// The source layer's own parsing, on any bytes: recognising a container from
// a file's first and last bytes, a VMDK descriptor's extent lines, segment
// names and snapshot times, and a read answered in pieces of any size. Each
// answer must be one a caller can use.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ReadFully.h"
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

    // Each byte after the first is one answer of the read (as a signed
    // number): what was asked next is where the accepted answers end, and
    // the count returned is what they filled, never more than asked.
    if (size > 0) {
        uint8_t out[64];
        const size_t want = data[0] % (sizeof out + 1);
        size_t next = 1, filled = 0;
        const size_t got = ReadFully(
            [&](uint8_t* at, size_t count, uint64_t offset) -> ssize_t {
                if (offset != filled || at != out + filled || count != want - filled) __builtin_trap();
                if (next >= size) return 0;
                const ssize_t answer = int8_t(data[next++]);
                if (answer > 0 && size_t(answer) <= count) {
                    std::memset(at, 0xA5, size_t(answer));
                    filled += size_t(answer);
                }
                return answer;
            },
            out, want, 0);
        if (got != filled || got > want) __builtin_trap();
    }
    return 0;
}
