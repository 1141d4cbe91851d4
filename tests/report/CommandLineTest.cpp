// The command layer of both console programs: what each command accepts and
// refuses, the usage error's two lines, and help texts that list exactly the
// options a command's table holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "CliOptions.h"
#include "CommandLine.h"
#include "NtfsOptions.h"

namespace vestrel::report {
namespace {

using Outcome = CommandLine::Outcome;

const ProgramSpec& Program(bool slashHelp) {
    static const auto make = [](bool slash) {
        return ProgramSpec{"prog",
                           "9.9",
                           "Does things.\n",
                           "exit status: 0 or 2.\n",
                           {{"list",
                             "PATH...",
                             "lists",
                             {{"-r,--recursive", "", "deep"},
                              {"-q,--quiet", "", "silent"},
                              {"-a,--all", "", "everything"},
                              {"--format", "csv|jsonl", "how"},
                              {"--name", "GLOB", "which (repeatable)"},
                              {"--to", "DIR", "where"}}},
                            {"cat", "FILE", "prints", {}}},
                           slash};
    };
    static const ProgramSpec plain = make(false), slash = make(true);
    return slashHelp ? slash : plain;
}

std::string Try(const std::string& command) {
    return "Try 'prog " + (command.empty() ? "" : command + " ") + "--help' for more information.\n";
}

// One line per option given ("--name=a,b") then the operands ("[x][y]").
std::string Dump(const ParsedArgs& args) {
    std::string out;
    for (const auto& option : args.options) {
        out += option.first;
        const std::vector<std::string> values = args.Values(option.first);
        for (size_t i = 0; i < values.size(); ++i) out += (i == 0 ? "=" : ",") + values[i];
        out += " ";
    }
    for (const std::string& operand : args.operands) out += "[" + operand + "]";
    return out;
}

TEST(CommandLine, ReadsBundlesValuesRepeatsAndTheEndOfOptions) {
    struct Case {
        std::vector<std::string> words;
        std::string parsed;
    };
    const Case cases[] = {
        {{"list", "-rq", "x"}, "--quiet --recursive [x]"},
        {{"list", "-ra", "x"}, "--all --recursive [x]"},
        {{"list", "-r", "-q", "x"}, "--quiet --recursive [x]"},
        {{"list", "x", "-r"}, "--recursive [x]"},
        {{"list", "--format=csv", "x"}, "--format=csv [x]"},
        {{"list", "--format", "csv", "x"}, "--format=csv [x]"},
        {{"list", "--format=", "x"}, "--format= [x]"},
        {{"list", "--format", "", "x"}, "--format= [x]"},
        {{"list", "--to", "a=b", "x"}, "--to=a=b [x]"},
        {{"list", "--name", "a", "--name=b", "x", "--name", "c"}, "--name=a,b,c [x]"},
        {{"list", "--format", "csv", "--format=jsonl"}, "--format=csv,jsonl "},
        {{"list", "x", "--", "-r", "--format", "--"}, "[x][-r][--format][--]"},
        {{"list", "--", "--help"}, "[--help]"},
        {{"list", "-", "y", "--", "-1"}, "[-][y][-1]"},
        {{"list", "--to", "-rx", "y"}, "--to=-rx [y]"},
        {{"list", "--to=--", "y"}, "--to=-- [y]"},
        {{"list", "--name", "-1"}, "--name=-1 "},
        {{"list", "[a,b]", "[draft].txt", "--name", "[x,y]"}, "--name=[x,y] [[a,b]][[draft].txt]"},
        {{"list", "x", "--", "--", "[a]"}, "[x][--][[a]]"},
        {{"cat"}, ""},
        {{"cat", "a:b", "c"}, "[a:b][c]"},
    };
    for (const Case& c : cases) {
        const CommandLine line = ParseCommandLine(Program(false), c.words);
        std::string joined;
        for (const std::string& w : c.words) joined += w + " ";
        ASSERT_EQ(line.outcome, Outcome::Run) << joined << line.err;
        EXPECT_EQ(line.command->name, c.words[0]);
        EXPECT_EQ(Dump(line.args), c.parsed) << joined;
    }
    // What the command bodies read: the last value, every value, flags.
    const CommandLine line = ParseCommandLine(Program(false), {"list", "--format", "csv", "--format=jsonl", "-r"});
    EXPECT_EQ(line.args.Value("--format"), "jsonl");
    EXPECT_EQ(line.args.Values("--format"), (std::vector<std::string>{"csv", "jsonl"}));
    EXPECT_TRUE(line.args.Has("--recursive"));
    EXPECT_FALSE(line.args.Has("--all"));
    EXPECT_EQ(line.args.Value("--to", "fallback"), "fallback");
}

TEST(CommandLine, AUsageErrorIsTwoLinesNamingWhatIsWrongAndWhereHelpIs) {
    struct Case {
        std::vector<std::string> words;
        std::string what;
        std::string command;  // whose help the second line points to
    };
    const Case cases[] = {
        {{"cat", "--recursive", "x"}, "cat: unknown option --recursive", "cat"},
        {{"cat", "-r", "x"}, "cat: unknown option -r", "cat"},
        {{"cat", "x", "--format=csv"}, "cat: unknown option --format", "cat"},
        {{"list", "-rx", "y"}, "list: unknown option -x", "list"},
        {{"list", "-rq--to", "y"}, "list: unknown option -rq--to", "list"},
        {{"list", "-r=1", "y"}, "list: unknown option -r=1", "list"},
        {{"list", "-1", "y"}, "list: unknown option -1", "list"},
        {{"list", "--bogus=1", "y"}, "list: unknown option --bogus", "list"},
        {{"list", "--Recursive", "y"}, "list: unknown option --Recursive", "list"},
        {{"list", "--recurse", "y"}, "list: unknown option --recurse", "list"},
        {{"list", "-V", "y"}, "list: unknown option -V", "list"},
        {{"list", "--format"}, "list: option --format needs a value", "list"},
        {{"list", "y", "-r", "--to"}, "list: option --to needs a value", "list"},
        {{"list", "--recursive=yes", "y"}, "list: option --recursive takes no value", "list"},
        {{"list", "--recursive=", "y"}, "list: option --recursive takes no value", "list"},
        {{"list", "--quiet=true", "y"}, "list: option --quiet takes no value", "list"},
        {{}, "no command given", ""},
        {{"frob", "x"}, "unknown command 'frob'", ""},
        {{"List"}, "unknown command 'List'", ""},
        {{"l\nx\r"}, "unknown command 'l?x?'", ""},  // a message stays one line
        {{"list", "--a\nb"}, "list: unknown option --a?b", "list"},
        {{"help", "frob"}, "unknown command 'frob'", ""},
        {{"--bogus"}, "unknown option --bogus", ""},
        {{"-r", "list", "x"}, "unknown option -r", ""},
        {{"--", "list", "x"}, "the command comes first: prog COMMAND [options] ARGUMENTS", ""},
        {{"/?"}, "unknown command '/?'", ""},  // only where the program takes it
    };
    for (const Case& c : cases) {
        const CommandLine line = ParseCommandLine(Program(false), c.words);
        std::string joined;
        for (const std::string& w : c.words) joined += w + " ";
        ASSERT_EQ(line.outcome, Outcome::Usage) << joined;
        EXPECT_EQ(line.err, "prog: " + c.what + "\n" + Try(c.command)) << joined;
        EXPECT_EQ(line.out, "");
    }
    EXPECT_EQ(UsageError(Program(false), nullptr, "x"), "prog: x\n" + Try(""));
}

TEST(CommandLine, HelpIsTheOverviewOrOneCommandsAndVersionIsOneLine) {
    struct Case {
        std::vector<std::string> words;
        bool slashHelp;
        const char* command;  // null: the overview
    };
    const Case cases[] = {
        {{"--help"}, false, nullptr},        {{"-h"}, false, nullptr},
        {{"help"}, false, nullptr},          {{"-h", "list"}, false, nullptr},
        {{"/?"}, true, nullptr},             {{"list", "--help"}, false, "list"},
        {{"list", "-h"}, false, "list"},     {{"list", "x", "-rh"}, false, "list"},
        {{"help", "list"}, false, "list"},   {{"cat", "--help"}, false, "cat"},
        {{"cat", "/?"}, true, "cat"},        {{"list", "x", "/?"}, true, "list"},
    };
    for (const Case& c : cases) {
        const ProgramSpec& program = Program(c.slashHelp);
        const CommandLine line = ParseCommandLine(program, c.words);
        ASSERT_EQ(line.outcome, Outcome::Help) << c.words[0];
        EXPECT_EQ(line.out, c.command == nullptr ? OverviewHelp(program)
                                                 : CommandHelp(program, *line.command));
        if (c.command != nullptr) {
            EXPECT_EQ(line.command->name, c.command);
        }
        EXPECT_EQ(line.err, "");
    }
    // "/?" after "--" is an operand, as is "/?" where the program does not take it.
    const CommandLine operand = ParseCommandLine(Program(true), {"cat", "--", "/?"});
    ASSERT_EQ(operand.outcome, Outcome::Run);
    EXPECT_EQ(operand.args.operands, (std::vector<std::string>{"/?"}));
    EXPECT_EQ(ParseCommandLine(Program(false), {"cat", "/?"}).args.operands, (std::vector<std::string>{"/?"}));
    for (const char* v : {"-V", "--version"}) {
        const CommandLine line = ParseCommandLine(Program(false), {v});
        ASSERT_EQ(line.outcome, Outcome::Version) << v;
        EXPECT_EQ(line.out, "prog 9.9\n");
    }
}

TEST(CommandLine, HelpTextsAreWrittenFromTheTable) {
    const ProgramSpec& program = Program(true);
    EXPECT_EQ(CommandHelp(program, program.commands[0]),
              "usage: prog list [options] PATH...\n"
              "lists\n"
              "\n"
              "options:\n"
              "  -r, --recursive           deep\n"
              "  -q, --quiet               silent\n"
              "  -a, --all                 everything\n"
              "  --format csv|jsonl        how\n"
              "  --name GLOB               which (repeatable)\n"
              "  --to DIR                  where\n"
              "  -h, --help, /?            this text\n");
    EXPECT_EQ(CommandHelp(program, program.commands[1]),
              "usage: prog cat FILE\nprints\n\noptions:\n  -h, --help, /?            this text\n");
    EXPECT_EQ(OverviewHelp(program),
              "usage: prog COMMAND [options] ARGUMENTS\n"
              "Does things.\n"
              "\n"
              "commands:\n"
              "  list    lists\n"
              "  cat     prints\n"
              "\n"
              "options:\n"
              "  -h, --help, /?            this text; COMMAND --help: that command's own\n"
              "  -V, --version             the program's version\n"
              "\n"
              "exit status: 0 or 2.\n");
    EXPECT_EQ(FullHelp(program), OverviewHelp(program) + "\n" + CommandHelp(program, program.commands[0]) + "\n" +
                                     CommandHelp(program, program.commands[1]));
}

// Every name on an entry line of a help text ("  -r, --recursive   ...").
std::set<std::string> OptionsShown(const std::string& help) {
    std::set<std::string> names;
    std::istringstream lines(help);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, 3, "  -") != 0) continue;
        std::istringstream words(line);
        std::string word;
        while (words >> word && (word[0] == '-' || word == "/?")) {
            if (word.back() == ',') word.pop_back();
            names.insert(word);
            if (line.find(word + ", ") == std::string::npos && line.find(word + ",") == std::string::npos) break;
        }
    }
    return names;
}

