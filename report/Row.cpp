#include "Row.h"

#include <utility>

#include "Text.h"

namespace vestrel::report {
namespace {

Value Text(const std::u16string& s) {
    Value v;
    v.wide = &s;
    return v;
}
Value Text(const std::u16string&&) = delete;  // the cell would outlive it
Value Text(std::string utf8) {
    Value v;
    v.narrow = std::move(utf8);
    return v;
}
Value Number(uint64_t n) {
    Value v;
    v.type = Value::Type::Number;
    v.number = n;
    return v;
}
Value Time(uint64_t ntfsTime) {
    Value v;
    v.type = Value::Type::Time;
    v.number = ntfsTime;
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
    {"created", [](const Columns& c) { return c.times; }, [](const StreamRow& r) { return Time(r.times.created); }},
    {"modified", [](const Columns& c) { return c.times; },
     [](const StreamRow& r) { return Time(r.times.modified); }},
    {"accessed", [](const Columns& c) { return c.times; },
     [](const StreamRow& r) { return Time(r.times.accessed); }},
    {"changed", [](const Columns& c) { return c.times; }, [](const StreamRow& r) { return Time(r.times.changed); }},
    {"fn_created", [](const Columns& c) { return c.nameTimes; },
     [](const StreamRow& r) { return Time(r.nameTimes.created); }},
    {"fn_modified", [](const Columns& c) { return c.nameTimes; },
     [](const StreamRow& r) { return Time(r.nameTimes.modified); }},
    {"fn_accessed", [](const Columns& c) { return c.nameTimes; },
     [](const StreamRow& r) { return Time(r.nameTimes.accessed); }},
    {"fn_changed", [](const Columns& c) { return c.nameTimes; },
     [](const StreamRow& r) { return Time(r.nameTimes.changed); }},
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
    cells.reserve(sizeof kColumns / sizeof kColumns[0]);
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
    std::string out;
    AppendIsoTime(out, ntfsTime);
    return out;
}

void AppendIsoTime(std::string& out, uint64_t ntfsTime) {
    if (ntfsTime == 0) return;
    const uint64_t fraction = ntfsTime % 10000000ull;
    const uint64_t days = ntfsTime / 10000000ull / 86400;
    const uint64_t secondsOfDay = ntfsTime / 10000000ull % 86400;
    // Civil date in closed form (days from 0000-03-01, 400-year eras), not
    // a year-by-year count: a listing formats eight of these per row.
    const uint64_t z = days + 584694;  // 1601-01-01 is day 584694 from 0000-03-01
    const uint64_t era = z / 146097, dayOfEra = z % 146097;
    const uint64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const uint64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    const uint64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
    const uint64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    const uint64_t year = era * 400 + yearOfEra + (month <= 2 ? 1 : 0);
    const auto put = [&out](uint64_t value, int width) {
        char reversed[24];
        int n = 0;
        do {
            reversed[n++] = char('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (n < width) reversed[n++] = '0';
        while (n > 0) out += reversed[--n];
    };
    put(year, 4), out += '-', put(month, 2), out += '-', put(day, 2), out += 'T';
    put(secondsOfDay / 3600, 2), out += ':', put(secondsOfDay / 60 % 60, 2), out += ':', put(secondsOfDay % 60, 2);
    out += '.', put(fraction, 7), out += 'Z';
}

}  // namespace vestrel::report
