// Exit statuses, the same in both console programs, so a script can tell
// outcomes apart.
#pragma once

namespace vestrel::report {

enum ExitStatus : int {
    kExitOk = 0,        // everything named was read
    kExitPartial = 1,   // done, but some entries could not be read (each said on stderr)
    kExitUsage = 2,     // the command line was wrong; nothing was done
    kExitFound = 3,     // --fail-if-found and at least one stream was listed
    kExitNoSource = 4,  // the source or path could not be opened at all
};
// The status for a finished run: usage beats found, found beats partial.
int FinalStatus(bool usageError, bool anyFound, bool failIfFound, bool anyUnreadable);

}  // namespace vestrel::report
