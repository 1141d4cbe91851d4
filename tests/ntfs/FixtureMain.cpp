// ntfs_fixture: writes a fixture image from the command line.
//   ntfs_fixture standard IMAGE      the image the command tests read
//   ntfs_fixture bench IMAGE FILES [PER_DIRECTORY]
//                                    FILES files, one in twenty with a stream,
//                                    in directories of PER_DIRECTORY (100)
//   ntfs_fixture demo IMAGE          the user guide's demonstration documents
//   ntfs_fixture moved IMAGE         files and directories before their directory in the MFT
//   ntfs_fixture deleted IMAGE       deleted files with named streams
//   ntfs_fixture triage IMAGE        the user guide's triage case
//   ntfs_fixture digests IMAGE       streams of realistic sizes (171 MiB), for the digest bench
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Fixture.h"

int main(int argc, char** argv) {
    using namespace vestrel::ntfs::fixture;
    const std::string kind = argc > 1 ? argv[1] : "";
    std::string error;
    bool ok = false;
    if (kind == "standard" && argc == 3) ok = BuildStandard(argv[2], &error);
    else if (kind == "demo" && argc == 3) ok = BuildDemo(argv[2], &error);
    else if (kind == "moved" && argc == 3) ok = BuildMoved(argv[2], &error);
    else if (kind == "deleted" && argc == 3) {
        DeletedFixture bytes;
        ok = BuildDeleted(argv[2], &bytes, &error);
    }
    else if (kind == "triage" && argc == 3) ok = BuildTriage(argv[2], &error);
    else if (kind == "digests" && argc == 3) ok = BuildDigests(argv[2], &error);
    else if (kind == "bench" && (argc == 4 || argc == 5))
        ok = BuildBench(argv[2], unsigned(std::strtoul(argv[3], nullptr, 10)), &error,
                        argc == 5 ? unsigned(std::strtoul(argv[4], nullptr, 10)) : 100);
    else {
        std::fputs("usage: ntfs_fixture standard IMAGE | bench IMAGE FILES [PER_DIRECTORY] | demo IMAGE | moved IMAGE | deleted IMAGE | triage IMAGE | digests IMAGE\n", stderr);
        return 2;
    }
    if (!ok) std::fprintf(stderr, "ntfs_fixture: %s\n", error.c_str());
    return ok ? 0 : 1;
}
