// vestrel-cli's commands and their options: the one table its parser and
// its help texts (and the release's README.txt) come from. Portable.
#pragma once
#include "CommandLine.h"

namespace vestrel::cli {

const report::ProgramSpec& CliProgram();

}  // namespace vestrel::cli
