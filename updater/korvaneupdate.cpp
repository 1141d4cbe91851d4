// korvaneupdate.exe: tells the calling program whether an update is due.
//
//   korvaneupdate.exe <catalogue code> <installed version> <program file name>
//
// The answer is the exit code: 100 update available, 101 urgent update (open
// the tools page now), 0 nothing to do. It comes from korvaneupdate.ini beside
// this program (format in README.md); no window, no network.
#include <windows.h>

#include <string>

#include "UpdateCheck.h"

namespace {

// This program's directory with a trailing backslash, or empty.
std::wstring OwnDirectory() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        if (path.size() >= 32768) return std::wstring();
        path.resize(path.size() * 2);
    }
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// The manifest's bytes; false when it is absent, unreadable or too large.
bool ReadManifest(const std::wstring& path, std::string* bytes) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = false;
    LARGE_INTEGER size;
    if (::GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
        static_cast<unsigned long long>(size.QuadPart) <= korvane_update::kMaxManifestBytes) {
        std::string data(static_cast<size_t>(size.QuadPart), '\0');
        DWORD got = 0;
        ok = data.empty() || (::ReadFile(file, &data[0], static_cast<DWORD>(data.size()), &got, nullptr) &&
                              got == data.size());
        if (ok) *bytes = data;
    }
    ::CloseHandle(file);
    return ok;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    std::vector<std::wstring> args = korvane_update::SplitCommandLine(::GetCommandLineW());
    std::wstring dir = OwnDirectory();
    std::string manifest;
    bool haveManifest = !dir.empty() && ReadManifest(dir + L"korvaneupdate.ini", &manifest);
    return korvane_update::DecideExitCode(args, haveManifest ? &manifest : nullptr);
}
