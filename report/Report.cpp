#include "Report.h"

#include <algorithm>
#include <cstdio>

#include "StreamEnumerator.h"

namespace vestrel::report {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendUtf8(std::string& out, uint32_t cp) {
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

void AppendHex4(std::string& out, uint32_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(v & 0xFFFF));
    out += buf;
}

// Terminal columns a code point takes: the East Asian wide and full-width
// blocks take two, everything else one.
unsigned ColumnsOf(uint32_t cp) {
    const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                      (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
    return wide ? 2 : 1;
}

// Text for one table line: control characters would break the line apart.
std::string TableText(const std::u16string& text) {
    std::string out;
    ForEachCodePoint(text, [&](uint32_t cp, bool lone) {
        if (lone) cp = kReplacement;
        else if (cp < 0x20 || cp == 0x7F) cp = '?';
        AppendUtf8(out, cp);
    });
    return out;
}

std::string PadLeft(const std::string& s, size_t width) {
    return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

std::string PadRight(const std::string& s, size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

class CsvWriter : public RowWriter {
public:
    CsvWriter(Columns columns, Sink out) : columns_(columns), out_(std::move(out)) {
        std::string header;
        if (columns_.volume) header += "volume,";
        if (columns_.snapshot) header += "snapshot,";
        header += "path,stream,size,directory";
        if (columns_.deleted) header += ",deleted,record,recovery";
        if (columns_.savedAs) header += ",saved_as";
        out_(header + "\r\n");
    }
    void Row(const StreamRow& row) override {
        std::string line;
        if (columns_.volume) line += CsvField(ToUtf8(row.volume)) + ",";
        if (columns_.snapshot) line += CsvField(ToUtf8(row.snapshot)) + ",";
        line += CsvField(ToUtf8(row.path)) + "," + CsvField(ToUtf8(row.stream)) + "," +
                std::to_string(row.size) + "," + (row.isDirectory ? "true" : "false");
        if (columns_.deleted)
            line += std::string(row.deleted ? ",yes," : ",no,") + std::to_string(row.record) + "," +
                    CsvField(ToUtf8(row.recovery));
        if (columns_.savedAs) line += "," + CsvField(ToUtf8(row.savedAs));
        out_(line + "\r\n");
    }

private:
    Columns columns_;
    Sink out_;
};

class JsonWriter : public RowWriter {
public:
    JsonWriter(Columns columns, Sink out) : columns_(columns), out_(std::move(out)) {}
    void Row(const StreamRow& row) override {
        std::string line = "{";
        if (columns_.volume) line += "\"volume\":" + JsonString(row.volume) + ",";
        if (columns_.snapshot) line += "\"snapshot\":" + JsonString(row.snapshot) + ",";
        line += "\"path\":" + JsonString(row.path) + ",\"stream\":" + JsonString(row.stream) +
                ",\"size\":" + std::to_string(row.size) +
                ",\"directory\":" + (row.isDirectory ? "true" : "false");
        if (columns_.deleted)
            line += std::string(",\"deleted\":") + (row.deleted ? "\"yes\"" : "\"no\"") +
                    ",\"record\":" + std::to_string(row.record) + ",\"recovery\":" + JsonString(row.recovery);
        if (columns_.savedAs) line += ",\"saved_as\":" + JsonString(row.savedAs);
        out_(line + "}\n");
    }

private:
    Columns columns_;
    Sink out_;
};

// Fixed widths, so a row is printed the moment it is found.
class TableWriter : public RowWriter {
public:
    static constexpr size_t kSizeWidth = 15;
    static constexpr size_t kVolumeWidth = 6;
    static constexpr size_t kSnapshotWidth = 26;  // "vss12 2013-12-03T06:37:48Z"
    static constexpr size_t kRecordWidth = 10;

    TableWriter(Columns columns, Sink out) : columns_(columns), out_(std::move(out)) {
        std::string header;
        if (columns_.volume) header += PadRight("VOLUME", kVolumeWidth) + "  ";
        if (columns_.snapshot) header += PadRight("SNAPSHOT", kSnapshotWidth) + "  ";
        header += PadLeft("SIZE", kSizeWidth) + "  KIND  ";
        if (columns_.deleted) header += "DELETED  " + PadLeft("RECORD", kRecordWidth) + "  RECOVERY     ";
        header += "PATH:STREAM";
        if (columns_.savedAs) header += "  ->  SAVED AS";
        out_(header + "\n");
    }
    void Row(const StreamRow& row) override {
        std::string line;
        if (columns_.volume) line += PadRight(TableText(row.volume), kVolumeWidth) + "  ";
        if (columns_.snapshot) line += PadRight(TableText(row.snapshot), kSnapshotWidth) + "  ";
        line += PadLeft(std::to_string(row.size), kSizeWidth) + "  " +
                (row.isDirectory ? "dir " : "file") + "  ";
        if (columns_.deleted)
            line += std::string(row.deleted ? "yes    " : "no     ") + "  " +
                    PadLeft(std::to_string(row.record), kRecordWidth) + "  " + PadRight(TableText(row.recovery), 11) + "  ";
        line += TableText(row.path) + ":" +
                TableText(row.stream);
        if (columns_.savedAs) line += "  ->  " + TableText(row.savedAs);
        out_(line + "\n");
    }

private:
    Columns columns_;
    Sink out_;
};

bool IsReservedDeviceName(const std::u16string& name) {
    // The part before the first dot decides: "con.txt" is the console too.
    std::string stem;
    for (char16_t c : name) {
        if (c == u'.') break;
        // Superscript one to three are digits of a port name too: COM\u00B9 is COM1.
        if (c == u'\u00B9') c = u'1';
        if (c == u'\u00B2' || c == u'\u00B3') c = char16_t(u'2' + (c - u'\u00B2'));
        if (c > 0x7F) return false;
        stem.push_back(char(c >= u'a' && c <= u'z' ? c - 32 : c));
    }
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* n : kNames) {
        if (stem == n) return true;
    }
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '0' && stem[3] <= '9';
}

uint64_t Fnv1a(const std::u16string& text) {
    uint64_t h = 1469598103934665603ull;
    for (char16_t c : text) {
        h = (h ^ (c & 0xFF)) * 1099511628211ull;
        h = (h ^ (c >> 8)) * 1099511628211ull;
    }
    return h;
}

std::u16string Sanitized(const std::u16string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (IsHigh(c) && i + 1 < text.size() && IsLow(text[i + 1])) {
            out.push_back(c);
            out.push_back(text[++i]);
            continue;
        }
        const bool bad = c < 0x20 || c == 0x7F || IsHigh(c) || IsLow(c) ||
                         std::u16string_view(u"<>:\"/\\|?*").find(c) != std::u16string_view::npos;
        out.push_back(bad ? u'_' : c);
    }
    return out;
}

}  // namespace

std::string ToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    ForEachCodePoint(text, [&](uint32_t cp, bool lone) { AppendUtf8(out, lone ? kReplacement : cp); });
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
        else AppendUtf8(out, cp);
    });
    return out + "\"";
}

