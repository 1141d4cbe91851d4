#include "BackupApiSequence.h"

#include <algorithm>
#include <cstring>

namespace vestrel {

BackupApiSequence::~BackupApiSequence() {
    uint32_t n = 0;
    calls_.Read(nullptr, 0, &n, true, false, &context_);
}

uint64_t BackupApiSequence::UnitLeft() const {
    if (headerHave_ < kStreamHeaderSize) return UINT64_MAX;
    return dataLeft_ > UINT64_MAX - nameLeft_ ? UINT64_MAX : nameLeft_ + dataLeft_;
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

bool BackupApiSequence::Read(void* buffer, uint32_t count, uint32_t* bytesRead) {
    *bytesRead = 0;
    if (lost_) return Lost();
    lastError_ = 0;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    // Fill the request up to the unit's end: the platform may answer short
    // anywhere, and the caller reads a short answer as the unit's end.
    while (done < count) {
        const uint32_t want = uint32_t(std::min<uint64_t>(count - done, UnitLeft()));
        uint32_t got = 0;
        if (SurplusLeft() != 0) {
            got = uint32_t(std::min<uint64_t>(want, SurplusLeft()));
            const uint32_t k = Follow(surplus_.data() + surplusAt_, got);
            std::memcpy(out + done, surplus_.data() + surplusAt_, k);
            surplusAt_ += k;
            if (SurplusLeft() == 0) {
                surplus_.clear();
                surplusAt_ = 0;
            }
            done += k;
            if (headerHave_ == 0) break;
            continue;
        }
        // While the header is incomplete the unit's end is unknown and the
        // platform may deliver bytes of the next unit: those must not reach
        // the caller's buffer, so they land in a buffer of our own.
        const bool endKnown = headerHave_ == kStreamHeaderSize || want <= kStreamHeaderSize - headerHave_;
        uint8_t* into = out + done;
        if (!endKnown) {
            staging_.resize(want);
            into = staging_.data();
        }
        if (!calls_.Read(into, want, &got, false, processSecurity_, &context_)) {
            lastError_ = calls_.LastError();
            *bytesRead = done;
            return false;
        }
        if (got > want) {
            *bytesRead = done;
            return Lost();
        }
        if (got == 0) break;  // the sequence ended, maybe inside this unit
        const uint32_t k = Follow(into, got);
        if (!endKnown) std::memcpy(out + done, into, k);
        if (k < got) surplus_.assign(into + k, into + got);
        done += k;
        if (headerHave_ == 0) break;
    }
    *bytesRead = done;
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
    uint64_t moved = std::min(want, SurplusLeft());
    if (moved != 0) {
        dataLeft_ -= moved;
        surplusAt_ += size_t(moved);
        if (SurplusLeft() == 0) {
            surplus_.clear();
            surplusAt_ = 0;
        }
    }
    if (moved < want) {
        const uint64_t ask = want - moved;
        uint64_t m = 0;
        const bool ok = calls_.Seek(ask, &m, &context_);
        // Asked for no more than the unit holds, the platform has no reason
        // to fail; after a failure or a move past the request its position is
        // unknown, and bytes read from there could pass for headers.
        if (m > ask || (!ok && m < ask)) {
            *bytesSkipped = moved + std::min(m, ask);
            return Lost();
        }
        moved += m;
        dataLeft_ -= m;
    }
    if (dataLeft_ == 0) headerHave_ = 0;
    *bytesSkipped = moved;
    if (moved == count) return true;
    if (lastError_ == 0) lastError_ = kErrorSeek;
    return false;
}

}  // namespace vestrel
