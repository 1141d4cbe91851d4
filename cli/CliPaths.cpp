#include "CliPaths.h"

#include <vector>

#include "Names.h"

namespace vestrel::cli {
namespace {

const std::u16string kExtended = u"\\\\?\\";
const std::u16string kExtendedUnc = u"\\\\?\\UNC\\";

bool IsSep(char16_t c) { return c == u'\\' || c == u'/'; }
bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }
bool HasDrive(const std::u16string& p) { return p.size() >= 2 && IsLetter(p[0]) && p[1] == u':'; }

bool StartsWith(const std::u16string& s, const std::u16string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool EqualsAsciiNoCase(const std::u16string& a, const char* b) {
    size_t i = 0;
    for (; b[i] != '\0'; ++i) {
        if (i >= a.size() || Upper(a[i]) != Upper(char16_t(b[i]))) return false;
    }
    return i == a.size();
}

std::vector<std::u16string> Components(const std::u16string& text) {
    std::vector<std::u16string> out;
    std::u16string part;
    for (char16_t c : text) {
        if (IsSep(c)) {
            if (!part.empty()) out.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty()) out.push_back(part);
    return out;
}

// Resolves "." and ".." of `rest` onto `parts`; ".." never climbs above the root.
void Resolve(std::vector<std::u16string>& parts, const std::u16string& rest) {
    for (const std::u16string& c : Components(rest)) {
        if (c == u".") continue;
        if (c == u"..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(c);
    }
}

// An absolute path split into its root ("C:\" or "\\server\share") and the
// components below it. False when it is not absolute.
bool SplitAbsolute(const std::u16string& path, std::u16string* root, std::vector<std::u16string>* parts) {
    if (HasDrive(path) && path.size() >= 3 && IsSep(path[2])) {
        *root = std::u16string(1, Upper(path[0])) + u":\\";
        *parts = Components(path.substr(3));
        return true;
    }
    if (path.size() >= 2 && IsSep(path[0]) && IsSep(path[1])) {
        std::vector<std::u16string> all = Components(path.substr(2));
        if (all.size() < 2 || all[0] == u"." || all[0] == u"?") return false;
        *root = u"\\\\" + all[0] + u"\\" + all[1];
        parts->assign(all.begin() + 2, all.end());
        return true;
    }
    return false;
}

std::u16string Join(const std::u16string& root, const std::vector<std::u16string>& parts) {
    std::u16string out = root;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (out.back() != u'\\') out.push_back(u'\\');
        out += parts[i];
    }
    return out;
}

}  // namespace

std::u16string AbsolutePath(const std::u16string& typed, const std::u16string& currentDir) {
    if (typed.empty()) return {};
    // Already extended: the user asked for the name exactly as written.
    if (StartsWith(typed, kExtended)) return typed;
    if (typed.size() >= 4 && IsSep(typed[0]) && IsSep(typed[1]) && (typed[2] == u'.' || typed[2] == u'?') &&
        IsSep(typed[3])) {
        return {};  // device namespace: not a file
    }

    std::u16string root;
    std::vector<std::u16string> parts;
    if (SplitAbsolute(typed, &root, &parts)) {
        std::vector<std::u16string> resolved;
        Resolve(resolved, Join(u"\\", parts));
        return Join(root, resolved);
    }
    if (typed.size() >= 2 && IsSep(typed[0]) && IsSep(typed[1])) return {};  // share without its name

    std::u16string baseRoot;
    std::vector<std::u16string> base;
    if (!SplitAbsolute(currentDir, &baseRoot, &base)) return {};
    std::u16string rest = typed;
    if (HasDrive(typed)) {
        // "C:x": relative to the current directory when that is on drive C,
        // else to the root of C.
        const std::u16string drive = std::u16string(1, Upper(typed[0])) + u":\\";
        if (drive != baseRoot) {
            baseRoot = drive;
            base.clear();
        }
        rest = typed.substr(2);
    } else if (IsSep(typed[0])) {
        base.clear();  // "\x": the current drive's (or share's) root
    }
    Resolve(base, rest);
    return Join(baseRoot, base);
}

std::u16string ExtendedPath(const std::u16string& absolute) {
    if (StartsWith(absolute, kExtended)) return absolute;
    if (absolute.size() >= 2 && absolute[0] == u'\\' && absolute[1] == u'\\')
        return kExtendedUnc + absolute.substr(2);
    return kExtended + absolute;
}

std::u16string DisplayPath(const std::u16string& extended) {
    if (StartsWith(extended, kExtendedUnc)) return u"\\\\" + extended.substr(kExtendedUnc.size());
    if (StartsWith(extended, kExtended)) return extended.substr(kExtended.size());
    return extended;
}

std::u16string PathUnderRootsParent(const std::u16string& root, const std::u16string& child) {
    std::u16string top = root;
    while (top.size() > 1 && top.back() == u'\\' && top[top.size() - 2] != u':') top.pop_back();
    if (!StartsWith(child, top)) return {};
    const bool rootIsDriveRoot = top.size() >= 2 && top.back() == u'\\';
    std::u16string below;
    if (rootIsDriveRoot) {
        below = child.substr(top.size());
    } else {
        if (child.size() > top.size() && child[top.size()] != u'\\') return {};  // "C:\ab" is not under "C:\a"
        below = child.substr(std::min(child.size(), top.size() + 1));
    }
    std::u16string name;
    if (rootIsDriveRoot) {
        // "\\?\C:\" or "C:\": the drive letter names the top.
        const size_t colon = top.rfind(u':');
        name = colon != std::u16string::npos && colon > 0 ? top.substr(colon - 1, 1) : u"root";
    } else {
        const size_t slash = top.find_last_of(u'\\');
        name = slash == std::u16string::npos ? top : top.substr(slash + 1);
    }
    return below.empty() ? name : name + u"\\" + below;
}

StreamPath ParseStreamPath(const std::u16string& typed) {
    StreamPath out;
    size_t start = 0;
    const size_t lastSep = typed.find_last_of(u"\\/");
    if (lastSep != std::u16string::npos) start = lastSep + 1;
    // A drive letter's colon is not a stream separator: "C:a.txt:s", "C:\x".
    if (lastSep == std::u16string::npos && HasDrive(typed)) start = 2;
    if (StartsWith(typed, kExtended) && lastSep == std::u16string::npos) start = kExtended.size();

    const size_t colon = typed.find(u':', start);
    if (colon == std::u16string::npos) {
        out.error = "names no stream (write FILE:STREAM)";
        return out;
    }
    out.file = typed.substr(0, colon);
    std::u16string rest;
    // The rule vestrel-ntfs takes too: an optional type that is exactly $DATA.
    if (!report::ParseStreamSpec(typed.substr(colon + 1), &rest, &out.error)) return out;
    if (out.file.empty() || (out.file.size() == 2 && HasDrive(out.file))) {
        out.error = "names no file";
        return out;
    }
    out.stream = rest;
    return out;
}

bool NamesDevice(const std::u16string& typed) {
    if (StartsWith(typed, kExtended)) return false;
    size_t start = typed.find_last_of(u"\\/");
    start = start == std::u16string::npos ? (HasDrive(typed) ? 2 : 0) : start + 1;
    // The part before the first dot decides, its trailing spaces aside.
    std::u16string stem = typed.substr(start, typed.find(u'.', start) - start);
    while (!stem.empty() && stem.back() == u' ') stem.pop_back();
    for (const char* name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (EqualsAsciiNoCase(stem, name)) return true;
    }
    if (stem.size() != 4) return false;
    const std::u16string port = stem.substr(0, 3);
    const char16_t digit = stem[3];
    const bool isDigit = (digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' ||
                         digit == u'\u00B3';
    return isDigit && (EqualsAsciiNoCase(port, "COM") || EqualsAsciiNoCase(port, "LPT"));
}

}  // namespace vestrel::cli
