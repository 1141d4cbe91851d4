#include "Filter.h"

#include <algorithm>

#include "ContentKind.h"

namespace vestrel::report {

char16_t UpcaseUnit(char16_t c) {
    if (c >= u'a' && c <= u'z') return char16_t(c - 32);
    if (c < 0xE0) return c;
    if (c <= 0xFE) return c == 0xF7 ? c : char16_t(c - 32);  // Latin-1, not the division sign
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {  // Latin Extended-A: pairs, upper first
        const bool oddPairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddPairs) return (c % 2 == 0) ? char16_t(c - 1) : c;
        if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        return (c % 2 == 1) ? char16_t(c - 1) : c;
    }
    if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return char16_t(c - 32);  // Greek
    if (c >= 0x430 && c <= 0x44F) return char16_t(c - 32);                 // Cyrillic
    if (c >= 0x450 && c <= 0x45F) return char16_t(c - 80);
    if (c >= 0xFF41 && c <= 0xFF5A) return char16_t(c - 32);  // full-width Latin
    return c;
}

bool GlobMatch(const std::u16string& pattern, const std::u16string& text) {
    // Iterative match with one backtrack point: linear in practice, never
    // exponential however many stars a hostile pattern holds.
    size_t p = 0, t = 0, starP = std::u16string::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starT = t;
        } else if (p < pattern.size() && (pattern[p] == u'?' || UpcaseUnit(pattern[p]) == UpcaseUnit(text[t]))) {
            ++p, ++t;
        } else if (starP != std::u16string::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

bool Filters::KeepsByName(const StreamRow& row) const {
    if (row.size < minSize || row.size > maxSize) return false;
    if (!names.empty() &&
        std::none_of(names.begin(), names.end(), [&](const std::u16string& g) { return GlobMatch(g, row.stream); }))
        return false;
    return std::none_of(excludes.begin(), excludes.end(), [&](const std::u16string& g) { return GlobMatch(g, row.path); });
}

bool Filters::KeepsKind(const std::string& kind) const {
    return kinds.empty() || std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
}

bool ParseKindList(const std::string& text, std::vector<std::string>* out, std::string* bad) {
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string word = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const auto& all = AllKinds();
        if (std::find(all.begin(), all.end(), word) == all.end()) {
            *bad = word;
            return false;
        }
        out->push_back(word);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

}  // namespace vestrel::report
