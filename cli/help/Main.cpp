// Writes vestrel-cli's help, the overview and every command's, from the same
// table the program parses with, to the file named (the release's README.txt
// quotes it). Built for the machine that builds, so a cross build can run it.
#include <cstdio>

#include "CliOptions.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: vestrel-cli-help OUTPUT\n", stderr);
        return 2;
    }
    const std::string text = vestrel::report::FullHelp(vestrel::cli::CliProgram());
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (std::fclose(out) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
