// vestrel-ntfs info: what a source is before anything is listed from it.
#pragma once
#include "Report.h"

namespace vestrel::ntfs {

int Info(const report::ParsedArgs& args);

}  // namespace vestrel::ntfs
