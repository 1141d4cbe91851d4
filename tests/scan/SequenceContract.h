// The read and skip rules of IBackupSequence, checked against a reference
// sequence served from memory. Plain functions without a test framework, so
// that the tests and the fuzz target share them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "BackupSequence.h"
#include "MemorySequence.h"

namespace vestrel {

// One call on a sequence: Read(count) or Skip(count).
struct SequenceStep {
    bool skip = false;
    uint64_t count = 0;
};

// Steps that mix reads of every awkward size (header split, name split, one
// byte, more than a unit) with skips short of, up to and past a unit's end.
std::vector<SequenceStep> StepsFromSeed(uint32_t seed, size_t length);
// The same choices made by the given bytes (two bytes a step).
std::vector<SequenceStep> StepsFromBytes(const uint8_t* data, size_t size);
// What the enumeration does: a 26-byte read, then a skip over the rest.
std::vector<SequenceStep> WalkSteps(size_t units);

// Runs `steps` on `subject` and on a sequence served from `units`, then
// drains both, skipping data rather than reading it, and returns an empty
// string if every answer of `subject` kept the rules, else what broke first:
//  - a read answers what the reference answers: the same success, the same
//    count (everything asked up to the unit's end, never a byte of the next
//    unit) and the same bytes, and writes nothing past the bytes it reports;
//  - a skip in a unit's data moves what the reference moves, up to the
//    unit's end at most, and succeeds only if it moved the whole count;
//  - a skip at or inside a header or a name either does what the reference
//    does or, where `refusesSkipBeforeData`, moves nothing and fails;
//  - past the end, reads succeed with 0 bytes and skips move nothing.
std::string CheckSequenceContract(IBackupSequence& subject, const std::vector<MemorySequence::Unit>& units,
                                  const std::vector<SequenceStep>& steps, bool refusesSkipBeforeData);

}  // namespace vestrel
