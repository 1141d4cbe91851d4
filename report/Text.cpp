#include "Text.h"

#include <cstdio>

namespace vestrel::report {

using text::ForEachCodePoint;
using text::kReplacement;

void text::AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | cp >> 6));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | cp >> 12));
        out.push_back(char(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | cp >> 18));
        out.push_back(char(0x80 | (cp >> 12 & 0x3F)));
        out.push_back(char(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

namespace {

void AppendHex4(std::string& out, uint32_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(v & 0xFFFF));
    out += buf;
}

}  // namespace

std::string TableText(const std::u16string& text) {
    std::string out;
    ForEachCodePoint(text, [&](uint32_t cp, bool lone) {
        if (lone) cp = kReplacement;
        else if (cp < 0x20 || cp == 0x7F) cp = '?';
        text::AppendUtf8(out, cp);
    });
    return out;
}

std::string ToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    ForEachCodePoint(text, [&](uint32_t cp, bool lone) { text::AppendUtf8(out, lone ? kReplacement : cp); });
    return out;
}

std::u16string FromUtf8(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char b = s[i];
        size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        uint32_t cp = len == 1 ? b : len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
        bool ok = len != 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            ok = (s[i + k] & 0xC0) == 0x80;
            cp = cp << 6 | (s[i + k] & 0x3F);
        }
        // Overlong forms, encoded surrogates and values past U+10FFFF are invalid.
        static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        ok = ok && cp >= kMin[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!ok) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out.push_back(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += len;
    }
    return out;
}

std::string JsonString(const std::u16string& text) {
    std::string out = "\"";
    ForEachCodePoint(text, [&](uint32_t cp, bool lone) {
        switch (cp) {
            case '"': out += "\\\""; return;
            case '\\': out += "\\\\"; return;
            case '\n': out += "\\n"; return;
            case '\r': out += "\\r"; return;
            case '\t': out += "\\t"; return;
            default: break;
        }
        if (lone || cp < 0x20 || cp == 0x7F) AppendHex4(out, cp);
        else text::AppendUtf8(out, cp);
    });
    return out + "\"";
}

namespace {

// Most text in a row (digests, times, kinds, zone fields) is plain ASCII,
// which every output writes as it stands.
bool IsAscii(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

bool NeedsNoJsonEscape(const std::string& text) {
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F || c == '"' || c == '\\') return false;
    }
    return true;
}

}  // namespace

std::string CleanUtf8(const std::string& text) { return IsAscii(text) ? text : ToUtf8(FromUtf8(text)); }

std::string JsonStringUtf8(const std::string& text) {
    return NeedsNoJsonEscape(text) ? "\"" + text + "\"" : JsonString(FromUtf8(text));
}

std::string CsvField(const std::string& utf8) {
    std::string out;
    AppendCsvField(out, utf8);
    return out;
}

void AppendCsvField(std::string& out, const std::string& utf8) {
    bool quote = !utf8.empty() && (utf8.front() == ' ' || utf8.back() == ' ');
    for (size_t i = 0; i < utf8.size() && !quote; ++i) {
        const char c = utf8[i];
        quote = c == ',' || c == '"' || c == '\r' || c == '\n';
    }
    if (!quote) {
        out += utf8;
        return;
    }
    out += '"';
    for (char c : utf8) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

std::string ExcelField(const std::string& utf8) {
    const bool formula = !utf8.empty() && std::string("=+-@\t\r").find(utf8.front()) != std::string::npos;
    return CsvField(formula ? "'" + utf8 : utf8);
}

}  // namespace vestrel::report
