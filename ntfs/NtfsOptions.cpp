#include "NtfsOptions.h"

#include "ListingOptions.h"

namespace vestrel::ntfs {

using report::OptionSpec;

const report::ProgramSpec& NtfsProgram() {
    static const OptionSpec recursive{"-r,--recursive", "",
                                      "walk the whole tree under PATH; for the whole volume $MFT is read in order "
                                      "instead (MFT order)"};
    static const OptionSpec sort{"--sort", "path", "a whole volume in directory order, walking the tree"};
    static const OptionSpec deleted{"--deleted", "",
                                    "with -r on the whole volume: also the streams of deleted files whose MFT record "
                                    "is still whole, with the columns deleted, record and recovery (recovered, or "
                                    "overwritten when their clusters are in use again)"};
    static const OptionSpec all{"-a,--all", "",
                                "also metadata files and the names favicon, zone.identifier and oecustomproperty "
                                "(without it they are listed only when they do not hold what their name says, with "
                                "a note)"};
    static const OptionSpec failIfFound{"--fail-if-found", "", "exit status 3 when any stream is listed"};
    static const OptionSpec offset{"--offset", "N",
                                   "the volume starts N bytes (or Ns: N 512-byte sectors) into SOURCE"};
    static const OptionSpec volume{"--volume", "NAME",
                                   "one volume: pN (partition N), pN@vssM (its shadow copy M), vssM (of a volume "
                                   "without partitions)"};
    static const OptionSpec shadows{"--shadows", "",
                                    "also every volume's shadow copies (a snapshot column: store number and creation "
                                    "time, UTC)"};
    static const OptionSpec recoveryPassword{"--recovery-password", "KEY",
                                             "unlock BitLocker volumes with the 48-digit recovery key"};
    static const OptionSpec password{"--password", "TEXT", "unlock BitLocker volumes with the password"};
    static const report::ProgramSpec program = {
        "vestrel-ntfs",
        VESTREL_VERSION,
        "Finds the named data streams (alternate data streams) on an NTFS volume.\n"
        "SOURCE is a block device, a raw image, split raw (the first segment,\n"
        "disk.001), an E01/Ex01 evidence file (the first segment), a VHD, VHDX,\n"
        "VMDK (descriptor or data file) or QCOW2 disk, recognised from its\n"
        "content and opened read-only; it is never written. A whole-disk image with\n"
        "an MBR or GPT partition table is read partition by partition; the rows say\n"
        "which, numbered as Linux does (p1 to p4 the MBR slots, p5 on the logical\n"
        "partitions, pN GPT entry N). PATH is a file or directory inside the volume,\n"
        "e.g. \\Users\\a (default: the root); / works too.\n",
        "exit status: 0 all read, 1 some entries could not be read or damage was\n"
        "worked around (each said on stderr), 2 usage error, 3 --fail-if-found and\n"
        "streams were listed, 4 the source or path could not be opened at all.\n",
        {
            {"list",
             "SOURCE [PATH]",
             "the streams of PATH and, for a directory, of its entries",
             {recursive, sort, deleted, report::kFormatOption, report::kExcelOption, report::kHashOption,
              report::kZonesOption, report::kNameOption, report::kExcludeOption, report::kMinSizeOption,
              report::kMaxSizeOption, report::kKindOption, all, {"-q,--quiet", "", "no progress line"}, failIfFound,
              offset, volume, shadows, recoveryPassword, password}},
            {"cat",
             "SOURCE PATH:STREAM",
             "the bytes of one stream to standard output",
             {offset, volume, shadows,
              {"--deleted", "", "a deleted file's stream, named by the path list --deleted shows"},
              {"--record", "N", "with --deleted: the deleted file in MFT record N"}, recoveryPassword, password}},
            {"extract",
             "SOURCE [PATH] --to DIR",
             "each stream to its own new file in DIR, never replacing one, plus an index of what went where",
             {recursive, sort, deleted,
              {"--excel", "", "an index in csv for spreadsheets (see list --help)"},
              {"--hash", report::kHashOption.value, "digest of each copy's bytes in the index (repeatable, or a comma list)"},
              report::kZonesOption, report::kNameOption, report::kExcludeOption, report::kMinSizeOption,
              report::kMaxSizeOption, report::kKindOption, all,
              {"-q,--quiet", "", "no progress line and no closing count"}, failIfFound, offset, volume, shadows,
              recoveryPassword, password, {"--to", "DIR", "where the streams go (created if missing)"},
              {"--index-format", "csv|jsonl", "the index of what went where (default csv)"}}},
            {"info",
             "SOURCE",
             "the container, partitions, volume serials and labels, shadow copies and BitLocker state of SOURCE",
             {{"--format", "table|json", "default: table on a terminal, json otherwise"}, recoveryPassword,
              password}},
        },
        false,
    };
    return program;
}

}  // namespace vestrel::ntfs
