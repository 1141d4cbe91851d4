// A file system's stream list (FILE_STREAM_INFO entries, as
// GetFileInformationByHandleEx with FileStreamInfo returns them) built for
// tests. Portable.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct StreamInfoEntry {
    std::u16string name;     // as listed: ":NAME:$DATA"
    uint64_t size = 0;
    int64_t next = -1;       // -1: the real offset (0 for the last entry)
    int64_t nameBytes = -1;  // -1: the name's real byte length
};

// The entries one after another, each padded to 8 bytes as the platform lays them out.
inline std::vector<uint8_t> StreamInfoChain(const std::vector<StreamInfoEntry>& entries) {
    auto put32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
    };
    std::vector<uint8_t> out;
    for (size_t i = 0; i < entries.size(); ++i) {
        const StreamInfoEntry& e = entries[i];
        const size_t at = out.size();
        const size_t length = (24 + e.name.size() * 2 + 7) / 8 * 8;
        out.resize(at + length, 0);
        const bool last = i + 1 == entries.size();
        put32(out, at, uint32_t(e.next >= 0 ? e.next : (last ? 0 : int64_t(length))));
        put32(out, at + 4, uint32_t(e.nameBytes >= 0 ? e.nameBytes : int64_t(e.name.size() * 2)));
        put32(out, at + 8, uint32_t(e.size));
        put32(out, at + 12, uint32_t(e.size >> 32));
        for (size_t c = 0; c < e.name.size(); ++c) {
            out[at + 24 + 2 * c] = uint8_t(e.name[c]);
            out[at + 24 + 2 * c + 1] = uint8_t(e.name[c] >> 8);
        }
    }
    return out;
}

}  // namespace testing_support