std::vector<std::string> Split(const std::string& names) {
    std::vector<std::string> out;
    std::istringstream in(names);
    std::string name;
    while (std::getline(in, name, ',')) out.push_back(name);
    return out;
}

// Both programs' real tables: each option documented is accepted by its
// command, each command's help shows exactly its table, and an option of
// another command is refused.
TEST(CommandLine, EachProgramsCommandsAcceptExactlyWhatTheirHelpShows) {
    for (const ProgramSpec* program : {&cli::CliProgram(), &ntfs::NtfsProgram()}) {
        std::set<std::string> everyOption;
        for (const CommandSpec& command : program->commands) {
            for (const OptionSpec& option : command.options) {
                for (const std::string& name : Split(option.names)) everyOption.insert(name);
            }
        }
        for (const CommandSpec& command : program->commands) {
            const std::string help = CommandHelp(*program, command);
            std::set<std::string> table = {"-h", "--help"};
            if (program->slashHelp) table.insert("/?");
            for (const OptionSpec& option : command.options) {
                for (const std::string& name : Split(option.names)) {
                    table.insert(name);
                    std::vector<std::string> words = {command.name, name};
                    if (!option.value.empty()) words.push_back("v1");
                    words.push_back("operand");
                    const CommandLine line = ParseCommandLine(*program, words);
                    ASSERT_EQ(line.outcome, Outcome::Run) << program->name << " " << command.name << " " << name
                                                          << "\n" << line.err;
                    EXPECT_TRUE(line.args.Has(option.Key())) << name;
                    EXPECT_EQ(line.args.Value(option.Key(), "absent"), option.value.empty() ? "" : "v1");
                    EXPECT_EQ(line.args.operands, (std::vector<std::string>{"operand"}));
                }
            }
            EXPECT_EQ(OptionsShown(help), table) << program->name << " " << command.name << "\n" << help;
            EXPECT_EQ(help.rfind("usage: " + program->name + " " + command.name + " ", 0), 0u) << help;
            for (const std::string& other : everyOption) {
                if (table.count(other) != 0) continue;
                const CommandLine line = ParseCommandLine(*program, {command.name, other, "operand"});
                EXPECT_EQ(line.outcome, Outcome::Usage) << program->name << " " << command.name << " " << other;
                EXPECT_EQ(line.err, program->name + ": " + command.name + ": unknown option " + other + "\nTry '" +
                                        program->name + " " + command.name + " --help' for more information.\n");
            }
        }
        // Every help text fits 79 columns and is ASCII (the release's
        // README.txt quotes vestrel-cli's as such); the overview names every
        // command.
        std::istringstream lines(FullHelp(*program));
        std::string line;
        while (std::getline(lines, line)) {
            EXPECT_LE(line.size(), 79u) << program->name << ": " << line;
            EXPECT_TRUE(std::all_of(line.begin(), line.end(), [](char c) { return c > 0 && c < 0x7f; }))
                << program->name << ": " << line;
        }
        const std::string overview = OverviewHelp(*program);
        for (const CommandSpec& command : program->commands)
            EXPECT_NE(overview.find("\n  " + command.name + " "), std::string::npos) << command.name;
    }
}

TEST(CommandLine, TheTwoProgramsRefuseListOnlyOptionsInCat) {
    const CommandLine ntfs = ParseCommandLine(ntfs::NtfsProgram(), {"cat", "--recursive", "img", "\\a:s"});
    EXPECT_EQ(ntfs.err, "vestrel-ntfs: cat: unknown option --recursive\n"
                        "Try 'vestrel-ntfs cat --help' for more information.\n");
    const CommandLine cli = ParseCommandLine(cli::CliProgram(), {"cat", "--recursive", "a:s"});
    EXPECT_EQ(cli.err, "vestrel-cli: cat: unknown option --recursive\n"
                       "Try 'vestrel-cli cat --help' for more information.\n");
    EXPECT_EQ(ParseCommandLine(cli::CliProgram(), {"/?"}).out, OverviewHelp(cli::CliProgram()));
    EXPECT_EQ(ParseCommandLine(ntfs::NtfsProgram(), {"/?"}).outcome, Outcome::Usage);
}

}  // namespace
}  // namespace vestrel::report
