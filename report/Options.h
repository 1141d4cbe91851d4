// What a command line gave a command, and the values users give options
// (byte counts, offsets in bytes or sectors).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vestrel::report {

// What a command line gave a command (read by CommandLine.h): options by
// their long name, and the operands.
struct ParsedArgs {
    std::map<std::string, std::string> options;  // long name -> last value ("" for a flag)
    std::map<std::string, std::vector<std::string>> repeated;  // long name -> every value, in order
    std::vector<std::string> operands;           // in order
    bool Has(const std::string& name) const { return options.count(name) != 0; }
    std::string Value(const std::string& name, const std::string& fallback = "") const;
    std::vector<std::string> Values(const std::string& name) const;
};

// A decimal count of bytes, at most 2^64-1; false for anything else.
bool ParseByteCount(const std::string& text, uint64_t* out);
// An offset in bytes ("1048576") or in 512-byte sectors ("2048s", as
// partition tools print them); false for anything else or an overflow.
bool ParseOffset(const std::string& text, uint64_t* out);

}  // namespace vestrel::report
