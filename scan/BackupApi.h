// The two calls of the platform's backup interface, behind a seam with
// portable types so that the producer built on them compiles and is tested
// without Windows. The Windows build binds it to kernel32 (Kernel32Backup.h);
// tests bind it to a model of the documented behaviour. Portable: no windows.h.
#pragma once
#include <cstdint>

namespace vestrel {

// Win32 error codes the producer tells apart (same numbers as winerror.h).
enum : uint32_t {
    kErrorInvalidHandle = 6,         // ERROR_INVALID_HANDLE
    kErrorSeek = 25,                 // ERROR_SEEK
    kErrorReadFault = 30,            // ERROR_READ_FAULT
    kErrorNotSupported = 50,         // ERROR_NOT_SUPPORTED
    kErrorInvalidParameter = 87,     // ERROR_INVALID_PARAMETER
    kErrorCallNotImplemented = 120,  // ERROR_CALL_NOT_IMPLEMENTED
    kErrorInvalidData = 13,          // ERROR_INVALID_DATA
};

// BackupRead (Microsoft: "BackupRead function"): "The buffer size must be
// greater than the size of a WIN32_STREAM_ID structure", which is 24 bytes
// in both builds (20 of header, padded). Every request the producer makes
// is at least kBackupReadMinimum; the aborting read that ends a context too.
constexpr uint32_t kWin32StreamIdStructSize = 24;
constexpr uint32_t kBackupReadMinimum = kWin32StreamIdStructSize + 1;

// True when the platform has no backup interface at all, so another way of
// producing the sequence is needed.
inline bool BackupUnsupported(uint32_t error) {
    return error == kErrorNotSupported || error == kErrorCallNotImplemented;
}

// BackupRead and BackupSeek for one open file. `context` is the caller's
// context variable, null before the first read; the calls own what it points to.
class IBackupCalls {
public:
    virtual ~IBackupCalls() = default;
    // BackupRead(file, buffer, count, read, abort, processSecurity, context).
    virtual bool Read(uint8_t* buffer, uint32_t count, uint32_t* bytesRead, bool abort,
                      bool processSecurity, void** context) = 0;
    // BackupSeek(file, low, high, &movedLow, &movedHigh, context), as 64-bit values.
    virtual bool Seek(uint64_t count, uint64_t* moved, void** context) = 0;
    // GetLastError() right after the call that failed.
    virtual uint32_t LastError() const = 0;
};

}  // namespace vestrel
