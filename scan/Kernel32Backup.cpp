#include "Kernel32Backup.h"

#include <cstddef>

#include "BackupSequence.h"

namespace vestrel {

// The stream header the platform delivers is the 20 bytes before the name;
// the structure itself is padded to 24 in both builds, so code that walks the
// sequence must count 20, never sizeof.
static_assert(offsetof(WIN32_STREAM_ID, cStreamName) == kStreamHeaderSize, "header is 20 bytes");
static_assert(sizeof(WIN32_STREAM_ID) == 24, "the structure is padded past the header");

bool Kernel32BackupCalls::Read(uint8_t* buffer, uint32_t count, uint32_t* bytesRead, bool abort,
                               bool processSecurity, void** context) {
    DWORD n = 0;
    const BOOL ok = BackupRead(file_, buffer, count, &n, abort ? TRUE : FALSE, processSecurity ? TRUE : FALSE,
                               context);
    lastError_ = ok ? 0 : GetLastError();
    *bytesRead = ok ? n : 0;
    return ok != FALSE;
}

bool Kernel32BackupCalls::Seek(uint64_t count, uint64_t* moved, void** context) {
    DWORD low = 0, high = 0;
    const BOOL ok = BackupSeek(file_, DWORD(count), DWORD(count >> 32), &low, &high, context);
    lastError_ = ok ? 0 : GetLastError();
    *moved = uint64_t(high) << 32 | low;
    return ok != FALSE;
}

}  // namespace vestrel
