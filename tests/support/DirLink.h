// A directory symbolic link for tests, made on the Unix side where the
// platform is Wine (whose own call reports success without making one).
#pragma once
#include <windows.h>

#include <string>

#include "WinTestSupport.h"

namespace testing_support {

// Starts a program and lets it run. Wine hands back no process handle for
// a Unix program (it runs detached), so callers watch for its effect.
inline bool StartDetached(const std::wstring& exe, std::wstring cmd) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    if (pi.hThread != nullptr) ::CloseHandle(pi.hThread);
    if (pi.hProcess != nullptr) ::CloseHandle(pi.hProcess);
    return true;
}

// The Unix path of a Windows path where the platform is Wine, else empty.
inline std::string UnixPath(const std::wstring& path) {
    using ToUnix = char*(CDECL*)(LPCWSTR);
    auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (toUnix == nullptr) return {};
    char* p = toUnix(path.c_str());
    std::string out = p != nullptr ? p : "";
    if (p != nullptr) ::HeapFree(::GetProcessHeap(), 0, p);
    return out;
}

inline std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// A directory symbolic link `link` -> `target` (a relative target is taken
// from the link's directory). Wine 8's CreateSymbolicLinkW reports success
// without making anything, so there the link is made on the Unix side.
class DirLink {
public:
    DirLink(const std::wstring& link, const std::wstring& target) : m_link(link) {
        m_unix = UnixPath(link);
        if (!m_unix.empty()) {
            m_started = StartDetached(L"Z:\\bin\\ln", L"ln -s \"" + target + L"\" \"" + Widen(m_unix) + L"\"");
            WaitUntil([this] { return made(); }, 10000);
        } else {
            m_started = ::CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2) != 0;
        }
    }
    // The link must be gone before its directory is removed: a removal that
    // walked through it would go round the loop.
    ~DirLink() {
        if (!m_unix.empty()) StartDetached(L"Z:\\bin\\rm", L"rm -f \"" + Widen(m_unix) + L"\"");
        else ::RemoveDirectoryW(m_link.c_str());
        WaitUntil([this] { return ::GetFileAttributesW(m_link.c_str()) == INVALID_FILE_ATTRIBUTES; }, 10000);
    }
    bool made() const {
        const DWORD a = ::GetFileAttributesW(m_link.c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }

    // Under Wine the link is made on the Unix side and must come.
    bool viaUnix() const { return !m_unix.empty(); }
    // Why no link came.
    std::string Why() const {
        return std::string("link tool started ") + (m_started ? "yes" : "no") + ", attributes " +
               std::to_string(::GetFileAttributesW(m_link.c_str())) + ", unix path " + m_unix;
    }

private:
    std::wstring m_link;
    std::string m_unix;
    bool m_started = false;
};

}  // namespace testing_support
