#include "SourceKind.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vestrel::ntfs {

const char* KindName(SourceKind kind) {
    switch (kind) {
        case SourceKind::Raw: return "raw";
        case SourceKind::SplitRaw: return "split raw";
        case SourceKind::Ewf: return "E01";
        case SourceKind::Ewf2: return "Ex01";
        case SourceKind::EwfLogical: return "L01";
        case SourceKind::Vhd: return "VHD";
        case SourceKind::Vhdx: return "VHDX";
        case SourceKind::VmdkSparse:
        case SourceKind::VmdkCowd:
        case SourceKind::VmdkText: return "VMDK";
        case SourceKind::Qcow: return "QCOW2";
        case SourceKind::Shadow: return "shadow copy";
        case SourceKind::BitLocker: return "BitLocker";
        case SourceKind::Window: return "window";
    }
    return "unknown";
}

namespace {

bool Starts(const uint8_t* data, size_t size, const char* mark, size_t length) {
    return size >= length && std::memcmp(data, mark, length) == 0;
}

// A descriptor is text: its first line is the descriptor's comment, or it
// opens with the keys a descriptor begins with.
bool LooksLikeDescriptor(const uint8_t* head, size_t size) {
    size_t i = 0;
    while (i < size && (head[i] == ' ' || head[i] == '\t' || head[i] == '\r' || head[i] == '\n')) ++i;
    const uint8_t* p = head + i;
    const size_t n = size - i;
    static const char kComment[] = "# Disk DescriptorFile";
    static const char kVersion[] = "version=";
    return Starts(p, n, kComment, sizeof kComment - 1) || Starts(p, n, kVersion, sizeof kVersion - 1);
}

}  // namespace

SourceKind RecognizeContent(const uint8_t* head, size_t headSize, const uint8_t* tail, size_t tailSize) {
    if (head == nullptr) headSize = 0;
    if (tail == nullptr) tailSize = 0;
    if (Starts(head, headSize, "EVF\x09\x0d\x0a\xff\x00", 8)) return SourceKind::Ewf;
    if (Starts(head, headSize, "EVF2\x0d\x0a\x81\x00", 8)) return SourceKind::Ewf2;
    if (Starts(head, headSize, "LVF\x09\x0d\x0a\xff\x00", 8) || Starts(head, headSize, "LEF2\x0d\x0a\x81\x00", 8))
        return SourceKind::EwfLogical;
    if (Starts(head, headSize, "vhdxfile", 8)) return SourceKind::Vhdx;
    if (Starts(head, headSize, "QFI\xfb", 4)) return SourceKind::Qcow;
    if (Starts(head, headSize, "KDMV", 4)) return SourceKind::VmdkSparse;
    if (Starts(head, headSize, "COWD", 4)) return SourceKind::VmdkCowd;
    // A dynamic VHD starts with a copy of its footer; a fixed one has only
    // the footer, in its last sector.
    if (Starts(head, headSize, "conectix", 8)) return SourceKind::Vhd;
    if (tailSize >= 512 && Starts(tail + tailSize - 512, 512, "conectix", 8)) return SourceKind::Vhd;
    if (LooksLikeDescriptor(head, headSize)) return SourceKind::VmdkText;
    return SourceKind::Raw;
}

bool IsBitLockerBootSector(const uint8_t* sector, size_t size) {
    return size >= 512 && std::memcmp(sector + 3, "-FVE-FS-", 8) == 0 && sector[510] == 0x55 && sector[511] == 0xAA;
}

bool ParseSegmentName(const std::string& name, SegmentName* out) {
    const size_t slash = name.rfind('/');
    const size_t base = slash == std::string::npos ? 0 : slash + 1;
    size_t end = name.size(), start = end;
    while (start > base && name[start - 1] >= '0' && name[start - 1] <= '9') --start;
    SegmentName result;
    if (end - start >= 2 && start > base && name[start - 1] == '.') {
        if (end - start > 19) return false;  // no counter that wide fits a number
        for (size_t i = start; i < end; ++i) result.number = result.number * 10 + uint64_t(name[i] - '0');
        result.width = end - start;
    } else {
        start = end;
        while (start > base && name[start - 1] >= 'a' && name[start - 1] <= 'z') --start;
        // Only the tail "a...a" counts as a scheme's first name; any letters
        // before a run of a's belong to the stem ("xaa": stem "x").
        size_t as = end;
        while (as > start && name[as - 1] == 'a') --as;
        if (end - as < 2 || end - as > 12 || as == base) return false;
        start = as;
        result.letters = true;
        result.width = end - start;
        result.number = 0;
    }
    result.stem = name.substr(0, start);
    *out = result;
    return true;
}