std::string CsvField(const std::string& utf8) {
    const bool quote = utf8.find_first_of(",\"\r\n") != std::string::npos ||
                       (!utf8.empty() && (utf8.front() == ' ' || utf8.back() == ' '));
    if (!quote) return utf8;
    std::string out = "\"";
    for (char c : utf8) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

bool ParseFormat(const std::string& word, Format* out) {
    if (word == "table") *out = Format::Table;
    else if (word == "csv") *out = Format::Csv;
    else if (word == "json") *out = Format::Json;
    else return false;
    return true;
}

std::unique_ptr<RowWriter> RowWriter::Make(Format format, Columns columns, Sink out) {
    switch (format) {
        case Format::Csv: return std::make_unique<CsvWriter>(columns, std::move(out));
        case Format::Json: return std::make_unique<JsonWriter>(columns, std::move(out));
        case Format::Table: break;
    }
    return std::make_unique<TableWriter>(columns, std::move(out));
}

bool IsExcludedName(const std::u16string& stream) {
    return vestrel::IsExcludedStreamName(WideString(stream.begin(), stream.end()));
}

std::u16string SafeExtractName(const std::u16string& relativePath, const std::u16string& stream) {
    std::u16string rel = relativePath;
    while (!rel.empty() && (rel.back() == u'\\' || rel.back() == u'/')) rel.pop_back();
    while (!rel.empty() && (rel.front() == u'\\' || rel.front() == u'/')) rel.erase(0, 1);
    if (rel.empty() || rel == u".") rel = u"_root";
    std::u16string name = Sanitized(rel) + u"~" + Sanitized(stream);

    // Windows drops trailing dots and spaces, which would merge two names.
    for (size_t i = name.size(); i > 0 && (name[i - 1] == u'.' || name[i - 1] == u' '); --i) name[i - 1] = u'_';
    if (IsReservedDeviceName(name)) name.insert(0, 1, u'_');

    constexpr size_t kMax = 200, kHash = 17;  // "-" and 16 hex digits
    if (name.size() > kMax) {
        size_t head = kMax - kHash;
        if (IsLow(name[head]) && IsHigh(name[head - 1])) --head;  // keep pairs whole
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx",
                      static_cast<unsigned long long>(Fnv1a(relativePath + u'\0' + stream)));
        name = name.substr(0, head) + u"-" + std::u16string(hex, hex + 16);
    }
    return name;
}

