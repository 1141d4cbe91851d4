#include "StreamEnumerator.h"

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

}  // namespace

bool IsExcludedStreamName(const WideString& name) {
    return EqualsAsciiNoCase(name, "favicon") || EqualsAsciiNoCase(name, "zone.identifier") ||
           EqualsAsciiNoCase(name, "oecustomproperty");
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
    bool goOn = true;
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

        uint8_t preview[kMaxPreviewBytes];
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

        if (named && !visit(stream)) break;
    }
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
