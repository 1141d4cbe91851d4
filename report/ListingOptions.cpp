#include "ListingOptions.h"

namespace vestrel::report {

const OptionSpec kFormatOption{"--format", "table|csv|jsonl|body",
                               "default: table on a terminal, csv otherwise; json is jsonl (one object per "
                               "line); body is the timeline body file (mactime -b)"};
const OptionSpec kExcelOption{"--excel", "",
                              "csv for spreadsheets: a byte order mark, and cells starting = + - @ get a "
                              "leading ' (this alters those cells; plain csv is faithful)"};
const OptionSpec kHashOption{"--hash", "md5|sha1|sha256", "digest of each stream (repeatable, or a comma list)"};
const OptionSpec kZonesOption{"--zones", "",
                              "only Zone.Identifier streams, with ZoneId, HostUrl and ReferrerUrl as columns"};
const OptionSpec kNameOption{"--name", "GLOB",
                             "only streams whose name matches (repeatable; case ignored as NTFS ignores it; * and ?)"};
const OptionSpec kExcludeOption{"--exclude", "GLOB", "leave out streams of paths that match (repeatable)"};
const OptionSpec kMinSizeOption{"--min-size", "N", "only streams of at least N bytes"};
const OptionSpec kMaxSizeOption{"--max-size", "N", "only streams of at most N bytes"};
const OptionSpec kKindOption{"--kind", "K[,K...]",
                             "only streams of these kinds: pe, elf, script, archive, office, pdf, image, text, "
                             "binary or empty (from the first bytes)"};

}  // namespace vestrel::report