std::string SegmentFileName(const SegmentName& scheme, uint64_t number) {
    std::string counter(scheme.width, scheme.letters ? 'a' : '0');
    const uint64_t radix = scheme.letters ? 26 : 10;
    for (size_t i = scheme.width; i-- > 0;) {
        counter[i] = char((scheme.letters ? 'a' : '0') + number % radix);
        number /= radix;
    }
    if (number != 0) return "";
    return scheme.stem + counter;
}

namespace {

std::string Trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\r')) ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r')) --b;
    return s.substr(a, b - a);
}

}  // namespace

bool ParseVmdkDescriptor(const std::string& text, std::vector<VmdkExtent>* extents, std::string* error) {
    extents->clear();
    if (!LooksLikeDescriptor(reinterpret_cast<const uint8_t*>(text.data()), text.size())) {
        *error = "not a VMDK descriptor";
        return false;
    }
    size_t lineNo = 0;
    for (size_t pos = 0; pos <= text.size();) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        const std::string line = Trim(text.substr(pos, eol - pos));
        pos = eol + 1;
        ++lineNo;
        if (line.empty() || line[0] == '#') continue;
        const size_t space = line.find_first_of(" \t");
        const std::string access = line.substr(0, space);
        if (access != "RW" && access != "RDONLY" && access != "NOACCESS") continue;
        const std::string where = "descriptor line " + std::to_string(lineNo);
        VmdkExtent extent;
        extent.access = access;
        size_t i = line.find_first_not_of(" \t", space);
        size_t digits = i;
        while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') ++digits;
        if (i == std::string::npos || digits == i || digits - i > 19) {
            *error = where + ": no sector count";
            return false;
        }
        for (size_t k = i; k < digits; ++k) extent.sectors = extent.sectors * 10 + uint64_t(line[k] - '0');
        i = line.find_first_not_of(" \t", digits);
        if (i == std::string::npos || i == digits) {
            *error = where + ": no extent type";
            return false;
        }
        const size_t typeEnd = std::min(line.find_first_of(" \t", i), line.size());
        extent.type = line.substr(i, typeEnd - i);
        if (extent.type != "ZERO") {
            const size_t open = line.find('"', typeEnd);
            const size_t close = open == std::string::npos ? open : line.find('"', open + 1);
            if (close == std::string::npos || close == open + 1) {
                *error = where + ": no quoted extent file name";
                return false;
            }
            extent.file = line.substr(open + 1, close - open - 1);
        }
        if (extents->size() == kMaxVmdkExtents) {
            *error = "more than " + std::to_string(kMaxVmdkExtents) + " extents";
            return false;
        }
        extents->push_back(extent);
    }
    if (extents->empty()) {
        *error = "the descriptor names no extent";
        return false;
    }
    return true;
}

std::string FiletimeIso(uint64_t filetime) {
    // Days since 1601-01-01 to a civil date (proleptic Gregorian), through
    // the 400-year cycle that 1601 begins.
    uint64_t seconds = filetime / 10000000;
    const uint64_t days = seconds / 86400;
    seconds %= 86400;
    uint64_t cycle = days / 146097, d = days % 146097;
    uint64_t centuries = d / 36524;
    if (centuries == 4) centuries = 3;
    d -= centuries * 36524;
    const uint64_t quads = d / 1461;
    d %= 1461;
    uint64_t years = d / 365;
    if (years == 4) years = 3;
    d -= years * 365;
    const uint64_t year = 1601 + cycle * 400 + centuries * 100 + quads * 4 + years;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    static const unsigned kMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    unsigned month = 0;
    for (; month < 12; ++month) {
        const unsigned length = kMonth[month] + (month == 1 && leap ? 1 : 0);
        if (d < length) break;
        d -= length;
    }
    char text[128];  // room for every width the format allows
    std::snprintf(text, sizeof text, "%04llu-%02u-%02lluT%02llu:%02llu:%02lluZ", (unsigned long long)year, month + 1,
                  (unsigned long long)(d + 1), (unsigned long long)(seconds / 3600),
                  (unsigned long long)(seconds / 60 % 60), (unsigned long long)(seconds % 60));
    return text;
}

}  // namespace vestrel::ntfs
