#include "BackupApiSequence.h"

#include <algorithm>
#include <cstring>

namespace vestrel {

static_assert(BackupApiSequence::kReadBuffer >= kBackupReadMinimum, "requests stay above the minimum");

BackupApiSequence::~BackupApiSequence() {
    // The aborting read releases the context; it asks for a whole buffer as
    // every other read does, so no request is ever under the minimum.
    uint32_t n = 0;
    calls_.Read(held_, kReadBuffer, &n, true, false, &context_);
}

uint64_t BackupApiSequence::UnitLeft() const {
    if (headerHave_ < kStreamHeaderSize) return UINT64_MAX;
    return dataLeft_ > UINT64_MAX - nameLeft_ ? UINT64_MAX : nameLeft_ + dataLeft_;
}

bool BackupApiSequence::InSparseData() const {
    return InData() && (HeaderId(header_) == kBackupSparseBlock ||
                        (HeaderAttributes(header_) & kStreamSparseAttribute) != 0);
}

uint32_t BackupApiSequence::Follow(const uint8_t* bytes, uint32_t n) {
    uint32_t k = 0;
    while (k < n) {
        if (headerHave_ < kStreamHeaderSize) {
            const uint32_t c = std::min(kStreamHeaderSize - headerHave_, n - k);
            std::memcpy(header_ + headerHave_, bytes + k, c);
            headerHave_ += c;
            k += c;
            if (headerHave_ < kStreamHeaderSize) continue;
            nameLeft_ = HeaderNameSize(header_);
            dataLeft_ = HeaderDataSize(header_);
        } else {
            uint64_t& left = nameLeft_ != 0 ? nameLeft_ : dataLeft_;
            const uint32_t c = uint32_t(std::min<uint64_t>(left, n - k));
            left -= c;
            k += c;
        }
        if (nameLeft_ == 0 && dataLeft_ == 0) {
            headerHave_ = 0;  // the unit is over: the next byte is a header's
            break;
        }
    }
    return k;
}

bool BackupApiSequence::Lost() {
    lost_ = true;
    lastError_ = kErrorInvalidData;
    return false;
}

bool BackupApiSequence::Refill(uint32_t* got) {
    *got = 0;
    heldAt_ = heldEnd_ = 0;
    uint32_t n = 0;
    if (!calls_.Read(held_, kReadBuffer, &n, false, processSecurity_, &context_)) {
        lastError_ = calls_.LastError();
        return false;
    }
    if (n > kReadBuffer) return Lost();
    heldEnd_ = n;
    *got = n;
    return true;
}

bool BackupApiSequence::Read(void* buffer, uint32_t count, uint32_t* bytesRead) {
    *bytesRead = 0;
    if (lost_) return Lost();
    lastError_ = 0;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    // Fill the request up to the unit's end: the platform may answer short
    // anywhere, and the caller reads a short answer as the unit's end. Bytes
    // past the unit stay held for the next read, so the caller never gets a
    // byte of the next header.
    while (done < count) {
        if (Held() == 0) {
            uint32_t got = 0;
            if (!Refill(&got)) {
                *bytesRead = done;
                return false;
            }
            if (got == 0) break;  // the sequence ended, maybe inside this unit
        }
        const uint32_t want = uint32_t(std::min<uint64_t>(std::min(count - done, Held()), UnitLeft()));
        const uint32_t k = Follow(held_ + heldAt_, want);
        std::memcpy(out + done, held_ + heldAt_, k);
        heldAt_ += k;
        done += k;
        if (headerHave_ == 0) break;
    }
    *bytesRead = done;
    return true;
}

bool BackupApiSequence::ReadOver(uint64_t count, uint64_t* moved) {
    *moved = 0;
    while (*moved < count && dataLeft_ != 0) {
        if (Held() == 0) {
            uint32_t got = 0;
            if (!Refill(&got)) return false;
            if (got == 0) return true;  // the sequence ended inside the unit
        }
        const uint32_t k = uint32_t(std::min<uint64_t>(std::min<uint64_t>(count - *moved, Held()), dataLeft_));
        heldAt_ += k;
        dataLeft_ -= k;
        *moved += k;
    }
    return true;
}

bool BackupApiSequence::Skip(uint64_t count, uint64_t* bytesSkipped) {
    *bytesSkipped = 0;
    if (lost_) return Lost();
    lastError_ = 0;
    if (count == 0) return true;
    if (!InData()) {
        lastError_ = kErrorSeek;
        return false;
    }
    const uint64_t want = std::min(count, dataLeft_);
    uint64_t moved = std::min<uint64_t>(want, Held());
    heldAt_ += uint32_t(moved);
    dataLeft_ -= moved;
    if (moved < want) {
        const uint64_t ask = want - moved;
        const bool sparse = InSparseData();
        uint64_t m = 0;
        const bool ok = calls_.Seek(ask, &m, &context_);
        if (m == 0 && sparse) {
            // BackupSeek may refuse to move inside a sparse stream's blocks;
            // the position is unchanged, so reading the bytes over keeps the
            // walk on the units instead of ending the file's enumeration.
            uint64_t r = 0;
            const bool readOk = ReadOver(ask, &r);
            moved += r;
            if (!readOk) {
                if (dataLeft_ == 0) headerHave_ = 0;
                *bytesSkipped = moved;
                return false;
            }
        } else if (m > ask || (!ok && m < ask)) {
            // Asked for no more than the unit holds, the platform has no
            // reason to fail; after a failure or a move past the request its
            // position is unknown, and bytes read from there could pass for
            // headers.
            *bytesSkipped = moved + std::min(m, ask);
            return Lost();
        } else {
            moved += m;
            dataLeft_ -= m;
        }
    }
    if (dataLeft_ == 0) headerHave_ = 0;
    *bytesSkipped = moved;
    if (moved == count) return true;
    if (lastError_ == 0) lastError_ = kErrorSeek;
    return false;
}

}  // namespace vestrel
