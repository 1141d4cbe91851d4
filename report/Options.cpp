#include "Options.h"

#include <algorithm>

namespace vestrel::report {

std::string ParsedArgs::Value(const std::string& name, const std::string& fallback) const {
    const auto it = options.find(name);
    return it == options.end() ? fallback : it->second;
}

std::vector<std::string> ParsedArgs::Values(const std::string& name) const {
    const auto it = repeated.find(name);
    return it == repeated.end() ? std::vector<std::string>() : it->second;
}

ParsedArgs ParseArgs(const std::vector<std::string>& args, const AcceptedOptions& accepted) {
    ParsedArgs parsed;
    auto listed = [](const std::vector<std::string>& names, const std::string& n) {
        return std::find(names.begin(), names.end(), n) != names.end();
    };
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg, value;
        bool hasValue = false;
        const size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }
        const auto alias = accepted.aliases.find(name);
        if (alias != accepted.aliases.end()) name = alias->second;
        if (listed(accepted.flags, name)) {
            if (hasValue) {
                parsed.error = "option " + name + " takes no value";
                return parsed;
            }
            parsed.options[name] = "";
        } else if (listed(accepted.valued, name)) {
            if (!hasValue) {
                if (i + 1 >= args.size()) {
                    parsed.error = "option " + name + " needs a value";
                    return parsed;
                }
                value = args[++i];
            }
            parsed.options[name] = value;
            parsed.repeated[name].push_back(value);
        } else {
            parsed.error = "unknown option: " + arg;
            return parsed;
        }
    }
    return parsed;
}

bool ParseByteCount(const std::string& text, uint64_t* out) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = uint64_t(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    *out = value;
    return true;
}

bool ParseOffset(const std::string& text, uint64_t* out) {
    constexpr uint64_t kSector = 512;
    if (!text.empty() && (text.back() == 's' || text.back() == 'S')) {
        uint64_t sectors = 0;
        if (!ParseByteCount(text.substr(0, text.size() - 1), &sectors) || sectors > UINT64_MAX / kSector) return false;
        *out = sectors * kSector;
        return true;
    }
    return ParseByteCount(text, out);
}

}  // namespace vestrel::report
