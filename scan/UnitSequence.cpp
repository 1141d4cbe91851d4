#include "UnitSequence.h"

#include <algorithm>
#include <cstring>

namespace vestrel {

void UnitSequence::AddUnit(std::vector<uint8_t> prefix, uint64_t dataLength) {
    Entry e;
    e.prefix = std::move(prefix);
    e.dataLength = dataLength;
    units_.push_back(std::move(e));
}

void UnitSequence::AdvanceIfAtEnd() {
    if (offset_ == units_[current_].Length()) {
        ++current_;
        offset_ = 0;
    }
}

bool UnitSequence::Read(void* buffer, uint32_t count, uint32_t* bytesRead) {
    *bytesRead = 0;
    if (current_ >= units_.size() || count == 0) return true;
    Entry& unit = units_[current_];
    const uint64_t want = std::min<uint64_t>(count, unit.Length() - offset_);
    uint8_t* out = static_cast<uint8_t*>(buffer);
    const uint64_t prefixLen = unit.prefix.size();

    uint64_t done = 0;
    if (offset_ < prefixLen) {
        done = std::min(want, prefixLen - offset_);
        std::memcpy(out, unit.prefix.data() + offset_, size_t(done));
    }
    bool ok = true;
    if (done < want) {
        const uint64_t dataOffset = offset_ + done - prefixLen;
        const uint32_t n = uint32_t(want - done);
        uint32_t got = 0;
        ok = ReadData(current_, dataOffset, out + done, n, &got) && got != 0;
        if (ok) {
            got = std::min(got, n);
            unit.stats.dataBytesRead += got;
            done += got;
        }
    }
    unit.stats.bytesRead += done;
    offset_ += done;
    AdvanceIfAtEnd();
    *bytesRead = uint32_t(done);
    return ok;
}

bool UnitSequence::Skip(uint64_t count, uint64_t* bytesSkipped) {
    *bytesSkipped = 0;
    if (count == 0) return true;
    // At a header (nothing of the unit taken yet) or past the end, a skip
    // cannot move: it never crosses into a header.
    if (current_ >= units_.size() || offset_ == 0) return false;
    Entry& unit = units_[current_];
    const uint64_t left = unit.Length() - offset_;
    const uint64_t n = std::min(count, left);
    unit.stats.bytesSkipped += n;
    offset_ += n;
    AdvanceIfAtEnd();
    *bytesSkipped = n;
    return count <= left;
}

bool UnitSequence::InSparseData() const {
    if (BeforeData()) return false;
    const std::vector<uint8_t>& prefix = units_[current_].prefix;
    if (prefix.size() < kStreamHeaderSize) return false;
    return HeaderId(prefix.data()) == kBackupSparseBlock ||
           (HeaderAttributes(prefix.data()) & kStreamSparseAttribute) != 0;
}

uint64_t UnitSequence::TotalBytesRead() const {
    uint64_t total = 0;
    for (const Entry& u : units_) total += u.stats.bytesRead;
    return total;
}

std::vector<uint8_t> UnitSequence::Header(uint32_t id, uint64_t dataSize, uint32_t nameSize,
                                          uint32_t attributes) {
    std::vector<uint8_t> h(kStreamHeaderSize, 0);
    PutHeader(h.data(), id, dataSize, nameSize, attributes);
    return h;
}

void UnitSequence::PutHeader(uint8_t* at, uint32_t id, uint64_t dataSize, uint32_t nameSize, uint32_t attributes) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(id >> (8 * i));
    for (int i = 0; i < 4; ++i) at[4 + i] = uint8_t(attributes >> (8 * i));
    for (int i = 0; i < 8; ++i) at[8 + i] = uint8_t(dataSize >> (8 * i));
    for (int i = 0; i < 4; ++i) at[16 + i] = uint8_t(nameSize >> (8 * i));
}

}  // namespace vestrel
