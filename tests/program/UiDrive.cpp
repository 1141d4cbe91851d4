// uidrive <program.exe> <folder>: fills <folder> with a small demo tree of
// files with streams, starts the program, scans the folder like a user and
// leaves the program running with its result on screen. Exit 0 on success.
#include <cstdio>
#include <string>

#include "ProgramDriver.h"

using namespace testing_support;

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: uidrive <program.exe> <folder>\n");
        return 2;
    }
    std::wstring folder = argv[2];
    MakeDemoTree(folder);
    // The program keeps running after this driver ends.
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::wstring cmd = L"\"" + std::wstring(argv[1]) + L"\"";
    if (!::CreateProcessW(argv[1], &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(stderr, "uidrive: cannot start the program\n");
        return 1;
    }
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    HWND main = nullptr;
    for (int i = 0; i < 2000 && main == nullptr; ++i) {
        main = FindMainWindow(pi.dwProcessId);
        if (main == nullptr) ::Sleep(10);
    }
    if (main == nullptr) {
        std::fprintf(stderr, "uidrive: no main window\n");
        return 1;
    }
    ::Sleep(2500);  // let the title banner settle
    if (!ScanFolderAndWait(main, folder)) {
        std::fprintf(stderr, "uidrive: the scan did not complete\n");
        return 1;
    }
    return 0;
}
