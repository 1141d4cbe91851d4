#include "StreamInfo.h"

namespace vestrel {
namespace {

uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint64_t U64(const uint8_t* p) { return uint64_t(U32(p)) | uint64_t(U32(p + 4)) << 32; }

bool EndsWithDataType(const WideString& raw) {
    static const char kType[] = ":$DATA";
    const size_t n = sizeof kType - 1;
    if (raw.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        WideChar c = raw[raw.size() - n + i];
        if (c >= 'a' && c <= 'z') c = WideChar(c - ('a' - 'A'));
        if (c != WideChar(kType[i])) return false;
    }
    return true;
}

}  // namespace

bool ParseStreamInfo(const uint8_t* data, size_t size, std::vector<NamedStream>* out) {
    size_t at = 0;
    while (true) {
        if (size < kStreamInfoHeaderSize || at > size - kStreamInfoHeaderSize) return false;
        const uint8_t* entry = data + at;
        const uint32_t next = U32(entry);
        const uint32_t nameBytes = U32(entry + 4);
        const size_t room = size - at - kStreamInfoHeaderSize;
        if (nameBytes % 2 != 0 || nameBytes > room) return false;
        if (next != 0 && next < kStreamInfoHeaderSize + nameBytes) return false;
        WideString raw;
        raw.reserve(nameBytes / 2);
        for (uint32_t i = 0; i < nameBytes; i += 2) {
            raw.push_back(WideChar(uint16_t(entry[kStreamInfoHeaderSize + i] | entry[kStreamInfoHeaderSize + i + 1] << 8)));
        }
        // ":NAME:$DATA"; "::$DATA" is the unnamed stream.
        if (raw.size() > 7 && raw[0] == ':' && EndsWithDataType(raw)) {
            NamedStream s;
            // Only the type goes: a stream named "$DATA" keeps its name.
            s.name = raw.substr(1, raw.size() - 7);
            s.size = U64(entry + 8);
            s.excluded = IsExcludedStreamName(s.name);
            out->push_back(s);
        }
        if (next == 0) return true;
        if (next > size - at) return false;
        at += next;
    }
}

}  // namespace vestrel
