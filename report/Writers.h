// Writers of rows, as they come: nothing is kept, so memory stays flat
// however many rows pass. Output goes to a sink as UTF-8 text, a line at a
// time.
//   csv:   a header of the column names, then one record per row, CRLF line
//          ends as RFC 4180 says; with `excel` a UTF-8 byte order mark first
//          and formula-like cells neutralised (see ExcelField);
//   jsonl: JSON Lines, one object per line with the column names as keys
//          (numbers and booleans unquoted), LF line ends;
//   table: a header line, then size right-aligned in a fixed width, a "dir"
//          or "file" column and "path:stream", then the content kind when
//          chosen, the zone with --zones and the note in brackets when there
//          is one; LF line ends;
//   body:  the body-file format 3.x of timeline tools, one line per stream:
//          MD5|name|inode|mode|UID|GID|size|atime|mtime|ctime|crtime, times
//          in seconds since 1970 from the host file's times.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "Row.h"

namespace vestrel::report {

enum class Format { Table, Csv, Json, Body };
constexpr Format kJsonLines = Format::Json;
// "table", "csv", "jsonl" (and "json", the same), "body"; false for
// anything else.
bool ParseFormat(const std::string& word, Format* out);

struct WriterOptions {
    bool excel = false;  // csv only
};

class RowWriter {
public:
    using Sink = std::function<void(const std::string& utf8)>;
    virtual ~RowWriter() = default;
    virtual void Row(const StreamRow& row) = 0;
    // Called once at the end; nothing more is printed today.
    virtual void Finish() {}
    static std::unique_ptr<RowWriter> Make(Format format, Columns columns, Sink out, WriterOptions options = {});
};

// One body-file line (without the line end) for a row.
std::string BodyLine(const StreamRow& row);

}  // namespace vestrel::report
