#include "StreamEnumerator.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace vestrel {
namespace {

// The header plus the first three UTF-16 units of a name, read in one piece.
constexpr uint32_t kFirstReadSize = kStreamHeaderSize + 6;
constexpr uint32_t kMinNameBytes = 6;
constexpr uint64_t kDataPreviewSize = sizeof(NtfsStreamInfo::byData);

WideChar UnitAt(const uint8_t* p) { return WideChar(uint16_t(p[0] | p[1] << 8)); }

WideChar AsciiLower(WideChar c) {
    return (c >= WideChar('A') && c <= WideChar('Z')) ? WideChar(c + ('a' - 'A')) : c;
}

bool EqualsAsciiNoCase(const WideString& name, const char* ascii) {
    size_t i = 0;
    for (; ascii[i] != '\0'; ++i) {
        if (i >= name.size() || AsciiLower(name[i]) != WideChar(ascii[i])) return false;
    }
    return i == name.size();
}

// A skip that moved at all keeps the walk going: the platform stops such a
// skip at the next header, which is where the next stream starts anyway.
bool SkipKeepsGoing(IBackupSequence& seq, uint64_t count) {
    uint64_t skipped = 0;
    const bool ok = seq.Skip(count, &skipped);
    return skipped != 0 ? true : ok;
}

// One sparse block unit of a pending sparse named stream, its first read
// (`first`, `got` bytes) taken: widens the stream's size to the range's end
// and copies what the range holds of the preview. Returns whether the walk
// may go on. A block too short for its offset, or whose end does not fit in
// 64 bits, is damaged and adds nothing.
bool TakeSparseBlock(IBackupSequence& seq, const uint8_t* first, uint32_t got, uint32_t previewBytes,
                     uint8_t* preview, NamedStream* stream) {
    constexpr uint32_t kOffsetBytes = 8;
    const uint64_t dataSize = HeaderDataSize(first);
    const uint32_t extra = got - kStreamHeaderSize;
    uint8_t offsetBytes[kOffsetBytes] = {};
    for (uint32_t i = 0; i < extra && i < kOffsetBytes; ++i) offsetBytes[i] = first[kStreamHeaderSize + i];
    uint64_t taken = extra;
    if (dataSize >= kOffsetBytes && extra < kOffsetBytes) {
        uint32_t n = 0;
        if (!seq.Read(offsetBytes + extra, kOffsetBytes - extra, &n)) return false;
        taken += n;
        if (taken < kOffsetBytes) return true;  // the unit ended: nothing more of it
    }
    if (dataSize >= kOffsetBytes) {
        const uint64_t offset = LoadLe64(offsetBytes);
        const uint64_t length = dataSize - kOffsetBytes;
        if (offset <= UINT64_MAX - length) {
            if (offset + length > stream->size) stream->size = offset + length;
            if (offset < previewBytes && length != 0) {
                const uint32_t want = uint32_t(std::min<uint64_t>(length, previewBytes - offset));
                uint32_t n = 0;
                if (!seq.Read(preview + offset, want, &n)) return false;
                taken += n;
                const uint32_t reach = uint32_t(offset) + n;
                if (reach > stream->previewRead) stream->previewRead = reach;
                if (n < want) return true;  // the unit ended early
            }
        }
    }
    if (taken >= dataSize) return true;
    return SkipKeepsGoing(seq, dataSize - taken);
}

// A sparse stream's preview covers its first min(size, previewBytes) bytes
// once its ranges are in: what none of them held is a hole, zeros.
const NamedStream& Settled(NamedStream& stream, uint32_t previewBytes) {
    const uint32_t whole = uint32_t(std::min<uint64_t>(stream.size, previewBytes));
    if (stream.previewRead < whole) stream.previewRead = whole;
    return stream;
}

}  // namespace

bool IsExcludedStreamName(const WideString& name) {
    return EqualsAsciiNoCase(name, "favicon") || EqualsAsciiNoCase(name, "zone.identifier") ||
           EqualsAsciiNoCase(name, "oecustomproperty");
}

WideString DecimalSize(uint64_t size) {
    WideChar digits[20];
    int n = 0;
    do {
        digits[n++] = WideChar('0' + size % 10);
        size /= 10;
    } while (size != 0);
    WideString out;
    while (n > 0) out.push_back(digits[--n]);
    return out;
}

WideString TrimStreamName(const WideString& rawName) {
    static const WideChar kSuffix[] = {':', '$', 'D', 'A', 'T', 'A', 0};
    const WideString suffix(kSuffix);
    WideString out;
    out.reserve(rawName.size());
    size_t pos = 0;
    for (;;) {
        const size_t hit = rawName.find(suffix, pos);
        if (hit == WideString::npos) break;
        out.append(rawName, pos, hit - pos);
        pos = hit + suffix.size();
    }
    out.append(rawName, pos, WideString::npos);
    if (!out.empty()) out.erase(0, 1);
    return out;
}

}  // namespace vestrel

