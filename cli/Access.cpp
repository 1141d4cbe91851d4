#include "Access.h"

namespace vestrel::cli {
namespace {

BOOL OpenToken(DWORD access, HANDLE* token) { return OpenProcessToken(GetCurrentProcess(), access, token); }
BOOL LookupBackup(LUID* luid) { return LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", luid); }
BOOL Adjust(HANDLE token, TOKEN_PRIVILEGES* privileges) {
    return AdjustTokenPrivileges(token, FALSE, privileges, sizeof *privileges, nullptr, nullptr);
}
DWORD LastError() { return GetLastError(); }
void Close(HANDLE token) { CloseHandle(token); }

}  // namespace

TokenCalls TokenCalls::Platform() { return {OpenToken, LookupBackup, Adjust, LastError, Close}; }

PrivilegeResult EnableBackupPrivilege(const TokenCalls& calls) {
    HANDLE token = nullptr;
    if (!calls.openProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return PrivilegeResult::kFailed;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    PrivilegeResult result = PrivilegeResult::kFailed;
    if (calls.lookupBackupPrivilege(&privileges.Privileges[0].Luid) && calls.adjust(token, &privileges)) {
        // Success with ERROR_NOT_ALL_ASSIGNED: the token does not hold it.
        result = calls.lastError() == ERROR_NOT_ALL_ASSIGNED ? PrivilegeResult::kNotHeld : PrivilegeResult::kEnabled;
    }
    calls.close(token);
    return result;
}

}  // namespace vestrel::cli
