// Any command line (words split at NUL bytes) for both programs' tables: the
// parser ends with one defined outcome, a usage error is exactly its two
// lines, and what it hands a command body came from the words given.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "CliOptions.h"
#include "CommandLine.h"
#include "NtfsOptions.h"

using namespace vestrel::report;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words;
    if (size != 0) words.emplace_back();
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.emplace_back();
        } else {
            words.back().push_back(char(data[i]));
        }
    }
    for (const ProgramSpec* program : {&vestrel::cli::CliProgram(), &vestrel::ntfs::NtfsProgram()}) {
        const CommandLine line = ParseCommandLine(*program, words);
        switch (line.outcome) {
            case CommandLine::Outcome::Usage: {
                const std::string& e = line.err;
                const size_t first = e.find('\n');
                if (e.compare(0, program->name.size() + 2, program->name + ": ") != 0 || first == std::string::npos ||
                    e.compare(first + 1, 5, "Try '") != 0 || e.find('\n', first + 1) != e.size() - 1 ||
                    !line.out.empty())
                    std::abort();
                break;
            }
            case CommandLine::Outcome::Help:
                if (line.out.compare(0, 7, "usage: ") != 0 || !line.err.empty()) std::abort();
                break;
            case CommandLine::Outcome::Version:
                if (line.out != program->name + " " + program->version + "\n") std::abort();
                break;
            case CommandLine::Outcome::Run: {
                if (line.command == nullptr || words.empty() || words[0] != line.command->name) std::abort();
                // Every operand and option value is one of the words (or the
                // empty value of "--opt=").
                auto given = [&](const std::string& s) {
                    for (size_t i = 1; i < words.size(); ++i) {
                        const std::string& w = words[i];
                        if (w == s || (w.size() > s.size() && w.compare(w.size() - s.size(), s.size(), s) == 0)) return true;
                    }
                    return s.empty();
                };
                for (const std::string& operand : line.args.operands)
                    if (!given(operand)) std::abort();
                for (const auto& option : line.args.repeated)
                    for (const std::string& value : option.second)
                        if (!given(value)) std::abort();
                break;
            }
        }
    }
    return 0;
}
