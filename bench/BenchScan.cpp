// Scan benchmarks under Wine or Windows.
//   benchscan gen <dir> [files dirs wide]   reproducible tree: <files> files in
//        <dirs> directories, every 20th file carrying 1-3 streams, plus
//        a folder "wide" holding <wide> files in one directory
//   benchscan baseline <dir>   only the unavoidable platform work: the walk and
//        one open (backup semantics) and close per file; prints seconds
//   benchscan enumerate <dir>   the same walk with the stream enumeration of
//        each file instead of the open and close
//   benchscan program <exe> <dir>   the real program's scan of <dir>, driven
//        like a user: seconds from the Scan click to the completion message
//   benchscan cli <exe> <dir>   "vestrel-cli list -r --format csv" over <dir>,
//        seconds from the process start to its end (output through a pipe)
//   benchscan calls <dir>   the price of each platform call made per file, over
//        the files of one directory: microseconds per file above the open and
//        close, best of 5 rounds
// baseline also prints the listing entries the dialog's status line shows
// (every entry, dots included, stream siblings not).
#include <windows.h>

#include <chrono>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>
#include <string>

#include "NtfsStream.h"
#include "ProgramDriver.h"
#include "WinTestSupport.h"
#include "resource.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

// A small linear congruential generator: the same tree on every run.
struct Lcg {
    unsigned state;
    unsigned Next() { return state = state * 1103515245u + 12345u, (state >> 16) & 0x7FFF; }
};

int Generate(const std::wstring& root, int files, int dirs, int wide) {
    Lcg rng{20261207u};
    int streams = 0;
    for (int f = 0; f < files; ++f) {
        std::wstring dir = root + L"\\tree\\d" + std::to_wstring(f % dirs / 50) + L"\\e" + std::to_wstring(f % dirs);
        std::wstring file = dir + L"\\file" + std::to_wstring(f) + L".dat";
        std::string content(64 + rng.Next() % 4096, char('a' + f % 26));
        if (!WriteBytes(file, content)) return 1;
        if (f % 20 == 0) {
            int n = 1 + int(rng.Next() % 3);
            for (int s = 0; s < n; ++s, ++streams)
                WriteBytes(file + L":s" + std::to_wstring(s), std::string(rng.Next() % 300, 'x'));
        }
    }
    for (int f = 0; f < wide; ++f) WriteBytes(root + L"\\wide\\w" + std::to_wstring(f) + L".dat", "w");
    std::printf("generated %d files in %d directories with %d streams, and %d files in one directory\n",
                files, dirs, streams, wide);
    return 0;
}

