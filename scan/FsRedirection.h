// File calls that see the file system as it is. A 32-bit program on 64-bit
// Windows is shown SysWOW64 under the name System32 unless it turns that
// redirection off for its thread; a scan must walk, open, view and delete the
// files its rows name, so those calls run with it off. It stays off for the
// one call only: a DLL loaded on the thread meanwhile (shell, window and
// message calls may load some) would be the 64-bit one and fail to load.
// Where there is no redirection (a 64-bit process, 32-bit Windows) turning it
// off fails and the call runs as it is.
#pragma once
#include <windows.h>

namespace vestrel {

// What a call does with the file system, for the test seam below.
enum class FsCall { kList, kOpen, kView, kDelete, kWrite };

// Turns redirection off on this thread for its lifetime; a successful turn
// off is always reverted, with the value it gave, when the guard goes.
class FsRedirectionOff {
public:
    explicit FsRedirectionOff(FsCall what);
    ~FsRedirectionOff();
    FsRedirectionOff(const FsRedirectionOff&) = delete;
    FsRedirectionOff& operator=(const FsRedirectionOff&) = delete;

    // True while redirection is off because of this guard.
    bool off() const { return m_off; }

private:
    FsCall m_what;
    PVOID m_old = nullptr;
    bool m_off = false;
};

// The platform calls, each with redirection off for exactly its duration.
HANDLE FindFirstFileUnredirected(LPCWSTR pattern, WIN32_FIND_DATAW* data);
// FindFirstFileExW with the basic information and large fetches.
HANDLE FindFirstFileExUnredirected(LPCWSTR pattern, WIN32_FIND_DATAW* data);
BOOL FindNextFileUnredirected(HANDLE find, WIN32_FIND_DATAW* data);
BOOL GetFileAttributesExUnredirected(LPCWSTR path, WIN32_FILE_ATTRIBUTE_DATA* data);
HANDLE CreateFileUnredirected(FsCall what, LPCWSTR path, DWORD access, DWORD share, DWORD disposition,
                              DWORD flags);
BOOL DeleteFileUnredirected(LPCWSTR path);
DWORD GetFileAttributesUnredirected(LPCWSTR path);
BOOL CreateDirectoryUnredirected(LPCWSTR path);

// Test seam: sees every CreateFileUnredirected call just before it is made
// (what for, the path and the access, sharing and flags asked). Null: none.
using FsOpenObserver = void (*)(FsCall what, LPCWSTR path, DWORD access, DWORD share, DWORD flags);
FsOpenObserver SetFsOpenObserver(FsOpenObserver observer);

// Test seam: what the guard calls to turn redirection off and back (by
// default the platform's Wow64DisableWow64FsRedirection and
// Wow64RevertWow64FsRedirection, where kernel32 has them). Returns the
// calls in place before.
struct FsRedirectionCalls {
    BOOL (*disable)(FsCall what, PVOID* old);
    BOOL (*revert)(FsCall what, PVOID old);
};
FsRedirectionCalls SetFsRedirectionCalls(FsRedirectionCalls calls);
// The platform's own pair, for a seam that passes calls on.
FsRedirectionCalls PlatformFsRedirectionCalls();

}  // namespace vestrel
