// A model of the platform's BackupRead and BackupSeek over a list of units,
// as their documentation describes them, behind the backup interface seam:
//  - BackupRead refuses (invalid parameter, nothing read) a request no
//    larger than the WIN32_STREAM_ID structure, as its page requires more.
//  - BackupRead delivers the next bytes of the sequence; success with 0 bytes
//    read is the end. Depending on the behaviour chosen it fills the whole
//    request from the following units, or stops at the end of the current
//    unit; it may also answer at most a few bytes per call.
//  - Security units are part of the sequence, first, only when the first read
//    asks for security data.
//  - BackupSeek moves within the current unit's data only: refused (nothing
//    moved) at or inside a header or a name; a request past the unit's end
//    fails, reports the bytes actually moved and leaves the position at the
//    next header.
//    With `seekInSparse` off it moves nothing inside a sparse stream's data
//    (a sparse block, or a stream header marked sparse) and fails.
//  - An aborting read releases the context.
//  - A sparse stream is laid out as MS-BKUP 2.13.1 creates it: its header
//    carries the sparse attribute and a size of 0, and each allocated range
//    follows as a sparse block unit (a 64-bit offset, then the bytes); see
//    SparseStream.
// Portable; used by the tests and the fuzz target.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BackupApi.h"
#include "MemorySequence.h"

namespace vestrel {

class BackupModel : public IBackupCalls {
public:
    struct Behaviour {
        bool crossUnits = true;     // fill a read from the following units
        uint32_t maxPerCall = 0;    // at most this many bytes per read; 0: no limit
        uint32_t failWith = 0;      // every read fails with this error (e.g. not supported)
        int failReadCall = 0;       // this read (1-based, aborts not counted) fails
        bool seekInSparse = true;   // BackupSeek moves inside sparse data
        std::string Name() const;
    };

    BackupModel(std::vector<MemorySequence::Unit> units, Behaviour behaviour);

    bool Read(uint8_t* buffer, uint32_t count, uint32_t* bytesRead, bool abort, bool processSecurity,
              void** context) override;
    bool Seek(uint64_t count, uint64_t* moved, void** context) override;
    uint32_t LastError() const override { return lastError_; }

    int ReadCalls() const { return readCalls_; }
    // Reads refused for asking less than the documented minimum.
    int ShortRequests() const { return shortRequests_; }
    int SeekCalls() const { return seekCalls_; }
    int ContextsReleased() const { return released_; }
    bool ContextHeld() const { return held_; }
    // The sequence served under the last context (null before the first read):
    // what was read and skipped of each unit.
    const MemorySequence* Served() const { return seq_.get(); }

private:
    bool Fail(uint32_t error) {
        lastError_ = error;
        return false;
    }

    std::vector<MemorySequence::Unit> units_;
    Behaviour behaviour_;
    std::unique_ptr<MemorySequence> seq_;  // the context's state, made by the first read
    bool held_ = false;
    uint32_t lastError_ = 0;
    int readCalls_ = 0;
    int shortRequests_ = 0;
    int seekCalls_ = 0;
    int released_ = 0;
};

// The units a platform serves: security units first when asked for, none otherwise.
std::vector<MemorySequence::Unit> ServedUnits(const std::vector<MemorySequence::Unit>& units,
                                              bool processSecurity);

// One allocated range of a sparse stream and the units of such a stream.
struct SparseRange {
    uint64_t offset;
    std::vector<uint8_t> bytes;
};
// The stream's header (sparse attribute, size 0; named when `rawName` is not
// null) followed by one sparse block unit per range, in order.
std::vector<MemorySequence::Unit> SparseStream(const char* rawName, const std::vector<SparseRange>& ranges);

// Files as the platform serves them: named, each a list of units.
struct UnitList {
    std::string name;
    std::vector<MemorySequence::Unit> units;
};
// Metadata units of every kind, sparse files, tiny and empty main streams,
// several named streams, a named stream of 4 GiB + 5 bytes (generated).
std::vector<UnitList> RealisticSequences();

}  // namespace vestrel
