// Which streams a listing keeps: stream-name and path globs, size bounds and
// content kinds. Names compare case-insensitively, as NTFS looks them up.
#pragma once
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "Row.h"

namespace vestrel::report {

// '*' any run of characters (separators too), '?' one character; the whole
// of `text` must match. Case is folded as NTFS's upcase table does for the
// Latin, Greek, Cyrillic and full-width letters.
bool GlobMatch(const std::u16string& pattern, const std::u16string& text);
// The upper-case form NTFS compares names by (see GlobMatch).
char16_t UpcaseUnit(char16_t c);

struct Filters {
    std::vector<std::u16string> names;     // --name: stream name matches one (none given: all)
    std::vector<std::u16string> excludes;  // --exclude: path matches none
    uint64_t minSize = 0;                  // --min-size, inclusive
    uint64_t maxSize = std::numeric_limits<uint64_t>::max();  // --max-size, inclusive
    std::vector<std::string> kinds;        // --kind: one of these (none given: all)

    // Everything but the kind, which needs the content.
    bool KeepsByName(const StreamRow& row) const;
    bool KeepsKind(const std::string& kind) const;
};

// "pe,script": every word one of AllKinds(); false with the bad word.
bool ParseKindList(const std::string& text, std::vector<std::string>* out, std::string* bad);

}  // namespace vestrel::report
