#include "Facts.h"

#include <algorithm>
#include <vector>

#include "ContentKind.h"
#include "Names.h"
#include "Zone.h"

namespace vestrel::report {
namespace {

bool SameAscii(const std::u16string& name, const char* lower) {
    size_t i = 0;
    for (; lower[i] != 0; ++i) {
        if (i >= name.size()) return false;
        char16_t c = name[i];
        if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
        if (c != char16_t(lower[i])) return false;
    }
    return i == name.size();
}

std::string SizeText(uint64_t size) { return std::to_string(size) + " bytes"; }

}  // namespace

bool IsZoneIdentifierName(const std::u16string& stream) { return SameAscii(stream, "zone.identifier"); }

std::string NameMismatch(const std::u16string& stream, const std::string& head, uint64_t size, const std::string& kind) {
    if (IsZoneIdentifierName(stream)) {
        if (kind != "text") return "Zone.Identifier holding " + kind + " content (" + SizeText(size) + ")";
        const ZoneParse zone = ParseZoneIdentifier(head, size);
        return zone.wellFormed ? std::string() : "Zone.Identifier not a zone file: " + zone.problem;
    }
    if (SameAscii(stream, "favicon")) {
        if (kind != "image") return "favicon holding " + kind + " content (" + SizeText(size) + ")";
        if (size > kMaxFaviconSize) return "favicon larger than an icon (" + SizeText(size) + ")";
        return {};
    }
    if (SameAscii(stream, "oecustomproperty")) {
        if (kind != "binary" && kind != "text" && kind != "empty")
            return "OECustomProperty holding " + kind + " content (" + SizeText(size) + ")";
        if (size > kMaxCustomPropertySize) return "OECustomProperty larger than a property block (" + SizeText(size) + ")";
        return {};
    }
    return {};
}

ContentTap::ContentTap(const FactOptions& options, const StreamRow& row) : options_(options) {
    for (HashAlgorithm a : options_.hashes) hashers_.push_back(Hasher::Make(a));
    inspect_ = IsExcludedName(row.stream);
    if (options_.kind || inspect_) headWanted_ = kKindProbeBytes;
    if (inspect_ || IsZoneIdentifierName(row.stream)) headWanted_ = size_t(kMaxZoneFileSize) + 1;
}

ContentTap::~ContentTap() = default;

void ContentTap::Add(const void* data, size_t size) {
    for (auto& h : hashers_)
        if (h) h->Update(data, size);
    if (head_.size() < headWanted_) {
        const size_t take = std::min(size, headWanted_ - head_.size());
        head_.append(static_cast<const char*>(data), take);
    }
}

void ContentTap::Finish(StreamRow* row, bool complete) {
    for (size_t i = 0; i < hashers_.size(); ++i) {
        const std::string digest = complete && hashers_[i] ? hashers_[i]->HexDigest() : std::string();
        switch (options_.hashes[i]) {
            case HashAlgorithm::Md5: row->md5 = digest; break;
            case HashAlgorithm::Sha1: row->sha1 = digest; break;
            case HashAlgorithm::Sha256: row->sha256 = digest; break;
        }
    }
    const bool haveHead = complete || head_.size() >= std::min<uint64_t>(row->size, headWanted_);
    if (!haveHead || headWanted_ == 0) return;
    const std::string kind = DetectKind(head_.substr(0, kKindProbeBytes), row->size);
    if (options_.kind) row->kind = kind;
    if (IsZoneIdentifierName(row->stream)) row->zone = ParseZoneIdentifier(head_, row->size).info;
    if (inspect_) row->note = NameMismatch(row->stream, head_, row->size, kind);
}

bool ReadFacts(const FactOptions& options, const ReadAt& read, StreamRow* row, std::string* error) {
    ContentTap tap(options, *row);
    const uint64_t want = tap.WantsAll() ? row->size : std::min<uint64_t>(row->size, tap.HeadWanted());
    std::vector<char> buffer(size_t(std::min<uint64_t>(want, 1u << 20)));
    uint64_t position = 0;
    bool ok = true;
    while (position < want) {
        size_t got = 0;
        const size_t ask = size_t(std::min<uint64_t>(buffer.size(), want - position));
        if (!read(position, buffer.data(), ask, &got, error)) {
            ok = false;
            break;
        }
        if (got == 0) {
            *error = "the stream ended at byte " + std::to_string(position) + " of " + std::to_string(row->size);
            ok = false;
            break;
        }
        tap.Add(buffer.data(), got);
        position += got;
    }
    tap.Finish(row, ok);
    return ok;
}

}  // namespace vestrel::report
