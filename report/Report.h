// What the command-line companions print about streams, shared by the Windows
// console program and the Linux volume reader: one row per stream, written as
// it is found (table, RFC 4180 csv or one JSON object per line), the exit
// statuses, the option parser, the progress line and safe names for
// extracted streams. Portable: no windows.h, no file system.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vestrel::report {

// --- text ------------------------------------------------------------------

// UTF-16 to UTF-8. A lone surrogate cannot be said in UTF-8; it becomes
// U+FFFD here (JSON output escapes it instead, see JsonString).
std::string ToUtf8(const std::u16string& text);
// UTF-8 to UTF-16; an invalid byte becomes U+FFFD.
std::u16string FromUtf8(const std::string& text);
// A JSON string literal, quotes included: control characters, quote and
// backslash escaped; a lone surrogate as \uDXXX, so the exact name survives.
std::string JsonString(const std::u16string& text);
// One RFC 4180 field: quoted when it holds a comma, quote, CR or LF (or
// begins or ends with a space), with inner quotes doubled.
std::string CsvField(const std::string& utf8);

// --- rows ------------------------------------------------------------------

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
};

enum class Format { Table, Csv, Json };
// "table", "csv", "json"; false for anything else.
bool ParseFormat(const std::string& word, Format* out);

// Which optional columns a writer prints. Chosen once, before the first row,
// so every line of one output has the same columns.
struct Columns {
    bool volume = false;   // a "volume" column first
    bool savedAs = false;  // a "saved_as" column last (extract index)
    bool snapshot = false; // a "snapshot" column after the volume's
    bool deleted = false;  // "deleted" (yes/no), "record", "recovery" after "directory"
};

// Writes rows as they come; nothing is kept, so memory stays flat however
// many rows pass. Output goes to `out` as UTF-8 text, a line at a time.
//   csv:   header "path,stream,size,directory" (with the optional columns),
//          then one record per row, CRLF line ends as RFC 4180 says;
//   json:  one object per line: {"path":..,"stream":..,"size":N,"directory":B}
//          (+ "volume", "saved_as" when chosen), LF line ends;
//   table: a header line, then size right-aligned in a fixed width, a "dir"
//          or "file" column and "path:stream", LF line ends.
class RowWriter {
public:
    using Sink = std::function<void(const std::string& utf8)>;
    virtual ~RowWriter() = default;
    virtual void Row(const StreamRow& row) = 0;
    // Called once at the end; the table prints nothing more, the others too.
    virtual void Finish() {}
    static std::unique_ptr<RowWriter> Make(Format format, Columns columns, Sink out);
};

// --- names -----------------------------------------------------------------

// The three names a plain listing leaves out ("favicon", "zone.identifier",
// "oecustomproperty", whole name, ASCII case ignored).
bool IsExcludedName(const std::u16string& stream);

// A file name for an extracted stream, built from the entry's path relative
// to the extraction root and the stream name: every character that is a path
// separator, reserved on Windows (<>:"/\|?* and controls) or a lone surrogate
// becomes '_', ".." cannot form a component, reserved device names (CON,
// NUL, COM1...) get a '_' prefix, trailing dots and spaces are replaced, and
// the result is at most 200 UTF-16 units (a hash of the whole keeps long
// names apart). Never empty, never "." or "..", never contains a separator.
std::u16string SafeExtractName(const std::u16string& relativePath, const std::u16string& stream);
// The n-th alternative when a name is taken: "name (n)" before any extension.
std::u16string NumberedName(const std::u16string& name, unsigned n);

// --- exit statuses ---------------------------------------------------------

enum ExitStatus : int {
    kExitOk = 0,       // everything named was read
    kExitPartial = 1,  // some entries could not be read (each said on stderr)
    kExitUsage = 2,    // the command line was wrong; nothing was done
    kExitFound = 3,    // --fail-if-found and at least one stream was listed
};
// The status for a finished run: usage beats found, found beats partial.
int FinalStatus(bool usageError, bool anyFound, bool failIfFound, bool anyUnreadable);

// --- command line ----------------------------------------------------------

// Options a command accepts: flags ("-r", "--all") and options with a value
// ("--format csv", "--format=csv", "--to DIR"). Short aliases map to a long
// name ("-r" -> "--recursive"). "--" ends the options.
struct AcceptedOptions {
    std::vector<std::string> flags;         // long names, e.g. "--all"
    std::vector<std::string> valued;        // long names, e.g. "--format"
    std::map<std::string, std::string> aliases;  // e.g. {"-r", "--recursive"}
};
struct ParsedArgs {
    std::map<std::string, std::string> options;  // long name -> value ("" for a flag)
    std::vector<std::string> operands;           // in order
    std::string error;                           // non-empty: what is wrong
    bool Has(const std::string& name) const { return options.count(name) != 0; }
    std::string Value(const std::string& name, const std::string& fallback = "") const;
};
ParsedArgs ParseArgs(const std::vector<std::string>& args, const AcceptedOptions& accepted);

// --- progress --------------------------------------------------------------

// The live status line on a terminal: at most one update per 100 ms, entries
// per second and the current folder, cut to `width` columns.
class Progress {
public:
    explicit Progress(unsigned width = 79) : width_(width) {}
    // Counts one entry at `nowMs` (any monotonic clock). Returns the line to
    // show ("\r" + text, padded over the last one) when an update is due,
    // else an empty string.
    std::string Tick(uint64_t nowMs, const std::u16string& folder);
    // Clears the line at the end ("\r" + spaces + "\r"), or "" if none shown.
    std::string Clear();
    uint64_t Entries() const { return entries_; }

private:
    unsigned width_;
    uint64_t entries_ = 0;
    uint64_t startMs_ = 0, lastMs_ = 0;
    bool started_ = false, shown_ = false;
    size_t lastLength_ = 0;
};

}  // namespace vestrel::report
