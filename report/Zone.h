// The Zone.Identifier stream Windows writes beside a downloaded file: an INI
// text with a [ZoneTransfer] section saying where the file came from. Parsed
// from at most kMaxZoneFileSize bytes; anything else is reported, not trusted.
#pragma once
#include <cstdint>
#include <string>

namespace vestrel::report {

// Fields as UTF-8 text, "" when absent.
struct ZoneInfo {
    std::string zoneId, hostUrl, referrerUrl, appZoneId, lastWriterPackageFamilyName;
};

// A real zone file is a few hundred bytes; long URLs stay well under this.
constexpr uint64_t kMaxZoneFileSize = 16384;

struct ZoneParse {
    ZoneInfo info;        // what could be read, even from a malformed file
    bool wellFormed = false;
    std::string problem;  // why not well-formed, "" when it is
};

// `bytes` is the start of the stream (all of it when `fullSize` fits the
// bound); UTF-8 (with or without BOM), ANSI (Windows-1252) or UTF-16 with a
// byte order mark. Keys are case-insensitive, the first of a repeated key is
// kept and the file is then not well-formed, as are: no [ZoneTransfer]
// section, no ZoneId or one outside 0..4, control characters, and a size
// over kMaxZoneFileSize.
ZoneParse ParseZoneIdentifier(const std::string& bytes, uint64_t fullSize);

}  // namespace vestrel::report