long long g_files = 0;
long long g_entries = 0;
long long g_streams = 0;
bool g_enumerate = false;  // also enumerate each file's streams
void Walk(const std::wstring& path) {
    WIN32_FIND_DATAW fd;
    HANDLE find = ::FindFirstFileW((path + L"\\*.*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = fd.cFileName;
        if (name.find(L':') != std::wstring::npos) continue;  // streams stored beside files
        ++g_entries;
        std::wstring full = path + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name != L"." && name != L"..") Walk(full);
        } else {
            ++g_files;
            if (g_enumerate) {
                NtfsStreamList list;
                g_streams += CNtfsStream::EnumStreams(full, &list);
                CNtfsStream::FreeStreamList(&list);
                continue;
            }
            HANDLE h = ::CreateFileW(full.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
        }
    } while (::FindNextFileW(find, &fd));
    ::FindClose(find);
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Each round opens every file of `dir` (backup semantics, as the engine does),
// makes one call on it and closes it; the open-and-close round is subtracted.
int Calls(const std::wstring& dir) {
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW fd;
    HANDLE find = ::FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return 1;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !wcschr(fd.cFileName, L':'))
            files.push_back(dir + L"\\" + fd.cFileName);
    } while (::FindNextFileW(find, &fd));
    ::FindClose(find);
    if (files.empty()) return 1;
    struct Call {
        const char* name;
        std::function<void(HANDLE, const std::wstring&)> make;
    };
    const std::vector<Call> calls = {
        {"open and close only", [](HANDLE, const std::wstring&) {}},
        {"BackupRead, first read", [](HANDLE h, const std::wstring&) {
             BYTE buffer[26];
             DWORD n = 0;
             LPVOID context = nullptr;
             ::BackupRead(h, buffer, sizeof buffer, &n, FALSE, FALSE, &context);
             if (context) ::BackupRead(h, nullptr, 0, &n, TRUE, FALSE, &context);
         }},
        {"ReadFile, its first 6 bytes", [](HANDLE h, const std::wstring&) {
             BYTE buffer[6];
             DWORD n = 0;
             ::ReadFile(h, buffer, sizeof buffer, &n, nullptr);
         }},
        {"FileBasicInfo and GetFileSizeEx", [](HANDLE h, const std::wstring&) {
             FILE_BASIC_INFO info;
             ::GetFileInformationByHandleEx(h, FileBasicInfo, &info, sizeof info);
             LARGE_INTEGER size;
             ::GetFileSizeEx(h, &size);
         }},
        {"GetFileInformationByHandle", [](HANDLE h, const std::wstring&) {
             BY_HANDLE_FILE_INFORMATION info;
             ::GetFileInformationByHandle(h, &info);
         }},
        {"GetFileAttributesExW of its own path", [](HANDLE, const std::wstring& f) {
             WIN32_FILE_ATTRIBUTE_DATA attr;
             ::GetFileAttributesExW(f.c_str(), GetFileExInfoStandard, &attr);
         }},
        {"GetFileAttributesExW of the directory", [&](HANDLE, const std::wstring&) {
             WIN32_FILE_ATTRIBUTE_DATA attr;
             ::GetFileAttributesExW(dir.c_str(), GetFileExInfoStandard, &attr);
         }},
    };
    std::vector<double> best(calls.size(), 1e9);
    for (int round = 0; round < 5; ++round) {
        for (size_t c = 0; c < calls.size(); ++c) {
            auto t = Clock::now();
            for (const std::wstring& f : files) {
                HANDLE h = ::CreateFileW(f.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
                if (h == INVALID_HANDLE_VALUE) continue;
                calls[c].make(h, f);
                ::CloseHandle(h);
            }
            best[c] = std::min(best[c], 1e6 * Seconds(t) / double(files.size()));
        }
    }
    std::printf("%zu files, microseconds per file, best of 5 rounds\n", files.size());
    for (size_t c = 0; c < calls.size(); ++c)
        std::printf("%-40s %7.1f%s\n", calls[c].name, c == 0 ? best[0] : best[c] - best[0], c == 0 ? "" : " more");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"gen" && argc >= 3) {
        return Generate(argv[2], argc > 3 ? _wtoi(argv[3]) : 20000, argc > 4 ? _wtoi(argv[4]) : 1000,
                        argc > 5 ? _wtoi(argv[5]) : 10000);
    }
    if (mode == L"baseline" && argc == 3) {
        auto t = Clock::now();
        Walk(argv[2]);
        std::printf("baseline %.3f s %lld files %lld entries\n", Seconds(t), g_files, g_entries);
        return 0;
    }
    if (mode == L"enumerate" && argc == 3) {
        g_enumerate = true;
        auto t = Clock::now();
        Walk(argv[2]);
        std::printf("enumerate %.3f s %lld files %lld streams\n", Seconds(t), g_files, g_streams);
        return 0;
    }
    if (mode == L"program" && argc == 4) {
        RunningProgram program(argv[2]);
        HWND main = program.WaitForMainWindow();
        if (main == nullptr) return 1;
        ::Sleep(2000);  // past the title banner
        ::SendDlgItemMessageW(main, IDC_EDIT_FOLDER, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
        Click(main, IDC_RADIO_FOLDER);
        auto t = Clock::now();
        Click(main, IDC_BUTTON_SCAN);
        HWND status = ::GetDlgItem(main, IDC_STATIC_STATUS);
        if (!WaitUntil([&] { return WindowText(status).rfind(L"扫描完成", 0) == 0; }, 1800000)) return 1;
        double s = Seconds(t);
        std::wstring text = WindowText(status);
        std::printf("program %.3f s rows %d\n", s,
                    int(::SendDlgItemMessageW(main, IDC_LIST_RESULT, LVM_GETITEMCOUNT, 0, 0)));
        return 0;
    }
    if (mode == L"cli" && argc == 4) {
        auto t = Clock::now();
        ConsoleRun run = RunConsole(argv[2], {L"list", L"-r", L"--format", L"csv", L"--quiet", argv[3]}, L"", 1800000);
        double s = Seconds(t);
        long long lines = 0;
        for (char c : run.out) lines += c == '\n';
        std::printf("cli %.3f s rows %lld exit %lu\n", s, lines > 0 ? lines - 1 : 0, run.exitCode);
        return run.exitCode == 0 ? 0 : 1;
    }
    if (mode == L"calls" && argc == 3) return Calls(argv[2]);
    std::fprintf(stderr, "usage: benchscan gen <dir> [files dirs wide] | baseline <dir> | program <exe> <dir> | "
                         "cli <exe> <dir> | calls <dir>\n");
    return 2;
}
