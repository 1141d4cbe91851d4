// The row model: what is known about one stream (StreamRow), which columns
// an output carries (Columns, chosen once so every line has the same ones),
// and the row as an ordered list of (name, value) cells that every writer
// prints. A new column is one entry in the table in Row.cpp.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "Zone.h"

namespace vestrel::report {

// NTFS times: 100 ns intervals since 1601-01-01 UTC; 0 when not known.
struct FileTimes {
    uint64_t created = 0, modified = 0, accessed = 0, changed = 0;  // changed: the MFT record
};

// Attribute flags of the stream's $DATA attribute, where the source says.
struct StreamFlags {
    bool known = false;
    bool resident = false, sparse = false, compressed = false, encrypted = false;
};

// One alternate data stream of one file or directory.
struct StreamRow {
    std::u16string path;     // as the user would type it (no \\?\ prefix)
    std::u16string stream;   // bare stream name
    uint64_t size = 0;       // full size in bytes
    bool isDirectory = false;
    std::u16string volume;   // which partition of a disk image; "" for none
    std::u16string snapshot; // which shadow copy ("vss2 2013-12-03T06:37:48Z"); "" for the live volume
    std::u16string savedAs;  // extract index: the file the stream went to
    // A listing that reads the MFT itself can offer streams of deleted files.
    bool deleted = false;
    uint64_t record = 0;      // the MFT record number of the file
    std::u16string recovery;  // deleted: "recovered" or "overwritten"

    // What the content says (see Facts.h); "" when not looked at.
    std::string kind;
    std::string md5, sha1, sha256;  // lower-case hex; "" when not hashed or unreadable
    ZoneInfo zone;                  // parsed when the stream is a Zone.Identifier
    std::string note;               // why a usually hidden name is listed

    // The host file.
    FileTimes times;          // standard information (or the file's basic info)
    FileTimes nameTimes;      // the $FILE_NAME attribute's copy (vestrel-ntfs)
    bool hasReference = false;
    uint64_t mftRecord = 0;   // MFT record number (48 bits)
    uint16_t mftSequence = 0;
    std::string fileId;       // the file id as hex (vestrel-cli); "" when none
    StreamFlags flags;
};

// Which optional columns a writer prints, fixed before the first row.
struct Columns {
    bool volume = false;   // a "volume" column first
    bool savedAs = false;  // a "saved_as" column last (extract index)
    bool kind = false;
    bool md5 = false, sha1 = false, sha256 = false;
    bool zone = false;       // zone_id, host_url, referrer_url, app_zone_id, last_writer_package
    bool times = false;      // created, modified, accessed, changed
    bool nameTimes = false;  // fn_created ... fn_changed
    bool reference = false;  // mft_record, mft_sequence
    bool fileId = false;
    bool flags = false;      // resident, sparse, compressed, encrypted
    bool note = false;
    bool snapshot = false; // a "snapshot" column after the volume's
    bool deleted = false;  // "deleted" (yes/no), "record", "recovery" after "directory"
};

struct Value {
    // Time: an NTFS time in `number`, written as IsoTime text (quoted in
    // JSON), formatted straight into the line by the writer.
    enum class Type { Text, Number, Boolean, Time };
    Type type = Type::Text;
    // Text stays in the form it came in, so that a row costs one conversion
    // per name and none per fact: a name of the row in UTF-16, borrowed (the
    // row outlives its cells), everything else in UTF-8.
    const std::u16string* wide = nullptr;
    std::string narrow;
    uint64_t number = 0;
    bool boolean = false;
};

struct Cell {
    const char* name;
    Value value;
};

// The cells of one row, in output order, for the chosen columns.
std::vector<Cell> CellsOf(const StreamRow& row, const Columns& columns);
// The column names for the chosen columns, in the same order.
std::vector<std::string> ColumnNames(const Columns& columns);

// "2024-05-01T12:34:56.1234567Z" for an NTFS time; "" for 0.
std::string IsoTime(uint64_t ntfsTime);
void AppendIsoTime(std::string& out, uint64_t ntfsTime);
// Seconds since 1970 (the body file's unit); 0 for 0 or before 1970.
int64_t UnixTime(uint64_t ntfsTime);

}  // namespace vestrel::report
