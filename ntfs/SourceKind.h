// Recognising a source from its content, and the small text formats around
// containers: segment file names, VMDK descriptors, snapshot times. Portable
// (no library, no file system): it trusts nothing it is given and is fuzzed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vestrel::ntfs {

enum class SourceKind {
    Raw,
    SplitRaw,
    Ewf,          // EnCase E01 (EWF version 1)
    Ewf2,         // Ex01 (EWF version 2)
    EwfLogical,   // L01/Lx01: files, not a disk; refused
    Vhd,          // fixed or dynamic (footer "conectix")
    Vhdx,
    VmdkSparse,   // a sparse extent ("KDMV"), monolithic or one of a split set
    VmdkCowd,     // an ESX sparse extent ("COWD")
    VmdkText,     // a descriptor file
    Qcow,
    Shadow,       // a Volume Shadow Copy store
    BitLocker,    // an unlocked BitLocker volume
    Window,       // a part of another source
};

// The name people know the kind by ("E01", "VHDX", ...).
const char* KindName(SourceKind kind);

// Bytes a recogniser wants from the start and the end of a file.
constexpr size_t kHeadBytes = 1024;
constexpr size_t kTailBytes = 512;

// What the first `headSize` bytes and the last `tailSize` bytes of a file say
// it is; Raw when nothing is recognised. Either may be short (small files).
SourceKind RecognizeContent(const uint8_t* head, size_t headSize, const uint8_t* tail, size_t tailSize);

// True when the sector carries BitLocker's boot sector mark ("-FVE-FS-").
bool IsBitLockerBootSector(const uint8_t* sector, size_t size);

// A split raw segment's name: "disk.001" (digits after the last dot, at
// least two) or "xaa" (two or more lowercase letters at the end, the first
// segment being all 'a'). `number` counts from the first name of the scheme
// (".000" or ".001" as given, "aa" = 0).
struct SegmentName {
    std::string stem;    // everything before the counter
    uint64_t number = 0;
    size_t width = 0;    // counter characters
    bool letters = false;
};
bool ParseSegmentName(const std::string& name, SegmentName* out);
// The name of segment `number` of the scheme; "" when the counter would need
// more than `width` characters.
std::string SegmentFileName(const SegmentName& scheme, uint64_t number);

// One extent line of a VMDK descriptor:  RW 4192256 SPARSE "disk-s001.vmdk"
struct VmdkExtent {
    std::string access;  // RW, RDONLY, NOACCESS
    uint64_t sectors = 0;
    std::string type;    // FLAT, SPARSE, ZERO, VMFS, ...
    std::string file;    // empty for ZERO
};
// The extent lines of a descriptor; false with `error` when the text is not
// a descriptor or a line is malformed. At most kMaxVmdkExtents.
constexpr size_t kMaxVmdkExtents = 4096;
bool ParseVmdkDescriptor(const std::string& text, std::vector<VmdkExtent>* extents, std::string* error);

// A Windows FILETIME (100 ns ticks since 1601) as UTC ISO 8601 to the
// second: "2013-12-03T06:35:09Z".
std::string FiletimeIso(uint64_t filetime);

}  // namespace vestrel::ntfs
