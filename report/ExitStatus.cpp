#include "ExitStatus.h"

namespace vestrel::report {

int FinalStatus(bool usageError, bool anyFound, bool failIfFound, bool anyUnreadable) {
    if (usageError) return kExitUsage;
    if (failIfFound && anyFound) return kExitFound;
    return anyUnreadable ? kExitPartial : kExitOk;
}

}  // namespace vestrel::report
