#include "Records.h"

#include <cstdio>

#include "Bytes.h"

namespace vestrel::ntfs {
namespace {

constexpr uint32_t kTypeAttributeList = 0x20;
constexpr uint32_t kTypeFileName = 0x30;
constexpr uint32_t kTypeData = 0x80;
constexpr uint32_t kTypeEnd = 0xFFFFFFFFu;
constexpr size_t kResidentHeader = 24;
constexpr size_t kNonResidentHeader = 64;
constexpr uint16_t kFlagCompressed = 0x0001, kFlagEncrypted = 0x4000, kFlagSparse = 0x8000;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

AttributeVerdict DecodeAttribute(const uint8_t* record, size_t room, DataAttribute* out) {
    if (room < 8) return AttributeVerdict::Damaged;
    const uint32_t type = Le32(record);
    if (type == kTypeEnd) return AttributeVerdict::Other;
    const uint32_t length = Le32(record + 4);
    if (length < kResidentHeader || length > room || length % 8 != 0) return AttributeVerdict::Damaged;
    if (type != kTypeData) return AttributeVerdict::Other;

    DataAttribute attr;
    attr.nonResident = record[8] != 0;
    const uint8_t nameLength = record[9];
    const uint16_t nameOffset = Le16(record + 10);
    const uint16_t flags = Le16(record + 12);
    attr.compressed = (flags & kFlagCompressed) != 0;
    attr.encrypted = (flags & kFlagEncrypted) != 0;
    attr.sparse = (flags & kFlagSparse) != 0;
    if (nameLength != 0) {
        if (nameOffset < (attr.nonResident ? kNonResidentHeader : kResidentHeader) ||
            size_t(nameOffset) + size_t(nameLength) * 2 > length)
            return AttributeVerdict::Damaged;
        attr.name.reserve(nameLength);
        for (unsigned i = 0; i < nameLength; ++i) attr.name.push_back(char16_t(Le16(record + nameOffset + 2 * i)));
    }
    if (attr.nonResident) {
        if (length < kNonResidentHeader) return AttributeVerdict::Damaged;
        const uint64_t lowestVcn = Le64(record + 16);
        const uint64_t dataSize = Le64(record + 48);
        // Sizes are signed 64-bit on disk; a negative one is damage.
        if (int64_t(lowestVcn) < 0 || int64_t(dataSize) < 0) return AttributeVerdict::Damaged;
        attr.firstExtent = lowestVcn == 0;
        attr.size = dataSize;
        // Listing needs no runs; reading a deleted stream does, and finds
        // none (valueLength 0) where their offset is out of place.
        const uint16_t pairs = Le16(record + 32);
        if (pairs >= kNonResidentHeader && pairs < length) {
            attr.valueOffset = pairs;
            attr.valueLength = length - pairs;
        }
    } else {
        const uint32_t valueLength = Le32(record + 16);
        const uint16_t valueOffset = Le16(record + 20);
        if (valueOffset > length || valueLength > length - valueOffset) return AttributeVerdict::Damaged;
        attr.size = valueLength;
        attr.valueOffset = valueOffset;
        attr.valueLength = valueLength;
    }
    *out = std::move(attr);
    return AttributeVerdict::Data;
}

EntryVerdict ClassifyEntry(const char16_t* name, int length, int nameType, uint64_t inode) {
    if (length <= 0 || length > kMaxNameUnits || name == nullptr) return EntryVerdict::Damaged;
    if (nameType == kNameDosOnly) return EntryVerdict::Skip;
    if (name[0] == u'.' && (length == 1 || (length == 2 && name[1] == u'.'))) return EntryVerdict::Skip;
    if (inode < kFirstUserInode) return EntryVerdict::System;
    return EntryVerdict::Keep;
}

bool DecodeFileName(const uint8_t* value, size_t length, FileName* out) {
    constexpr size_t kNameAt = 66;  // the name follows a fixed 66-byte part
    if (length < kNameAt) return false;
    const size_t units = value[64];  // counted in UTF-16 units, not bytes
    if (units == 0 || kNameAt + 2 * units > length) return false;
    out->parent = Le64(value);
    out->nameType = value[65];
    out->name.resize(units);
    for (size_t i = 0; i < units; ++i) out->name[i] = char16_t(Le16(value + kNameAt + 2 * i));
    return true;
}

RecordVerdict DecodeFileRecord(const uint8_t* record, size_t size, FileRecord* out) {
    constexpr size_t kHeader = 42;  // up to the attributes of the oldest layout
    if (size < kHeader + 8) return RecordVerdict::Damaged;
    if (Le32(record) != 0x454C4946u) {                             // "FILE"
        return Le32(record) == 0x44414142u ? RecordVerdict::Damaged  // "BAAD": a torn write
                                           : RecordVerdict::Empty;
    }
    const uint16_t first = Le16(record + 20);
    const uint16_t flags = Le16(record + 22);
    const uint32_t inUse = Le32(record + 24);
    if (inUse > size || first < kHeader || first % 8 != 0 || size_t(first) + 8 > inUse)
        return RecordVerdict::Damaged;
    FileRecord r;
    r.inUse = (flags & 1) != 0;
    r.directory = (flags & 2) != 0;
    r.sequence = Le16(record + 16);
    r.base = Le64(record + 32);
    size_t at = first;
    for (;;) {
        if (at + 4 > inUse) return RecordVerdict::Damaged;  // no end marker
        const uint32_t type = Le32(record + at);
        if (type == kTypeEnd) break;
        DataAttribute data;
        const AttributeVerdict verdict = DecodeAttribute(record + at, inUse - at, &data);
        if (verdict == AttributeVerdict::Damaged) return RecordVerdict::Damaged;
        const uint32_t length = Le32(record + at + 4);  // checked by DecodeAttribute
        if (verdict == AttributeVerdict::Data) {
            if (data.firstExtent) {
                r.data.push_back(std::move(data));
                r.dataAt.push_back(uint32_t(at));
            }
        } else if (type == kTypeAttributeList) {
            r.attributeList = true;
        } else if (type == kTypeFileName) {
            const uint8_t* a = record + at;
            if (a[8] != 0) return RecordVerdict::Damaged;  // always resident
            const uint32_t valueLength = Le32(a + 16);
            const uint16_t valueOffset = Le16(a + 20);
            if (valueOffset > length || valueLength > length - valueOffset) return RecordVerdict::Damaged;
            FileName name;
            if (!DecodeFileName(a + valueOffset, valueLength, &name)) return RecordVerdict::Damaged;
            r.names.push_back(std::move(name));
        }
        at += length;
    }
    *out = std::move(r);
    return RecordVerdict::Record;
}

std::u16string NormalVolumePath(const std::u16string& typed) {
    std::u16string out = u"\\";
    for (char16_t c : typed) {
        if (IsSeparator(c)) {
            if (out.back() != u'\\') out.push_back(u'\\');
        } else {
            out.push_back(c);
        }
    }
    if (out.size() > 1 && out.back() == u'\\') out.pop_back();
    return out;
}

std::u16string ChildPath(const std::u16string& parent, const std::u16string& name) {
    if (parent.empty() || parent.back() == u'\\') return parent + name;
    return parent + u'\\' + name;
}

std::u16string RelativePath(const std::u16string& root, const std::u16string& path) {
    if (path.size() <= root.size()) return u"";
    size_t skip = root.size();
    if (path[skip] == u'\\') ++skip;
    return path.substr(skip);
}

bool SplitStreamPath(const std::u16string& typed, std::u16string* path, std::u16string* stream) {
    const size_t colon = typed.find(u':');
    if (colon == std::u16string::npos || colon + 1 == typed.size()) return false;
    *path = NormalVolumePath(typed.substr(0, colon));
    *stream = typed.substr(colon + 1);
    return true;
}

std::string FitFileName(const std::string& utf8, size_t maxBytes) {
    if (utf8.size() <= maxBytes) return utf8;
    uint32_t hash = 2166136261u;  // FNV-1a over the whole name
    for (unsigned char c : utf8) hash = (hash ^ c) * 16777619u;
    char tag[16];
    std::snprintf(tag, sizeof tag, "~%08x", unsigned(hash));
    std::string extension;
    const size_t dot = utf8.rfind('.');
    if (dot != std::string::npos && utf8.size() - dot <= 16) extension = utf8.substr(dot);
    size_t keep = maxBytes - extension.size() - std::string(tag).size();
    // Never cut inside a UTF-8 sequence: back up to a lead byte.
    while (keep > 0 && (static_cast<unsigned char>(utf8[keep]) & 0xC0) == 0x80) --keep;
    return utf8.substr(0, keep) + tag + extension;
}

}  // namespace vestrel::ntfs