namespace vestrel {

void WalkNamedStreams(IBackupSequence& seq, uint32_t previewBytes, const NamedStreamVisitor& visit,
                      const std::atomic<bool>* stop) {
    if (previewBytes > kMaxPreviewBytes) previewBytes = kMaxPreviewBytes;
    // A sparse named stream (MS-BKUP 2.13.1: header marked sparse, its size
    // usually 0) has its data in the sparse block units that follow it, so
    // it is reported once those are passed: its size is the end of its last
    // range, its preview whatever its ranges hold of the first bytes (the
    // holes read as zeros).
    NamedStream pending;
    bool hasPending = false;
    uint8_t preview[kMaxPreviewBytes];
    bool goOn = true;
    bool visitorEnded = false;
    while (goOn) {
        if (stop != nullptr && stop->load()) break;

        uint8_t first[kFirstReadSize] = {};
        uint32_t got = 0;
        if (!seq.Read(first, kFirstReadSize, &got) || got == 0) break;
        // A unit shorter than a header cannot be parsed; what came before stays.
        if (got < kStreamHeaderSize || got > kFirstReadSize) break;

        const uint32_t id = HeaderId(first);
        const uint64_t dataSize = HeaderDataSize(first);
        const uint32_t nameSize = HeaderNameSize(first);
        const uint32_t extra = got - kStreamHeaderSize;  // unit bytes past the header

        if (hasPending && id == kBackupSparseBlock && nameSize == 0) {
            goOn = TakeSparseBlock(seq, first, got, previewBytes, preview, &pending);
            continue;
        }
        if (hasPending) {
            hasPending = false;
            if (!visit(Settled(pending, previewBytes))) {
                visitorEnded = true;
                break;
            }
        }

        const bool named = id == kBackupAlternateData && nameSize != 0;
        NamedStream stream;
        if (named) {
            // A named stream's name is whole UTF-16 units holding at least the
            // colons and the suffix. A header that breaks this, or a unit that
            // ends inside its name, is damaged: the file's walk ends there,
            // keeping the streams already found, with nothing read or
            // allocated from the bad size.
            if (nameSize < kMinNameBytes || nameSize % 2 != 0 || nameSize > kMaxStreamNameBytes ||
                got < kFirstReadSize) {
                break;
            }
            std::vector<uint8_t> nameBytes(nameSize, 0);
            for (uint32_t i = 0; i < kMinNameBytes; ++i) nameBytes[i] = first[kStreamHeaderSize + i];
            const uint32_t rest = nameSize - kMinNameBytes;
            if (rest != 0) {
                uint32_t n = 0;
                if (!seq.Read(nameBytes.data() + kMinNameBytes, rest, &n)) {
                    goOn = false;  // the data step below may set it again
                } else if (n < rest) {
                    break;  // the unit ended inside the name
                }
            }
            WideString raw;
            raw.reserve(nameSize / 2);
            for (uint32_t i = 0; i < nameSize; i += 2) {
                const WideChar c = UnitAt(&nameBytes[i]);
                if (c == 0) break;
                raw.push_back(c);
            }
            // A name that trims to nothing is still reported; the actions that
            // address a stream by its path refuse such a path.
            stream.name = TrimStreamName(raw);
            stream.size = dataSize;
            stream.excluded = IsExcludedStreamName(stream.name);
        }

        if (!named || previewBytes == 0) {
            // Skip what is left of the unit. The first read may already have
            // taken a tiny stream's data whole; skipping the declared size
            // then would move nothing and end the walk, losing later streams.
            const uint64_t nameTaken = extra < nameSize ? extra : nameSize;
            const uint64_t dataTaken = extra - nameTaken;
            uint64_t left = named ? 0 : nameSize - nameTaken;
            const uint64_t dataLeft = dataSize > dataTaken ? dataSize - dataTaken : 0;
            left = dataLeft > UINT64_MAX - left ? UINT64_MAX : left + dataLeft;
            if (left != 0) goOn = SkipKeepsGoing(seq, left);
        } else if (dataSize != 0) {
            uint32_t n = 0;
            if (dataSize <= previewBytes) {
                goOn = seq.Read(preview, uint32_t(dataSize), &n);
            } else {
                seq.Read(preview, previewBytes, &n);  // its outcome is not looked at
                goOn = SkipKeepsGoing(seq, dataSize - previewBytes);
            }
            stream.preview = preview;
            stream.previewRead = n;
        }

        if (!named) continue;
        if ((HeaderAttributes(first) & kStreamSparseAttribute) != 0) {
            // Holes read as zeros: what no range covers of the preview is 0.
            if (previewBytes != 0) {
                for (uint32_t i = stream.previewRead; i < previewBytes; ++i) preview[i] = 0;
                stream.preview = preview;
            }
            pending = std::move(stream);
            hasPending = true;
            continue;
        }
        if (!visit(stream)) {
            visitorEnded = true;
            break;
        }
    }
    if (hasPending && !visitorEnded) visit(Settled(pending, previewBytes));
}

}  // namespace vestrel

int EnumStreamsFromSequence(vestrel::IBackupSequence& seq, NtfsStreamList* list,
                            const std::atomic<bool>* stop) {
    using namespace vestrel;
    if (list == nullptr) return 0;
    WalkNamedStreams(
        seq, uint32_t(kDataPreviewSize),
        [list](const NamedStream& stream) {
            if (stream.excluded) return true;
            std::unique_ptr<NtfsStreamInfo> record(new NtfsStreamInfo());
            record->strName = stream.name;
            record->dwSize = uint32_t(stream.size);
            record->ullSize = stream.size;
            record->byData[0] = 0;
            for (uint32_t i = 0; i < stream.previewRead; ++i) record->byData[i] = stream.preview[i];
            list->push_back(record.release());
            return true;
        },
        stop);
    return int(list->size());
}

void FreeStreamList(NtfsStreamList* list) {
    if (list == nullptr) return;
    for (NtfsStreamInfo*& record : *list) {
        delete record;
        record = nullptr;
    }
}
