#include "CliOptions.h"

#include "ListingOptions.h"

namespace vestrel::cli {

using report::OptionSpec;

const report::ProgramSpec& CliProgram() {
    static const OptionSpec recursive{"-r,--recursive", "", "the whole tree below each directory"};
    static const OptionSpec all{"-a,--all", "",
                                "also favicon, zone.identifier, oecustomproperty (without it they are listed only "
                                "when they do not hold what the name says, with a note)"};
    static const OptionSpec followLinks{"--follow-links", "",
                                        "enter junctions, directory links and mount points (never a directory twice)"};
    static const OptionSpec quiet{"-q,--quiet", "", "no progress line"};
    static const report::ProgramSpec program = {
        "vestrel-cli",
        VESTREL_VERSION,
        "Finds, reads, copies out and deletes NTFS alternate data streams.\n",
        "Exit status: 0 success, 1 some entries could not be read (each said on\n"
        "stderr), 2 usage error (nothing done), 3 streams found with --fail-if-found,\n"
        "4 nothing named could be opened at all.\n",
        {
            {"list",
             "PATH...",
             "the streams of each file or directory named; for a directory its own and its entries'",
             {recursive, report::kFormatOption, report::kExcelOption, report::kHashOption, report::kZonesOption,
              report::kNameOption, report::kExcludeOption, report::kMinSizeOption, report::kMaxSizeOption,
              report::kKindOption, all, followLinks, quiet,
              {"--fail-if-found", "", "exit status 3 when any stream is listed"}}},
            {"cat", "FILE:STREAM", "the stream's bytes to standard output", {}},
            {"extract",
             "PATH... --to DIR",
             "copies every stream found into DIR, one file per stream, never overwriting, and writes an index of "
             "what went where (index.csv)",
             {recursive, all, followLinks, quiet,
              {"--format", report::kFormatOption.value, "what standard output lists of the copies; " + report::kFormatOption.help},
              {"--hash", report::kHashOption.value, "digest of each copy's bytes (repeatable, or a comma list)"},
              {"--to", "DIR", "where the copies go (created if missing)"},
              {"--index-format", "csv|jsonl", "the index's format (default csv; index.jsonl)"}}},
            {"delete",
             "FILE:STREAM...",
             "deletes named streams only; a path that names no stream or the unnamed one is refused",
             {{"--dry-run", "", "say what would be removed; remove nothing"}}},
        },
        true,
    };
    return program;
}

}  // namespace vestrel::cli
