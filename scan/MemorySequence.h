// A backup stream sequence served from memory. Large streams are described by
// size and produced on demand, so a stream of several GiB costs nothing until
// its bytes are actually read.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "UnitSequence.h"

namespace vestrel {

class MemorySequence : public UnitSequence {
public:
    // Produces the data byte at `offset` of a generated stream.
    using Generator = std::function<uint8_t(uint64_t offset)>;

    // One stream; its header is built from these fields.
    struct Unit {
        uint32_t id = kBackupData;
        std::vector<uint8_t> name;  // raw UTF-16LE bytes, e.g. ":s:$DATA", no terminator
        uint64_t dataSize = 0;      // declared and served
        std::vector<uint8_t> data;  // served when no generator is set; 0 past its end
        Generator generator;
        uint32_t attributes = 0;    // the header's stream attributes
        // With no data and no generator: byte i is PatternByte(i, seed),
        // made in bulk, so a unit of any size costs nothing to describe.
        bool pattern = false;
        uint8_t seed = 0;
    };

    // Raw bytes cut into units by their own headers: a unit is 20 + name size
    // + data size bytes, shortened where the bytes run out (so the last unit
    // may hold only part of a header or name).
    static MemorySequence FromRaw(const std::vector<uint8_t>& bytes);
    static MemorySequence FromUnits(std::vector<Unit> units);

    // Helpers for building units.
    static std::vector<uint8_t> Utf16(const char* ascii);
    static Unit Main(std::vector<uint8_t> data);
    static Unit Named(const char* rawName, std::vector<uint8_t> data);
    static Unit NamedGenerated(const char* rawName, uint64_t dataSize);
    static uint8_t GeneratedByte(uint64_t offset) { return uint8_t(offset * 31 + 7); }
    static uint8_t PatternByte(uint64_t offset, uint8_t seed) { return GeneratedByte(offset + seed); }

protected:
    bool ReadData(size_t unit, uint64_t offset, uint8_t* out, uint32_t count,
                  uint32_t* got) override;

private:
    struct Source {
        std::vector<uint8_t> data;
        Generator generator;
        bool pattern = false;
        uint8_t seed = 0;
    };
    std::vector<Source> sources_;  // one per unit
};

}  // namespace vestrel
