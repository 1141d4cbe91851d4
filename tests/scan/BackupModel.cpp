#include "BackupModel.h"

namespace vestrel {

std::string BackupModel::Behaviour::Name() const {
    std::string name = crossUnits ? "Crossing" : "Stopping";
    if (maxPerCall != 0) name += "AtMost" + std::to_string(maxPerCall);
    if (failWith != 0) name += "Failing" + std::to_string(failWith);
    if (failReadCall != 0) name += "FailingRead" + std::to_string(failReadCall);
    if (!seekInSparse) name += "NoSeekInSparse";
    return name;
}

BackupModel::BackupModel(std::vector<MemorySequence::Unit> units, Behaviour behaviour)
    : units_(std::move(units)), behaviour_(behaviour) {}

bool BackupModel::Read(uint8_t* buffer, uint32_t count, uint32_t* bytesRead, bool abort, bool processSecurity,
                       void** context) {
    *bytesRead = 0;
    if (abort) {
        if (*context != nullptr) {
            *context = nullptr;
            held_ = false;
            ++released_;
        }
        lastError_ = 0;
        return true;
    }
    ++readCalls_;
    if (count < kBackupReadMinimum) {
        ++shortRequests_;
        return Fail(kErrorInvalidParameter);
    }
    if (behaviour_.failWith != 0) return Fail(behaviour_.failWith);
    if (*context == nullptr) {
        seq_.reset(new MemorySequence(MemorySequence::FromUnits(ServedUnits(units_, processSecurity))));
        held_ = true;
        *context = this;
    } else if (*context != this || !held_) {
        return Fail(kErrorInvalidParameter);
    }
    if (readCalls_ == behaviour_.failReadCall) return Fail(kErrorReadFault);
    if (behaviour_.maxPerCall != 0 && count > behaviour_.maxPerCall) count = behaviour_.maxPerCall;
    uint32_t done = 0;
    while (done < count) {
        uint32_t got = 0;
        seq_->Read(buffer + done, count - done, &got);
        done += got;
        if (got == 0 || !behaviour_.crossUnits) break;
    }
    *bytesRead = done;
    lastError_ = 0;
    return true;
}

bool BackupModel::Seek(uint64_t count, uint64_t* moved, void** context) {
    *moved = 0;
    ++seekCalls_;
    if (*context == nullptr || *context != this || !held_) return Fail(kErrorInvalidHandle);
    if (count == 0) {
        lastError_ = 0;
        return true;
    }
    // It does not seek across a header, nor over a stream's name.
    if (seq_->BeforeData()) return Fail(kErrorSeek);
    if (!behaviour_.seekInSparse && seq_->InSparseData()) return Fail(kErrorSeek);
    const bool ok = seq_->Skip(count, moved);
    lastError_ = ok ? 0u : uint32_t(kErrorSeek);
    return ok;
}

std::vector<MemorySequence::Unit> ServedUnits(const std::vector<MemorySequence::Unit>& units,
                                              bool processSecurity) {
    std::vector<MemorySequence::Unit> out;
    out.reserve(units.size());
    if (processSecurity) {
        for (const MemorySequence::Unit& u : units) {
            if (u.id == kBackupSecurityData) out.push_back(u);
        }
    }
    for (const MemorySequence::Unit& u : units) {
        if (u.id != kBackupSecurityData) out.push_back(u);
    }
    return out;
}

namespace {

using Unit = MemorySequence::Unit;

std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 13);
    return v;
}

Unit Of(uint32_t id, std::vector<uint8_t> data, uint32_t attributes = 0) {
    Unit u = MemorySequence::Main(std::move(data));
    u.id = id;
    u.attributes = attributes;
    return u;
}

std::vector<uint8_t> Le64Bytes(uint64_t v) {
    std::vector<uint8_t> out(8);
    for (int i = 0; i < 8; ++i) out[size_t(i)] = uint8_t(v >> (8 * i));
    return out;
}

}  // namespace

