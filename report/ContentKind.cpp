#include "ContentKind.h"

#include <cstring>

#include "Text.h"

namespace vestrel::report {
namespace {

bool Starts(const std::string& s, const char* magic, size_t n, size_t at = 0) {
    return s.size() >= at + n && std::memcmp(s.data() + at, magic, n) == 0;
}

std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    return s;
}

// Text as a script host or shell reads it: ASCII/UTF-8 without controls
// other than tab, CR, LF, form feed and escape; UTF-16 with a byte order
// mark is turned to UTF-8 first. False for anything else.
bool AsText(const std::string& head, std::string* text) {
    const auto b = [&](size_t i) { return uint8_t(head[i]); };
    std::string body = head;
    if (head.size() >= 2 && ((b(0) == 0xFF && b(1) == 0xFE) || (b(0) == 0xFE && b(1) == 0xFF))) {
        const bool little = b(0) == 0xFF;
        std::u16string units;
        for (size_t i = 2; i + 1 < head.size(); i += 2)
            units.push_back(char16_t(little ? b(i) | b(i + 1) << 8 : b(i) << 8 | b(i + 1)));
        body = ToUtf8(units);
    } else if (Starts(head, "\xEF\xBB\xBF", 3)) {
        body = head.substr(3);
    }
    // The probe may cut a character in two: leave the last three bytes out
    // of the validity test.
    const size_t checked = head.size() >= kKindProbeBytes && body.size() > 3 ? body.size() - 3 : body.size();
    const std::string part = body.substr(0, checked);
    if (ToUtf8(FromUtf8(part)) != part) return false;
    for (char c : part) {
        const uint8_t u = uint8_t(c);
        if ((u < 0x20 && c != '\t' && c != '\r' && c != '\n' && c != '\f' && c != 0x1B) || u == 0x7F) return false;
    }
    *text = body;
    return true;
}

bool IsScript(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) ++i;
    const std::string lower = LowerAscii(text.substr(i));
    static const char* const kStarts[] = {"#!", "@echo", "<#", "param(", "param (", "<script", "<job", "<?php"};
    for (const char* s : kStarts)
        if (lower.compare(0, std::strlen(s), s) == 0) return true;
    // Markers of PowerShell, VBScript, JScript and batch anywhere in the probe.
    static const char* const kMarkers[] = {
        "invoke-expression", "invoke-webrequest", "new-object ", "-encodedcommand", "set-executionpolicy",
        "start-process", "powershell", "wscript.", "cscript", "createobject(", "activexobject",
        "wscript.shell", "function(", "eval(", "document.write", "on error resume next",
        "@echo off", "cmd /c", "cmd.exe", "rundll32", "regsvr32", "mshta", "certutil"};
    for (const char* m : kMarkers)
        if (lower.find(m) != std::string::npos) return true;
    return false;
}

}  // namespace

const std::vector<std::string>& AllKinds() {
    static const std::vector<std::string> kinds = {"pe",    "elf",  "script", "archive", "office",
                                                   "pdf",   "image", "text",  "binary",  "empty"};
    return kinds;
}

std::string DetectKind(const std::string& head, uint64_t fullSize) {
    if (fullSize == 0) return "empty";
    if (Starts(head, "MZ", 2)) return "pe";
    if (Starts(head, "\x7F" "ELF", 4)) return "elf";
    if (Starts(head, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)) return "office";
    if (Starts(head, "PK\x03\x04", 4)) {
        // An Office Open XML document is a zip whose first entries name its parts.
        const std::string probe = head.substr(0, 2048);
        for (const char* part : {"[Content_Types].xml", "word/", "xl/", "ppt/", "docProps/"})
            if (probe.find(part) != std::string::npos) return "office";
        return "archive";
    }
    if (Starts(head, "PK\x05\x06", 4) || Starts(head, "7z\xBC\xAF\x27\x1C", 6) || Starts(head, "Rar!\x1A\x07", 6) ||
        Starts(head, "MSCF", 4) || Starts(head, "\x1F\x8B", 2))
        return "archive";
    if (Starts(head, "%PDF-", 5)) return "pdf";
    if (Starts(head, "\x89PNG\r\n\x1A\n", 8) || Starts(head, "GIF87a", 6) || Starts(head, "GIF89a", 6) ||
        Starts(head, "\xFF\xD8\xFF", 3) || Starts(head, "\x00\x00\x01\x00", 4) || Starts(head, "\x00\x00\x02\x00", 4) ||
        (Starts(head, "BM", 2) && head.size() >= 14) || Starts(head, "II*\x00", 4) || Starts(head, "MM\x00*", 4) ||
        (Starts(head, "RIFF", 4) && Starts(head, "WEBP", 4, 8)))
        return "image";
    std::string text;
    if (AsText(head, &text)) return IsScript(text) ? "script" : "text";
    return "binary";
}

}  // namespace vestrel::report
