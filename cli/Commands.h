// The console program's commands: list, cat, extract, delete.
#pragma once
#include <string>
#include <vector>

namespace vestrel::cli {

// Runs the command line (without the program name); returns the exit status.
int Run(const std::vector<std::wstring>& args);

}  // namespace vestrel::cli