std::vector<Unit> SparseStream(const char* rawName, const std::vector<SparseRange>& ranges) {
    std::vector<Unit> out;
    Unit head = rawName != nullptr ? MemorySequence::Named(rawName, {}) : MemorySequence::Main({});
    head.attributes = kStreamSparseAttribute;
    out.push_back(std::move(head));
    for (const SparseRange& r : ranges) {
        std::vector<uint8_t> data = Le64Bytes(r.offset);
        data.insert(data.end(), r.bytes.begin(), r.bytes.end());
        out.push_back(Of(kBackupSparseBlock, std::move(data), kStreamSparseAttribute));
    }
    return out;
}

std::vector<UnitList> RealisticSequences() {
    std::vector<UnitList> out;
    const Unit security = Of(kBackupSecurityData, Bytes(116, 3));
    out.push_back({"PlainFile", {security, MemorySequence::Main(Bytes(300, 1))}});
    out.push_back({"EmptyMainAndEmptyStream",
                   {MemorySequence::Main({}), MemorySequence::Named(":a:$DATA", Bytes(5, 2)),
                    MemorySequence::Named(":empty:$DATA", {})}});
    for (size_t size = 1; size <= 5; ++size) {
        out.push_back({"TinyMain" + std::to_string(size),
                       {security, MemorySequence::Main(Bytes(size, 9)), Of(kBackupEaData, Bytes(size, 4)),
                        MemorySequence::Named(":after:$DATA", Bytes(3, 5))}});
    }
    out.push_back({"EveryKindOfMetadata",
                   {security, MemorySequence::Main(Bytes(7, 6)), Of(kBackupEaData, Bytes(40, 7)),
                    MemorySequence::Named(":one:$DATA", Bytes(12, 8)), Of(kBackupObjectId, Bytes(64, 9)),
                    Of(kBackupReparseData, Bytes(24, 10)), MemorySequence::Named(":two:$DATA", Bytes(2, 11))}});
    // A sparse file: its data header carries the sparse attribute and a
    // size of 0; each allocated range follows as a block of its own.
    const uint64_t sparseSize = uint64_t(1) << 30;
    {
        std::vector<Unit> units = {security};
        for (Unit& u : SparseStream(nullptr, {{0, Bytes(3, 12)}, {65536, Bytes(200, 13)}, {sparseSize - 5, Bytes(5, 14)}}))
            units.push_back(std::move(u));
        units.push_back(MemorySequence::Named(":sparse.note:$DATA", Bytes(30, 15)));
        out.push_back({"SparseFile", std::move(units)});
    }
    // Sparse named streams: one whose last range ends past 4 GiB, one whose
    // first range starts inside the preview, one with no range at all.
    {
        std::vector<Unit> units = {MemorySequence::Main(Bytes(4, 26))};
        for (Unit& u : SparseStream(":sparse.big:$DATA", {{0, Bytes(3, 27)}, {(uint64_t(1) << 32), Bytes(5, 28)}}))
            units.push_back(std::move(u));
        for (Unit& u : SparseStream(":sparse.mid:$DATA", {{40, Bytes(300, 29)}})) units.push_back(std::move(u));
        for (Unit& u : SparseStream(":sparse.none:$DATA", {})) units.push_back(std::move(u));
        units.push_back(MemorySequence::Named(":plain:$DATA", Bytes(9, 30)));
        out.push_back({"SparseNamedStreams", std::move(units)});
    }
    out.push_back({"SeveralNamedStreams",
                   {MemorySequence::Main(Bytes(1000, 16)), MemorySequence::Named(":Zone.Identifier:$DATA", Bytes(26, 17)),
                    MemorySequence::Named(":hundred:$DATA", Bytes(100, 18)),
                    MemorySequence::Named(":hundred1:$DATA", Bytes(101, 19)),
                    MemorySequence::Named(":x:$DATA", Bytes(1, 20)),
                    MemorySequence::Named(":a much longer stream name:$DATA", Bytes(4096, 21))}});
    out.push_back({"HugeSparseNamedStream",
                   {MemorySequence::Main(Bytes(2, 22)),
                    MemorySequence::NamedGenerated(":big:$DATA", (uint64_t(1) << 32) + 5),
                    MemorySequence::Named(":later:$DATA", Bytes(7, 23))}});
    out.push_back({"DirectoryWithStreams",
                   {security, MemorySequence::Named(":d:$DATA", Bytes(9, 24)), Of(kBackupObjectId, Bytes(64, 25))}});
    return out;
}

}  // namespace vestrel
