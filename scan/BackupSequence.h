// The seam between the stream enumeration and whatever serves a file's backup
// stream sequence: the platform's BackupRead/BackupSeek, a fallback built from
// the file and its "file:stream" siblings where the platform has no backup
// interface, or an in-memory sequence in tests. Portable: no windows.h.
#pragma once
#include <cstdint>
#include <string>

namespace vestrel {

// UTF-16 text. On Windows this is the platform's wide string, so names pass
// to Win32 without conversion; elsewhere it holds the same 16-bit units.
#ifdef _WIN32
using WideChar = wchar_t;
using WideString = std::wstring;
#else
using WideChar = char16_t;
using WideString = std::u16string;
#endif

// Stream ids of the sequence's 20-byte header (WIN32_STREAM_ID).
enum : uint32_t {
    kBackupData = 1,           // the file's main (unnamed) data
    kBackupEaData = 2,         // extended attributes
    kBackupSecurityData = 3,   // the security descriptor (only when asked for)
    kBackupAlternateData = 4,  // a named data stream
    kBackupObjectId = 7,
    kBackupReparseData = 8,
    kBackupSparseBlock = 9,    // one allocated range: a 64-bit offset, then its bytes
};
constexpr uint32_t kStreamSparseAttribute = 8;  // header attribute of a sparse stream
constexpr uint32_t kStreamHeaderSize = 20;

// Little-endian fields of the header.
inline uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t LoadLe64(const uint8_t* p) { return uint64_t(LoadLe32(p)) | uint64_t(LoadLe32(p + 4)) << 32; }
inline uint32_t HeaderId(const uint8_t* header) { return LoadLe32(header); }
inline uint64_t HeaderDataSize(const uint8_t* header) { return LoadLe64(header + 8); }
inline uint32_t HeaderNameSize(const uint8_t* header) { return LoadLe32(header + 16); }
inline uint32_t HeaderAttributes(const uint8_t* header) { return LoadLe32(header + 4); }

// The sequence is a run of units, one per stream: header, name, data.
// Every producer honours the platform's read and skip rules:
//  - Read delivers up to `count` bytes continuing where the last read or skip
//    stopped, but never past the end of the current unit: a read that reaches
//    a unit's end returns short, and the next read starts at the next header.
//    Success with 0 bytes read means the sequence is exhausted.
//  - Skip moves forward within the current unit only. A request that reaches
//    past the unit's end stops at the next header, reports the bytes actually
//    skipped, and returns false.
class IBackupSequence {
public:
    virtual ~IBackupSequence() = default;
    virtual bool Read(void* buffer, uint32_t count, uint32_t* bytesRead) = 0;
    virtual bool Skip(uint64_t count, uint64_t* bytesSkipped) = 0;
};

}  // namespace vestrel
