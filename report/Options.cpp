#include "Options.h"

namespace vestrel::report {

std::string ParsedArgs::Value(const std::string& name, const std::string& fallback) const {
    const auto it = options.find(name);
    return it == options.end() ? fallback : it->second;
}

std::vector<std::string> ParsedArgs::Values(const std::string& name) const {
    const auto it = repeated.find(name);
    return it == repeated.end() ? std::vector<std::string>() : it->second;
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
