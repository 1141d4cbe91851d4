// vestrel-cli.exe: the stream engine from the command line.
#include <string>
#include <vector>

#include "Commands.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return vestrel::cli::Run(args);
}
