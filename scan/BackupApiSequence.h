// The platform's backup stream sequence held to the read and skip rules of
// IBackupSequence. The platform's BackupRead may fill a request from the
// following streams and BackupSeek refuses to start inside a header or a
// name, so this producer follows the units itself: it parses every header it
// passes, keeps bytes that belong past the current unit for the next read,
// and asks BackupSeek only for what lies inside the current unit's data.
// Portable: the platform is reached through IBackupCalls.
#pragma once
#include <cstdint>
#include <vector>

#include "BackupApi.h"
#include "BackupSequence.h"

namespace vestrel {

class BackupApiSequence : public IBackupSequence {
public:
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
    // refuses there.
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
    uint64_t SurplusLeft() const { return surplus_.size() - surplusAt_; }
    bool Lost();

    IBackupCalls& calls_;
    const bool processSecurity_;
    void* context_ = nullptr;
    uint32_t lastError_ = 0;

    uint8_t header_[kStreamHeaderSize] = {};
    uint32_t headerHave_ = 0;  // 0: at a header, nothing of the unit taken
    uint64_t nameLeft_ = 0;
    uint64_t dataLeft_ = 0;

    // Bytes the platform delivered past the unit the caller was in; they are
    // served before the platform is asked again.
    std::vector<uint8_t> surplus_;
    size_t surplusAt_ = 0;
    std::vector<uint8_t> staging_;
    // The platform moved further than asked: where it stands is unknown.
    bool lost_ = false;
};

}  // namespace vestrel
