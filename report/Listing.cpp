#include "Listing.h"

#include "Names.h"
#include "Text.h"

namespace vestrel::report {

bool Listing::Parse(const ParsedArgs& args, std::string* error) {
    if (args.Has("--format")) {
        formatGiven = true;
        if (!ParseFormat(args.Value("--format"), &format)) {
            *error = "--format takes table, csv, jsonl (or json) or body";
            return false;
        }
    }
    excel = args.Has("--excel");
    if (excel && format != Format::Csv) {
        *error = "--excel goes with --format csv";
        return false;
    }
    zones = args.Has("--zones");
    all = args.Has("--all");
    facts.kind = true;
    for (const std::string& list : args.Values("--hash")) {
        std::string bad;
        if (!ParseHashList(list, &facts.hashes, &bad)) {
            *error = "--hash takes md5, sha1 or sha256 (not '" + bad + "')";
            return false;
        }
    }
    for (const std::string& g : args.Values("--name")) filters.names.push_back(FromUtf8(g));
    for (const std::string& g : args.Values("--exclude")) filters.excludes.push_back(FromUtf8(g));
    if (args.Has("--min-size") && !ParseByteCount(args.Value("--min-size"), &filters.minSize)) {
        *error = "--min-size needs a byte count";
        return false;
    }
    if (args.Has("--max-size") && !ParseByteCount(args.Value("--max-size"), &filters.maxSize)) {
        *error = "--max-size needs a byte count";
        return false;
    }
    for (const std::string& list : args.Values("--kind")) {
        std::string bad;
        if (!ParseKindList(list, &filters.kinds, &bad)) {
            *error = "--kind takes pe, elf, script, archive, office, pdf, image, text, binary or empty (not '" + bad + "')";
            return false;
        }
    }
    return true;
}

Columns Listing::ColumnsFor(const SourceTraits& traits) const {
    Columns c;
    c.kind = true;
    c.note = true;
    for (HashAlgorithm a : facts.hashes) {
        if (a == HashAlgorithm::Md5) c.md5 = true;
        if (a == HashAlgorithm::Sha1) c.sha1 = true;
        if (a == HashAlgorithm::Sha256) c.sha256 = true;
    }
    if (format == Format::Table) {
        c.zone = zones;
        return c;
    }
    c.zone = true;
    c.times = true;
    c.nameTimes = traits.nameTimes;
    c.reference = traits.reference;
    c.fileId = traits.fileId;
    c.flags = traits.flags;
    return c;
}

bool Listing::Wants(const StreamRow& row) const {
    if (zones && !IsZoneIdentifierName(row.stream)) return false;
    return filters.KeepsByName(row);
}

bool Listing::Examine(StreamRow* row, const ReadAt& read, std::string* readError) const {
    readError->clear();
    const bool usual = IsExcludedName(row->stream);
    if (!ReadFacts(facts, read, row, readError)) {
        // An unread stream behind a usual name is shown: nothing says it
        // holds what the name says.
        if (usual && row->note.empty()) row->note = "content could not be read";
    }
    if (usual && !all && !zones && row->note.empty()) return false;
    return filters.KeepsKind(row->kind);
}

bool Listing::LeaveUnread(StreamRow* row) const {
    if (IsExcludedName(row->stream) && !all && !zones) return false;
    row->note = "content not read: the file's data is not on this disk (cloud or offline file)";
    return filters.KeepsKind(row->kind);
}

}  // namespace vestrel::report
