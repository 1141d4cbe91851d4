#include "CommandLine.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>

namespace vestrel::report {

namespace {

// Help texts are cut to this width; option help starts at kHelpColumn.
constexpr size_t kWidth = 79;
constexpr size_t kHelpColumn = 28;

const OptionSpec kHelpOption{"-h,--help", "", "this text"};

// What the overview accepts before any command.
const std::vector<OptionSpec>& ProgramOptions() {
    static const std::vector<OptionSpec> options = {
        {"-h,--help", "", "this text; COMMAND --help: that command's own"},
        {"-V,--version", "", "the program's version"},
    };
    return options;
}

std::vector<std::string> Names(const std::string& names) {
    std::vector<std::string> out;
    size_t from = 0;
    for (;;) {
        const size_t comma = names.find(',', from);
        out.push_back(names.substr(from, comma - from));
        if (comma == std::string::npos) return out;
        from = comma + 1;
    }
}

// "-r, --recursive", "--format table|csv", with "/?" after the help names
// where the program takes it.
std::string Shown(const OptionSpec& option, bool slashHelp) {
    std::string text;
    for (const std::string& name : Names(option.names)) text += (text.empty() ? "" : ", ") + name;
    if (slashHelp && option.Key() == "--help") text += ", /?";
    if (!option.value.empty()) text += " " + option.value;
    return text;
}

// `text` broken at spaces into lines of at most kWidth - `indent` columns (a
// longer word stands alone), each but the first indented by `indent`.
std::string Wrapped(const std::string& text, size_t indent) {
    const size_t room = kWidth - indent;
    std::string out, line;
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find(' ', from);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(from, end - from);
        from = end + 1;
        if (word.empty()) continue;
        if (!line.empty() && line.size() + 1 + word.size() > room) {
            out += line + "\n" + std::string(indent, ' ');
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return out + line + "\n";
}

// One entry of a two-column list: the name at column 2, the help at
// `column` (on the next line when the name reaches it).
std::string Entry(const std::string& name, const std::string& help, size_t column) {
    std::string out = "  " + name;
    if (out.size() + 2 > column) {
        out += "\n" + std::string(column, ' ');
    } else {
        out += std::string(column - out.size(), ' ');
    }
    return out + Wrapped(help, column);
}

std::string OptionList(const std::vector<OptionSpec>& options, bool slashHelp) {
    std::string out = "options:\n";
    for (const OptionSpec& option : options) out += Entry(Shown(option, slashHelp), option.help, kHelpColumn);
    return out;
}

const CommandSpec* FindCommand(const ProgramSpec& program, const std::string& name) {
    for (const CommandSpec& command : program.commands) {
        if (command.name == name) return &command;
    }
    return nullptr;
}

const OptionSpec* FindOption(const std::vector<OptionSpec>& options, const std::string& name) {
    for (const OptionSpec& option : options) {
        const std::vector<std::string> names = Names(option.names);
        if (std::find(names.begin(), names.end(), name) != names.end()) return &option;
    }
    return nullptr;
}

CommandLine Usage(const ProgramSpec& program, const CommandSpec* command, const std::string& what) {
    CommandLine line;
    line.outcome = CommandLine::Outcome::Usage;
    line.command = command;
    line.err = UsageError(program, command, what);
    return line;
}

CommandLine Printed(CommandLine::Outcome outcome, const CommandSpec* command, const std::string& text) {
    CommandLine line;
    line.outcome = outcome;
    line.command = command;
    line.out = text;
    return line;
}

// A word the user typed, shown in a message that stays one line: control
// characters become '?'.
std::string Quoted(std::string word) {
    for (char& c : word) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return word;
}

// An unknown option as the user typed it, without a value given with "=".
std::string OptionWord(const std::string& word) {
    const size_t eq = word.find('=');
    return Quoted(word.compare(0, 2, "--") == 0 && eq != std::string::npos ? word.substr(0, eq) : word);
}

// Before any command: help, version, or what is wrong.
CommandLine ParseProgramOptions(const ProgramSpec& program, const std::vector<std::string>& words) {
    CLI::App app;
    app.set_help_flag();
    app.allow_extras();
    CLI::Option* help = app.add_flag(ProgramOptions()[0].names);
    CLI::Option* version = app.add_flag(ProgramOptions()[1].names);
    std::vector<std::string> reversed(words.rbegin(), words.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        return Usage(program, nullptr, Quoted(e.what()));
    }
    if (help->count() != 0) return Printed(CommandLine::Outcome::Help, nullptr, OverviewHelp(program));
    if (version->count() != 0) {
        return Printed(CommandLine::Outcome::Version, nullptr, program.name + " " + program.version + "\n");
    }
    for (const std::string& extra : app.remaining()) {
        if (extra == "--") break;
        if (extra.size() > 1 && extra[0] == '-') return Usage(program, nullptr, "unknown option " + OptionWord(extra));
    }
    return Usage(program, nullptr, "the command comes first: " + program.name + " COMMAND [options] ARGUMENTS");
}

CommandLine ParseCommand(const ProgramSpec& program, const CommandSpec& command, std::vector<std::string> words) {
    // Checked before CLI11 reads them: "--opt=" gives an empty value (CLI11
    // would take the next word); a flag given a value is refused rather than
    // read as true or false; every letter of "-rq" must be an option (CLI11
    // would make an operand of what follows an unknown one).
    bool valueNext = false;
    for (size_t i = 0; i < words.size() && words[i] != "--"; ++i) {
        const std::string& word = words[i];
        if (valueNext || word.size() < 2 || word[0] != '-') {
            valueNext = false;
            continue;
        }
        if (word[1] == '-') {
            const size_t eq = word.find('=');
            const OptionSpec* option = FindOption(command.options, word.substr(0, eq));
            if (option == nullptr) continue;
            if (option->value.empty()) {
                if (eq == std::string::npos) continue;
                return Usage(program, &command, command.name + ": option " + option->Key() + " takes no value");
            }
            if (eq == std::string::npos) {
                valueNext = true;
            } else if (eq + 1 == word.size()) {
                words[i].resize(eq);
                words.insert(words.begin() + long(i) + 1, std::string());
                ++i;
            }
            continue;
        }
        for (size_t k = 1; k < word.size(); ++k) {
            const std::string letter = std::string("-") + word[k];
            if (letter == "-h") continue;
            const OptionSpec* option = FindOption(command.options, letter);
            if (option == nullptr) {
                const bool plain = std::isalnum(static_cast<unsigned char>(word[k])) != 0;
                return Usage(program, &command, command.name + ": unknown option " + (plain ? letter : Quoted(word)));
            }
            if (!option->value.empty()) {
                valueNext = k + 1 == word.size();  // else the rest of the word is its value
                break;
            }
        }
    }
    CLI::App app(command.summary, program.name + " " + command.name);
    app.set_help_flag(kHelpOption.names);
    app.allow_extras();  // operands and unknown options are collected below
    std::vector<std::vector<std::string>> values(command.options.size());
    std::vector<CLI::Option*> added;
    for (size_t i = 0; i < command.options.size(); ++i) {
        const OptionSpec& option = command.options[i];
        if (option.value.empty()) {
            added.push_back(app.add_flag(option.names)->disable_flag_override());
        } else {
            // One value per occurrence, every occurrence kept.
            added.push_back(app.add_option(option.names, values[i])->allow_extra_args(false)->take_all());
        }
    }
    std::vector<std::string> reversed(words.rbegin(), words.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return Printed(CommandLine::Outcome::Help, &command, CommandHelp(program, command));
    } catch (const CLI::ArgumentMismatch& e) {
        // "--format: 1 required TEXT missing": the value is missing.
        const std::string what = Quoted(e.what());
        const OptionSpec* option = FindOption(command.options, what.substr(0, what.find(':')));
        return Usage(program, &command,
                     command.name + ": " + (option != nullptr ? "option " + option->Key() + " needs a value" : what));
    } catch (const CLI::ParseError& e) {
        return Usage(program, &command, command.name + ": " + Quoted(e.what()));
    }
    // The operands are what CLI11 leaves, in order, exactly as given (a
    // positional option of its own would make a list of a "[a,b]" word);
    // before "--", a word that looks like an option is one unknown.
    std::vector<std::string> operands;
    bool ended = false;
    for (const std::string& extra : app.remaining()) {
        if (!ended && extra == "--") {
            ended = true;
        } else if (!ended && extra.size() > 1 && extra[0] == '-') {
            return Usage(program, &command, command.name + ": unknown option " + OptionWord(extra));
        } else {
            operands.push_back(extra);
        }
    }
    CommandLine line;
    line.outcome = CommandLine::Outcome::Run;
    line.command = &command;
    for (size_t i = 0; i < command.options.size(); ++i) {
        const std::string key = command.options[i].Key();
        if (command.options[i].value.empty()) {
            if (added[i]->count() != 0) line.args.options[key] = "";
        } else if (!values[i].empty()) {
            line.args.options[key] = values[i].back();
            line.args.repeated[key] = values[i];
        }
    }
    line.args.operands = operands;
    return line;
}

}  // namespace

std::string OptionSpec::Key() const {
    const std::vector<std::string> all = Names(names);
    for (const std::string& name : all) {
        if (name.compare(0, 2, "--") == 0) return name;
    }
    return all.front();
}

CommandLine ParseCommandLine(const ProgramSpec& program, const std::vector<std::string>& given) {
    std::vector<std::string> words = given;
    if (program.slashHelp) {
        for (std::string& word : words) {
            if (word == "--") break;
            if (word == "/?") word = "--help";
        }
    }
    if (words.empty()) return Usage(program, nullptr, "no command given");
    const std::string& first = words[0];
    if (first == "help") {
        if (words.size() == 1) return Printed(CommandLine::Outcome::Help, nullptr, OverviewHelp(program));
        const CommandSpec* command = FindCommand(program, words[1]);
        if (command == nullptr) return Usage(program, nullptr, "unknown command '" + Quoted(words[1]) + "'");
        return Printed(CommandLine::Outcome::Help, command, CommandHelp(program, *command));
    }
    if (first.size() > 1 && first[0] == '-') return ParseProgramOptions(program, words);
    const CommandSpec* command = FindCommand(program, first);
    if (command == nullptr) return Usage(program, nullptr, "unknown command '" + Quoted(first) + "'");
    return ParseCommand(program, *command, std::vector<std::string>(words.begin() + 1, words.end()));
}

std::string UsageError(const ProgramSpec& program, const CommandSpec* command, const std::string& what) {
    return program.name + ": " + what + "\n" + TryHelp(program, command);
}

std::string TryHelp(const ProgramSpec& program, const CommandSpec* command) {
    const std::string help = command != nullptr ? program.name + " " + command->name + " --help" : program.name + " --help";
    return "Try '" + help + "' for more information.\n";
}

std::string OverviewHelp(const ProgramSpec& program) {
    std::string out = "usage: " + program.name + " COMMAND [options] ARGUMENTS\n";
    out += program.about;
    out += "\ncommands:\n";
    size_t column = 0;
    for (const CommandSpec& command : program.commands) column = std::max(column, command.name.size());
    column += 6;
    for (const CommandSpec& command : program.commands) out += Entry(command.name, command.summary, column);
    out += "\n" + OptionList(ProgramOptions(), program.slashHelp);
    if (!program.epilog.empty()) out += "\n" + program.epilog;
    return out;
}

std::string CommandHelp(const ProgramSpec& program, const CommandSpec& command) {
    std::string out = "usage: " + program.name + " " + command.name + (command.options.empty() ? "" : " [options]") +
                      (command.operands.empty() ? "" : " " + command.operands) + "\n";
    out += Wrapped(command.summary, 0);
    std::vector<OptionSpec> options = command.options;
    options.push_back(kHelpOption);
    return out + "\n" + OptionList(options, program.slashHelp);
}

std::string FullHelp(const ProgramSpec& program) {
    std::string out = OverviewHelp(program);
    for (const CommandSpec& command : program.commands) out += "\n" + CommandHelp(program, command);
    return out;
}

}  // namespace vestrel::report
