// The access an administrator expects of the console program: the backup
// privilege enabled where the token holds it ("Setting the Backup and
// Restore Privileges"), so that backup-semantics opens pass each file's own
// access checks as a backup program's do.
#pragma once
#include <windows.h>

namespace vestrel::cli {

// The token calls, for the test seam.
struct TokenCalls {
    BOOL (*openProcessToken)(DWORD access, HANDLE* token);
    BOOL (*lookupBackupPrivilege)(LUID* luid);
    // AdjustTokenPrivileges without the previous state.
    BOOL (*adjust)(HANDLE token, TOKEN_PRIVILEGES* privileges);
    DWORD (*lastError)();
    void (*close)(HANDLE token);
    static TokenCalls Platform();
};

enum class PrivilegeResult { kEnabled, kNotHeld, kFailed };

// Enables SeBackupPrivilege in this process's token. Not held (a user who is
// not elevated) leaves everything as it was: AdjustTokenPrivileges then
// succeeds and says ERROR_NOT_ALL_ASSIGNED.
PrivilegeResult EnableBackupPrivilege(const TokenCalls& calls = TokenCalls::Platform());

}  // namespace vestrel::cli
