// The producer over the platform's backup calls, fed by the model with units
// and read behaviour chosen by the fuzzer: every answer must keep the read
// and skip rules (with the context released once), or the enumeration must
// find what it finds in memory, as the input's mode bit chooses; no request
// may fall under BackupRead's minimum. Each input is cheap: one of the two
// checks, unit data a pattern made on demand and never held, a bounded
// number of steps, so a run reaches over ten thousand inputs a second.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "BackupApiSequence.h"
#include "BackupModel.h"
#include "SequenceContract.h"
#include "StreamEnumerator.h"

namespace {

using vestrel::MemorySequence;
using Unit = MemorySequence::Unit;

const uint32_t kIds[] = {vestrel::kBackupData, vestrel::kBackupEaData, vestrel::kBackupSecurityData,
                         vestrel::kBackupAlternateData, vestrel::kBackupAlternateData, vestrel::kBackupObjectId,
                         vestrel::kBackupReparseData, vestrel::kBackupSparseBlock};
const char* const kNames[] = {":a:$DATA", ":Zone.Identifier:$DATA", ":s", ":", "", ":favicon:$DATA", ":x:$DATA:$DATA"};
const uint64_t kSizes[] = {0, 1, 2, 3, 5, 6, 7, 8, 19, 20, 26, 100, 101, 300, 4096, (uint64_t(1) << 32) + 5};
const uint32_t kPerCall[] = {0, 0, 0, 0, 0, 3, 7, 26};
// Where the platform answers a few bytes a call, each byte read is a call:
// units stay small enough that an input costs a few hundred calls at most.
const uint64_t kSmallSizes[] = {0, 1, 2, 3, 5, 6, 7, 8, 19, 20, 26, 100, 101};

template <typename T, size_t N>
const T& Pick(const T (&from)[N], uint8_t b) {
    return from[b % N];
}

struct Input {
    const uint8_t* data;
    size_t size;
    uint8_t Next() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
};

void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
    std::abort();
}

struct Seen {
    std::vector<vestrel::WideString> names;
    std::vector<uint64_t> sizes;
    std::vector<std::vector<uint8_t>> leading;
    bool operator!=(const Seen& o) const { return names != o.names || sizes != o.sizes || leading != o.leading; }
};

Seen Walk(vestrel::IBackupSequence& seq) {
    NtfsStreamList list;
    EnumStreamsFromSequence(seq, &list);
    Seen s;
    for (const NtfsStreamInfo* r : list) {
        s.names.push_back(r->strName);
        s.sizes.push_back(r->ullSize);
        s.leading.emplace_back(r->byData, r->byData + (r->ullSize < 100 ? r->ullSize : 100));
    }
    FreeStreamList(&list);
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    const uint8_t mode = in.Next();
    vestrel::BackupModel::Behaviour behaviour;
    behaviour.crossUnits = (mode & 1) != 0;
    behaviour.maxPerCall = Pick(kPerCall, uint8_t(mode >> 1));
    const bool processSecurity = (mode & 0x10) != 0;
    behaviour.seekInSparse = (mode & 0x20) == 0;

    // Where each call answers a few bytes every byte is a call: fewer units
    // there keep an input to a few hundred calls.
    std::vector<Unit> units;
    units.reserve(11);
    for (uint8_t n = in.Next() % (behaviour.maxPerCall != 0 ? 7 : 12); n != 0; --n) {
        Unit u;
        const uint8_t kind = in.Next();
        u.id = Pick(kIds, kind);
        // Data streams and sparse blocks may carry the sparse attribute.
        if ((kind & 0x80) != 0) u.attributes = vestrel::kStreamSparseAttribute;
        // Only named data streams carry a name, as on NTFS.
        const char* name = Pick(kNames, in.Next());
        if (u.id == vestrel::kBackupAlternateData) u.name = MemorySequence::Utf16(name);
        const uint8_t sizeByte = in.Next();
        u.dataSize = behaviour.maxPerCall != 0 ? Pick(kSmallSizes, sizeByte) : Pick(kSizes, sizeByte);
        // Where seeks in sparse data are refused its bytes are read over:
        // keep those units small enough to read.
        const bool sparse = u.id == vestrel::kBackupSparseBlock || u.attributes != 0;
        if (sparse && !behaviour.seekInSparse && u.dataSize > 4096) u.dataSize = 4096;
        u.pattern = true;
        u.seed = n;
        units.push_back(std::move(u));
    }
    // A few dozen steps reach every unit; the drain reads what they leave.
    // More would make long inputs costly without reaching anything new.
    const std::vector<vestrel::SequenceStep> steps = vestrel::StepsFromBytes(in.data, std::min<size_t>(in.size, 256));
    std::vector<Unit> served = vestrel::ServedUnits(units, processSecurity);

    if ((mode & 0x40) == 0) {
        vestrel::BackupModel model(std::move(units), behaviour);
        {
            vestrel::BackupApiSequence seq(model, processSecurity);
            const std::string broke = vestrel::CheckSequenceContract(seq, served, steps, true);
            if (!broke.empty()) Fail("contract", broke);
        }
        if (model.ContextHeld() || model.ContextsReleased() != 1) Fail("context", "not released once");
        if (model.ShortRequests() != 0) Fail("request", "under the documented minimum");
    } else {
        vestrel::BackupModel model(std::move(units), behaviour);
        vestrel::BackupApiSequence seq(model, processSecurity);
        MemorySequence reference = MemorySequence::FromUnits(std::move(served));
        if (Walk(seq) != Walk(reference)) Fail("enumeration", "records differ from the in-memory sequence");
        if (model.ShortRequests() != 0) Fail("request", "under the documented minimum");
    }
    return 0;
}
