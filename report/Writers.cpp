#include "Writers.h"

#include <charconv>

#include "Text.h"

namespace vestrel::report {
namespace {

std::string PadLeft(const std::string& s, size_t width) {
    return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

std::string PadRight(const std::string& s, size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

// A number, flag or time as text: none of them ever needs quoting or
// escaping, so each is formatted straight into the line.
void AppendScalar(std::string& out, const Value& v) {
    switch (v.type) {
        case Value::Type::Number: {
            char digits[24];
            out.append(digits, std::to_chars(digits, digits + sizeof digits, v.number).ptr);
            return;
        }
        case Value::Type::Boolean: out += v.boolean ? "true" : "false"; return;
        case Value::Type::Time: AppendIsoTime(out, v.number); return;
        case Value::Type::Text: return;
    }
}

std::string TextOf(const Value& v) { return v.wide != nullptr ? ToUtf8(*v.wide) : CleanUtf8(v.narrow); }

// Each writer builds its lines in one buffer it keeps, so a row costs no
// allocation beyond its names'.
class CsvWriter : public RowWriter {
public:
    CsvWriter(Columns columns, Sink out, bool excel) : columns_(columns), out_(std::move(out)), excel_(excel) {
        std::string header = excel_ ? "\xEF\xBB\xBF" : "";
        const auto names = ColumnNames(columns_);
        for (size_t i = 0; i < names.size(); ++i) header += (i ? "," : "") + names[i];
        out_(header + "\r\n");
    }
    void Row(const StreamRow& row) override {
        line_.clear();
        bool first = true;
        for (const Cell& cell : CellsOf(row, columns_)) {
            if (!first) line_ += ',';
            first = false;
            if (cell.value.type != Value::Type::Text) {
                AppendScalar(line_, cell.value);
            } else if (excel_) {
                line_ += ExcelField(TextOf(cell.value));
            } else {
                AppendCsvField(line_, TextOf(cell.value));
            }
        }
        line_ += "\r\n";
        out_(line_);
    }

private:
    Columns columns_;
    Sink out_;
    bool excel_;
    std::string line_;
};

class JsonWriter : public RowWriter {
public:
    JsonWriter(Columns columns, Sink out) : columns_(columns), out_(std::move(out)) {}
    void Row(const StreamRow& row) override {
        line_ = "{";
        bool first = true;
        for (const Cell& cell : CellsOf(row, columns_)) {
            if (!first) line_ += ',';
            first = false;
            line_ += '"';
            line_ += cell.name;
            line_ += "\":";
            const Value& v = cell.value;
            if (v.type == Value::Type::Time) {
                line_ += '"';
                AppendScalar(line_, v);
                line_ += '"';
            } else if (v.type != Value::Type::Text) {
                AppendScalar(line_, v);
            } else {
                line_ += v.wide != nullptr ? JsonString(*v.wide) : JsonStringUtf8(v.narrow);
            }
        }
        line_ += "}\n";
        out_(line_);
    }

private:
    Columns columns_;
    Sink out_;
    std::string line_;
};

// Fixed widths, so a row is printed the moment it is found.
class TableWriter : public RowWriter {
public:
    static constexpr size_t kSizeWidth = 15;
    static constexpr size_t kVolumeWidth = 6;
    static constexpr size_t kSnapshotWidth = 26;  // "vss12 2013-12-03T06:37:48Z"
    static constexpr size_t kRecordWidth = 10;

    TableWriter(Columns columns, Sink out) : columns_(columns), out_(std::move(out)) {
        std::string header;
        if (columns_.volume) header += PadRight("VOLUME", kVolumeWidth) + "  ";
        if (columns_.snapshot) header += PadRight("SNAPSHOT", kSnapshotWidth) + "  ";
        header += PadLeft("SIZE", kSizeWidth) + "  KIND  ";
        if (columns_.deleted) header += "DELETED  " + PadLeft("RECORD", kRecordWidth) + "  RECOVERY     ";
        header += "PATH:STREAM";
        if (columns_.kind) header += "  CONTENT";
        if (columns_.savedAs) header += "  ->  SAVED AS";
        out_(header + "\n");
    }
    void Row(const StreamRow& row) override {
        std::string line;
        if (columns_.volume) line += PadRight(TableText(row.volume), kVolumeWidth) + "  ";
        if (columns_.snapshot) line += PadRight(TableText(row.snapshot), kSnapshotWidth) + "  ";
        line += PadLeft(std::to_string(row.size), kSizeWidth) + "  " + (row.isDirectory ? "dir " : "file") + "  ";
        if (columns_.deleted)
            line += std::string(row.deleted ? "yes    " : "no     ") + "  " +
                    PadLeft(std::to_string(row.record), kRecordWidth) + "  " + PadRight(TableText(row.recovery), 11) +
                    "  ";
        // The content kind after the name: a console wraps a long line, and
        // the name should not be the part that is cut.
        line += TableText(row.path) + ":" + TableText(row.stream);
        if (columns_.kind) line += "  " + (row.kind.empty() ? std::string("?") : row.kind);
        if (columns_.savedAs) line += "  ->  " + TableText(row.savedAs);
        if (columns_.zone && !row.zone.zoneId.empty()) {
            line += "  zone " + TableText(FromUtf8(row.zone.zoneId));
            if (!row.zone.hostUrl.empty()) line += " from " + TableText(FromUtf8(row.zone.hostUrl));
        }
        if (columns_.note && !row.note.empty()) line += "  [" + TableText(FromUtf8(row.note)) + "]";
        out_(line + "\n");
    }

private:
    Columns columns_;
    Sink out_;
};

class BodyWriter : public RowWriter {
public:
    explicit BodyWriter(Sink out) : out_(std::move(out)) {}
    void Row(const StreamRow& row) override { out_(BodyLine(row) + "\n"); }

private:
    Sink out_;
};

// The body format has no quoting: a '|' or a line break in a name would
// shift every field after it, so those become '?' (as controls do).
std::string BodyText(const std::u16string& text) {
    std::string out = TableText(text);
    for (char& c : out)
        if (c == '|') c = '?';
    return out;
}

}  // namespace

std::string BodyLine(const StreamRow& row) {
    std::string name;
    if (!row.volume.empty()) name = BodyText(row.volume) + ":";
    name += BodyText(row.path) + ":" + BodyText(row.stream);
    const std::string inode = row.hasReference ? std::to_string(row.mftRecord) + "-128" : "0";
    const std::string mode = row.isDirectory ? "d/drwxrwxrwx" : "r/rrwxrwxrwx";
    return (row.md5.empty() ? "0" : row.md5) + "|" + name + "|" + inode + "|" + mode + "|0|0|" +
           std::to_string(row.size) + "|" + std::to_string(UnixTime(row.times.accessed)) + "|" +
           std::to_string(UnixTime(row.times.modified)) + "|" + std::to_string(UnixTime(row.times.changed)) + "|" +
           std::to_string(UnixTime(row.times.created));
}

bool ParseFormat(const std::string& word, Format* out) {
    if (word == "table") *out = Format::Table;
    else if (word == "csv") *out = Format::Csv;
    else if (word == "jsonl" || word == "json") *out = Format::Json;
    else if (word == "body") *out = Format::Body;
    else return false;
    return true;
}

std::unique_ptr<RowWriter> RowWriter::Make(Format format, Columns columns, Sink out, WriterOptions options) {
    switch (format) {
        case Format::Csv: return std::make_unique<CsvWriter>(columns, std::move(out), options.excel);
        case Format::Json: return std::make_unique<JsonWriter>(columns, std::move(out));
        case Format::Body: return std::make_unique<BodyWriter>(std::move(out));
        case Format::Table: break;
    }
    return std::make_unique<TableWriter>(columns, std::move(out));
}

}  // namespace vestrel::report
