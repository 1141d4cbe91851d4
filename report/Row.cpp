#include "Row.h"

#include <cstdio>

#include "Text.h"

namespace vestrel::report {
namespace {

Value Text(const std::u16string& s) {
    Value v;
    v.text = s;
    return v;
}
Value Text(const std::string& ascii) { return Text(FromUtf8(ascii)); }
Value Number(uint64_t n) {
    Value v;
    v.type = Value::Type::Number;
    v.number = n;
    return v;
}
Value Boolean(bool b) {
    Value v;
    v.type = Value::Type::Boolean;
    v.boolean = b;
    return v;
}
// A flag only the source knows: empty when it did not say.
Value Flag(const StreamRow& r, bool StreamFlags::*which) {
    return r.flags.known ? Boolean(r.flags.*which) : Text(std::string());
}

using Chosen = bool (*)(const Columns&);
using Get = Value (*)(const StreamRow&);
struct ColumnDef {
    const char* name;
    Chosen chosen;
    Get get;
};

bool Always(const Columns&) { return true; }

// One entry per column, in output order.
const ColumnDef kColumns[] = {
    {"volume", [](const Columns& c) { return c.volume; }, [](const StreamRow& r) { return Text(r.volume); }},
    {"snapshot", [](const Columns& c) { return c.snapshot; }, [](const StreamRow& r) { return Text(r.snapshot); }},
    {"path", Always, [](const StreamRow& r) { return Text(r.path); }},
    {"stream", Always, [](const StreamRow& r) { return Text(r.stream); }},
    {"size", Always, [](const StreamRow& r) { return Number(r.size); }},
    {"directory", Always, [](const StreamRow& r) { return Boolean(r.isDirectory); }},
    {"deleted", [](const Columns& c) { return c.deleted; },
     [](const StreamRow& r) { return Text(std::string(r.deleted ? "yes" : "no")); }},
    {"record", [](const Columns& c) { return c.deleted; }, [](const StreamRow& r) { return Number(r.record); }},
    {"recovery", [](const Columns& c) { return c.deleted; }, [](const StreamRow& r) { return Text(r.recovery); }},
    {"kind", [](const Columns& c) { return c.kind; }, [](const StreamRow& r) { return Text(r.kind); }},
    {"md5", [](const Columns& c) { return c.md5; }, [](const StreamRow& r) { return Text(r.md5); }},
    {"sha1", [](const Columns& c) { return c.sha1; }, [](const StreamRow& r) { return Text(r.sha1); }},
    {"sha256", [](const Columns& c) { return c.sha256; }, [](const StreamRow& r) { return Text(r.sha256); }},
    {"zone_id", [](const Columns& c) { return c.zone; }, [](const StreamRow& r) { return Text(r.zone.zoneId); }},
    {"host_url", [](const Columns& c) { return c.zone; }, [](const StreamRow& r) { return Text(r.zone.hostUrl); }},
    {"referrer_url", [](const Columns& c) { return c.zone; },
     [](const StreamRow& r) { return Text(r.zone.referrerUrl); }},
    {"app_zone_id", [](const Columns& c) { return c.zone; }, [](const StreamRow& r) { return Text(r.zone.appZoneId); }},
    {"last_writer_package", [](const Columns& c) { return c.zone; },
     [](const StreamRow& r) { return Text(r.zone.lastWriterPackageFamilyName); }},
    {"created", [](const Columns& c) { return c.times; }, [](const StreamRow& r) { return Text(IsoTime(r.times.created)); }},
    {"modified", [](const Columns& c) { return c.times; },
     [](const StreamRow& r) { return Text(IsoTime(r.times.modified)); }},
    {"accessed", [](const Columns& c) { return c.times; },
     [](const StreamRow& r) { return Text(IsoTime(r.times.accessed)); }},
    {"changed", [](const Columns& c) { return c.times; }, [](const StreamRow& r) { return Text(IsoTime(r.times.changed)); }},
    {"fn_created", [](const Columns& c) { return c.nameTimes; },
     [](const StreamRow& r) { return Text(IsoTime(r.nameTimes.created)); }},
    {"fn_modified", [](const Columns& c) { return c.nameTimes; },
     [](const StreamRow& r) { return Text(IsoTime(r.nameTimes.modified)); }},
    {"fn_accessed", [](const Columns& c) { return c.nameTimes; },
     [](const StreamRow& r) { return Text(IsoTime(r.nameTimes.accessed)); }},
    {"fn_changed", [](const Columns& c) { return c.nameTimes; },
     [](const StreamRow& r) { return Text(IsoTime(r.nameTimes.changed)); }},
    {"mft_record", [](const Columns& c) { return c.reference; },
     [](const StreamRow& r) { return r.hasReference ? Number(r.mftRecord) : Text(std::string()); }},
    {"mft_sequence", [](const Columns& c) { return c.reference; },
     [](const StreamRow& r) { return r.hasReference ? Number(r.mftSequence) : Text(std::string()); }},
    {"file_id", [](const Columns& c) { return c.fileId; }, [](const StreamRow& r) { return Text(r.fileId); }},
    {"resident", [](const Columns& c) { return c.flags; }, [](const StreamRow& r) { return Flag(r, &StreamFlags::resident); }},
    {"sparse", [](const Columns& c) { return c.flags; }, [](const StreamRow& r) { return Flag(r, &StreamFlags::sparse); }},
    {"compressed", [](const Columns& c) { return c.flags; },
     [](const StreamRow& r) { return Flag(r, &StreamFlags::compressed); }},
    {"encrypted", [](const Columns& c) { return c.flags; },
     [](const StreamRow& r) { return Flag(r, &StreamFlags::encrypted); }},
    {"note", [](const Columns& c) { return c.note; }, [](const StreamRow& r) { return Text(r.note); }},
    {"saved_as", [](const Columns& c) { return c.savedAs; }, [](const StreamRow& r) { return Text(r.savedAs); }},
};

}  // namespace

std::vector<Cell> CellsOf(const StreamRow& row, const Columns& columns) {
    std::vector<Cell> cells;
    for (const ColumnDef& c : kColumns)
        if (c.chosen(columns)) cells.push_back({c.name, c.get(row)});
    return cells;
}

std::vector<std::string> ColumnNames(const Columns& columns) {
    std::vector<std::string> names;
    for (const ColumnDef& c : kColumns)
        if (c.chosen(columns)) names.emplace_back(c.name);
    return names;
}

// 1601-01-01 to 1970-01-01 in 100 ns units.
constexpr uint64_t kUnixEpoch = 116444736000000000ull;

int64_t UnixTime(uint64_t ntfsTime) {
    return ntfsTime <= kUnixEpoch ? 0 : int64_t((ntfsTime - kUnixEpoch) / 10000000ull);
}

std::string IsoTime(uint64_t ntfsTime) {
    if (ntfsTime == 0) return {};
    const uint64_t fraction = ntfsTime % 10000000ull;
    uint64_t days = ntfsTime / 10000000ull / 86400;
    const uint64_t secondsOfDay = ntfsTime / 10000000ull % 86400;
    // Civil date from days since 1601-01-01 (a 400-year cycle start).
    uint64_t year = 1601 + 400 * (days / 146097);
    days %= 146097;
    auto leap = [](uint64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
    while (days >= (leap(year) ? 366u : 365u)) days -= leap(year) ? 366 : 365, ++year;
    static const unsigned kMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    unsigned month = 0;
    for (; month < 12; ++month) {
        const unsigned length = kMonth[month] + (month == 1 && leap(year) ? 1 : 0);
        if (days < length) break;
        days -= length;
    }
    char buf[96];  // room for any 64-bit year as the compiler counts it
    std::snprintf(buf, sizeof buf, "%04llu-%02u-%02lluT%02llu:%02llu:%02llu.%07lluZ", (unsigned long long)year,
                  month + 1, (unsigned long long)days + 1, (unsigned long long)secondsOfDay / 3600,
                  (unsigned long long)secondsOfDay / 60 % 60, (unsigned long long)secondsOfDay % 60,
                  (unsigned long long)fraction);
    return buf;
}

}  // namespace vestrel::report
