// vestrel-ntfs's commands and their options: the one table its parser and
// its help texts come from. Portable.
#pragma once
#include "CommandLine.h"

namespace vestrel::ntfs {

const report::ProgramSpec& NtfsProgram();

}  // namespace vestrel::ntfs
