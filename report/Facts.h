// The facts read from a stream's content, while the listing reads it: its
// kind, its digests, a Zone.Identifier's fields, and whether one of the
// three usually hidden names holds what that name says.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Hash.h"
#include "Row.h"

namespace vestrel::report {

struct FactOptions {
    bool kind = false;
    std::vector<HashAlgorithm> hashes;
};

// Gathers the facts from the content as it passes, in order, a piece at a
// time (a listing's reads or an extraction's copy).
class ContentTap {
public:
    ContentTap(const FactOptions& options, const StreamRow& row);
    ~ContentTap();
    void Add(const void* data, size_t size);
    // Puts the facts into `row`. With `complete` false (the content could
    // not all be read) the digests stay empty.
    void Finish(StreamRow* row, bool complete);
    // How many leading bytes the facts need when no digest is asked for.
    size_t HeadWanted() const { return headWanted_; }
    bool WantsAll() const { return !hashers_.empty(); }

private:
    FactOptions options_;
    std::vector<std::unique_ptr<Hasher>> hashers_;
    std::string head_;
    size_t headWanted_ = 0;
    bool inspect_ = false;  // one of the three usually hidden names
};

// Reads up to `want` bytes at `offset`; false with `error` on a read error.
using ReadAt = std::function<bool(uint64_t offset, void* buffer, size_t want, size_t* got, std::string* error)>;

// Reads what the facts need (all of it for digests, the head otherwise)
// and fills `row`. False (with `error`) when the content could not be read:
// the digests are then empty and the rest is what was read.
bool ReadFacts(const FactOptions& options, const ReadAt& read, StreamRow* row, std::string* error);

// "" when a stream named Zone.Identifier, favicon or OECustomProperty holds
// what that name holds; else why not (the row's `note`). `head` is the start
// of the content (at least kMaxZoneFileSize + 1 bytes when there are more),
// `kind` its kind.
std::string NameMismatch(const std::u16string& stream, const std::string& head, uint64_t size, const std::string& kind);

// The largest favicon and OECustomProperty a browser or mail program writes.
constexpr uint64_t kMaxFaviconSize = 1u << 20;
constexpr uint64_t kMaxCustomPropertySize = 1u << 16;

bool IsZoneIdentifierName(const std::u16string& stream);

}  // namespace vestrel::report
