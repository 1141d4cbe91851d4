#include "MemorySequence.h"

#include <algorithm>
#include <cstring>

namespace vestrel {

namespace {
constexpr uint32_t kPatternPiece = 4096;
}  // namespace

MemorySequence MemorySequence::FromRaw(const std::vector<uint8_t>& bytes) {
    MemorySequence seq;
    const uint64_t n = bytes.size();
    uint64_t p = 0;
    while (p < n) {
        const uint64_t rem = n - p;
        uint64_t prefixLen = rem;
        uint64_t dataLen = 0;
        if (rem >= kStreamHeaderSize) {
            const uint8_t* h = bytes.data() + p;
            const uint64_t dataSize = HeaderDataSize(h);
            const uint64_t nameSize = HeaderNameSize(h);
            prefixLen = std::min(rem, kStreamHeaderSize + nameSize);
            dataLen = std::min(rem - prefixLen, dataSize);
        }
        Source src;
        src.data.assign(bytes.begin() + (p + prefixLen), bytes.begin() + (p + prefixLen + dataLen));
        seq.sources_.push_back(std::move(src));
        seq.AddUnit(std::vector<uint8_t>(bytes.begin() + p, bytes.begin() + (p + prefixLen)), dataLen);
        p += prefixLen + dataLen;
    }
    return seq;
}

MemorySequence MemorySequence::FromUnits(std::vector<Unit> units) {
    MemorySequence seq;
    seq.ReserveUnits(units.size());
    seq.sources_.reserve(units.size());
    for (Unit& u : units) {
        std::vector<uint8_t> prefix(kStreamHeaderSize + u.name.size());
        PutHeader(prefix.data(), u.id, u.dataSize, uint32_t(u.name.size()), u.attributes);
        std::copy(u.name.begin(), u.name.end(), prefix.begin() + kStreamHeaderSize);
        seq.sources_.push_back(Source{std::move(u.data), std::move(u.generator), u.pattern, u.seed});
        seq.AddUnit(std::move(prefix), u.dataSize);
    }
    return seq;
}

bool MemorySequence::ReadData(size_t unit, uint64_t offset, uint8_t* out, uint32_t count,
                              uint32_t* got) {
    const Source& src = sources_[unit];
    if (src.generator) {
        for (uint32_t i = 0; i < count; ++i) out[i] = src.generator(offset + i);
    } else if (src.pattern) {
        // The pattern repeats every 256 bytes: copied from a table in pieces.
        static const std::vector<uint8_t> table = [] {
            std::vector<uint8_t> t(256 + kPatternPiece);
            for (size_t i = 0; i < t.size(); ++i) t[i] = GeneratedByte(i);
            return t;
        }();
        for (uint32_t done = 0; done < count;) {
            const uint32_t k = std::min(count - done, kPatternPiece);
            std::memcpy(out + done, table.data() + (offset + done + src.seed) % 256, k);
            done += k;
        }
    } else {
        // The data as held, then zeros past its end.
        const uint64_t held = src.data.size();
        const uint32_t n = offset >= held ? 0 : uint32_t(std::min<uint64_t>(count, held - offset));
        if (n != 0) std::memcpy(out, src.data.data() + offset, n);
        if (n < count) std::memset(out + n, 0, count - n);
    }
    *got = count;
    return true;
}

std::vector<uint8_t> MemorySequence::Utf16(const char* ascii) {
    std::vector<uint8_t> out;
    for (const char* p = ascii; *p != '\0'; ++p) {
        out.push_back(uint8_t(*p));
        out.push_back(0);
    }
    return out;
}

MemorySequence::Unit MemorySequence::Main(std::vector<uint8_t> data) {
    Unit u;
    u.id = kBackupData;
    u.dataSize = data.size();
    u.data = std::move(data);
    return u;
}

MemorySequence::Unit MemorySequence::Named(const char* rawName, std::vector<uint8_t> data) {
    Unit u = Main(std::move(data));
    u.id = kBackupAlternateData;
    u.name = Utf16(rawName);
    return u;
}

MemorySequence::Unit MemorySequence::NamedGenerated(const char* rawName, uint64_t dataSize) {
    Unit u;
    u.id = kBackupAlternateData;
    u.name = Utf16(rawName);
    u.dataSize = dataSize;
    u.generator = &MemorySequence::GeneratedByte;
    return u;
}

}  // namespace vestrel
