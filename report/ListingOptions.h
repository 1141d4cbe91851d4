// The options Listing::Parse reads, with their help, for the programs'
// command tables (CommandLine.h). Kept apart from Listing.h so that a table
// needs nothing else of report/.
#pragma once
#include "CommandLine.h"

namespace vestrel::report {

extern const OptionSpec kFormatOption;   // --format table|csv|jsonl|body
extern const OptionSpec kExcelOption;    // --excel
extern const OptionSpec kHashOption;     // --hash
extern const OptionSpec kZonesOption;    // --zones
extern const OptionSpec kNameOption;     // --name
extern const OptionSpec kExcludeOption;  // --exclude
extern const OptionSpec kMinSizeOption;  // --min-size
extern const OptionSpec kMaxSizeOption;  // --max-size
extern const OptionSpec kKindOption;     // --kind

}  // namespace vestrel::report
