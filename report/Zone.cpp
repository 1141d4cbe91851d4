#include "Zone.h"

#include <vector>

#include "Text.h"

namespace vestrel::report {
namespace {

// Windows-1252 for 0x80..0x9F (the rest of the high half is Latin-1).
const char16_t kCp1252[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                              0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                              0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                              0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

bool ValidUtf8(const std::string& s) {
    return ToUtf8(FromUtf8(s)) == s;
}

// The file's text as UTF-16, by byte order mark, then UTF-8, then ANSI.
bool Decode(const std::string& bytes, std::u16string* out, std::string* problem) {
    const auto b = [&](size_t i) { return uint8_t(bytes[i]); };
    if (bytes.size() >= 2 && ((b(0) == 0xFF && b(1) == 0xFE) || (b(0) == 0xFE && b(1) == 0xFF))) {
        const bool little = b(0) == 0xFF;
        if (bytes.size() % 2 != 0) {
            *problem = "UTF-16 text of an odd length";
            return false;
        }
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            out->push_back(char16_t(little ? b(i) | b(i + 1) << 8 : b(i) << 8 | b(i + 1)));
        return true;
    }
    std::string body = bytes;
    if (body.size() >= 3 && b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) body.erase(0, 3);
    if (ValidUtf8(body)) {
        *out = FromUtf8(body);
        return true;
    }
    for (char c : body) {
        const uint8_t u = uint8_t(c);
        out->push_back(u >= 0x80 && u < 0xA0 ? kCp1252[u - 0x80] : char16_t(u));
    }
    return true;
}

std::u16string Trim(const std::u16string& s) {
    size_t a = 0, e = s.size();
    while (a < e && (s[a] == u' ' || s[a] == u'\t')) ++a;
    while (e > a && (s[e - 1] == u' ' || s[e - 1] == u'\t')) --e;
    return s.substr(a, e - a);
}

std::u16string Lower(std::u16string s) {
    for (char16_t& c : s)
        if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
    return s;
}

}  // namespace

ZoneParse ParseZoneIdentifier(const std::string& bytes, uint64_t fullSize) {
    ZoneParse parse;
    auto fail = [&](const std::string& why) {
        if (parse.problem.empty()) parse.problem = why;
    };
    if (fullSize > kMaxZoneFileSize) fail("larger than a zone file (" + std::to_string(fullSize) + " bytes)");
    const std::string usable = bytes.substr(0, size_t(kMaxZoneFileSize));
    std::u16string text;
    std::string problem;
    if (!Decode(usable, &text, &problem)) {
        fail(problem);
        return parse;
    }
    for (char16_t c : text) {
        if ((c < 0x20 && c != u'\t' && c != u'\r' && c != u'\n') || c == 0x7F) {
            fail("binary content, not zone text");
            return parse;
        }
    }
    struct Key {
        const char16_t* name;
        std::string ZoneInfo::*field;
        bool seen;
    };
    Key keys[] = {{u"zoneid", &ZoneInfo::zoneId, false},
                  {u"hosturl", &ZoneInfo::hostUrl, false},
                  {u"referrerurl", &ZoneInfo::referrerUrl, false},
                  {u"appzoneid", &ZoneInfo::appZoneId, false},
                  {u"lastwriterpackagefamilyname", &ZoneInfo::lastWriterPackageFamilyName, false}};
    bool inSection = false, sawSection = false;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string::npos) end = text.size();
        std::u16string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == u'\r') line.pop_back();
        line = Trim(line);
        if (line.empty() || line[0] == u';') continue;
        if (line[0] == u'[') {
            const bool zone = Lower(line) == u"[zonetransfer]";
            if (zone && sawSection) fail("repeated [ZoneTransfer] section");
            inSection = zone;
            sawSection = sawSection || zone;
            continue;
        }
        if (!inSection) continue;
        const size_t eq = line.find(u'=');
        if (eq == std::u16string::npos) {
            fail("a line that is not key=value");
            continue;
        }
        const std::u16string key = Lower(Trim(line.substr(0, eq)));
        const std::u16string value = Trim(line.substr(eq + 1));
        for (Key& k : keys) {
            if (key != k.name) continue;
            if (k.seen) {
                fail("repeated key " + ToUtf8(Trim(line.substr(0, eq))));
            } else {
                k.seen = true;
                parse.info.*k.field = ToUtf8(value);
            }
        }
    }
    if (!sawSection) fail("no [ZoneTransfer] section");
    else if (!keys[0].seen) fail("no ZoneId");
    else if (parse.info.zoneId.size() != 1 || parse.info.zoneId[0] < '0' || parse.info.zoneId[0] > '4')
        fail("ZoneId not one of 0 to 4");
    parse.wellFormed = parse.problem.empty();
    return parse;
}

}  // namespace vestrel::report
