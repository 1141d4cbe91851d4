// Stand-ins for outside programs in the update tests. Each appends its own
// command line (UTF-8, one line per run) to a file beside itself:
//   RECORD_FILE "updater-calls.txt"  an updater; its exit code is the number
//                                    in exitcode.txt beside it (0 without)
//   RECORD_FILE "opened-pages.txt"   the web browser
#include <windows.h>

#include <string>

namespace {
std::wstring OwnDirectory() {
    wchar_t path[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n < MAX_PATH ? n : 0);
    return p.substr(0, p.find_last_of(L"\\/") + 1);
}

std::string Utf8(const std::wstring& w) {
    int n = ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}
}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    std::wstring dir = OwnDirectory();
    std::string line = Utf8(::GetCommandLineW()) + "\n";
    HANDLE f = ::CreateFileW((dir + RECORD_FILE).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ::WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        ::CloseHandle(f);
    }
    int code = 0;
    HANDLE e = ::CreateFileW((dir + L"exitcode.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (e != INVALID_HANDLE_VALUE) {
        char buf[16] = {};
        DWORD got = 0;
        ::ReadFile(e, buf, sizeof buf - 1, &got, nullptr);
        ::CloseHandle(e);
        code = atoi(buf);
    }
    return code;
}
