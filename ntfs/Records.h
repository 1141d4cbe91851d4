// Turns what the NTFS library hands back (attribute records, directory index
// entries) into the facts a listing needs, and the path forms the program
// reads and prints. Portable and bounds-checked: the bytes come from a volume
// that may be damaged or hostile.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace vestrel::ntfs {

// One $DATA attribute record, as far as a listing cares.
struct DataAttribute {
    std::u16string name;       // "" for the file's main data
    uint64_t size = 0;         // the stream's logical size (data size)
    bool nonResident = false;
    bool firstExtent = true;   // false for the later pieces of a split attribute
    bool compressed = false, sparse = false, encrypted = false;
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