std::u16string NumberedName(const std::u16string& name, unsigned n) {
    const size_t dot = name.find_last_of(u'.');
    const size_t at = (dot == std::u16string::npos || dot == 0) ? name.size() : dot;
    const std::string number = " (" + std::to_string(n) + ")";
    return name.substr(0, at) + std::u16string(number.begin(), number.end()) + name.substr(at);
}

int FinalStatus(bool usageError, bool anyFound, bool failIfFound, bool anyUnreadable) {
    if (usageError) return kExitUsage;
    if (failIfFound && anyFound) return kExitFound;
    return anyUnreadable ? kExitPartial : kExitOk;
}

std::string ParsedArgs::Value(const std::string& name, const std::string& fallback) const {
    const auto it = options.find(name);
    return it == options.end() ? fallback : it->second;
}

ParsedArgs ParseArgs(const std::vector<std::string>& args, const AcceptedOptions& accepted) {
    ParsedArgs parsed;
    auto listed = [](const std::vector<std::string>& names, const std::string& n) {
        return std::find(names.begin(), names.end(), n) != names.end();
    };
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg, value;
        bool hasValue = false;
        const size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }
        const auto alias = accepted.aliases.find(name);
        if (alias != accepted.aliases.end()) name = alias->second;
        if (listed(accepted.flags, name)) {
            if (hasValue) {
                parsed.error = "option " + name + " takes no value";
                return parsed;
            }
            parsed.options[name] = "";
        } else if (listed(accepted.valued, name)) {
            if (!hasValue) {
                if (i + 1 >= args.size()) {
                    parsed.error = "option " + name + " needs a value";
                    return parsed;
                }
                value = args[++i];
            }
            parsed.options[name] = value;
        } else {
            parsed.error = "unknown option: " + arg;
            return parsed;
        }
    }
    return parsed;
}

std::string Progress::Tick(uint64_t nowMs, const std::u16string& folder) {
    ++entries_;
    if (!started_) {
        started_ = true;
        startMs_ = lastMs_ = nowMs;
        return {};
    }
    if (nowMs < lastMs_ + 100) return {};
    lastMs_ = nowMs;
    const uint64_t elapsed = nowMs - startMs_;
    const uint64_t rate = elapsed == 0 ? 0 : entries_ * 1000 / elapsed;
    std::string text = std::to_string(entries_) + " entries, " + std::to_string(rate) + "/s  ";

    // The folder's tail says more than its head: cut from the left.
    const unsigned room = width_ > text.size() ? unsigned(width_ - text.size()) : 0;
    std::vector<std::pair<uint32_t, unsigned>> points;
    unsigned columns = 0;
    ForEachCodePoint(folder, [&](uint32_t cp, bool lone) {
        if (lone || cp < 0x20 || cp == 0x7F) cp = '?';
        points.emplace_back(cp, ColumnsOf(cp));
        columns += ColumnsOf(cp);
    });
    size_t first = 0;
    if (columns > room) {
        const unsigned keep = room > 3 ? room - 3 : 0;
        while (first < points.size() && columns > keep) columns -= points[first++].second;
        if (room >= 3) text += "...";
    }
    // Padding is counted in columns, not bytes: a wide character is three
    // bytes of UTF-8 but two columns on the terminal.
    const size_t length = text.size() + columns;
    for (size_t i = first; i < points.size(); ++i) AppendUtf8(text, points[i].first);
    if (length < lastLength_) text += std::string(lastLength_ - length, ' ');
    lastLength_ = length;
    shown_ = true;
    return "\r" + text;
}

std::string Progress::Clear() {
    if (!shown_) return {};
    shown_ = false;
    const std::string blank = "\r" + std::string(lastLength_, ' ') + "\r";
    lastLength_ = 0;
    return blank;
}

}  // namespace vestrel::report
