// Reads back what the command-line programs print, for tests: RFC 4180 csv
// and one flat JSON object per line. Written apart from the writers (its own
// UTF-8 decoding), so a fault in one is not mirrored by the other. Portable,
// header-only.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vestrel::testing {

// Records of a csv text; `ok` is false on a stray quote or an unclosed field.
struct CsvText {
    std::vector<std::vector<std::string>> records;
    bool ok = true;
};

inline CsvText ParseCsv(const std::string& text) {
    CsvText out;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false, wasQuoted = false, any = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"') field += c;
            else if (i + 1 < text.size() && text[i + 1] == '"') field += '"', ++i;
            else quoted = false;
            continue;
        }
        any = true;
        if (c == '"') {
            if (!field.empty() || wasQuoted) out.ok = false;
            quoted = wasQuoted = true;
        } else if (c == ',') {
            record.push_back(field), field.clear(), wasQuoted = false;
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            record.push_back(field), field.clear(), wasQuoted = false;
            out.records.push_back(record), record.clear(), any = false;
        } else {
            if (wasQuoted) out.ok = false;
            field += c;
        }
    }
    if (quoted) out.ok = false;
    if (any) record.push_back(field), out.records.push_back(record);
    return out;
}

// One flat JSON object: string values as UTF-16 units (a \uDXXX escape of a
// lone surrogate comes back as that unit), numbers and booleans.
struct JsonObject {
    std::map<std::string, std::u16string> strings;
    std::map<std::string, uint64_t> numbers;
    std::map<std::string, bool> booleans;
    std::vector<std::string> keys;  // in order
};

namespace detail {

inline void SkipSpace(const std::string& s, size_t& i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
}

inline bool Hex4(const std::string& s, size_t i, uint32_t* v) {
    if (i + 4 > s.size()) return false;
    *v = 0;
    for (size_t k = i; k < i + 4; ++k) {
        const char c = s[k];
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) return false;
        *v = *v << 4 | uint32_t(d);
    }
    return true;
}

inline bool String(const std::string& s, size_t& i, std::u16string* out) {
    if (i >= s.size() || s[i] != '"') return false;
    for (++i; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"') return ++i, true;
        if (c < 0x20) return false;  // raw control characters are not JSON
        if (c == '\\') {
            if (++i >= s.size()) return false;
            const char e = s[i++];
            uint32_t v = 0;
            switch (e) {
                case '"': out->push_back(u'"'); break;
                case '\\': out->push_back(u'\\'); break;
                case '/': out->push_back(u'/'); break;
                case 'n': out->push_back(u'\n'); break;
                case 'r': out->push_back(u'\r'); break;
                case 't': out->push_back(u'\t'); break;
                case 'b': out->push_back(u'\b'); break;
                case 'f': out->push_back(u'\f'); break;
                case 'u':
                    if (!Hex4(s, i, &v)) return false;
                    out->push_back(char16_t(v));
                    i += 4;
                    break;
                default: return false;
            }
            continue;
        }
        const size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
        if (len == 0 || i + len > s.size()) return false;
        uint32_t cp = len == 1 ? c : c & (0x3F >> (len - 1));
        for (size_t k = 1; k < len; ++k) cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        if (cp >= 0xD800 && cp <= 0xDFFF) return false;  // a surrogate encoded raw is not UTF-8
        if (cp >= 0x10000) {
            out->push_back(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
            out->push_back(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out->push_back(char16_t(cp));
        }
        i += len;
    }
    return false;
}

}  // namespace detail

// False when `line` is not one flat object of strings, numbers and booleans.
inline bool ParseJsonLine(const std::string& line, JsonObject* out) {
    using namespace detail;
    size_t i = 0;
    SkipSpace(line, i);
    if (i >= line.size() || line[i++] != '{') return false;
    SkipSpace(line, i);
    if (i < line.size() && line[i] == '}') return ++i, true;
    for (;;) {
        SkipSpace(line, i);
        std::u16string key16;
        if (!String(line, i, &key16)) return false;
        const std::string key(key16.begin(), key16.end());
        SkipSpace(line, i);
        if (i >= line.size() || line[i++] != ':') return false;
        SkipSpace(line, i);
        if (i >= line.size()) return false;
        if (line[i] == '"') {
            std::u16string v;
            if (!String(line, i, &v)) return false;
            out->strings[key] = v;
        } else if (line.compare(i, 4, "true") == 0 || line.compare(i, 5, "false") == 0) {
            const bool v = line[i] == 't';
            i += v ? 4 : 5;
            out->booleans[key] = v;
        } else if (line[i] >= '0' && line[i] <= '9') {
            uint64_t v = 0;
            while (i < line.size() && line[i] >= '0' && line[i] <= '9') v = v * 10 + uint64_t(line[i++] - '0');
            out->numbers[key] = v;
        } else {
            return false;
        }
        out->keys.push_back(key);
        SkipSpace(line, i);
        if (i < line.size() && line[i] == ',') { ++i; continue; }
        if (i < line.size() && line[i] == '}') {
            ++i;
            SkipSpace(line, i);
            return i == line.size() || (line[i] == '\n' || line[i] == '\r');
        }
        return false;
    }
}

}  // namespace vestrel::testing
