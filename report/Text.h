// Text conversions every output shares: UTF-16 names to UTF-8, JSON string
// literals, RFC 4180 csv fields and the terminal-safe form of a name.
#pragma once
#include <cstdint>
#include <string>

namespace vestrel::report {

// UTF-16 to UTF-8. A lone surrogate cannot be said in UTF-8; it becomes
// U+FFFD here (JSON output escapes it instead, see JsonString).
std::string ToUtf8(const std::u16string& text);
// UTF-8 to UTF-16; an invalid byte becomes U+FFFD.
std::u16string FromUtf8(const std::string& text);
// A JSON string literal, quotes included: control characters, quote and
// backslash escaped; a lone surrogate as \uDXXX, so the exact name survives.
std::string JsonString(const std::u16string& text);
// UTF-8 text as every output writes it: as it stands when valid, with each
// invalid byte as U+FFFD otherwise (the same as ToUtf8(FromUtf8(text))).
std::string CleanUtf8(const std::string& text);
// JsonString for UTF-8 text, invalid bytes as U+FFFD.
std::string JsonStringUtf8(const std::string& text);
// One RFC 4180 field: quoted when it holds a comma, quote, CR or LF (or
// begins or ends with a space), with inner quotes doubled.
std::string CsvField(const std::string& utf8);
void AppendCsvField(std::string& out, const std::string& utf8);
// The same field for a spreadsheet: a cell a spreadsheet would run as a
// formula (first character '=', '+', '-', '@', tab or CR) gets a leading
// apostrophe, so it is shown as text. This alters the cell's content.
std::string ExcelField(const std::string& utf8);
// A name for one terminal line: controls become '?', lone surrogates U+FFFD.
std::string TableText(const std::u16string& text);

namespace text {

constexpr char16_t kReplacement = 0xFFFD;
inline bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
void AppendUtf8(std::string& out, uint32_t cp);

// Walks UTF-16 text code point by code point; a lone surrogate comes out as
// itself with `lone` set, so each caller decides how to say it.
template <typename Visit>
void ForEachCodePoint(const std::u16string& text, Visit visit) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (IsHigh(c) && i + 1 < text.size() && IsLow(text[i + 1])) {
            visit(0x10000 + ((uint32_t(c) - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00), false);
            ++i;
        } else {
            visit(uint32_t(c), IsHigh(c) || IsLow(c));
        }
    }
}

}  // namespace text
}  // namespace vestrel::report
