// The backup interface seam bound to kernel32's BackupRead and BackupSeek.
#pragma once
#include <windows.h>

#include "BackupApi.h"

namespace vestrel {

class Kernel32BackupCalls : public IBackupCalls {
public:
    // `file` stays owned by the caller.
    explicit Kernel32BackupCalls(HANDLE file) : file_(file) {}

    bool Read(uint8_t* buffer, uint32_t count, uint32_t* bytesRead, bool abort, bool processSecurity,
              void** context) override;
    bool Seek(uint64_t count, uint64_t* moved, void** context) override;
    uint32_t LastError() const override { return lastError_; }

private:
    HANDLE file_;
    DWORD lastError_ = 0;
};

}  // namespace vestrel
