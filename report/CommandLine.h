// The command line of both console programs. Each command's options are one
// table (names, value name, one line of help); the parser (CLI11) is set up
// from it and the help texts are written from it, so no option is accepted
// without being documented, nor documented without being accepted.
#pragma once
#include <string>
#include <vector>

#include "Options.h"

namespace vestrel::report {

struct OptionSpec {
    std::string names;  // a short and/or a long name: "-r,--recursive", "--format"
    std::string value;  // what the value is called ("DIR", "csv|jsonl"); empty for a flag
    std::string help;   // one line; the help text wraps it

    // The name the command bodies ask for: the long one ("--recursive").
    std::string Key() const;
};

struct CommandSpec {
    std::string name;      // "list"
    std::string operands;  // after the options in the synopsis: "SOURCE [PATH]"
    std::string summary;   // one line: the overview's entry and the help's heading
    std::vector<OptionSpec> options;
};

struct ProgramSpec {
    std::string name;     // "vestrel-ntfs"
    std::string version;  // printed by --version
    std::string about;    // prose under the overview's synopsis
    std::string epilog;   // prose ending the overview (the exit statuses)
    std::vector<CommandSpec> commands;
    bool slashHelp = false;  // "/?" asks for help, as Windows programs take it
};

struct CommandLine {
    enum class Outcome { Run, Help, Version, Usage };
    Outcome outcome = Outcome::Usage;
    const CommandSpec* command = nullptr;  // the command named, when one was recognised
    ParsedArgs args;                       // Run: what the command body reads
    std::string out;                       // Help, Version: the text for standard output
    std::string err;                       // Usage: the two lines for standard error
};

// Reads `words` (the arguments after the program's name): a command and its
// options and operands, or the overview's -h/--help/help, or -V/--version.
// "-rq" is "-r -q"; "--opt=value" and "--opt value" are the same; a repeated
// option keeps every value in order; "--" ends the options.
CommandLine ParseCommandLine(const ProgramSpec& program, const std::vector<std::string>& words);

// A usage error as both programs print it: "PROGRAM: WHAT\n" and where to
// read more (the command's help when one was recognised, else the overview's).
std::string UsageError(const ProgramSpec& program, const CommandSpec* command, const std::string& what);
// Its second line alone, for a usage error already said in lines of its own.
std::string TryHelp(const ProgramSpec& program, const CommandSpec* command);

std::string OverviewHelp(const ProgramSpec& program);
std::string CommandHelp(const ProgramSpec& program, const CommandSpec& command);
// The overview, then every command's help, each after an empty line.
std::string FullHelp(const ProgramSpec& program);

}  // namespace vestrel::report
