// The choices of one listing that both console programs share: format,
// digests, filters, --zones, --all, --excel (their table entries are in
// ListingOptions.h); and what happens to each stream found (filtered by name
// first, then read for its facts, then filtered by what it holds).
#pragma once
#include <string>

#include "Facts.h"
#include "Filter.h"
#include "ListingOptions.h"
#include "Options.h"
#include "Row.h"
#include "Writers.h"

namespace vestrel::report {

// Which host-file facts a program can give.
struct SourceTraits {
    bool nameTimes = false;  // $FILE_NAME times (vestrel-ntfs)
    bool reference = false;  // MFT record and sequence (vestrel-ntfs)
    bool fileId = false;     // the file id (vestrel-cli)
    bool flags = false;      // resident, sparse, compressed, encrypted
};

struct Listing {
    Format format = Format::Csv;
    bool formatGiven = false;
    bool excel = false;
    bool zones = false;  // --zones: only Zone.Identifier streams, with their fields
    bool all = false;
    FactOptions facts;
    Filters filters;

    // Reads the options above from `args`; false with `error` for a bad
    // value. `format` is left as set when --format is absent.
    bool Parse(const ParsedArgs& args, std::string* error);
    Columns ColumnsFor(const SourceTraits& traits) const;
    WriterOptions Writer() const { return {excel}; }

    // Before reading: --name, --exclude, the size bounds and --zones.
    bool Wants(const StreamRow& row) const;
    // Reads the facts and decides: true when the row is to be written.
    // A read failure leaves `readError` set (the caller says it on stderr);
    // the row is then still written, with empty digests.
    bool Examine(StreamRow* row, const ReadAt& read, std::string* readError) const;
    // In place of Examine for a stream that is deliberately not read (its
    // file's data is in the cloud or offline, and reading would fetch it):
    // the row says so in its note, a usual name stays hidden as by name
    // alone, and --kind keeps nothing it cannot judge.
    bool LeaveUnread(StreamRow* row) const;
};

}  // namespace vestrel::report
