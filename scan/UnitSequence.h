// The platform's read and skip rules over a run of units (header and name
// bytes held in memory, data served by the derived class), shared by every
// producer that builds a backup stream sequence itself. Portable.
#pragma once
#include <cstdint>
#include <vector>

#include "BackupSequence.h"

namespace vestrel {

class UnitSequence : public IBackupSequence {
public:
    // What Read delivered and Skip moved over, per unit.
    struct UnitStats {
        uint64_t bytesRead = 0;      // all bytes of the unit delivered by Read
        uint64_t dataBytesRead = 0;  // those that lie in the data part
        uint64_t bytesSkipped = 0;
    };

    bool Read(void* buffer, uint32_t count, uint32_t* bytesRead) override;
    bool Skip(uint64_t count, uint64_t* bytesSkipped) override;

    size_t UnitCount() const { return units_.size(); }
    const UnitStats& Stats(size_t unit) const { return units_.at(unit).stats; }
    uint64_t TotalBytesRead() const;

    // The 20-byte stream header for the given fields, little-endian.
    static std::vector<uint8_t> Header(uint32_t id, uint64_t dataSize, uint32_t nameSize,
                                       uint32_t attributes = 0);
    static void PutHeader(uint8_t* at, uint32_t id, uint64_t dataSize, uint32_t nameSize, uint32_t attributes);

    // True at or inside a unit's header or name, or past the last unit:
    // anywhere but in a unit's data.
    bool BeforeData() const { return AtEnd() || offset_ < units_[current_].prefix.size(); }
    bool AtEnd() const { return current_ >= units_.size(); }
    // True inside the data of a sparse block unit or of a unit whose header
    // carries the sparse attribute.
    bool InSparseData() const;

protected:
    // `prefix` is served first (header and name, or whatever raw bytes the
    // unit starts with), then `dataLength` bytes from ReadData. Never empty:
    // an empty unit would read as the end of the sequence.
    void AddUnit(std::vector<uint8_t> prefix, uint64_t dataLength);
    void ReserveUnits(size_t n) { units_.reserve(n); }

    // Copies up to `count` data bytes of `unit` from `offset` (always inside
    // the unit's data) into `out`. A short count means the source ran out.
    virtual bool ReadData(size_t unit, uint64_t offset, uint8_t* out, uint32_t count,
                          uint32_t* got) = 0;

private:
    struct Entry {
        std::vector<uint8_t> prefix;
        uint64_t dataLength = 0;
        UnitStats stats;
        uint64_t Length() const { return prefix.size() + dataLength; }
    };
    void AdvanceIfAtEnd();

    std::vector<Entry> units_;
    size_t current_ = 0;   // unit being served; == UnitCount() when exhausted
    uint64_t offset_ = 0;  // position inside the current unit; 0 = at its header
};

}  // namespace vestrel
