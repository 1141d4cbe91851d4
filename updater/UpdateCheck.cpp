#include "UpdateCheck.h"

namespace korvane_update {

namespace {

const std::size_t kMaxVersionParts = 8;
const std::size_t kMaxVersionDigits = 9;  // fits an unsigned long everywhere
const std::size_t kMaxCodeChars = 32;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(char c) { return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

std::string Trim(const std::string& s) {
    std::size_t begin = 0, end = s.size();
    while (begin < end && (s[begin] == ' ' || s[begin] == '\t')) ++begin;
    while (end > begin && (s[end - 1] == ' ' || s[end - 1] == '\t')) --end;
    return s.substr(begin, end - begin);
}

// Arguments are wide; the codes and versions they carry are plain ASCII.
bool ToAscii(const std::wstring& w, std::string* out) {
    std::string s;
    for (wchar_t c : w) {
        if (c <= 0x20 || c >= 0x7F) return false;
        s.push_back(static_cast<char>(c));
    }
    *out = s;
    return true;
}

bool IsCatalogueCode(const std::string& code) {
    if (code.empty() || code.size() > kMaxCodeChars) return false;
    for (char c : code) {
        if (!IsAlnum(c)) return false;
    }
    return true;
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
    std::vector<std::wstring> args;
    std::size_t i = 0, n = commandLine.size();

    // The program name: up to the first blank, or inside quotes.
    std::wstring program;
    bool quoted = false;
    for (; i < n; ++i) {
        wchar_t c = commandLine[i];
        if (c == L'"') {
            quoted = !quoted;
        } else if (!quoted && IsBlank(c)) {
            break;
        } else {
            program.push_back(c);
        }
    }
    args.push_back(program);

    for (;;) {
        while (i < n && IsBlank(commandLine[i])) ++i;
        if (i >= n) break;
        std::wstring arg;
        bool inQuotes = false;
        while (i < n && (inQuotes || !IsBlank(commandLine[i]))) {
            std::size_t slashes = 0;
            while (i < n && commandLine[i] == L'\\') {
                ++slashes;
                ++i;
            }
            if (i < n && commandLine[i] == L'"') {
                arg.append(slashes / 2, L'\\');
                if (slashes % 2 == 1) {
                    arg.push_back(L'"');
                } else if (inQuotes && i + 1 < n && commandLine[i + 1] == L'"') {
                    // "" inside quotes is a literal quote.
                    arg.push_back(L'"');
                    ++i;
                } else {
                    inQuotes = !inQuotes;
                }
                ++i;
            } else {
                arg.append(slashes, L'\\');
                if (i < n && (inQuotes || !IsBlank(commandLine[i]))) arg.push_back(commandLine[i++]);
            }
        }
        args.push_back(arg);
    }
    return args;
}

bool ParseVersion(const std::string& text, std::vector<unsigned long>* out) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == 'v' || text[i] == 'V')) ++i;
    std::vector<unsigned long> parts;
    for (;;) {
        std::size_t start = i;
        unsigned long value = 0;
        while (i < text.size() && IsDigit(text[i])) {
            if (i - start >= kMaxVersionDigits) return false;
            value = value * 10 + static_cast<unsigned long>(text[i] - '0');
            ++i;
        }
        if (i == start) return false;
        parts.push_back(value);
        if (parts.size() > kMaxVersionParts) return false;
        if (i == text.size()) break;
        if (text[i] != '.') return false;
        ++i;
    }
    *out = parts;
    return true;
}

int CompareVersions(const std::vector<unsigned long>& a, const std::vector<unsigned long>& b) {
    std::size_t n = a.size() > b.size() ? a.size() : b.size();
    for (std::size_t k = 0; k < n; ++k) {
        unsigned long x = k < a.size() ? a[k] : 0;
        unsigned long y = k < b.size() ? b[k] : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

bool FindManifestEntry(const std::string& manifest, const std::string& code, ManifestEntry* entry) {
    std::size_t pos = 0;
    if (manifest.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;

    bool inSection = false, found = false;
    bool haveLatest = false;
    ManifestEntry result;
    while (pos < manifest.size()) {
        std::size_t end = manifest.find('\n', pos);
        if (end == std::string::npos) end = manifest.size();
        std::string line = manifest.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        for (char c : line) {
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return false;
        }
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;

        if (line[0] == '[') {
            if (line.back() != ']') return false;
            std::string section = Trim(line.substr(1, line.size() - 2));
            if (!IsCatalogueCode(section)) return false;
            inSection = EqualNoCase(section, code);
            found = found || inSection;
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) return false;
        std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        if (!inSection) continue;  // another tool's entry (or none yet)
        if (EqualNoCase(key, "latest")) {
            result.strLatest = value;
            haveLatest = true;
        } else if (EqualNoCase(key, "urgent")) {
            if (value == "1") {
                result.bUrgent = true;
            } else if (value == "0") {
                result.bUrgent = false;
            } else {
                return false;
            }
        }
        // Other keys are for later updaters; this one passes over them.
    }
    std::vector<unsigned long> version;
    if (!found || !haveLatest || !ParseVersion(result.strLatest, &version)) return false;
    *entry = result;
    return true;
}

int DecideExitCode(const std::vector<std::wstring>& args, const std::string* manifest) {
    // program, catalogue code, version, and the calling program's file name
    // (one or more pieces: the caller does not quote it).
    if (args.size() < 4 || manifest == nullptr || manifest->size() > kMaxManifestBytes) {
        return kNothingToDo;
    }
    std::string code, installedText;
    if (!ToAscii(args[1], &code) || !IsCatalogueCode(code)) return kNothingToDo;
    std::vector<unsigned long> installed, latest;
    if (!ToAscii(args[2], &installedText) || !ParseVersion(installedText, &installed)) {
        return kNothingToDo;
    }
    if (args[3].empty()) return kNothingToDo;

    ManifestEntry entry;
    if (!FindManifestEntry(*manifest, code, &entry)) return kNothingToDo;
    ParseVersion(entry.strLatest, &latest);
    if (CompareVersions(latest, installed) <= 0) return kNothingToDo;
    return entry.bUrgent ? kUpdateUrgent : kUpdateAvailable;
}

}  // namespace korvane_update
