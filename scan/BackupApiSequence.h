// The platform's backup stream sequence held to the read and skip rules of
// IBackupSequence. The platform's BackupRead may fill a request from the
// following streams, refuses requests no larger than its stream header
// structure, and BackupSeek refuses to start inside a header or a name, so
// this producer follows the units itself: it always reads a whole buffer of
// its own (kReadBuffer bytes), serves the caller's small reads from it while
// parsing every header it passes, and asks BackupSeek only for what lies
// inside the current unit's data beyond what it holds already.
// Portable: the platform is reached through IBackupCalls.
#pragma once
#include <cstdint>

#include "BackupApi.h"
#include "BackupSequence.h"

namespace vestrel {

class BackupApiSequence : public IBackupSequence {
public:
    // Each platform read asks for this many bytes: far above the documented
    // minimum (kBackupReadMinimum), and a page, so one call usually covers a
    // small file's whole sequence.
    static constexpr uint32_t kReadBuffer = 4096;

    // `calls` must outlive this object. Security data is part of the
    // sequence only when `processSecurity` is set.
    explicit BackupApiSequence(IBackupCalls& calls, bool processSecurity = false)
        : calls_(calls), processSecurity_(processSecurity) {}
    // Releases the backup context with an aborting read, whatever happened.
    ~BackupApiSequence() override;
    BackupApiSequence(const BackupApiSequence&) = delete;
    BackupApiSequence& operator=(const BackupApiSequence&) = delete;

    bool Read(void* buffer, uint32_t count, uint32_t* bytesRead) override;
    // Moves over the current unit's data only: buffered bytes first, then
    // BackupSeek for the rest of the request up to the unit's end. Refused
    // (false, nothing moved) at or inside a header or a name, as BackupSeek
    // refuses there. Where BackupSeek moves nothing inside a sparse stream's
    // data (a sparse block), the bytes are read over instead.
    bool Skip(uint64_t count, uint64_t* bytesSkipped) override;

    // The platform's error code of the last call that failed, 0 after success,
    // kErrorSeek for a refused skip or one that reached the unit's end, and
    // kErrorInvalidData once the platform's answers cannot be followed.
    uint32_t LastError() const { return lastError_; }

private:
    // Bytes to the end of the current unit; unknown (UINT64_MAX) while its
    // header is incomplete.
    uint64_t UnitLeft() const;
    bool InData() const { return headerHave_ == kStreamHeaderSize && nameLeft_ == 0 && dataLeft_ != 0; }
    // Follows `n` delivered bytes; stops at the end of the current unit and
    // returns how many of them belong to it.
    uint32_t Follow(const uint8_t* bytes, uint32_t n);
    uint32_t Held() const { return heldEnd_ - heldAt_; }
    // Asks the platform for the next kReadBuffer bytes once nothing is held.
    // False on a failed call (lastError_ set) or an answer it cannot follow.
    bool Refill(uint32_t* got);
    // Moves over up to `count` bytes of the current unit's data by reading.
    bool ReadOver(uint64_t count, uint64_t* moved);
    bool InSparseData() const;
    bool Lost();

    IBackupCalls& calls_;
    const bool processSecurity_;
    void* context_ = nullptr;
    uint32_t lastError_ = 0;

    uint8_t header_[kStreamHeaderSize] = {};
    uint32_t headerHave_ = 0;  // 0: at a header, nothing of the unit taken
    uint64_t nameLeft_ = 0;
    uint64_t dataLeft_ = 0;

    // What the platform delivered and the caller has not taken yet; it may
    // reach into the following units.
    uint8_t held_[kReadBuffer];
    uint32_t heldAt_ = 0;
    uint32_t heldEnd_ = 0;
    // The platform moved further than asked: where it stands is unknown.
    bool lost_ = false;
};

}  // namespace vestrel
