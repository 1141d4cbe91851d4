// Turns what the NTFS library hands back (attribute records, directory index
// entries) into the facts a listing needs, and the path forms the program
// reads and prints. Portable and bounds-checked: the bytes come from a volume
// that may be damaged or hostile.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vestrel::ntfs {

// One $DATA attribute record, as far as a listing cares.
struct DataAttribute {
    std::u16string name;       // "" for the file's main data
    uint64_t size = 0;         // the stream's logical size (data size)
    bool nonResident = false;
    bool firstExtent = true;   // false for the later pieces of a split attribute
    bool compressed = false, sparse = false, encrypted = false;
    // Where the bytes are, from the attribute record's start: a resident
    // value, or a non-resident attribute's mapping pairs (to the record's
    // end; both 0 when their offset lies outside the record).
    uint32_t valueOffset = 0, valueLength = 0;
};

enum class AttributeVerdict {
    Data,     // a $DATA record; `out` filled
    Other,    // some other attribute type; nothing to list
    Damaged,  // the record's own fields contradict each other or its room
};

// `record` points at an attribute record header; `room` is how many bytes
// of the MFT record are left from there. Never reads past `room`.
AttributeVerdict DecodeAttribute(const uint8_t* record, size_t room, DataAttribute* out);

enum class EntryVerdict {
    Skip,     // ".", "..", or the short (8.3) alias of a name listed anyway
    System,   // a metadata file ($MFT, $Extend...): only with --all
    Keep,
    Damaged,  // an impossible name length
};

// Filename namespaces of an index entry: the short alias only (2) is the same
// file again under its 8.3 name.
constexpr int kNameDosOnly = 2;
// Inodes below this are the volume's own metadata files.
constexpr uint64_t kFirstUserInode = 16;

EntryVerdict ClassifyEntry(const char16_t* name, int length, int nameType, uint64_t inode);

// One $FILE_NAME: a name of the file in the directory `parent` (its MFT
// reference: record number in the low 48 bits, sequence number above).
struct FileName {
    uint64_t parent = 0;
    int nameType = 0;  // 0 POSIX, 1 Win32, 2 DOS (short alias only), 3 both
    std::u16string name;
};

// Longest name a $FILE_NAME or an index entry can hold, in UTF-16 units.
constexpr int kMaxNameUnits = 255;

// `value` is a $FILE_NAME attribute's value of `length` bytes. False when the
// name would run past the value or is empty.
bool DecodeFileName(const uint8_t* value, size_t length, FileName* out);

// What a listing needs of one MFT record, once the library has undone its
// update sequence: the header and the names and data attributes it holds.
struct FileRecord {
    bool inUse = false, directory = false;
    uint16_t sequence = 0;
    uint64_t base = 0;           // base record reference; 0 for a base record
    bool attributeList = false;  // its attributes go on in other records
    std::vector<FileName> names;
    std::vector<DataAttribute> data;  // named and unnamed, first extents only
    std::vector<uint32_t> dataAt;     // each data attribute's offset in the record
};

enum class RecordVerdict {
    Record,   // `out` filled
    Empty,    // not a file record at all (never used, or zeros)
    Damaged,  // says FILE but its fields contradict each other or its size
};

// `record` is one MFT record of `size` bytes after its fixup. Never reads
// past `size`, nor past the record's own bytes-in-use.
RecordVerdict DecodeFileRecord(const uint8_t* record, size_t size, FileRecord* out);

// "\a\b" from what the user typed ("a/b", "\a\b\", "/", ""): separators
// unified to '\', repeated or trailing ones dropped, always a leading '\'.
std::u16string NormalVolumePath(const std::u16string& typed);
// `parent` + '\' + `name`, with no doubled separator after the root.
std::u16string ChildPath(const std::u16string& parent, const std::u16string& name);
// `path` relative to `root` (both normal), "" when they are the same.
std::u16string RelativePath(const std::u16string& root, const std::u16string& path);

// "PATH:STREAM" split at the first colon; false when there is no colon or the
// stream name is empty (a bare file names no stream).
bool SplitStreamPath(const std::u16string& typed, std::u16string* path, std::u16string* stream);

// A name that fits a Linux file name (255 bytes of UTF-8): returned as is when
// it fits, else cut at a character boundary with "~" and a hash of the whole
// name before the extension kept, so different long names stay different.
std::string FitFileName(const std::string& utf8, size_t maxBytes = 255);

}  // namespace vestrel::ntfs
