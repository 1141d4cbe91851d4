#include "FsRedirection.h"

#include <atomic>

namespace vestrel {
namespace {

using DisableFn = BOOL(WINAPI*)(PVOID*);
using RevertFn = BOOL(WINAPI*)(PVOID);

// kernel32 is in every process, so asking for it loads nothing; systems
// without the pair (32-bit Windows before it) leave them null.
struct Kernel32Pair {
    DisableFn disable = nullptr;
    RevertFn revert = nullptr;
    Kernel32Pair() {
        HMODULE k32 = ::GetModuleHandleW(L"kernel32.dll");
        if (k32 == nullptr) return;
        disable = reinterpret_cast<DisableFn>(
            reinterpret_cast<void*>(::GetProcAddress(k32, "Wow64DisableWow64FsRedirection")));
        revert = reinterpret_cast<RevertFn>(
            reinterpret_cast<void*>(::GetProcAddress(k32, "Wow64RevertWow64FsRedirection")));
        if (disable == nullptr || revert == nullptr) disable = nullptr, revert = nullptr;
    }
};

const Kernel32Pair& Platform() {
    static const Kernel32Pair pair;
    return pair;
}

BOOL PlatformDisable(FsCall, PVOID* old) {
    DisableFn f = Platform().disable;
    return f != nullptr && f(old);
}

BOOL PlatformRevert(FsCall, PVOID old) {
    RevertFn f = Platform().revert;
    return f != nullptr && f(old);
}

std::atomic<BOOL (*)(FsCall, PVOID*)> g_disable{PlatformDisable};
std::atomic<BOOL (*)(FsCall, PVOID)> g_revert{PlatformRevert};
std::atomic<FsOpenObserver> g_openObserver{nullptr};

}  // namespace

FsRedirectionOff::FsRedirectionOff(FsCall what) : m_what(what) {
    m_off = g_disable.load()(what, &m_old) != FALSE;
}

FsRedirectionOff::~FsRedirectionOff() {
    if (!m_off) return;
    // The guarded call's error stays what its caller reads.
    const DWORD error = ::GetLastError();
    g_revert.load()(m_what, m_old);
    ::SetLastError(error);
}

HANDLE FindFirstFileUnredirected(LPCWSTR pattern, WIN32_FIND_DATAW* data) {
    FsRedirectionOff off(FsCall::kList);
    return ::FindFirstFileW(pattern, data);
}

HANDLE FindFirstFileExUnredirected(LPCWSTR pattern, WIN32_FIND_DATAW* data) {
    FsRedirectionOff off(FsCall::kList);
    return ::FindFirstFileExW(pattern, FindExInfoBasic, data, FindExSearchNameMatch, nullptr,
                              FIND_FIRST_EX_LARGE_FETCH);
}

BOOL FindNextFileUnredirected(HANDLE find, WIN32_FIND_DATAW* data) {
    FsRedirectionOff off(FsCall::kList);
    return ::FindNextFileW(find, data);
}

BOOL GetFileAttributesExUnredirected(LPCWSTR path, WIN32_FILE_ATTRIBUTE_DATA* data) {
    FsRedirectionOff off(FsCall::kList);
    return ::GetFileAttributesExW(path, GetFileExInfoStandard, data);
}

HANDLE CreateFileUnredirected(FsCall what, LPCWSTR path, DWORD access, DWORD share, DWORD disposition,
                              DWORD flags) {
    if (FsOpenObserver observer = g_openObserver.load()) observer(what, path, access, share, flags);
    FsRedirectionOff off(what);
    return ::CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
}

BOOL DeleteFileUnredirected(LPCWSTR path) {
    FsRedirectionOff off(FsCall::kDelete);
    return ::DeleteFileW(path);
}

DWORD GetFileAttributesUnredirected(LPCWSTR path) {
    FsRedirectionOff off(FsCall::kList);
    return ::GetFileAttributesW(path);
}

BOOL CreateDirectoryUnredirected(LPCWSTR path) {
    FsRedirectionOff off(FsCall::kWrite);
    return ::CreateDirectoryW(path, nullptr);
}

FsOpenObserver SetFsOpenObserver(FsOpenObserver observer) { return g_openObserver.exchange(observer); }

FsRedirectionCalls SetFsRedirectionCalls(FsRedirectionCalls calls) {
    FsRedirectionCalls before{g_disable.load(), g_revert.load()};
    g_disable = calls.disable != nullptr ? calls.disable : PlatformDisable;
    g_revert = calls.revert != nullptr ? calls.revert : PlatformRevert;
    return before;
}

FsRedirectionCalls PlatformFsRedirectionCalls() { return {PlatformDisable, PlatformRevert}; }

}  // namespace vestrel
