#include "Names.h"

#include <cstdio>
#include <string_view>

#include "StreamEnumerator.h"
#include "Text.h"

namespace vestrel::report {
namespace {

using text::IsHigh;
using text::IsLow;

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

bool ParseStreamSpec(const std::u16string& given, std::u16string* name, std::string* error) {
    const size_t colon = given.find(u':');
    std::u16string bare = given.substr(0, colon);
    if (colon != std::u16string::npos) {
        std::u16string type = given.substr(colon + 1);
        for (char16_t& c : type)
            if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
        if (type != u"$DATA") {
            *error = "names no data stream (the type after the second colon must be $DATA)";
            return false;
        }
    }
    // "FILE:$DATA" reads as the file's own data: a stream of that name is
    // named with its type, "FILE:$DATA:$DATA".
    std::u16string upper = bare;
    for (char16_t& c : upper)
        if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
    if (bare.empty() || (colon == std::u16string::npos && upper == u"$DATA")) {
        *error = "names the file's unnamed stream, not a named one";
        return false;
    }
    *name = bare;
    return true;
}

std::u16string NumberedName(const std::u16string& name, unsigned n) {
    const size_t dot = name.find_last_of(u'.');
    const size_t at = (dot == std::u16string::npos || dot == 0) ? name.size() : dot;
    const std::string number = " (" + std::to_string(n) + ")";
    return name.substr(0, at) + std::u16string(number.begin(), number.end()) + name.substr(at);
}

}  // namespace vestrel::report
