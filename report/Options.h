// The command line: options with and without values, and the values users
// give them (byte counts, offsets in bytes or sectors).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vestrel::report {

// Options a command accepts: flags ("-r", "--all") and options with a value
// ("--format csv", "--format=csv", "--to DIR"). Short aliases map to a long
// name ("-r" -> "--recursive"). "--" ends the options.
struct AcceptedOptions {
    std::vector<std::string> flags;         // long names, e.g. "--all"
    std::vector<std::string> valued;        // long names, e.g. "--format"
    std::map<std::string, std::string> aliases;  // e.g. {"-r", "--recursive"}
};
struct ParsedArgs {
    std::map<std::string, std::string> options;  // long name -> last value ("" for a flag)
    std::map<std::string, std::vector<std::string>> repeated;  // long name -> every value, in order
    std::vector<std::string> operands;           // in order
    std::string error;                           // non-empty: what is wrong
    bool Has(const std::string& name) const { return options.count(name) != 0; }
    std::string Value(const std::string& name, const std::string& fallback = "") const;
    std::vector<std::string> Values(const std::string& name) const;
};
ParsedArgs ParseArgs(const std::vector<std::string>& args, const AcceptedOptions& accepted);

// A decimal count of bytes, at most 2^64-1; false for anything else.
bool ParseByteCount(const std::string& text, uint64_t* out);
// An offset in bytes ("1048576") or in 512-byte sectors ("2048s", as
// partition tools print them); false for anything else or an overflow.
bool ParseOffset(const std::string& text, uint64_t* out);

}  // namespace vestrel::report
